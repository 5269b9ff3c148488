"""ClientSocket.dll's WebSocket client under Wine against real servers on loopback.
The wire format itself (frame lengths, fragments, masking) is tested in
tests/clientsocket/protocol_tests.cpp."""

import time
import zlib

import pytest

pytest.importorskip("websockets", reason="python3-websockets is not installed")
from ws_server import generate  # noqa: E402


def crc(text):
    return zlib.crc32(text.encode("latin-1") if isinstance(text, str) else text)


def connected(driver, server, path, **create):
    d = driver()
    d.create(server.port, path, **create)
    result = d.connect()
    assert result["ok"] and result["connected"], d.log_text()
    return d


def settle():
    time.sleep(1)  # a wrongly late callback would show up


def test_refused_port(driver, free_port):
    d = driver()
    d.create(free_port(), "tools/HK_NATIVE?clientId=x")
    result = d.connect()
    assert result["ok"] is False and result["connected"] is False
    # A failed attempt delivers no callback; the same socket can try again.
    assert d.call("connect", ev="connect_result")["ok"] is False
    assert "connect failed" in d.log_text()
    assert not d.all("on_connect") and not d.all("on_close")


def test_round_trips_callbacks_pings_and_request_path(driver, ws_server):
    server = ws_server()
    d = connected(driver, server, "echo/HK_NATIVE?clientId=cli-1&clientName=Front Desk", context=77)
    opened = server.wait_for("open")
    assert opened["path"] == "/echo/HK_NATIVE?clientId=cli-1&clientName=Front%20Desk"
    assert opened["headers"]["Host"] == f"127.0.0.1:{server.port}"

    assert d.call("text", "hello", 1, ev="sent")["result"] == 5
    assert d.wait_for("on_send_complete")["len"] == 5
    echoed = d.wait_for("on_text")
    assert (echoed["len"], echoed["strlen"], echoed["head"], echoed["terminated"]) == (5, 5, "hello", True)
    # An embedded NUL ends the text for a C-string reader; the length tells the rest.
    since = d.mark()
    d.send("text", "abc\x00def")
    nul = d.wait_for("on_text", since=since)
    assert (nul["strlen"], nul["len"], nul["head"], nul["terminated"]) == (3, 7, "abc", True)

    message = generate(5000, 3)
    assert d.call("bingen", 5000, 3, ev="sent")["result"] == len(message)
    assert server.wait_for("recv", where=lambda e: e["kind"] == "binary")["crc"] == crc(message)
    assert d.wait_for("on_binary")["crc"] == crc(message)

    since = d.mark()
    d.send("text", "ping me")
    assert server.wait_for("pong")["ok"] is True
    assert d.wait_for("on_text", since=since)["head"] == "ping me"

    connect = d.wait_for("on_connect")
    assert connect["ctx"] == 77
    # One receive thread, not the caller's, and the connect callback first.
    callbacks = [e for e in d.events if e["ev"] in ("on_connect", "on_text", "on_binary")]
    assert callbacks[0]["ev"] == "on_connect"
    assert {e["tid"] for e in callbacks} == {connect["tid"]} != {d.main_tid}


def test_one_mib_in_and_more_refused(driver, ws_server):
    server = ws_server()
    d = connected(driver, server, "big")
    big = d.wait_for("on_text", timeout=60)
    expected = generate(1024 * 1024 - len("G1048576:9:"), 9)
    assert len(expected) == 1024 * 1024
    assert (big["len"], big["valid"], big["terminated"]) == (len(expected), True, True)

    # Answers may be large; the echo of one is more than a request may be, so
    # the client refuses it with 1009 instead of taking it in.
    since = d.mark()
    assert d.call("textgen", 4 * 1024 * 1024, 11, ev="sent", timeout=60)["result"] > 4 * 1024 * 1024
    received = server.wait_for("recv", timeout=60, where=lambda e: e["len"] > 4 * 1024 * 1024)
    assert received["valid"] is True
    assert server.wait_for("closed", timeout=60)["code"] == 1009
    assert d.wait_for("on_close", since=since, timeout=60)["code"] == 1009
    assert not d.all("on_text", since=since)


@pytest.mark.parametrize("secure", [False, True], ids=["ws", "wss"])
def test_four_threads_send_while_messages_arrive(driver, ws_server, request, secure):
    if secure:
        ca = request.getfixturevalue("test_ca")
        server = ws_server(tls=(ca.localhost_cert, ca.localhost_key))
    else:
        server = ws_server()
    d = connected(driver, server, "flood?count=300", secure=secure, host="localhost" if secure else "127.0.0.1")
    done = d.call("threads", 4, 50, 3000, ev="threads_done", timeout=120)
    assert (done["failures"], done["sent"]) == (0, 200)
    server.wait_for("flood_done", timeout=60)
    d.wait_for_count("on_text", 500, timeout=60)
    received = server.all("recv")
    texts = d.all("on_text")
    # Every frame intact: nothing interleaved, nothing lost either way.
    assert len(received) == 200 and all(e["valid"] for e in received)
    assert len(texts) == 500 and all(e["valid"] for e in texts)
    assert len({e["tid"] for e in texts}) == 1


