"""The agent host under Wine against a product server on loopback. What the
socket component alone does (close codes, certificate checks, proxies) is
tested in tests/e2e/socket; the choice of TLS and the fall-back to the proxy
in tests/unit/lifecycle."""

import json
import queue
import time
from urllib.parse import parse_qsl

import pytest

from product_server import ProductServer
from e2e_support import AGENT_IDS as IDS

EXIT = json.dumps({"toolId": 0, "requestId": 1, "requestMessage": {"requestCode": 0}})


def start(agent, server, *extra):
    """The host started against server; returns it and its connection."""
    process = agent("--host", "127.0.0.1", "--port", str(server.port), *extra, *IDS)
    return process, server.wait_connection(timeout=60)


def legacy_data(answer):
    return answer["responseMessage"]["responseData"]["data"]


def test_product_mode_path_status_and_the_three_lists(server, agent):
    host, conn = start(agent, server, "--product-server")
    assert conn.path == "/mfWebSocket/HK_NATIVE"
    # Inserted unescaped, in this order.
    assert conn.query_string == ("clientId=cli-1&clientName=Front Desk&resourceId=res-2"
                                 "&sessionId=ses-3&customerId=cus-4")
    path, status, headers = server.wait_post()
    assert path == "/toolsstatus"
    assert headers["Content-Type"].startswith("application/json")
    assert status == {"customerId": "cus-4", "resourceId": "res-2", "sessionId": "ses-3", "status": 1,
                      "statusMessage": "hostkpr .exe Successfully Initiated", "toolId": 1}

    answer = conn.request(1, 1101, web_client_id="web-7", timeout=60)
    assert answer["messageVersion"] == "1" and answer["toolId"] == "1" and answer["responseId"] == "1"
    assert answer["webClientId"] == "web-7"
    assert answer["responseMessage"]["responseCode"] == "1301"
    assert "hostkeeper-host.exe" in {p["name"].lower() for p in legacy_data(answer)}

    services = conn.request(2, 2101, timeout=60)
    assert services["responseMessage"]["responseCode"] == "2301"
    rpc = [row for row in legacy_data(services) if row["name"] == "RpcSs"]
    assert rpc and rpc[0]["service_status"] == "Running"

    # Wine's WMI has no user accounts: the request is still answered.
    users = conn.request(3, 3101, timeout=60)
    assert users["toolId"] == "3" and users["isSuccess"] == "false"
    assert users["responseMessage"] == {"errorCode": "3106", "errorOutput": "(User) Unable to get details"}
    conn.send(EXIT)
    assert host.wait(timeout=10) == 0


def test_server_close_gives_one_reconnection_that_serves(server, agent):
    host, first = start(agent, server, "--product-server")
    first.close()
    second = server.wait_connection(timeout=10)
    assert second.query_string == first.query_string
    answer = second.request(2, 2007, data={"cmd": "hk-no-such-service"})
    assert answer["responseMessage"] == {"errorCode": "2106", "errorOutput": "Unable to open Service"}
    second.send(EXIT)
    assert host.wait(timeout=10) == 0
    with pytest.raises(queue.Empty):
        server.wait_connection(timeout=1)


def test_relay_mode_path_and_keepalive_only_towards_the_relay(agent):
    with ProductServer() as relay, ProductServer() as product:
        relay_host, relay_conn = start(agent, relay)
        product_host, product_conn = start(agent, product, "--product-server")
        assert relay_conn.path == "/tools/HK_NATIVE"
        assert dict(parse_qsl(relay_conn.query_string))["clientId"] == "cli-1"
        time.sleep(24)
        keepalives = [t for kind, data, t in relay_conn.drain() if data == "-"]
        assert len(keepalives) == 2, keepalives
        assert 10.0 < keepalives[1] - keepalives[0] < 12.5
        assert product_conn.drain() == []
        for conn, host in ((relay_conn, relay_host), (product_conn, product_host)):
            conn.send(EXIT)
            assert host.wait(timeout=10) == 0


def test_no_server_reports_failure_after_eleven_attempts(agent):
    # The server takes the status post but refuses every WebSocket.
    with ProductServer(accept_websocket=False) as server:
        host = agent("--host", "127.0.0.1", "--port", str(server.port), "--product-server", *IDS)
        path, status, _ = server.wait_post(timeout=60)
        assert path == "/toolsstatus"
        assert status["status"] == 0 and status["statusMessage"] == "error"
        assert host.wait(timeout=10) == 0
        assert server.refused_upgrades == 11


def test_port_443_gives_tls_for_the_session_and_the_reports(test_ca, agent):
    # Relay mode on 443, with the gateway pointed at the same server: the
    # WebSocket and the gateway notification both go over TLS.
    try:
        server = ProductServer(port=443, certfile=test_ca.localhost_cert, keyfile=test_ca.localhost_key).start()
    except OSError as exc:
        pytest.skip(f"port 443 is not available here: {exc}")
    try:
        host = agent("--host", "localhost", "--port", "443", *IDS, env={"HOSTKEEPER_GATEWAY_HOST": "localhost"})
        conn = server.wait_connection(timeout=60)
        path, notification, headers = server.wait_post(timeout=60)
        assert path == "/api/v1/unattended_computer/action"
        assert headers["Content-Type"].startswith("application/json")
        assert notification == {"action": {"client_id": "cli-1", "code": 2106, "is_success": True, "msg": "sucess",
                                           "notification_type": "2", "session_id": "ses-3"},
                                "action_type": "toolNotification", "device_id": "dev-5"}
        conn.send(EXIT)
        assert host.wait(timeout=30) == 0
    finally:
        server.stop()


def test_only_a_certificate_the_machine_trusts_completes_the_upgrade(test_ca, agent, tmp_path):
    # The machine's own authority is accepted. From an unknown authority, for
    # another host name, expired: every attempt reaches the TLS handshake and
    # none completes the upgrade, so the agent gives up after its eleven.
    certificates = {"trusted": (test_ca.localhost_cert, test_ca.localhost_key),
                    "unknown authority": (test_ca.untrusted_cert, test_ca.untrusted_key),
                    "other host name": (test_ca.wrong_host_cert, test_ca.wrong_host_key),
                    "expired": (test_ca.expired_cert, test_ca.expired_key)}
    servers = {name: ProductServer(certfile=cert, keyfile=key).start() for name, (cert, key) in certificates.items()}
    try:
        hosts = {name: agent("--host", "localhost", "--port", str(s.port), "--secure", "--product-server", *IDS)
                 for name, s in servers.items()}
        servers["trusted"].wait_connection(timeout=60).send(EXIT)
        for name, server in servers.items():
            assert hosts[name].wait(timeout=120) == 0, name
            if name != "trusted":
                assert server.all_connections == [], f"{name}: the upgrade completed"
                assert server.tls_hellos >= 11, f"{name}: {server.tls_hellos} handshakes begun"
        # Signed by the trusted authority: refused for its dates alone.
        assert "NOT_TIME_VALID" in (tmp_path / "log" / "WsAsyncSocket.log").read_text(errors="replace")
    finally:
        for server in servers.values():
            server.stop()
