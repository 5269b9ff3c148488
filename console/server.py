"""The technician's console: the product server that agents connect to, and
the web page (with its small JSON API) through which a technician drives them.

Agents reach two endpoints without a token, as they know none: the WebSocket
path ending in "HK_NATIVE" and the status POST ending in "toolsstatus".
Everything else needs the console's token: in the query (the printed URL,
which trades it for a cookie), in that cookie, or in the X-Console-Token
header.
"""

import argparse
import asyncio
import hmac
import json
import os
import secrets
import signal
import sys
import time
from pathlib import Path

from aiohttp import WSMsgType, web

from . import protocol
from .agents import Agent, Busy, Registry

STATIC = Path(__file__).resolve().parent / "static"
ROOT = Path(__file__).resolve().parent.parent

PAGE_HEADERS = {
    "Content-Security-Policy": "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'",
    "X-Frame-Options": "DENY",
    "X-Content-Type-Options": "nosniff",
    "Referrer-Policy": "no-referrer",
    "Cache-Control": "no-store",
}


def log(text):
    print(f"[console] {text}", flush=True)


def is_agent_path(path):
    return path.endswith("HK_NATIVE") or path.endswith("toolsstatus")


class Console:
    def __init__(self, token, request_timeout=60.0, cookie_name="hk_console"):
        self.token = token
        self.request_timeout = request_timeout
        self.cookie_name = cookie_name
        self.registry = Registry()

    # --- the token -------------------------------------------------------------
    def _token_ok(self, given):
        return bool(given) and hmac.compare_digest(given.encode(), self.token.encode())

    def authorised(self, request):
        return (self._token_ok(request.headers.get("X-Console-Token", ""))
                or self._token_ok(request.cookies.get(self.cookie_name, "")))

    @web.middleware
    async def guard(self, request, handler):
        if is_agent_path(request.path):
            return await handler(request)
        if request.path == "/" and "token" in request.query:
            if not self._token_ok(request.query["token"]):
                return self._refused(request)
            # Trades the token of the printed URL for a cookie, and drops it
            # from the address bar and the history.
            response = web.Response(status=302, headers={"Location": "/"})
            response.set_cookie(self.cookie_name, self.token, httponly=True, samesite="Strict", path="/")
            return response
        if not self.authorised(request):
            return self._refused(request)
        response = await handler(request)
        response.headers.update(PAGE_HEADERS)
        return response

    @staticmethod
    def _refused(request):
        if request.path.startswith("/api/"):
            return web.json_response({"error": "this console needs its token"}, status=403)
        return web.Response(status=403, content_type="text/html", headers=PAGE_HEADERS, text=(
            "<!doctype html><title>Hostkeeper console: token needed</title>"
            "<h1>Token needed</h1><p>This console needs its token. Open the URL with the token that "
            "<code>scripts/console</code> printed when it started.</p>"))

    # --- agents ----------------------------------------------------------------------
    async def agent_socket(self, request):
        ids = protocol.parse_agent_query(request.rel_url.raw_query_string)
        ws = web.WebSocketResponse(max_msg_size=0, autoping=True)
        await ws.prepare(request)

        async def close(code, reason):
            await ws.close(code=code, message=reason.encode())

        agent = Agent(ids, ws.send_str, close, request.raw_path)
        previous = self.registry.attach(agent)
        log(f"agent connected: {agent.client_id!r} ({ids['clientName']!r}) from {request.remote}")
        if previous is not None:
            reason = "replaced by a newer connection with the same client id"
            previous.on_closed(reason)
            log(f"agent {previous.client_id!r}: the earlier connection is {reason}")
            # Not awaited: a dead socket could hold the close handshake for seconds.
            asyncio.get_running_loop().create_task(previous.close(4000, "replaced"))
        try:
            async for msg in ws:
                if msg.type == WSMsgType.TEXT:
                    if agent.on_text(msg.data) is None and msg.data != protocol.KEEP_ALIVE:
                        log(f"agent {agent.client_id!r}: a text that answers no waiting request: {msg.data[:80]!r}")
                elif msg.type == WSMsgType.ERROR:
                    break
        finally:
            if self.registry.agents.get(agent.client_id) is agent:
                log(f"agent disconnected: {agent.client_id!r}")
            self.registry.detach(agent)
            agent.on_closed("the agent disconnected before it answered")
        return ws

    async def status_report(self, request):
        body = await request.text()
        try:
            document = json.loads(body)
        except ValueError:
            document = body
        self.registry.add_report(document, request.path)
        if isinstance(document, dict):
            log(f"start report: status {document.get('status')!r} {document.get('statusMessage')!r} "
                f"(resource {document.get('resourceId')!r}, session {document.get('sessionId')!r})")
        return web.json_response({"ok": True})

    # --- the page and its API ---------------------------------------------------------
    async def index(self, request):
        return web.FileResponse(STATIC / "index.html")

    async def list_agents(self, request):
        listing = self.registry.describe()
        listing["requestTimeout"] = self.request_timeout
        return web.json_response(listing)

    async def send_request(self, request):
        # A JSON body cannot come from a plain cross-site form.
        if request.content_type != "application/json":
            return web.json_response({"error": "send the request as application/json"}, status=415)
        try:
            body = await request.json()
        except ValueError:
            return web.json_response({"error": "the body is not JSON"}, status=400)
        if not isinstance(body, dict):
            return web.json_response({"error": "the body must be an object"}, status=400)
        tool, code, data = body.get("tool"), body.get("code"), body.get("data", {})
        problem = protocol.check_request(tool, code, data)
        if problem:
            return web.json_response({"error": problem}, status=400)
        agent = self.registry.agents.get(str(body.get("agent", "")))
        if agent is None:
            return web.json_response({"state": "gone", "message": "no agent with this client id is connected"},
                                     status=404)
        web_client_id = body.get("webClientId", "")
        web_client_id = web_client_id if isinstance(web_client_id, str) else ""
        started = time.monotonic()
        try:
            outcome = await agent.request(tool, code, data, self.request_timeout, web_client_id)
        except Busy:
            return web.json_response({"state": "busy", "message": "a request of this tool is already waiting "
                                      "for the agent's answer"}, status=409)
        outcome = dict(outcome)
        outcome["elapsedMs"] = int((time.monotonic() - started) * 1000)
        outcome["timeout"] = self.request_timeout
        if outcome["state"] == "answered":
            outcome["summary"] = protocol.summarize(outcome["answer"])
        return web.json_response(outcome)

    def app(self):
        app = web.Application(middlewares=[self.guard], client_max_size=4 * 1024 * 1024)
        app.router.add_get("/", self.index)
        app.router.add_get("/api/agents", self.list_agents)
        app.router.add_post("/api/request", self.send_request)
        app.router.add_static("/static/", STATIC, follow_symlinks=False)
        app.router.add_get(r"/{path:.*HK_NATIVE}", self.agent_socket)
        app.router.add_post(r"/{path:.*toolsstatus}", self.status_report)
        return app


