"""Connected agents, their requests in flight, and how answers find them.

The agent serves one message after another, in order, so its answers come
back in the order of the requests that get one. An answer names only its
tool, and the empty answer names nothing: each is matched to the oldest
request still waiting that it can belong to. A request that timed out stays
in the queue until its late answer arrives (or a later answer shows the agent
is past it), so that late answer cannot be taken for a newer request's.
"""

import asyncio
import itertools
import json
import time
from datetime import datetime, timezone

from . import protocol

# A timed-out request whose answer never came is forgotten after this long.
STALE_AFTER = 600.0


class Busy(Exception):
    """A request of this tool is already in flight to this agent."""


class Pending:
    def __init__(self, tool, code, request_id):
        self.tool = tool
        self.code = code
        self.request_id = request_id
        self.sent = time.monotonic()
        self.future = asyncio.get_running_loop().create_future()
        self.expired = False

    def settle(self, outcome):
        if not self.future.done():
            self.future.set_result(outcome)


def _now_iso():
    return datetime.now(timezone.utc).isoformat(timespec="seconds")


class Agent:
    """One WebSocket connection of an agent."""

    _serials = itertools.count(1)

    def __init__(self, ids, send, close, path=""):
        self.ids = ids
        self.client_id = ids.get("clientId", "")
        self.path = path
        self.connected_since = _now_iso()
        self.serial = next(Agent._serials)
        self._send = send
        self._close = close
        self._request_ids = itertools.count(1)
        self.queue = []  # Pending, in the order sent
        self.unmatched = 0

    def busy_tools(self):
        return sorted({p.tool for p in self.queue if not p.expired})

    async def request(self, tool, code, data, timeout, web_client_id=""):
        """Sends one request and waits for its answer; returns an outcome dict:
        state "answered" (with the answer), "empty", "timeout" or "gone"."""
        self._forget_stale()
        if any(p.tool == tool and not p.expired for p in self.queue):
            raise Busy(tool)
        pending = Pending(tool, code, next(self._request_ids))
        self.queue.append(pending)
        text = protocol.build_request(tool, code, data, pending.request_id, web_client_id)
        sent = json.loads(text)
        try:
            await self._send(text)
        except Exception as exc:  # the connection went while sending
            self.queue.remove(pending)
            return {"state": "gone", "message": f"the request could not be sent: {exc}", "request": sent}
        try:
            outcome = await asyncio.wait_for(asyncio.shield(pending.future), timeout)
        except asyncio.TimeoutError:
            pending.expired = True
            outcome = {"state": "timeout"}
        return {**outcome, "request": sent}

    def on_text(self, text):
        """Matches one text from the agent to the request it answers."""
        if text == protocol.KEEP_ALIVE:
            return None
        tool, parsed = protocol.parse_answer(text)
        if tool is None and text:
            self.unmatched += 1  # neither an answer nor the empty text
            return None
        for index, pending in enumerate(self.queue):
            if tool is not None and pending.tool != tool:
                continue
            if tool is None and not protocol.answers_empty(pending.tool):
                continue
            # Everything sent before it that timed out is behind the agent too.
            self.queue = [p for p in self.queue[:index] if not p.expired] + self.queue[index + 1:]
            if tool is None:
                pending.settle({"state": "empty", "raw": text})
            else:
                pending.settle({"state": "answered", "raw": text, "answer": parsed})
            return pending
        self.unmatched += 1
        return None

    def on_closed(self, reason):
        for pending in self.queue:
            pending.settle({"state": "gone", "message": reason})
        self.queue = []

    async def close(self, code, reason):
        await self._close(code, reason)

    def _forget_stale(self):
        now = time.monotonic()
        self.queue = [p for p in self.queue if not (p.expired and now - p.sent > STALE_AFTER)]

    def describe(self):
        return {
            "clientId": self.client_id,
            "clientName": self.ids.get("clientName", ""),
            "resourceId": self.ids.get("resourceId", ""),
            "sessionId": self.ids.get("sessionId", ""),
            "customerId": self.ids.get("customerId", ""),
            "connectedSince": self.connected_since,
            "connection": self.serial,
            "path": self.path,
            "busyTools": self.busy_tools(),
        }


class Registry:
    """The agents by client id, and the start reports they posted."""

    def __init__(self, keep_reports=20):
        self.agents = {}
        self.reports = []  # newest last
        self.keep_reports = keep_reports

    def attach(self, agent):
        """Adds an agent; returns the one with the same client id it replaces."""
        previous = self.agents.get(agent.client_id)
        self.agents[agent.client_id] = agent
        return previous

    def detach(self, agent):
        if self.agents.get(agent.client_id) is agent:
            del self.agents[agent.client_id]

    def add_report(self, document, path):
        report = {"received": _now_iso(), "path": path, "document": document}
        self.reports.append(report)
        del self.reports[:-self.keep_reports]
        return report

    @staticmethod
    def _key(values):
        return tuple(str(values.get(k, "")) for k in ("resourceId", "sessionId", "customerId"))

    def last_report(self, agent):
        """The newest start report with the agent's identifiers (the report
        carries no client id)."""
        key = self._key(agent.ids)
        for report in reversed(self.reports):
            if isinstance(report["document"], dict) and self._key(report["document"]) == key:
                return report
        return None

    def describe(self):
        agents = []
        for agent in sorted(self.agents.values(), key=lambda a: a.serial):
            entry = agent.describe()
            entry["status"] = self.last_report(agent)
            agents.append(entry)
        # An agent whose start failed never connects: its report shows alone.
        keys = {self._key(agent.ids) for agent in self.agents.values()}
        others = [r for r in self.reports
                  if not isinstance(r["document"], dict)
                  or (self._key(r["document"]) not in keys and r["document"].get("status") != 1)]
        return {"agents": agents, "otherReports": others[-5:]}
