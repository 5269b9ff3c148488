"""The agent against a server that drops it, and one that goes silent.

The agent's threads and open descriptors are read from its Wine process on
Linux: the process whose argv[0] is the host's Windows path and whose
environment carries this run's marker and Wine prefix.
"""

import json
import os
import queue
import time
import uuid
from pathlib import Path

import pytest

from product_server import ProductServer

IDS = ["--client-id", "cli-1", "--client-name", "Drops", "--resource-id", "res-2", "--session-id", "ses-3",
       "--customer-id", "cus-4", "--device-id", "dev-5"]
DROPS = 100
EXIT = json.dumps({"toolId": 0, "requestId": 1, "requestMessage": {"requestCode": 0}})


def agent_process(marker):
    """The pid of the agent's Wine process, found by its marker."""
    prefix = os.environ.get("HK_WINEPREFIX", "")
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            argv = (entry / "cmdline").read_bytes().split(b"\0")
            environ = (entry / "environ").read_bytes().split(b"\0")
        except OSError:
            continue
        # Wine shows the program as argv[0]: its Windows path (a 32-bit
        # program) or the path it was started by (a 64-bit one).
        if (argv[0].decode(errors="replace").lower().endswith("hostkeeper-host.exe")
                and f"HK_DROPS_RUN={marker}".encode() in environ
                and (not prefix or f"WINEPREFIX={prefix}".encode() in environ)):
            return int(entry.name)
    return None


def threads_and_descriptors(pid):
    status = Path(f"/proc/{pid}/status").read_text()
    threads = int(next(line.split()[1] for line in status.splitlines() if line.startswith("Threads:")))
    return threads, len(os.listdir(f"/proc/{pid}/fd"))


def settled(pid, timeout=15.0):
    """Threads and descriptors once they have stopped moving: the same three
    readings in a row, half a second apart."""
    readings = []
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        readings.append(threads_and_descriptors(pid))
        if len(readings) >= 3 and readings[-1] == readings[-2] == readings[-3]:
            return readings[-1]
        time.sleep(0.5)
    return readings[-1]


def serves(conn):
    """One quick request answered on this connection."""
    answer = conn.request(2, 2007, data={"cmd": "hk-no-such-service"}, timeout=20)
    return answer["responseMessage"] == {"errorCode": "2106", "errorOutput": "Unable to open Service"}


def drop(conn, kind):
    if kind == "close frame":
        conn.close()
    elif kind == "reset":
        conn.reset()
    else:
        # The answer carries the half-megabyte web client id back; the reset
        # comes with its first bytes, while the agent is still sending.
        conn.reset_on_next_data()
        conn.send(json.dumps({"toolId": 2, "requestId": 1, "webClientId": "w" * 512 * 1024,
                              "requestMessage": {"requestCode": 2007, "requestData": {"cmd": "hk-no-such-service"}}}))


def memory(pid):
    return next(line.split()[1] + " kB" for line in Path(f"/proc/{pid}/status").read_text().splitlines()
                if line.startswith("VmRSS:"))


def test_a_hundred_drops_leave_threads_and_descriptors_as_they_were(agent, test_ca, tmp_path):
    # Over TLS, as the agent talks to its server on 443: each connection
    # brings its own TLS session along with its socket and thread.
    marker = uuid.uuid4().hex
    kinds = ["close frame", "reset", "reset in the middle of an answer"]
    with ProductServer(certfile=test_ca.localhost_cert, keyfile=test_ca.localhost_key) as server:
        host = agent("--host", "localhost", "--port", str(server.port), "--secure", "--product-server", *IDS,
                     env={"HK_DROPS_RUN": marker})
        conn = server.wait_connection(timeout=60)
        pid = agent_process(marker)
        assert pid, "the agent's Wine process was not found"
        first = None
        for n in range(1, DROPS + 1):
            kind = kinds[n % len(kinds)]
            drop(conn, kind)
            try:
                conn = server.wait_connection(timeout=10)
            except queue.Empty:
                pytest.fail(f"no reconnection after drop {n} ({kind}); agent exit code {host.poll()}")
            assert serves(conn), f"the connection after drop {n} ({kind}) does not serve"
            if n == 1:
                first, first_memory = settled(pid), memory(pid)
        last = settled(pid)
        print(f"reconnects {DROPS}; threads and descriptors after the first: {first}, after the last: {last}; "
              f"resident memory {first_memory} and {memory(pid)}")
        assert len(server.all_connections) == DROPS + 1
        socket_log = (tmp_path / "log" / "WsAsyncSocket.log").read_text(errors="replace")
        assert "send failed" in socket_log, "no reset reached the agent while it was sending"
        assert last == first, f"threads and descriptors: {first} after the first drop, {last} after the last"
        conn.send(EXIT)
        assert host.wait(timeout=15) == 0


def test_relay_agent_outlasts_a_silent_server_and_reconnects_when_it_fails(agent):
    # A relay that stops reading answers nothing, not even at the TCP level
    # beyond its buffers. The agent cannot tell that from an idle relay: it
    # keeps running and keeps sending "-", and reconnects once the
    # connection itself fails.
    with ProductServer() as relay:
        # The start notification is refused at once instead of waiting on a name lookup.
        host = agent("--host", "127.0.0.1", "--port", str(relay.port), *IDS,
                     env={"HOSTKEEPER_GATEWAY_HOST": "127.0.0.1"})
        conn = relay.wait_connection(timeout=60)
        assert conn.recv(timeout=30, skip_keepalive=False) == "-"
        conn.pause_reading()
        time.sleep(24.5)  # two more keep-alive periods
        assert host.poll() is None, "the agent stopped while the relay was silent"
        with pytest.raises(queue.Empty):
            relay.wait_connection(timeout=0.1)
        conn.resume_reading()
        deadline, keepalives = time.monotonic() + 5, 0
        while keepalives < 2 and time.monotonic() < deadline:
            try:
                keepalives += conn.recv(timeout=deadline - time.monotonic(), skip_keepalive=False) == "-"
            except queue.Empty:
                break
        assert keepalives >= 2, "the agent did not keep sending '-' to the silent relay"

        conn.reset()
        second = relay.wait_connection(timeout=10)
        assert serves(second)
        second.send(EXIT)
        assert host.wait(timeout=15) == 0
