"""The console's server without a browser or Wine: a scripted agent on a real
WebSocket, the page's API over real HTTP.

Run with Debian's interpreter: /usr/bin/python3 -m pytest tests/console -q
"""

import asyncio
import json
import sys
from pathlib import Path

import aiohttp
import pytest
import yarl
from aiohttp import web

sys.path.insert(0, str(Path(__file__).resolve().parents[2]))

from console import protocol  # noqa: E402
from console.server import Console  # noqa: E402

TOKEN = "test-token"
# As the agent's socket writes it: blanks and bytes above 0x7E escaped, the
# rest as it is.
AGENT_PATH = ("/mfWebSocket/HK_NATIVE?clientId={id}&clientName=Lab%20PC%2050%&resourceId=r-1"
              "&sessionId=s-1&customerId=c-1")


def console_test(timeout=5):
    """Runs an async test with a console on loopback, given as h."""
    def wrap(test):
        def run():
            async def scenario():
                async with Harness(timeout) as h:
                    await test(h)
            asyncio.run(scenario())
        run.__name__ = test.__name__
        return run
    return wrap


class Harness:
    def __init__(self, timeout):
        self.console = Console(TOKEN, request_timeout=timeout)

    async def __aenter__(self):
        self.runner = web.AppRunner(self.console.app())
        await self.runner.setup()
        site = web.TCPSite(self.runner, "127.0.0.1", 0)
        await site.start()
        self.base = f"http://127.0.0.1:{site._server.sockets[0].getsockname()[1]}"
        self.http = aiohttp.ClientSession(cookie_jar=aiohttp.DummyCookieJar())
        return self

    async def __aexit__(self, *exc):
        await self.http.close()
        await self.runner.cleanup()

    async def agent(self, client_id="pc-1"):
        ws = await self.http.ws_connect(yarl.URL(self.base + AGENT_PATH.format(id=client_id), encoded=True))
        for _ in range(100):
            if client_id in self.console.registry.agents:
                break
            await asyncio.sleep(0.01)
        return ws

    def request(self, tool, code, data=None, agent="pc-1"):
        """Starts a request of the page; await the task for (status, body)."""
        async def run():
            async with self.http.post(self.base + "/api/request", headers={"X-Console-Token": TOKEN},
                                      json={"agent": agent, "tool": tool, "code": code, "data": data or {}}) as r:
                return r.status, await r.json()
        return asyncio.ensure_future(run())


async def next_request(ws):
    return json.loads((await ws.receive(timeout=5)).data)


def legacy(tool, code, data):
    return json.dumps({"messageVersion": "1", "toolId": str(tool), "responseId": str(tool), "isSuccess": "true",
                       "responseMessage": {"responseCode": code, "isPagedResponse": "False",
                                           "responseData": {"data": data}}})


@console_test()
async def test_the_page_and_its_api_need_the_token_agents_do_not_and_are_listed_with_their_report(h):
    cookie = {"Cookie": f"hk_console={TOKEN}"}
    cases = [  # (method, path, headers, expected status)
        ("GET", "/", {}, 403),
        ("GET", "/?token=wrong", {}, 403),
        ("GET", "/static/js/app.js", {}, 403),
        ("GET", "/api/agents", {"X-Console-Token": "wrong"}, 403),
        ("GET", "/api/agents", {"X-Console-Token": TOKEN}, 200),
        ("GET", "/", cookie, 200),
        ("GET", "/static/js/app.js", cookie, 200),
        ("GET", "/static/../server.py", cookie, 404),
        ("POST", "/toolsstatus", {}, 200),
    ]
    for method, path, headers, status in cases:
        async with h.http.request(method, h.base + path, headers=headers, allow_redirects=False) as r:
            assert r.status == status, f"{method} {path} {headers}"
    # The printed URL trades the token for a cookie and a clean address.
    async with h.http.get(h.base + f"/?token={TOKEN}", allow_redirects=False) as r:
        assert (r.status, r.headers["Location"]) == (302, "/")
        assert r.cookies["hk_console"].value == TOKEN and r.cookies["hk_console"]["httponly"]
    # A page elsewhere cannot post a plain form at the API.
    async with h.http.post(h.base + "/api/request", data="tool=1", headers={"X-Console-Token": TOKEN}) as r:
        assert r.status == 415

    # Agents need no token; one is listed with its identifiers and its own start report.
    ws = await h.agent()  # noqa: F841 (held open)
    report = {"customerId": "c-1", "resourceId": "r-1", "sessionId": "s-1", "status": 1, "toolId": 1,
              "statusMessage": "hostkpr .exe Successfully Initiated"}
    await h.http.post(h.base + "/toolsstatus", data=json.dumps(report) + "\n")
    stranger = dict(report, resourceId="r-9", status=0, statusMessage="error")
    await h.http.post(h.base + "/toolsstatus", data=json.dumps(stranger))
    async with h.http.get(h.base + "/api/agents", headers={"X-Console-Token": TOKEN}) as r:
        listing = await r.json()
    (agent,) = listing["agents"]
    assert [agent[key] for key in protocol.AGENT_KEYS] == ["pc-1", "Lab PC 50%", "r-1", "s-1", "c-1"]
    assert agent["status"]["document"] == report
    assert [r["document"] for r in listing["otherReports"]] == ["", stranger]  # "": the empty post above


