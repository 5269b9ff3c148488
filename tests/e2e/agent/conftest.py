import os
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(HERE)))
sys.path.insert(0, os.path.dirname(HERE))


@pytest.fixture
def agent(tmp_path):
    """Starts hostkeeper-host.exe under Wine with the given arguments; its
    working directory (and so its log) is the test's own folder."""
    bin_dir = os.environ.get("HK_BUILD_DIR")
    if not bin_dir or not os.path.exists(os.path.join(bin_dir, "hostkeeper-host.exe")):
        pytest.skip("HK_BUILD_DIR does not hold hostkeeper-host.exe (run through scripts/test)")
    started = []

    def start(*args, env=None):
        log = open(tmp_path / f"host-{len(started)}.out", "w")
        process = subprocess.Popen(
            [os.path.join(ROOT, "scripts", "wine-run"),
             os.path.join(bin_dir, "hostkeeper-host.exe"), *args],
            cwd=tmp_path, stdout=log, stderr=subprocess.STDOUT, env={**os.environ, **(env or {})})
        started.append(process)
        return process

    yield start
    for process in started:
        if process.poll() is None:
            process.kill()
            process.wait(10)
