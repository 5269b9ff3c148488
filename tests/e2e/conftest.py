"""Fixtures shared by the end-to-end tests, which run the Windows programs of
a build (HK_BUILD_DIR, its bin folder) under Wine through scripts/wine-run (in
HK_WINEPREFIX) and talk to them through real servers on loopback."""

import hashlib
import os
import shutil
import socket
import ssl
import struct
import subprocess
import sys
import time
from pathlib import Path
from types import SimpleNamespace

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

from e2e_support import ROOT, WINE_RUN, free_port, stop_process  # noqa: E402


@pytest.fixture(scope="session")
def wine():
    """Runs programs of the build under Wine in the run's prefix: wine.start(name, *args, **popen_args),
    wine.program(name) (its path)."""
    if not os.environ.get("HK_BUILD_DIR"):
        pytest.skip("HK_BUILD_DIR is not set (the bin folder of the build under test)")
    if not shutil.which("wine") and not os.path.exists("/usr/lib/wine/wine64"):
        pytest.skip("Wine is not installed")
    subprocess.run([str(WINE_RUN), "--init"], check=True, timeout=300)
    # One wineserver for the run (it leaves 30 s after its last client). Not
    # its output: a server started here keeps it open for as long as it runs.
    subprocess.run(["wineserver", "-p30"], env={**os.environ, "WINEPREFIX": os.environ.get(
        "HK_WINEPREFIX", str(ROOT / "build" / "wine64"))}, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def program(name):
        exe = Path(os.environ["HK_BUILD_DIR"]) / name
        if not exe.exists():
            pytest.fail(f"{exe} is missing: build the test programs first")
        return exe

    def start(name, *args, **popen_args):
        return subprocess.Popen([str(WINE_RUN), str(program(name)), *map(str, args)], **popen_args)

    return SimpleNamespace(program=program, start=start)


@pytest.fixture(scope="session")
def test_ca(wine, tmp_path_factory):
    """(cert, key) paths of server certificates by name: "localhost" and
    "wrong_host" (for another name) signed by an authority the prefix's
    LOCAL_MACHINE ROOT store trusts while the tests run, "untrusted" (for
    localhost) by one it does not."""
    if not shutil.which("openssl"):
        pytest.skip("openssl is not installed")
    folder = tmp_path_factory.mktemp("ca")

    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=folder, check=True, capture_output=True, timeout=60)

    for name in ("ca", "stranger"):
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30", "-keyout", f"{name}.key", "-out",
                f"{name}.pem", "-subj", f"/CN=Hostkeeper Test {name} {os.getpid()}", "-addext",
                "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    certificates = {}
    for name, dns_name, authority in (("localhost", "localhost", "ca"), ("wrong_host", "not-this-host.example", "ca"),
                                      ("untrusted", "localhost", "stranger")):
        (folder / f"{name}.ext").write_text("basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n"
                                            f"keyUsage=critical,digitalSignature,keyEncipherment\n"
                                            f"subjectAltName=DNS:{dns_name}\n")
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key", "-out", f"{name}.csr", "-subj",
                f"/CN={dns_name}")
        openssl("x509", "-req", "-in", f"{name}.csr", "-out", f"{name}.pem", "-extfile", f"{name}.ext", "-CA",
                f"{authority}.pem", "-CAkey", f"{authority}.key", "-CAcreateserial", "-days", "30")
        certificates[name] = (folder / f"{name}.pem", folder / f"{name}.key")
    # The machine's root store is kept in the registry, one serialized
    # certificate (its SHA-1 hash and its DER bytes) under a key named by the hash.
    der = ssl.PEM_cert_to_DER_cert((folder / "ca.pem").read_text())
    sha1 = hashlib.sha1(der)
    key = rf"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates\{sha1.hexdigest().upper()}"
    blob = struct.pack("<III", 3, 1, 20) + sha1.digest() + struct.pack("<III", 32, 1, len(der)) + der
    reg = [str(WINE_RUN), "reg"]
    subprocess.run([*reg, "add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(), "/f"], check=True,
                   capture_output=True, timeout=120)
    yield certificates
    subprocess.run([*reg, "delete", key, "/f"], capture_output=True, timeout=120)


@pytest.fixture(scope="session")
def tinyproxy(tmp_path_factory):
    """A tinyproxy on loopback that takes the user "alice" with the password
    "s3cret-pw" (Basic auth): proxy.port, proxy.log_text()."""
    if not shutil.which("tinyproxy"):
        pytest.skip("tinyproxy is not installed")
    folder = tmp_path_factory.mktemp("tinyproxy")
    proxy = SimpleNamespace(port=free_port(), log=folder / "tinyproxy.log")
    proxy.log_text = lambda: proxy.log.read_text(errors="replace") if proxy.log.exists() else ""
    (folder / "tinyproxy.conf").write_text(f'Port {proxy.port}\nListen 127.0.0.1\nTimeout 60\nLogFile "{proxy.log}"\n'
                                           "LogLevel Connect\nAllow 127.0.0.1\nBasicAuth alice s3cret-pw\n")
    process = subprocess.Popen(["tinyproxy", "-d", "-c", str(folder / "tinyproxy.conf")], stdout=subprocess.DEVNULL,
                               stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 10
    while True:
        try:
            socket.create_connection(("127.0.0.1", proxy.port), timeout=0.5).close()
            break
        except OSError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.05)
    yield proxy
    stop_process(process)
