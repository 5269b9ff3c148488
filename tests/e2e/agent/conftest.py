import os

import pytest

from e2e_support import AGENT_IDS
from product_server import ProductServer


@pytest.fixture
def agent(wine, tmp_path):
    """agent(*args, env=None) starts hostkeeper-host.exe under Wine; its working
    folder (and so its log) is the test's own. Left-over hosts are killed."""
    started = []

    def start(*args, env=None):
        with open(tmp_path / f"host-{len(started)}.out", "w") as out:
            started.append(wine.start("hostkeeper-host.exe", *args, cwd=tmp_path, stdout=out, stderr=out,
                                      env={**os.environ, **(env or {})}))
        return started[-1]

    yield start
    for process in started:
        if process.poll() is None:
            process.kill()
            process.wait(10)


@pytest.fixture
def server():
    """A product server on loopback for the test."""
    with ProductServer() as s:
        yield s


@pytest.fixture
def served(agent, server):
    """The connection of an agent started in product mode; after the test the
    agent is told to exit, and must end with 0."""
    host = agent("--host", "127.0.0.1", "--port", str(server.port), "--product-server", *AGENT_IDS)
    conn = server.wait_connection(timeout=60)
    yield conn
    conn.request(1, 1105)
    assert host.wait(timeout=10) == 0
