"""ClientSocket.dll's WebSocket client under Wine against real servers on loopback."""

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


def settle(seconds=1.0):
    """Gives a wrongly late callback the time to show up."""
    time.sleep(seconds)


def test_refused_port_and_refused_upgrade(driver, ws_server, free_port):
    d = driver()
    d.create(free_port(), "tools/HK_NATIVE?clientId=x")
    result = d.connect()
    assert result["ok"] is False and result["connected"] is False
    assert result["ms"] < 15000  # bounded by the connect time-out, not the system's minutes
    # A failed attempt delivers no callback; the same socket can try again.
    assert d.call("connect", ev="connect_result")["ok"] is False
    assert "connect failed" in d.log_text()

    server = ws_server()
    d.create(server.port, "reject")
    assert d.connect()["ok"] is False
    server.wait_for("rejected")
    assert "handshake failed: server answered HTTP/1.1 403 Forbidden" in d.log_text()
    assert not d.all("on_connect") and not d.all("on_close")


def test_round_trips_callbacks_and_request_path(driver, ws_server):
    server = ws_server()
    d = connected(driver, server, "echo/HK_NATIVE?clientId=cli-1&clientName=Front Desk", context=77)
    opened = server.wait_for("open")
    assert opened["path"] == "/echo/HK_NATIVE?clientId=cli-1&clientName=Front%20Desk"
    assert opened["headers"]["Host"] == f"127.0.0.1:{server.port}"

    assert d.call("text", "hello", 1, ev="sent")["result"] == 5
    assert d.wait_for("on_send_complete")["len"] == 5
    echoed = d.wait_for("on_text")
    assert (echoed["len"], echoed["strlen"], echoed["head"], echoed["terminated"]) == (5, 5, "hello", True)

    message = generate(5000, 3)
    assert d.call("bingen", 5000, 3, ev="sent")["result"] == len(message)
    assert server.wait_for("recv", where=lambda e: e["kind"] == "binary")["crc"] == crc(message)
    assert d.wait_for("on_binary")["crc"] == crc(message)

    connect = d.wait_for("on_connect")
    assert connect["ctx"] == 77
    # One receive thread, not the caller's, and the connect callback first.
    callbacks = [e for e in d.events if e["ev"] in ("on_connect", "on_text", "on_binary")]
    assert callbacks[0]["ev"] == "on_connect"
    assert {e["tid"] for e in callbacks} == {connect["tid"]} != {d.main_tid}
    assert "connected" in d.log_text()


def test_frame_length_boundaries_one_mib_in_and_more_refused(driver, ws_server):
    server = ws_server()
    d = connected(driver, server, "big")
    big = d.wait_for("on_text", timeout=60)
    expected = generate(1024 * 1024 - len("G1048576:9:"), 9)
    assert len(expected) == 1024 * 1024
    assert (big["len"], big["valid"], big["terminated"]) == (len(expected), True, True)

    # Around the 7-bit, 16-bit and 64-bit length encodings.
    for size in (125, 126, 127, 65535, 65536, 65537):
        since = d.mark()
        assert d.call("text", "x" * size, ev="sent")["result"] == size
        got = server.wait_for("recv", where=lambda e, n=size: e["len"] == n)
        assert got["crc"] == crc("x" * size)
        assert d.wait_for("on_text", since=since)["len"] == size

    # Answers may be large; the echo of one is more than a request may be, so
    # the client refuses it with 1009 instead of taking it in.
    since = d.mark()
    assert d.call("textgen", 4 * 1024 * 1024, 11, ev="sent", timeout=60)["result"] > 4 * 1024 * 1024
    received = server.wait_for("recv", timeout=60, where=lambda e: e["len"] > 4 * 1024 * 1024)
    assert received["valid"] is True
    assert server.wait_for("closed", timeout=60)["code"] == 1009
    assert d.wait_for("on_close", since=since, timeout=60)["code"] == 1009
    assert not [e for e in d.all("on_text", since=since)]