def parse_listen(text):
    host, sep, port = text.rpartition(":")
    if not sep or not port.isdigit() or int(port) > 65535:
        raise argparse.ArgumentTypeError("expected ADDR:PORT, e.g. 127.0.0.1:8790 or 0.0.0.0:8790")
    return host.strip("[]") or "0.0.0.0", int(port)


def parse_args(argv):
    parser = argparse.ArgumentParser(prog="scripts/console", description=(
        "The technician's console: agents connect to it as to the product server, and a web page "
        "served by it drives them."))
    parser.add_argument("--listen", type=parse_listen, default=("127.0.0.1", 8790), metavar="ADDR:PORT",
                        help="where to listen, for agents and the page (default 127.0.0.1:8790; port 0 picks one)")
    parser.add_argument("--token", help="the token the page needs (default: a new random one)")
    parser.add_argument("--request-timeout", type=float, default=60.0, metavar="SECONDS",
                        help="how long a request waits for the agent's answer (default 60)")
    parser.add_argument("--agent", metavar="EXE",
                        help="also start this hostkeeper-host.exe under scripts/wine-run, connected to the console")
    parser.add_argument("--agent-folder", metavar="DIR", default=str(ROOT / "build" / "console-agent"),
                        help="working folder (and log folder) of the agent that --agent starts")
    args = parser.parse_args(argv)
    if args.token is not None and not args.token:
        parser.error("--token must not be empty")
    return args


async def start_agent(exe, port, folder):
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    out = open(folder / "host.out", "ab")
    command = [str(ROOT / "scripts" / "wine-run"), str(Path(exe).resolve()), "--host", "127.0.0.1", "--port",
               str(port), "--product-server", "--client-id", "wine-agent-1", "--client-name", "Wine agent",
               "--resource-id", "resource-1", "--session-id", "session-1", "--customer-id", "customer-1",
               "--device-id", "device-1"]
    process = await asyncio.create_subprocess_exec(*command, cwd=folder, stdout=out, stderr=out,
                                                   stdin=asyncio.subprocess.DEVNULL)
    out.close()
    log(f"started the agent under Wine (its log: {folder}/ToolsSys.log)")
    return process


async def serve(args):
    token = args.token or secrets.token_urlsafe(24)
    host, port = args.listen
    console = Console(token, args.request_timeout)
    runner = web.AppRunner(console.app(), access_log=None)
    await runner.setup()
    site = web.TCPSite(runner, host, port)
    await site.start()
    port = site._server.sockets[0].getsockname()[1]
    # Cookies are kept per host, not per port: two consoles must not share one.
    console.cookie_name = f"hk_console_{port}"
    page_host = "127.0.0.1" if host in ("0.0.0.0", "::", "") else host
    page_host = f"[{page_host}]" if ":" in page_host else page_host
    log(f"listening on {host}:{port}")
    log(f"agents connect with: hostkeeper-host.exe --host {page_host} --port {port} --product-server "
        f"--client-id ID [--client-name NAME ...]")
    print(f"\n    Open the console:  http://{page_host}:{port}/?token={token}\n", flush=True)

    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for signum in (signal.SIGINT, signal.SIGTERM):
        loop.add_signal_handler(signum, stop.set)
    agent = None
    watcher = None
    if args.agent:
        agent = await start_agent(args.agent, port, args.agent_folder)

        async def watch():
            code = await agent.wait()
            log(f"the agent under Wine exited (code {code}); the console goes on")

        watcher = loop.create_task(watch())
    await stop.wait()
    log("stopping")
    if watcher is not None:
        watcher.cancel()
    if agent is not None and agent.returncode is None:
        agent.kill()
        await agent.wait()
    await runner.cleanup()


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    try:
        asyncio.run(serve(args))
    except OSError as exc:
        print(f"console: cannot listen on {args.listen[0]}:{args.listen[1]}: {exc.strerror or exc}",
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
