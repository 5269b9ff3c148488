"""ClientSocket.dll's WebSocket client under Wine against echoing servers on
loopback. The wire format itself (frame lengths, fragments, masking) is tested
in tests/clientsocket/protocol_tests.cpp; what the agent makes of closes and
drops in tests/e2e/agent."""

import time

import pytest

MIB = 1024 * 1024
PATH = "tools/HK_NATIVE"


def generate(size, salt):
    """A message as the driver generates it."""
    return f"G{size}:{salt}:" + "".join(chr(ord("a") + (i * 7 + salt * 13) % 26) for i in range(size))


def connected(driver, server, path=PATH, **create):
    d = driver()
    d.create(server.port, path, **create)
    result = d.connect()
    assert result["ok"] and result["connected"], d.log_text()
    return d, server.wait_connection()


def test_round_trips_callbacks_pings_and_request_path(driver, ws_server):
    server = ws_server()
    d, conn = connected(driver, server, PATH + "?clientId=cli-1&clientName=Front Desk", context=77)
    assert conn.raw_path == "/tools/HK_NATIVE?clientId=cli-1&clientName=Front%20Desk"
    assert conn.headers["Host"] == f"127.0.0.1:{server.port}"

    assert d.call("text", "hello", 1, ev="sent")["result"] == 5
    d.send("text", "abc\x00def")
    d.send("bingen", 5000, 3)
    assert [conn.recv() for _ in range(3)] == ["hello", "abc\x00def", generate(5000, 3).encode()]
    d.wait_for("on_text", count=2)
    # An embedded NUL ends the text for a C-string reader; the length tells the rest.
    assert [(e["len"], e["strlen"], e["head"], e["terminated"]) for e in d.all("on_text")] == [
        (5, 5, "hello", True), (7, 3, "abc", True)]
    assert d.wait_for("on_binary")["valid"] and [e["len"] for e in d.all("on_send_complete")] == [5]
    conn.ping()
    assert conn.pong.wait(10), "no pong"

    connect = d.wait_for("on_connect")
    assert connect["ctx"] == 77
    # One receive thread, not the caller's, and the connect callback first.
    callbacks = [e for e in d.events if e["ev"] in ("on_connect", "on_text", "on_binary")]
    assert callbacks[0]["ev"] == "on_connect"
    assert {e["tid"] for e in callbacks} == {connect["tid"]} != {d.main_tid}


@pytest.mark.parametrize("secure", [False, True], ids=["ws", "wss"])
def test_four_threads_send_while_messages_arrive(driver, ws_server, request, secure):
    server = ws_server(tls=request.getfixturevalue("test_ca")["localhost"] if secure else None)
    d, conn = connected(driver, server, secure=secure, host="localhost" if secure else "127.0.0.1")
    d.send("threads", 4, 50, 3000)
    for i in range(300):
        conn.send(generate(500 + (i % 13) * 700, 900000 + i))
    assert d.wait_for("threads_done", timeout=120) == {"ev": "threads_done", "failures": 0, "sent": 200}
    d.wait_for("on_text", count=500, timeout=60)
    # Every frame intact: nothing interleaved, nothing lost either way.
    sent = [generate(3000 + (i % 7) * 1000, (t + 1) * 100000 + i) for t in range(4) for i in range(50)]
    assert sorted(conn.recv() for _ in sent) == sorted(sent)
    texts = d.all("on_text")
    assert len(texts) == 500 and all(e["valid"] for e in texts) and len({e["tid"] for e in texts}) == 1


