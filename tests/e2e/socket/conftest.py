"""The socket component's test harness: socket_driver.exe under Wine, read
as a stream of JSON events, against echoing product servers."""

import contextlib
import json
import subprocess
import threading
import time
from pathlib import Path
from urllib.parse import quote

import pytest

from e2e_support import stop_process
from product_server import ProductServer


class Driver:
    """socket_driver.exe: commands in, events out (see the program's header)."""

    def __init__(self, wine, cwd):
        self.log = Path(cwd) / "log" / "WsAsyncSocket.log"
        self.process = wine.start("socket_driver.exe", cwd=cwd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL)
        self.events = []
        self._changed = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()
        self.main_tid = self.wait_for("ready", timeout=60)["tid"]

    def _read(self):
        for line in self.process.stdout:
            with self._changed:
                self.events.append(json.loads(line))
                self._changed.notify_all()

    def mark(self):
        """Position to wait from, so only later events count."""
        with self._changed:
            return len(self.events)

    def all(self, ev, since=0):
        with self._changed:
            return [e for e in self.events[since:] if e["ev"] == ev]

    def wait_for(self, ev, timeout=30.0, since=0, count=1):
        """The first event ev since the mark, once count of them have come."""
        deadline = time.monotonic() + timeout
        with self._changed:
            while len(found := self.all(ev, since)) < count:
                if time.monotonic() > deadline:
                    raise AssertionError(f"{len(found)} {ev!r} events, not {count}, within {timeout} s; last events:\n"
                                         + "\n".join(map(json.dumps, self.events[-15:])))
                self._changed.wait(0.5)
            return found[0]

    def send(self, *args):
        tokens = ("~" if str(a) == "" else quote(str(a), safe="/?&=:.,-_+@") for a in args)
        self.process.stdin.write((" ".join(tokens) + "\n").encode())
        self.process.stdin.flush()

    def call(self, *args, ev, timeout=30.0):
        """Sends a command and waits for the event that answers it."""
        since = self.mark()
        self.send(*args)
        return self.wait_for(ev, timeout=timeout, since=since)

    def create(self, port, path, secure=False, host="127.0.0.1", context=0):
        assert self.call("create", host, port, int(secure), path, "log\\WsAsyncSocket.log", context, ev="created")["ok"]

    def connect(self, timeout=60.0):
        return self.call("connect", ev="connect_result", timeout=timeout)

    def log_text(self):
        return self.log.read_text(errors="replace") if self.log.exists() else ""

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        try:
            self.send("quit")
            self.process.wait(30)
        except (OSError, subprocess.TimeoutExpired):
            pass
        stop_process(self.process)


@pytest.fixture
def ws_server():
    """ws_server(tls=None) starts an echoing product server; tls is (cert, key).
    Stopped after the test."""
    with contextlib.ExitStack() as stack:
        yield lambda tls=None: stack.enter_context(ProductServer(tls=tls, echo=True))


@pytest.fixture
def driver(wine, tmp_path):
    """driver() starts socket_driver.exe with the test's folder as its working
    directory; it is told to quit after the test."""
    with contextlib.ExitStack() as stack:
        yield lambda: stack.enter_context(Driver(wine, tmp_path))
