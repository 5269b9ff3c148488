"""The agent against a server that drops it a hundred times. Its threads and
open descriptors are read from its Wine process on Linux: the process whose
argv[0] is the host's program and whose environment carries this run's marker."""

import json
import os
import queue
import time
import uuid
from pathlib import Path

import pytest

from e2e_support import AGENT_IDS as IDS, EXIT, serves
from product_server import ProductServer

DROPS = 100


def agent_process(marker):
    """The pid of the agent's Wine process, found by its marker."""
    for entry in Path("/proc").iterdir():
        try:
            # Wine shows the program as argv[0]: its Windows path (a 32-bit
            # program) or the path it was started by (a 64-bit one).
            if ((entry / "cmdline").read_bytes().split(b"\0")[0].lower().endswith(b"hostkeeper-host.exe")
                    and f"HK_DROPS_RUN={marker}".encode() in (entry / "environ").read_bytes().split(b"\0")):
                return entry.name
        except OSError:
            continue
    return None


def settled(pid, timeout=15.0):
    """Threads and descriptors once they have stopped moving: the same three
    readings in a row, half a second apart."""
    readings = []
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and not (len(readings) >= 3 and readings[-1] == readings[-2] == readings[-3]):
        time.sleep(0.5)
        status = Path(f"/proc/{pid}/status").read_text()
        readings.append((status.split("\nThreads:")[1].split()[0], len(os.listdir(f"/proc/{pid}/fd"))))
    return readings[-1]


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


def test_a_hundred_drops_give_one_reconnection_each_and_leave_threads_and_descriptors(agent, test_ca, tmp_path):
    # Over TLS, as the agent talks to its server on 443: each connection
    # brings its own TLS session along with its socket and thread.
    marker = uuid.uuid4().hex
    kinds = ["close frame", "reset", "reset in the middle of an answer"]
    with ProductServer(tls=test_ca["localhost"]) as server:
        host = agent("--host", "localhost", "--port", str(server.port), "--secure", "--product-server", *IDS,
                     env={"HK_DROPS_RUN": marker})
        conn = first_conn = server.wait_connection(timeout=60)
        pid = agent_process(marker)
        assert pid, "the agent's Wine process was not found"
        for n in range(1, DROPS + 1):
            kind = kinds[n % len(kinds)]
            drop(conn, kind)
            try:
                conn = server.wait_connection(timeout=10)
            except queue.Empty:
                pytest.fail(f"no reconnection after drop {n} ({kind}); agent exit code {host.poll()}")
            assert conn.query_string == first_conn.query_string
            assert serves(conn), f"the connection after drop {n} ({kind}) does not serve"
            if n == 1:
                first = settled(pid)
        last = settled(pid)
        assert len(server.all_connections) == DROPS + 1
        assert "send failed" in (tmp_path / "log" / "WsAsyncSocket.log").read_text(errors="replace"), \
            "no reset reached the agent while it was sending"
        assert last == first, f"threads and descriptors: {first} after the first drop, {last} after the last"
        conn.send(EXIT)
        assert host.wait(timeout=15) == 0
