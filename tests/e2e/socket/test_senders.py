"""ClientSocket.dll under Wine: threads of one process send through one
connection while the echoes of their messages arrive. What the agent makes of
the component (closes, drops, proxies, certificates, the largest messages) is
tested in tests/e2e/agent; the wire format in tests/clientsocket."""

import json
import subprocess

import pytest

from product_server import ProductServer


def generate(size, salt):
    """A message as socket_driver.exe generates it."""
    return f"G{size}:{salt}:" + "".join(chr(ord("a") + (i * 7 + salt * 13) % 26) for i in range(size))


@pytest.mark.parametrize("secure", [False, True], ids=["ws", "wss"])
def test_four_threads_send_while_their_echoes_arrive(wine, test_ca, tmp_path, secure):
    with ProductServer(tls=test_ca["localhost"] if secure else None, echo=True) as server:
        driver = wine.start("socket_driver.exe", "localhost", server.port, int(secure), 4, 50, 3000, cwd=tmp_path,
                            stdout=subprocess.PIPE, text=True)
        result = json.loads(driver.communicate(timeout=300)[0].splitlines()[-1])
        conn = server.wait_connection()
        received = [conn.messages.get(timeout=10)[0] for _ in range(200)]
    # Every frame whole both ways: nothing interleaved, nothing lost.
    assert result == {"connected": True, "failures": 0, "echoes": 200, "valid": 200}
    sent = [generate(3000 + (i % 7) * 1000, (t + 1) * 100000 + i) for t in range(4) for i in range(50)]
    assert sorted(received) == sorted(sent)