def test_closes_from_either_side_and_the_last_release(driver, ws_server):
    server = ws_server()
    d1, conn1 = connected(driver, server)
    conn1.close(4001, "bye now")
    closed = d1.wait_for("on_close")
    assert (closed["code"], closed["reason"]) == (4001, "bye now")
    assert d1.call("is_connected", ev="is_connected")["value"] is False
    assert d1.call("text", "too late", ev="sent")["result"] == -1
    assert "closed: code 4001 reason 'bye now'" in d1.log_text()
    # The next Connect on the same socket opens a new connection, which ends
    # with 1006 when the server hangs up without a close frame.
    assert d1.connect()["ok"] is True
    server.wait_connection().hang_up()
    d1.wait_for("on_close", count=2)

    # A local close, graceful (called back before Close returns) or dropped.
    d2, conn2 = connected(driver, server)
    d2.call("close", 1, ev="close_returned")
    d2.call("close", 1, ev="close_returned")  # nothing left to close: no second callback
    assert [e["ev"] for e in d2.events if e["ev"] in ("on_close", "close_returned")] == [
        "on_close", "close_returned", "close_returned"]
    d3, conn3 = connected(driver, server)
    d3.call("close", 0, ev="close_returned")

    # The last release closes with 1001 and calls nothing back, also from
    # inside a callback, and the process lives on.
    d4, conn4 = connected(driver, server)
    d5, conn5 = connected(driver, server)
    d4.call("release", ev="released")
    d5.call("release_on_text", ev="armed")
    d5.send("text", "last words")
    d5.wait_for("released_in_callback")
    assert d5.call("is_connected", ev="error")["text"] == "no socket"
    assert all(c.closed.wait(10) for c in (conn2, conn3, conn4, conn5))
    assert [c.close_code for c in (conn2, conn3, conn4, conn5)] == [1000, 1006, 1001, 1001]
    time.sleep(1)  # a wrongly late callback would show up
    assert [[e["code"] for e in d.all("on_close")] for d in (d1, d2, d3, d4, d5)] == [
        [4001, 1006], [1000], [1006], [], []]
    assert d1.call("text", "anyone?", ev="sent")["result"] == -1


def test_proxy_with_basic_auth_and_tls_inside_after_failed_attempts(driver, ws_server, tinyproxy, test_ca):
    server = ws_server(tls=test_ca["localhost"])
    d = driver()
    d.create(server.port, PATH, secure=True, host="localhost")
    d.call("proxy", "127.0.0.1", tinyproxy.port, "alice", "wrong-pw", ev="proxy_set")
    assert d.connect()["ok"] is False
    # Asked for a proxy without naming one: no second direct attempt.
    d.call("proxy", "", 0, "", "", ev="proxy_set")
    assert d.connect()["ok"] is False
    # A failed attempt delivers no callback; the same socket can try again.
    assert not server.all_connections and not d.all("on_connect") and not d.all("on_close")
    d.call("proxy", "127.0.0.1", tinyproxy.port, "alice", "s3cret-pw", ev="proxy_set")
    assert d.connect()["ok"] is True
    d.send("text", "via proxy, encrypted")
    assert d.wait_for("on_text")["head"] == "via proxy, encrypted"
    assert f"CONNECT localhost:{server.port}" in tinyproxy.log_text()
    log = d.log_text()
    assert f"through proxy 127.0.0.1:{tinyproxy.port} as user 'alice'" in log
    # tinyproxy refuses with 407, or 401 once credentials were sent.
    assert "proxy answered 40" in log and "no proxy host or port given" in log
    assert "s3cret-pw" not in log and "wrong-pw" not in log


def test_tls_carries_a_mib_each_way_refuses_more_and_checks_the_certificate(driver, ws_server, test_ca):
    good = ws_server(tls=test_ca["localhost"])
    d, conn = connected(driver, good, secure=True, host="localhost")
    # The largest message that may come back, many TLS records long.
    d.send("textgen", MIB - len(f"G{MIB}:4:"), 4)
    assert conn.recv(timeout=60) == generate(MIB - len(f"G{MIB}:4:"), 4)
    big = d.wait_for("on_text", timeout=60)
    assert (big["len"], big["valid"], big["terminated"]) == (MIB, True, True)
    # Its echo is more than a message may be: refused with 1009, not taken in.
    since = d.mark()
    d.send("textgen", MIB, 5)
    assert conn.recv(timeout=60) == generate(MIB, 5)
    assert d.wait_for("on_close", since=since, timeout=60)["code"] == 1009
    assert conn.closed.wait(60) and conn.close_code == 1009
    assert not d.all("on_text", since=since)

    # An unknown authority, another host name, and a plain ws:// socket to a
    # TLS port never get through.
    for tls in (test_ca["untrusted"], test_ca["wrong_host"], None):
        server = ws_server(tls=tls) if tls else good
        d.create(server.port, PATH, secure=bool(tls), host="localhost")
        assert d.connect()["ok"] is False, tls
        assert len(server.all_connections) == (0 if tls else 1), tls