def test_fragmented_message_arrives_whole_and_pings_are_answered(driver, ws_server):
    server = ws_server()
    d = connected(driver, server, "frag")
    texts = [d.wait_for("on_text", timeout=30)]
    expected = generate(300000, 5)
    assert (texts[0]["len"], texts[0]["valid"], texts[0]["crc"]) == (len(expected), True, crc(expected))
    settle(0.5)
    assert len(d.all("on_text")) == 1

    d2 = connected(driver, server, "ping")
    assert server.wait_for("pong")["ok"] is True
    assert d2.wait_for("on_text")["head"] == "after-ping"


def test_embedded_nul_ends_the_text_for_a_c_string_reader(driver, ws_server):
    server = ws_server()
    d = connected(driver, server, "nul")
    text = d.wait_for("on_text")
    assert (text["strlen"], text["len"], text["head"], text["terminated"]) == (3, 7, "abc", True)


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
    deadline = time.monotonic() + 60
    while len(d.all("on_text")) < 500 and time.monotonic() < deadline:
        time.sleep(0.2)
    received = server.all("recv")
    texts = d.all("on_text")
    # Every frame intact: nothing interleaved, nothing lost either way.
    assert len(received) == 200 and all(e["valid"] for e in received)
    assert len(texts) == 500 and all(e["valid"] for e in texts)
    assert len({e["tid"] for e in texts}) == 1


def test_server_close_then_reconnect_on_the_same_socket(driver, ws_server):
    server = ws_server()
    d = connected(driver, server, "closeme")
    d.send("text", "please close")
    closed = d.wait_for("on_close")
    assert (closed["code"], closed["reason"]) == (4001, "bye now")
    assert server.wait_for("closed")["code"] == 4001
    assert d.call("is_connected", ev="is_connected")["value"] is False
    assert d.call("text", "too late", ev="sent")["result"] == -1

    # The next Connect opens a new connection with its own connect and close.
    assert d.connect()["ok"] is True
    d.send("text", "again")
    settle()
    assert len(d.all("on_connect")) == 2 and len(d.all("on_close")) == 2
    assert "closed: code 4001 reason 'bye now'" in d.log_text()


def test_server_process_killed(driver, ws_server):
    server = ws_server()
    d = connected(driver, server, "echo")
    d.wait_for("on_connect")
    server.kill()
    closed = d.wait_for("on_close", timeout=30)
    assert closed["code"] == 1006
    settle()
    assert len(d.all("on_close")) == 1
    assert d.call("text", "anyone?", ev="sent")["result"] == -1


def test_local_close_graceful_and_dropped(driver, ws_server):
    server = ws_server()
    d = connected(driver, server, "echo")
    since = d.mark()
    d.call("close", 1, ev="close_returned")
    # The close callback has come before Close returned.
    close_events = d.all("on_close", since=since)
    assert [e["code"] for e in close_events] == [1000]
    assert d.events.index(close_events[0]) < d.events.index(d.all("close_returned")[-1])
    assert server.wait_for("closed")["code"] == 1000
    d.call("close", 1, ev="close_returned")  # nothing left to close: no second callback

    d2 = connected(driver, server, "echo")
    d2.call("close", 0, ev="close_returned")
    assert [e["code"] for e in d2.all("on_close")] == [1006]
    settle()
    assert len(d.all("on_close")) == 1 and len(d2.all("on_close")) == 1


def test_last_release_while_connected_calls_nothing_back(driver, ws_server):
    server = ws_server()
    d = connected(driver, server, "quiet")
    d.wait_for("on_connect")
    since = d.mark()
    d.call("release", ev="released")
    assert server.wait_for("closed")["code"] == 1001
    settle()
    assert not [e for e in d.events[since:] if e["ev"].startswith("on_")]