def test_the_server_ends_the_connection(driver, ws_server):
    server = ws_server()
    d = connected(driver, server, "closeme")
    d.send("text", "please close")
    closed = d.wait_for("on_close")
    assert (closed["code"], closed["reason"]) == (4001, "bye now")
    assert server.wait_for("closed")["code"] == 4001
    assert d.call("is_connected", ev="is_connected")["value"] is False
    assert d.call("text", "too late", ev="sent")["result"] == -1
    assert "closed: code 4001 reason 'bye now'" in d.log_text()

    # The next Connect on the same socket opens a new connection, which ends
    # with 1006 when the server process dies.
    since = d.mark()
    assert d.connect()["ok"] is True
    d.wait_for("on_connect", since=since)
    server.kill()
    d.wait_for("on_close", since=since)
    settle()
    assert [e["code"] for e in d.all("on_close")] == [4001, 1006]
    assert d.call("text", "anyone?", ev="sent")["result"] == -1


def test_local_close_graceful_dropped_and_last_release(driver, ws_server):
    server = ws_server()
    d = connected(driver, server, "echo")
    d.call("close", 1, ev="close_returned")
    # The close callback has come before Close returned.
    close_event = d.wait_for("on_close")
    assert close_event["code"] == 1000
    assert d.events.index(close_event) < d.events.index(d.all("close_returned")[-1])
    assert server.wait_for("closed")["code"] == 1000
    d.call("close", 1, ev="close_returned")  # nothing left to close: no second callback

    d2 = connected(driver, server, "echo")
    d2.call("close", 0, ev="close_returned")
    assert [e["code"] for e in d2.all("on_close")] == [1006]

    # The last release closes with 1001 and calls nothing back, also from
    # inside a callback, and the process lives on.
    d3 = connected(driver, server, "quiet")
    d4 = connected(driver, server, "echo")
    d3.wait_for("on_connect")
    since = d3.mark()
    d3.call("release", ev="released")
    d4.call("release_on_text", ev="armed")
    d4.send("text", "last words")
    d4.wait_for("released_in_callback")
    server.wait_for_count("closed", 4)
    assert sorted(e["code"] for e in server.all("closed")) == [1000, 1001, 1001, 1006]
    settle()
    assert len(d.all("on_close")) == 1 and len(d2.all("on_close")) == 1
    assert not [e for e in d3.events[since:] if e["ev"].startswith("on_")]
    assert not d4.all("on_close")
    assert d4.call("mark", "alive", ev="mark")["label"] == "alive"


def test_proxy_with_basic_auth_tls_inside_and_refusals(driver, ws_server, tinyproxy, test_ca):
    server = ws_server()
    tls_server = ws_server(tls=(test_ca.localhost_cert, test_ca.localhost_key))
    proxy = tinyproxy(user="alice", password="s3cret-pw")
    d = driver()
    d.create(tls_server.port, "echo", secure=True, host="localhost")
    d.call("proxy", "127.0.0.1", proxy.port, "alice", "s3cret-pw", ev="proxy_set")
    assert d.connect()["ok"] is True
    d.send("text", "via proxy, encrypted")
    assert d.wait_for("on_text")["head"] == "via proxy, encrypted"
    assert f"CONNECT localhost:{tls_server.port}" in proxy.log_text()

    d.create(server.port, "echo")
    d.call("proxy", "127.0.0.1", proxy.port, "alice", "wrong-pw", ev="proxy_set")
    assert d.connect()["ok"] is False
    # Asked for a proxy without naming one: no second direct attempt.
    d.call("proxy", "", 0, "", "", ev="proxy_set")
    assert d.connect()["ok"] is False
    assert not server.all("open")
    log = d.log_text()
    assert f"through proxy 127.0.0.1:{proxy.port} as user 'alice'" in log
    # tinyproxy refuses with 407, or 401 once credentials were sent.
    assert "proxy answered 40" in log and "no proxy host or port given" in log
    assert "s3cret-pw" not in log and "wrong-pw" not in log


def test_tls_checks_the_authority_and_the_host_name(driver, ws_server, test_ca):
    good = ws_server(tls=(test_ca.localhost_cert, test_ca.localhost_key))
    stranger = ws_server(tls=(test_ca.untrusted_cert, test_ca.untrusted_key))
    wrong_name = ws_server(tls=(test_ca.wrong_host_cert, test_ca.wrong_host_key))
    d = driver()

    d.create(good.port, "echo", secure=True, host="localhost")
    assert d.connect()["ok"] is True
    # The largest message that may come back (1 MiB), many TLS records long.
    d.send("textgen", 1024 * 1024 - len("G1048565:4:"), 4)
    assert good.wait_for("recv", timeout=60, where=lambda e: e["len"] == 1024 * 1024)["valid"] is True
    assert d.wait_for("on_text", timeout=60)["valid"] is True

    for server in (stranger, wrong_name):
        d.create(server.port, "echo", secure=True, host="localhost")
        assert d.connect()["ok"] is False
        assert not server.all("open")
    # A plain ws:// socket to a TLS port does not get through either.
    d.create(good.port, "echo", secure=False, host="localhost")
    assert d.connect()["ok"] is False
    assert d.log_text().count("connect failed") >= 2
