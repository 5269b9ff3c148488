import os

import pytest

from product_server import ProductServer


@pytest.fixture
def agent(wine, tmp_path):
    """agent(*args, env=None) starts hostkeeper-host.exe under Wine; its working
    folder (and so its log) is the test's own. Left-over hosts are killed."""
    started = []

    def start(*args, env=None):
        out = open(tmp_path / f"host-{len(started)}.out", "w")
        process = wine.start("hostkeeper-host.exe", *args, cwd=tmp_path, stdout=out, stderr=out,
                             env={**os.environ, **(env or {})})
        out.close()
        started.append(process)
        return process

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
