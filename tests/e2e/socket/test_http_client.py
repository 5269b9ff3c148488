"""ClientSocket.dll's HTTP client (through ClientConnectionFactory) under Wine."""

import asyncio
import ssl
import threading

import pytest

web = pytest.importorskip("aiohttp.web", reason="python3-aiohttp is not installed")

E_NOINTERFACE = 0x80004002 - (1 << 32)
E_INVALIDARG = 0x80070057 - (1 << 32)
CURLE_COULDNT_CONNECT = 7
CURLE_PEER_FAILED_VERIFICATION = 60


class RecordingHttpServer:
    """Answers POST /fail with 500 "boom", any other POST with 200 and a small
    JSON text; records path, content type and body of each request."""

    def __init__(self, tls=None):
        self.requests = []
        self._loop = asyncio.new_event_loop()
        started = threading.Event()
        context = None
        if tls:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*map(str, tls))

        async def handle(request):
            body = await request.read()
            self.requests.append((request.path_qs, request.headers.get("Content-Type"), body))
            if request.path == "/fail":
                return web.Response(status=500, text="boom")
            return web.Response(text='{"received":%d}' % len(body), content_type="application/json")

        async def start():
            app = web.Application()
            app.router.add_route("POST", "/{tail:.*}", handle)
            self._runner = web.AppRunner(app)
            await self._runner.setup()
            site = web.TCPSite(self._runner, "127.0.0.1", 0, ssl_context=context)
            await site.start()
            self.port = site._server.sockets[0].getsockname()[1]
            started.set()

        self._thread = threading.Thread(target=self._loop.run_forever, daemon=True)
        self._thread.start()
        asyncio.run_coroutine_threadsafe(start(), self._loop).result(15)
        started.wait(15)

    def stop(self):
        asyncio.run_coroutine_threadsafe(self._runner.cleanup(), self._loop).result(15)
        self._loop.call_soon_threadsafe(self._loop.stop)
        self._thread.join(15)


@pytest.fixture
def http_server():
    started = []

    def start(tls=None):
        server = RecordingHttpServer(tls)
        started.append(server)
        return server

    yield start
    for server in started:
        server.stop()


def post(d, host, port, secure, path, body, content_type="application/json", proxy=()):
    return d.call("http", host, port, int(secure), path, body, content_type, *proxy, ev="http", timeout=60)


def test_query_interface(driver):
    qi = driver().call("qi", ev="qi")
    assert (qi["good_hr"], qi["good_client"]) == (0, True)
    assert (qi["bad_hr"], qi["bad_emptied"]) == (E_NOINTERFACE, True)
    assert qi["null_hr"] == E_INVALIDARG


def test_post_plain_tls_and_through_a_proxy(driver, http_server, test_ca, tinyproxy):
    plain = http_server()
    secure = http_server(tls=(test_ca.localhost_cert, test_ca.localhost_key))
    proxy = tinyproxy(user="bob", password="pr0xy")
    d = driver()
    body = '{"status":1,"statusMessage":"hostkpr .exe Successfully Initiated"}\n'

    answer = post(d, "127.0.0.1", plain.port, False, "toolsstatus", body)
    assert (answer["ok"], answer["code"], answer["response"]) == (True, 0, '{"received":%d}' % len(body))
    assert plain.requests[-1] == ("/toolsstatus", "application/json", body.encode())

    answer = post(d, "localhost", secure.port, True, "/api/v1/unattended_computer/action", "{}")
    assert answer["ok"] is True
    assert secure.requests[-1] == ("/api/v1/unattended_computer/action", "application/json", b"{}")

    answer = post(d, "localhost", secure.port, True, "/via/proxy", "{}",
                  proxy=("127.0.0.1", proxy.port, "bob", "pr0xy"))
    assert answer["ok"] is True and secure.requests[-1][0] == "/via/proxy"
    assert f"CONNECT localhost:{secure.port}" in proxy.log_text()


def test_failed_posts_give_a_code_and_a_text(driver, http_server, test_ca, free_port):
    server = http_server()
    stranger = http_server(tls=(test_ca.untrusted_cert, test_ca.untrusted_key))
    d = driver()

    answer = post(d, "127.0.0.1", server.port, False, "fail", "{}")
    assert (answer["ok"], answer["code"], answer["response"]) == (False, 500, "boom")
    assert "500" in answer["error"]

    answer = post(d, "127.0.0.1", free_port(), False, "toolsstatus", "{}")
    assert (answer["ok"], answer["code"]) == (False, CURLE_COULDNT_CONNECT)
    assert answer["error"]

    answer = post(d, "localhost", stranger.port, True, "toolsstatus", "{}")
    assert (answer["ok"], answer["code"]) == (False, CURLE_PEER_FAILED_VERIFICATION)
    assert not stranger.requests
