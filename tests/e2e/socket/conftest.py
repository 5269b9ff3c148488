"""The socket component's test harness: the WebSocket server (ws_server.py,
its own process) and socket_driver.exe under Wine, both read as streams of
JSON events."""

import json
import subprocess
import sys
import threading
import time
from pathlib import Path
from urllib.parse import quote

import pytest

from e2e_support import stop_process

HERE = Path(__file__).resolve().parent


class EventStream:
    """Collects the JSON lines a process prints; tests wait for events."""

    def __init__(self, process, name):
        self.process, self.name = process, name
        self.events, self.other = [], []  # other: lines that were not JSON objects
        self._changed = threading.Condition()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for raw in self.process.stdout:
            line = raw.decode("utf-8", "replace").strip()
            try:
                event = json.loads(line)
            except ValueError:
                event = None
            with self._changed:
                (self.events if isinstance(event, dict) else self.other).append(event or line)
                self._changed.notify_all()
        with self._changed:
            self._changed.notify_all()

    def mark(self):
        """Position to wait from, so only later events count."""
        with self._changed:
            return len(self.events)

    def wait_for(self, ev, timeout=30.0, since=0, where=lambda e: True):
        deadline = time.monotonic() + timeout
        with self._changed:
            while True:
                found = [e for e in self.events[since:] if e.get("ev") == ev and where(e)]
                if found:
                    return found[0]
                left = deadline - time.monotonic()
                if left <= 0 or not self._reader.is_alive():
                    raise AssertionError(f"{self.name}: no {ev!r} event within {timeout} s; last events:\n"
                                         + "\n".join(map(json.dumps, self.events[-15:]))
                                         + "\nother output:\n" + "\n".join(self.other[-10:]))
                self._changed.wait(min(left, 0.5))

    def wait_for_count(self, ev, count, timeout=30.0):
        """Waits until count events ev have come."""
        deadline = time.monotonic() + timeout
        with self._changed:
            while len(self.all(ev)) < count and self._changed.wait(max(deadline - time.monotonic(), 0)):
                pass
            assert len(self.all(ev)) >= count, f"{self.name}: {len(self.all(ev))} {ev!r} events, not {count}"

    def all(self, ev, since=0):
        with self._changed:
            return [e for e in self.events[since:] if e.get("ev") == ev]


class WsServer(EventStream):
    def __init__(self, tls=None):
        args = [sys.executable, str(HERE / "ws_server.py")] + (["--tls", str(tls[0]), str(tls[1])] if tls else [])
        super().__init__(subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                          stderr=subprocess.STDOUT), "ws_server")
        self.port = self.wait_for("listening", timeout=15)["port"]

    def kill(self):
        """Ends the process at once, as a crash would."""
        self.process.kill()
        self.process.wait(10)


class Driver(EventStream):
    """socket_driver.exe: commands in, events out (see the program's header)."""

    def __init__(self, wine, cwd):
        self.cwd = Path(cwd)
        super().__init__(wine.start("socket_driver.exe", cwd=cwd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL), "socket_driver")
        self.main_tid = self.wait_for("ready", timeout=60)["tid"]

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
        path = self.cwd / "log" / "WsAsyncSocket.log"
        return path.read_text(errors="replace") if path.exists() else ""

    def quit(self):
        try:
            self.send("quit")
            self.process.stdin.close()
            self.process.wait(30)
        except (OSError, subprocess.TimeoutExpired):
            self.process.kill()
            self.process.wait(10)


@pytest.fixture
def ws_server():
    """ws_server(tls=None) starts a server; tls is (cert, key). Stopped after the test."""
    started = []

    def start(tls=None):
        started.append(WsServer(tls))
        return started[-1]

    yield start
    for server in started:
        stop_process(server.process)


@pytest.fixture
def driver(wine, tmp_path):
    """driver() starts socket_driver.exe with the test's folder as its working directory."""
    started = []

    def start():
        started.append(Driver(wine, tmp_path))
        return started[-1]

    yield start
    for d in started:
        d.quit()
