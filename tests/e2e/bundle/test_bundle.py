"""The agent bundle that scripts/package writes: its contents, its bytes, and the
unpacked agent folder serving a product server from inside the Wine prefix."""

import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import zipfile
from pathlib import Path

import pytest

from e2e_support import ROOT, WINE_RUN, stop_process
from product_server import ProductServer

AGENT = "Tanglewick_Agent"
BINARIES = ["ClientSocket.dll", "DevExe32.exe", "DevExe64.exe", "Hostkeeper.dll", "hostkeeper-host.exe"]
VERSION = re.search(r"project\(Hostkeeper VERSION ([0-9.]+)", (ROOT / "CMakeLists.txt").read_text()).group(1)


def package():
    return subprocess.run([str(ROOT / "scripts" / "package"), "--no-setup"], cwd=ROOT, capture_output=True,
                          text=True, timeout=3600)


@pytest.fixture(scope="module")
def bundle():
    result = package()
    assert result.returncode == 0, result.stdout + result.stderr
    return ROOT / "dist" / f"Hostkeeper-{VERSION}-win32.zip"


def test_zip_holds_the_stripped_agent_folder_and_is_reproducible(bundle, tmp_path):
    with zipfile.ZipFile(bundle) as z:
        assert z.namelist() == ([f"{AGENT}/", f"{AGENT}/bin/", f"{AGENT}/logs/"] +
                                [f"{AGENT}/bin/{n}" for n in BINARIES] + [f"{AGENT}/integration.md"])
        assert z.read(f"{AGENT}/integration.md") == (ROOT / "docs" / "integration.md").read_bytes()
        z.extractall(tmp_path)
    for name in BINARIES:
        sections = subprocess.run(["x86_64-w64-mingw32-objdump", "-h", str(tmp_path / AGENT / "bin" / name)],
                                  capture_output=True, text=True, check=True).stdout
        assert ".debug_info" not in sections, f"{name} is not stripped"

    first = hashlib.sha256(bundle.read_bytes()).hexdigest()
    assert (bundle.parent / (bundle.name + ".sha256")).read_text() == f"{first}  {bundle.name}\n"
    again = package()
    assert again.returncode == 0, again.stdout + again.stderr
    assert hashlib.sha256(bundle.read_bytes()).hexdigest() == first, "a second run gave other bytes"


@pytest.fixture
def unpacked(bundle, wine):
    """The bundle unpacked under the prefix's drive C, as an installed agent is."""
    if subprocess.run([str(WINE_RUN), "--can-run-32bit"]).returncode != 0:
        pytest.skip("this machine does not run 32-bit programs, and the bundle is 32-bit")
    drive_c = Path(os.environ.get("HK_WINEPREFIX", ROOT / "build" / "wine64")) / "drive_c"
    folder = Path(tempfile.mkdtemp(prefix="hk-bundle-", dir=drive_c))
    with zipfile.ZipFile(bundle) as z:
        z.extractall(folder)
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


def test_unpacked_agent_serves_and_logs_in_its_folder(unpacked, tmp_path):
    agent_dir, host_exe = unpacked / AGENT, f"C:\\{unpacked.name}\\{AGENT}\\bin\\hostkeeper-host.exe"
    version = subprocess.run([str(WINE_RUN), host_exe, "--version"], cwd=agent_dir, capture_output=True, text=True,
                             timeout=120)
    assert version.stdout.strip() == f"hostkeeper-host {VERSION}", version.stdout + version.stderr

    with ProductServer() as server, open(tmp_path / "host.out", "w") as out:
        host = subprocess.Popen([str(WINE_RUN), host_exe, "--host", "127.0.0.1", "--port", str(server.port),
                                 "--product-server", "--client-id", "bundle-1"],
                                cwd=agent_dir, stdout=out, stderr=subprocess.STDOUT)
        try:
            conn = server.wait_connection(timeout=60)
            processes = conn.request(1, 1101, timeout=60)["responseMessage"]["responseData"]["data"]
            own = [p for p in processes if p["name"].lower() == "hostkeeper-host.exe"]
            # Read back through the version resource the build gave it.
            assert own and own[0].get("description") == "Hostkeeper agent host", own
            assert conn.request(1, 1105)["responseMessage"]["responseCode"] == "1104"
            assert host.wait(timeout=30) == 0
        finally:
            stop_process(host)

    tools_log = (agent_dir / "logs" / "ToolsSys.log").read_text(errors="replace")
    assert "Init instance : Host Keeper" in tools_log and "Message Recived From Server" in tools_log
    assert (agent_dir / "logs" / "WsAsyncSocket.log").stat().st_size > 0
    assert sorted(p.name for p in (agent_dir / "bin").iterdir()) == sorted(BINARIES), "something was written to bin"