def test_last_release_inside_a_callback(driver, ws_server):
    server = ws_server()
    d = connected(driver, server, "echo")
    d.call("release_on_text", ev="armed")
    d.send("text", "last words")
    d.wait_for("released_in_callback")
    assert server.wait_for("closed")["code"] == 1001
    settle()
    assert not d.all("on_close")
    # The driver lives on: the receive thread did not take the process down.
    assert d.call("mark", "alive", ev="mark")["label"] == "alive"
    assert "released" in d.log_text()


def test_through_proxy_with_basic_auth(driver, ws_server, tinyproxy, test_ca):
    server = ws_server()
    tls_server = ws_server(tls=(test_ca.localhost_cert, test_ca.localhost_key))
    proxy = tinyproxy(user="alice", password="s3cret-pw")
    d = driver()
    d.create(server.port, "echo")
    d.call("proxy", "127.0.0.1", proxy.port, "alice", "s3cret-pw", ev="proxy_set")
    assert d.connect()["ok"] is True
    d.send("text", "via proxy")
    assert d.wait_for("on_text")["head"] == "via proxy"
    assert f"CONNECT 127.0.0.1:{server.port}" in proxy.log_text()

    # TLS inside the tunnel, with the certificate still checked.
    d.create(tls_server.port, "echo", secure=True, host="localhost")
    d.call("proxy", "127.0.0.1", proxy.port, "alice", "s3cret-pw", ev="proxy_set")
    assert d.connect()["ok"] is True
    since = d.mark()
    d.send("text", "via proxy, encrypted")
    assert d.wait_for("on_text", since=since)["head"] == "via proxy, encrypted"

    log = d.log_text()
    assert f"through proxy 127.0.0.1:{proxy.port} as user 'alice'" in log
    assert "s3cret-pw" not in log


def test_proxy_wrong_password_or_none_named(driver, ws_server, tinyproxy):
    server = ws_server()
    proxy = tinyproxy(user="alice", password="s3cret-pw")
    d = driver()
    d.create(server.port, "echo")
    d.call("proxy", "127.0.0.1", proxy.port, "alice", "wrong-pw", ev="proxy_set")
    assert d.connect()["ok"] is False
    # Asked for a proxy without naming one: no second direct attempt.
    d.call("proxy", "", 0, "", "", ev="proxy_set")
    assert d.connect()["ok"] is False
    assert not server.all("open")
    log = d.log_text()
    # tinyproxy refuses with 407, or 401 once credentials were sent.
    assert "proxy answered 40" in log and "wrong-pw" not in log
    assert "no proxy host or port given" in log


def test_tls_checks_the_authority_and_the_host_name(driver, ws_server, test_ca):
    good = ws_server(tls=(test_ca.localhost_cert, test_ca.localhost_key))
    stranger = ws_server(tls=(test_ca.untrusted_cert, test_ca.untrusted_key))
    wrong_name = ws_server(tls=(test_ca.wrong_host_cert, test_ca.wrong_host_key))
    d = driver()

    d.create(good.port, "echo", secure=True, host="localhost")
    assert d.connect()["ok"] is True
    d.send("text", "secret")
    assert d.wait_for("on_text")["head"] == "secret"
    assert good.wait_for("recv")["head"] == "secret"
    since = d.mark()
    # The largest message that may come back (1 MiB), many TLS records long.
    d.send("textgen", 1024 * 1024 - len("G1048565:4:"), 4)
    assert good.wait_for("recv", timeout=60, where=lambda e: e["len"] == 1024 * 1024)["valid"] is True
    assert d.wait_for("on_text", since=since, timeout=60)["valid"] is True

    for server in (stranger, wrong_name):
        d.create(server.port, "echo", secure=True, host="localhost")
        assert d.connect()["ok"] is False
        assert not server.all("open")
    # A plain ws:// socket to a TLS port does not get through either.
    d.create(good.port, "echo", secure=False, host="localhost")
    assert d.connect()["ok"] is False
    assert d.log_text().count("connect failed") >= 2
