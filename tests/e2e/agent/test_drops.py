"""The agent against a server that drops it a hundred times, and the largest
messages either way. Its threads and
open descriptors are read from its Wine process on Linux: the process whose
argv[0] is the host's program (Wine shows its Windows path, or for a 64-bit
one the path it was started by) and whose environment carries this run's marker."""

import json
import os
import queue
import time
import uuid
from pathlib import Path

import pytest

from e2e_support import AGENT_IDS as IDS, EXIT, serves
from product_server import ProductServer

MIB = 1024 * 1024


def echoing(web_client_id):
    """A request whose answer carries the web client id back."""
    return json.dumps({"toolId": 2, "requestId": 1, "webClientId": web_client_id,
                       "requestMessage": {"requestCode": 2007, "requestData": {}}})


def agent_process(marker):
    for entry in Path("/proc").glob("[0-9]*"):
        try:
            if ((entry / "cmdline").read_bytes().split(b"\0")[0].lower().endswith(b"hostkeeper-host.exe")
                    and f"HK_DROPS_RUN={marker}".encode() in (entry / "environ").read_bytes().split(b"\0")):
                return entry
        except OSError:
            continue
    return None


def settled(process):
    """Threads and descriptors once the same three readings came in a row, half a second apart."""
    readings = []
    while len(readings) < 30 and not (len(readings) >= 3 and readings[-1] == readings[-2] == readings[-3]):
        time.sleep(0.5)
        threads = (process / "status").read_text().split("\nThreads:")[1].split()[0]
        readings.append((threads, len(os.listdir(process / "fd"))))
    return readings[-1]


def test_a_hundred_drops_give_one_reconnection_each_and_leave_threads_and_descriptors(agent, test_ca, tmp_path):
    # Over TLS, as the agent talks to its server on 443: each connection
    # brings its own TLS session along with its socket and thread.
    marker = uuid.uuid4().hex
    with ProductServer(tls=test_ca["localhost"]) as server:
        host = agent("--host", "localhost", "--port", str(server.port), "--secure", "--product-server", *IDS,
                     env={"HK_DROPS_RUN": marker})
        conn = first = server.wait_connection(timeout=60)
        process = agent_process(marker)
        assert process, "the agent's Wine process was not found"
        for n in range(1, 101):
            kind = ["close frame", "reset", "reset in the middle of an answer"][n % 3]
            if kind == "close frame":
                conn.close()
            elif kind == "reset":
                conn.reset()
            else:
                # The answer carries the half-megabyte web client id back; the
                # reset comes with its first bytes, while the agent is still sending.
                conn.reset_on_next_data()
                conn.send(echoing("w" * 512 * 1024))
            try:
                conn = server.wait_connection(timeout=10)
            except queue.Empty:
                pytest.fail(f"no reconnection after drop {n} ({kind}); agent exit code {host.poll()}")
            assert conn.query_string == first.query_string and serves(conn), f"after drop {n} ({kind})"
            if n == 1:
                after_first = settled(process)
        # The largest message either way, many TLS records long; one byte more is refused with 1009.
        fill = "w" * (MIB - len(echoing("")))
        conn.send(echoing(fill))
        assert json.loads(conn.recv(timeout=60))["webClientId"] == fill
        conn.send(echoing(fill + "w"))
        assert conn.closed.wait(60) and conn.close_code == 1009
        conn = server.wait_connection(timeout=10)
        assert serves(conn)
        after_last = settled(process)
        assert len(server.all_connections) == 102
        assert "send failed" in (tmp_path / "log" / "WsAsyncSocket.log").read_text(errors="replace"), \
            "no reset reached the agent while it was sending"
        assert after_last == after_first, "threads and descriptors after the first drop and after the last"
        conn.send(EXIT)
        assert host.wait(timeout=15) == 0
