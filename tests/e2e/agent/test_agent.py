"""The agent host under Wine against a product server on loopback: the
session, its reports, proxies and certificates. The choice of TLS and the
fall-back order are tested in tests/unit/lifecycle; drops, reconnections and
the largest messages in test_drops.py."""

import time
from urllib.parse import parse_qsl

import pytest

from e2e_support import AGENT_IDS as IDS, EXIT, serves
from product_server import ProductServer



def start(agent, server, *extra, env=None, host="127.0.0.1"):
    """The host started against server; returns it and its connection."""
    process = agent("--host", host, "--port", str(server.port), *extra, *IDS, env=env)
    return process, server.wait_connection(timeout=60)


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
    assert "hostkeeper-host.exe" in {p["name"].lower() for p in answer["responseMessage"]["responseData"]["data"]}
    conn.ping()
    assert conn.pong.wait(10), "no pong"

    services = conn.request(2, 2101, timeout=60)["responseMessage"]
    assert services["responseCode"] == "2301"
    # Wine runs some of its services from the first program on; RpcSs comes and goes on demand.
    rows = services["responseData"]["data"]
    assert "RpcSs" in {row["name"] for row in rows} and "Running" in {row["service_status"] for row in rows}

    # Wine's WMI has no user accounts: the request is still answered.
    users = conn.request(3, 3101, timeout=60)
    assert users["toolId"] == "3" and users["isSuccess"] == "false"
    assert users["responseMessage"] == {"errorCode": "3106", "errorOutput": "(User) Unable to get details"}
    conn.send(EXIT)
    assert host.wait(timeout=10) == 0


def test_relay_mode_keepalives_only_towards_the_relay_and_reconnection(agent, tmp_path):
    with ProductServer() as relay, ProductServer(post_status=500) as product:
        # The start notification is refused at once instead of waiting on a name lookup.
        relay_host, relay_conn = start(agent, relay, env={"HOSTKEEPER_GATEWAY_HOST": "127.0.0.1"})
        product_host, product_conn = start(agent, product, "--product-server")
        assert relay_conn.path == "/tools/HK_NATIVE"
        assert dict(parse_qsl(relay_conn.query_string))["clientId"] == "cli-1"
        time.sleep(24)
        keepalives = [t for data, t in list(relay_conn.messages.queue) if data == "-"]
        assert len(keepalives) == 2, keepalives
        assert 10.0 < keepalives[1] - keepalives[0] < 12.5
        assert product_conn.messages.empty()
        # A status the server refuses is posted five times, each failure logged with the HTTP status.
        assert [product.wait_post()[0] for _ in range(5)] == ["/toolsstatus"] * 5 and product.posts.empty()
        log = (tmp_path / "log" / "ToolsSys.log").read_text(errors="replace")
        assert log.count("0------------------------------->500 ") == 5

        relay_conn.hang_up()  # a bare end of stream, no close frame
        relay_conn = relay.wait_connection(timeout=10)
        assert serves(relay_conn)
        for conn, host in ((relay_conn, relay_host), (product_conn, product_host)):
            conn.send(EXIT)
            assert host.wait(timeout=10) == 0


def test_no_server_reports_failure_after_eleven_attempts(agent):
    # The server takes the status post but refuses every WebSocket.
    with ProductServer(refuse_upgrades=100) as server:
        host = agent("--host", "127.0.0.1", "--port", str(server.port), "--product-server", *IDS)
        path, status, _ = server.wait_post(timeout=60)
        assert (path, status["status"], status["statusMessage"]) == ("/toolsstatus", 0, "error")
        assert host.wait(timeout=10) == 0
        assert server.refused_upgrades == 11


def test_port_443_gives_tls_for_the_session_and_the_reports(test_ca, agent):
    # Relay mode on 443, with the gateway pointed at the same server: the
    # WebSocket and the gateway notification both go over TLS.
    try:
        server = ProductServer(port=443, tls=test_ca["localhost"]).start()
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


def test_a_refused_direct_connection_goes_through_the_proxy_with_its_credentials(agent, test_ca, tinyproxy, tmp_path):
    with ProductServer(tls=test_ca["localhost"], refuse_upgrades=1) as server:
        proxy = ["--proxy-host", "127.0.0.1", "--proxy-port", str(tinyproxy.port), "--proxy-user", "alice",
                 "--proxy-password", "s3cret-pw"]
        host, conn = start(agent, server, "--secure", "--product-server", *proxy, host="localhost")
        assert server.refused_upgrades == 1 and serves(conn)
        assert f"CONNECT localhost:{server.port}" in tinyproxy.log_text()
        assert "connected via proxy:\tSucceeded" in (tmp_path / "log" / "ToolsSys.log").read_text(errors="replace")
        log = (tmp_path / "log" / "WsAsyncSocket.log").read_text(errors="replace")
        assert f"through proxy 127.0.0.1:{tinyproxy.port} as user 'alice'" in log and "s3cret-pw" not in log
        conn.send(EXIT)
        assert host.wait(timeout=10) == 0


def test_certificates_of_an_unknown_authority_or_for_another_host_are_refused(agent, test_ca):
    # The machine's own authority is accepted in the other TLS tests.
    with ProductServer(tls=test_ca["untrusted"]) as stranger, ProductServer(tls=test_ca["wrong_host"]) as wrong:
        hosts = [agent("--host", "localhost", "--port", str(s.port), "--secure", "--product-server", *IDS)
                 for s in (stranger, wrong)]
        assert [host.wait(timeout=120) for host in hosts] == [0, 0]
        assert not stranger.all_connections and not wrong.all_connections
