"""The socket component's test harness: the WebSocket server (ws_server.py,
its own process) and socket_driver.exe under Wine, both read as streams of
JSON events."""

import json
import os
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
        self.process = process
        self.name = name
        self.events = []
        self.other = []  # lines that were not JSON
        self._changed = threading.Condition()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for raw in self.process.stdout:
            line = raw.decode("utf-8", "replace").strip()
            if not line:
                continue
            try:
                event = json.loads(line)
            except ValueError:
                event = None
            with self._changed:
                if isinstance(event, dict):
                    self.events.append(event)
                else:
                    self.other.append(line)
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
                for event in self.events[since:]:
                    if event.get("ev") == ev and where(event):
                        return event
                left = deadline - time.monotonic()
                if left <= 0 or (self.process.poll() is not None and not self._reader.is_alive()):
                    raise AssertionError(f"{self.name}: no {ev!r} event within {timeout} s; last events:\n"
                                         + "\n".join(map(json.dumps, self.events[-15:]))
                                         + ("\nother output:\n" + "\n".join(self.other[-10:]) if self.other else ""))
                self._changed.wait(min(left, 0.5))

    def all(self, ev, since=0, where=lambda e: True):
        with self._changed:
            return [e for e in self.events[since:] if e.get("ev") == ev and where(e)]


class WsServer(EventStream):
    def __init__(self, tls=None):
        args = [sys.executable, str(HERE / "ws_server.py")]
        if tls:
            args += ["--tls", str(tls[0]), str(tls[1])]
        super().__init__(subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                          stderr=subprocess.STDOUT), "ws_server")
        self.port = self.wait_for("listening", timeout=15)["port"]

    def kill(self):
        """Ends the process at once, as a crash would."""
        self.process.kill()
        self.process.wait(10)

    def stop(self):
        stop_process(self.process)


def _token(value):
    text = str(value)
    return "~" if text == "" else quote(text, safe="/?&=:.,-_+@")


class Driver(EventStream):
    """socket_driver.exe: commands in, events out (see the program's header)."""

    def __init__(self, wine, cwd):
        self.cwd = Path(cwd)
        process = wine.start("socket_driver.exe", cwd=cwd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL)
        super().__init__(process, "socket_driver")
        self.main_tid = self.wait_for("ready", timeout=60)["tid"]

    def send(self, *args):
        self.process.stdin.write((" ".join(_token(a) for a in args) + "\n").encode())
        self.process.stdin.flush()

    def call(self, *args, ev, timeout=30.0):
        """Sends a command and waits for the event that answers it."""
        since = self.mark()
        self.send(*args)
        return self.wait_for(ev, timeout=timeout, since=since)

    def create(self, port, path, secure=False, host="127.0.0.1", log="log\\WsAsyncSocket.log", context=0):
        assert self.call("create", host, port, int(secure), path, log, context, ev="created")["ok"]

    def connect(self, timeout=60.0):
        return self.call("connect", ev="connect_result", timeout=timeout)

    def log_text(self, log="log/WsAsyncSocket.log"):
        path = self.cwd / log
        return path.read_text(errors="replace") if path.exists() else ""

    def quit(self):
        if self.process.poll() is None:
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
        server = WsServer(tls)
        started.append(server)
        return server

    yield start
    for server in started:
        server.stop()


@pytest.fixture
def driver(wine, tmp_path):
    """driver() starts socket_driver.exe with the test's folder as its working directory."""
    started = []

    def start():
        d = Driver(wine, tmp_path)
        started.append(d)
        return d

    yield start
    for d in started:
        d.quit()