@console_test(timeout=1.5)
async def test_answers_find_their_requests(h):
    ws = await h.agent()
    # Two tools in flight; the agent answers in order, each by its tool.
    processes, groups = h.request(1, 1101), h.request(6, 6000, {"Groups": "All_Groups"})
    sent = {r["toolId"]: r for r in (await next_request(ws), await next_request(ws))}
    assert sent.keys() == {1, 6} and sent[1]["requestId"] != sent[6]["requestId"]
    await ws.send_str("-")  # a relay keep-alive answers nothing
    await ws.send_str("")  # the empty text: only the groups request can own it
    await ws.send_str(legacy(1, "1301", [{"pid": "4", "name": "a.exe"}]))
    status, body = await processes
    assert (status, body["state"], body["summary"]["data"]) == (200, "answered", [{"pid": "4", "name": "a.exe"}])
    assert body["request"] == sent[1]
    status, body = await groups
    assert (status, body["state"], body["raw"]) == (200, "empty", "")

    # One request per tool: a second one is refused while the first waits.
    stop = h.request(2, 2007, {"cmd": "svc"})
    await next_request(ws)
    status, body = await h.request(2, 2006, {"cmd": "svc"})
    assert (status, body["state"]) == (409, "busy")
    assert (await stop)[1]["state"] == "timeout"
    # Its late answer is not taken for the next request of the tool.
    start = h.request(2, 2006, {"cmd": "svc"})
    assert (await next_request(ws))["requestMessage"]["requestCode"] == 2006
    await ws.send_str(legacy(2, "2307", "service stopped "))
    await ws.send_str(legacy(2, "2306", "service started"))
    status, body = await start
    assert (body["state"], body["summary"]["text"]) == ("answered", "service started")
    assert (h.console.registry.agents["pc-1"].queue, h.console.registry.agents["pc-1"].unmatched) == ([], 0)

    # A request the agent does not know would stop it: never sent.
    for tool, code in [(4, 4000), (1, 1999), (7, 7950), (2, 1101)]:
        assert (await h.request(tool, code))[0] == 400, (tool, code)
    # An agent that goes answers nothing more.
    users = h.request(3, 3101)
    await next_request(ws)
    await ws.close()
    assert (await users)[1]["state"] == "gone"
    status, body = await h.request(3, 3101)
    assert (status, body["state"]) == (404, "gone")


@console_test()
async def test_a_second_connection_with_the_same_client_id_replaces_the_first(h):
    old = await h.agent()
    waiting = h.request(1, 1101)
    await next_request(old)
    new = await h.agent()
    status, body = await waiting
    assert body["state"] == "gone" and "replaced" in body["message"]
    assert (await old.receive(timeout=5)).type in (aiohttp.WSMsgType.CLOSE, aiohttp.WSMsgType.CLOSED)
    assert len(h.console.registry.agents) == 1
    users = h.request(3, 3101)
    await next_request(new)
    await new.send_str(legacy(3, "3301", []))
    assert (await users)[1]["state"] == "answered"


FORMATTER_OK = {"messageVersion": 1.0, "toolId": 8, "responseId": 0, "isSuccess": "true", "responseCode": 8301,
                "isPagedResponse": "false", "responseMessage": None}


@pytest.mark.parametrize("answer, expected", [
    (json.loads(legacy(1, "1305", "Process terminated successfully")),
     ("legacy", True, "1305", "Process terminated successfully")),
    ({"messageVersion": "1.0", "toolId": "1", "responseId": "1", "isSuccess": "false",
      "responseMessage": {"errorCode": "1605", "errorOutput": "Access denied."}},
     ("legacy", False, "1605", "Access denied.")),
    (dict(FORMATTER_OK, responseData={"Status": "Failed", "Remarks": "The network name cannot be found."}),
     ("formatter", False, 8301, "The network name cannot be found.")),
    (dict(FORMATTER_OK, toolId=10, responseData={"ACTION_NAME": "enable", "ACTION_RESULT": "Failed"}),
     ("formatter", False, 8301, "Failed")),
    (dict(FORMATTER_OK, toolId=6, responseData={"actionName": "AddGroup", "actionResult": "Success",
                                               "remarks": "Success fully added this group"}),
     ("formatter", True, 8301, "Success fully added this group")),
    (dict(FORMATTER_OK, isSuccess="false", errorCode=7600, errorOutput="Error while getting Non Paged Response"),
     ("formatter", False, 7600, "Error while getting Non Paged Response")),
])
def test_both_answer_families_read_the_same_way(answer, expected):
    summary = protocol.summarize(answer)
    assert (summary["family"], summary["ok"], summary["code"], summary["text"]) == expected


def test_agent_identifiers_from_an_unescaped_query():
    assert list(protocol.parse_agent_query("clientId=pc%201&clientName=100%&resourceId=&sessionId=s=1").values()) == [
        "pc 1", "100%", "", "s=1", ""]
    assert protocol.parse_agent_query("clientId=%C3%A9t%C3%A9")["clientId"] == "été"
