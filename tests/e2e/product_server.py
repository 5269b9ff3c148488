"""A small stand-in for the product's server, on loopback: the agent's
WebSocket and the HTTP posts on one port.
It records what arrives and lets a test or the demo send requests and read
the answers, or echoes every message for the socket component's tests; its
event loop runs on a thread of its own, and every public method is safe to
call from the caller's thread."""

import asyncio
import contextlib
import json
import queue
import socket
import ssl
import struct
import threading
import time

from aiohttp import WSMsgType, web


class _ResetOnData:
    """Stands in for the connection's protocol until the next bytes arrive,
    then gives the transport back and resets it."""

    def __init__(self, connection):
        self._connection = connection
        self._inner = connection._transport.get_protocol()

    def data_received(self, data):
        self._connection._transport.set_protocol(self._inner)
        self._connection._abort()

    def __getattr__(self, name):
        return getattr(self._inner, name)


class Connection:
    """One WebSocket connection from the agent."""

    def __init__(self, server, ws, request):
        self._server, self.ws, self._transport = server, ws, request.transport
        self.path, self.query_string, self.raw_path = request.path, request.query_string, request.raw_path
        self.headers = dict(request.headers)
        self.messages = queue.Queue()  # (text, or bytes of a binary message; monotonic time)
        self.pong, self.closed = threading.Event(), threading.Event()
        self.close_code = None  # the agent's, or 1006 when the connection ended without a close frame

    def _run(self, function):
        self._server._loop.call_soon_threadsafe(function)

    def send(self, text):
        """Sends one text frame (a request) to the agent."""
        self._server._call(self.ws.send_str(text))

    def close(self, code=1000, reason=""):
        self._server._call(self.ws.close(code=code, message=reason.encode()))

    def ping(self):
        self._server._call(self.ws.ping(b"are you there"))

    def hang_up(self):
        """Ends the TCP connection without a close frame."""
        self._run(self._transport.close)

    def reset(self):
        """Drops the TCP connection with a reset: no close frame, no FIN."""
        self._run(self._abort)

    def reset_on_next_data(self):
        """Resets the connection as soon as the agent's next bytes arrive, so
        an answer on its way is cut off after its first piece."""
        self._run(lambda: self._transport.set_protocol(_ResetOnData(self)))

    def _abort(self):
        if not self._transport.is_closing():
            sock = self._transport.get_extra_info("socket")
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self._transport.abort()

    def recv(self, timeout=10.0):
        """The next message from the agent, keep-alives skipped; raises queue.Empty on time-out."""
        deadline = time.monotonic() + timeout
        while (data := self.messages.get(timeout=max(deadline - time.monotonic(), 0.001))[0]) == "-":
            pass
        return data

    def request(self, tool, code, data=None, web_client_id=None, timeout=30.0):
        """Sends a request and returns the answer parsed as JSON."""
        message = {"toolId": tool, "requestId": 1,
                   "requestMessage": {"requestCode": code, "requestData": data if data is not None else {}}}
        if web_client_id is not None:
            message["webClientId"] = web_client_id
        self.send(json.dumps(message))
        return json.loads(self.recv(timeout=timeout))


class ProductServer:
    """Start with start(); stop with stop() (or use it as a context manager).
    refuse_upgrades=N refuses the first N upgrades (counted in refused_upgrades);
    post_status is the HTTP status posts are answered with; echo=True sends
    every message back as it came."""

    def __init__(self, host="127.0.0.1", port=0, tls=None, refuse_upgrades=0, post_status=200, echo=False):
        self.host, self.port, self.echo = host, port, echo
        self.refuse_upgrades, self.post_status = refuse_upgrades, post_status
        self.refused_upgrades = 0
        self._ssl = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH) if tls else None
        if tls:  # (certificate, key)
            self._ssl.load_cert_chain(*tls)
        self.connections = queue.Queue()
        self.all_connections = []
        self.posts = queue.Queue()  # (path, parsed JSON or raw text, headers)
        self._loop = None

    def start(self):
        self._loop = asyncio.new_event_loop()
        self._thread = threading.Thread(target=self._loop.run_forever, name="product-server", daemon=True)
        self._thread.start()
        try:
            self._call(self._start(), timeout=10)
        except Exception:
            self.stop()
            raise
        return self

    def stop(self):
        if not self._loop:
            return
        with contextlib.suppress(Exception):
            self._call(self._runner.cleanup(), timeout=10)
        self._loop.call_soon_threadsafe(self._loop.stop)
        self._thread.join(10)
        self._loop = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def wait_connection(self, timeout=30.0):
        """The next WebSocket connection the agent opens."""
        return self.connections.get(timeout=timeout)

    def wait_post(self, timeout=30.0):
        return self.posts.get(timeout=timeout)

    def _call(self, coroutine, timeout=30.0):
        return asyncio.run_coroutine_threadsafe(coroutine, self._loop).result(timeout)

    async def _start(self):
        app = web.Application(client_max_size=64 * 1024 * 1024)
        app.router.add_route("GET", "/{tail:.*}", self._websocket)
        app.router.add_route("POST", "/{tail:.*}", self._post)
        self._runner = web.AppRunner(app, access_log=None)
        await self._runner.setup()
        site = web.TCPSite(self._runner, self.host, self.port, ssl_context=self._ssl, shutdown_timeout=1)
        await site.start()
        self.port = site._server.sockets[0].getsockname()[1]

    async def _websocket(self, request):
        if self.refused_upgrades < self.refuse_upgrades:
            self.refused_upgrades += 1
            return web.Response(status=503, text="not accepting agents")
        ws = web.WebSocketResponse(max_msg_size=0, autoping=False)
        await ws.prepare(request)
        connection = Connection(self, ws, request)
        self.all_connections.append(connection)
        self.connections.put(connection)
        try:
            while (msg := await ws.receive()).type in (WSMsgType.TEXT, WSMsgType.BINARY, WSMsgType.PONG):
                if msg.type == WSMsgType.PONG:
                    connection.pong.set()
                    continue
                connection.messages.put((msg.data, time.monotonic()))
                if self.echo:
                    with contextlib.suppress(ConnectionError):  # the peer may refuse it and hang up
                        await (ws.send_str if msg.type == WSMsgType.TEXT else ws.send_bytes)(msg.data)
            while msg.type == WSMsgType.CLOSING and not ws.closed:  # our own close is under way
                await asyncio.sleep(0.01)
            connection.close_code = {WSMsgType.CLOSE: msg.data, WSMsgType.CLOSING: ws.close_code}.get(msg.type, 1006)
        finally:
            connection.closed.set()
        return ws

    async def _post(self, request):
        body = await request.text()
        try:
            parsed = json.loads(body)
        except ValueError:
            parsed = body
        self.posts.put((request.path, parsed, dict(request.headers)))
        return web.json_response({"received": len(body)}, status=self.post_status)
