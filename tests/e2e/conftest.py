"""Fixtures shared by the end-to-end tests.

The tests run the Windows programs of a build under Wine and talk to them
through real servers on loopback. They find the build through HK_BUILD_DIR
(the bin folder with the .exe and .dll files) and run programs through
scripts/wine-run, which honours HK_WINEPREFIX.

  wine           runs a program of the build: wine.start(...), wine.program(...)
  test_ca        a certificate authority made for this run, trusted in the
                 Wine prefix only while the tests run, and server certificates
  tinyproxy      starts a tinyproxy on a free loopback port (Basic auth optional)
  free_port      free_port() gives a free TCP port on 127.0.0.1
"""

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

E2E_DIR = Path(__file__).resolve().parent
sys.path.insert(0, str(E2E_DIR))

from e2e_support import ROOT, WINE_RUN, stop_process  # noqa: E402


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.fixture(name="free_port", scope="session")
def free_port_fixture():
    return free_port


class Wine:
    """Runs programs of the build under Wine in the run's prefix."""

    def __init__(self, bin_dir):
        self.bin_dir = bin_dir

    def program(self, name):
        exe = self.bin_dir / name
        if not exe.exists():
            pytest.fail(f"{exe} is missing: build the test programs first")
        return exe

    def start(self, name, *args, **popen_args):
        return subprocess.Popen([str(WINE_RUN), str(self.program(name)), *map(str, args)], **popen_args)


@pytest.fixture(scope="session")
def wine():
    if not os.environ.get("HK_BUILD_DIR"):
        pytest.skip("HK_BUILD_DIR is not set (the bin folder of the build under test)")
    if not shutil.which("wine") and not os.path.exists("/usr/lib/wine/wine64"):
        pytest.skip("Wine is not installed")
    subprocess.run([str(WINE_RUN), "--init"], check=True, timeout=300)
    # One wineserver for the run (it leaves 30 s after its last client).
    subprocess.run(["wineserver", "-p30"], env={**os.environ, "WINEPREFIX": os.environ.get(
        "HK_WINEPREFIX", str(ROOT / "build" / "wine64"))}, capture_output=True, check=False)
    return Wine(Path(os.environ["HK_BUILD_DIR"]))


class CertificateAuthority:
    """A certificate authority and the certificates it (or a stranger) signed."""

    def __init__(self, folder):
        self.folder = folder

    def openssl(self, *args):
        subprocess.run(["openssl", *map(str, args)], cwd=self.folder, check=True, capture_output=True, timeout=60)

    def authority(self, name, subject):
        self.openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30", "-keyout",
                     f"{name}.key", "-out", f"{name}.pem", "-subj", subject, "-addext",
                     "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign")

    def issue(self, name, dns_name, ca="ca"):
        """Signs a server certificate for dns_name; returns the (cert, key) paths."""
        (self.folder / f"{name}.ext").write_text(
            "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n"
            f"extendedKeyUsage=serverAuth\nsubjectAltName=DNS:{dns_name}\n")
        self.openssl("req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", f"{name}.key", "-out",
                     f"{name}.csr", "-subj", f"/CN={dns_name}")
        self.openssl("x509", "-req", "-in", f"{name}.csr", "-out", f"{name}.pem", "-extfile", f"{name}.ext", "-CA",
                     f"{ca}.pem", "-CAkey", f"{ca}.key", "-CAcreateserial", "-days", "30", "-sha256")
        return self.folder / f"{name}.pem", self.folder / f"{name}.key"


@pytest.fixture(scope="session")
def test_ca(wine, tmp_path_factory):
    """CA trusted in the prefix's LOCAL_MACHINE ROOT store for this run, with:
    localhost_cert/key (signed by it for localhost), wrong_host_cert/key
    (signed by it for another name) and untrusted_cert/key (for localhost,
    signed by an authority nobody trusts)."""
    if not shutil.which("openssl"):
        pytest.skip("openssl is not installed")
    ca = CertificateAuthority(tmp_path_factory.mktemp("ca"))
    ca.authority("ca", f"/CN=Hostkeeper Test CA {os.getpid()}")
    ca.authority("stranger", "/CN=Untrusted Test CA")
    ca.localhost_cert, ca.localhost_key = ca.issue("localhost", "localhost")
    ca.wrong_host_cert, ca.wrong_host_key = ca.issue("wronghost", "not-this-host.example")
    ca.untrusted_cert, ca.untrusted_key = ca.issue("untrusted", "localhost", ca="stranger")
    # The machine's root store is kept in the registry, one serialized
    # certificate (its SHA-1 hash and its DER bytes) under a key named by the hash.
    der = ssl.PEM_cert_to_DER_cert((ca.folder / "ca.pem").read_text())
    sha1 = hashlib.sha1(der)
    key = rf"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates\{sha1.hexdigest().upper()}"
    blob = struct.pack("<III", 3, 1, 20) + sha1.digest() + struct.pack("<III", 32, 1, len(der)) + der
    reg = [str(WINE_RUN), "reg"]
    subprocess.run([*reg, "add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(), "/f"], check=True,
                   capture_output=True, timeout=120)
    yield ca
    subprocess.run([*reg, "delete", key, "/f"], capture_output=True, timeout=120)


@pytest.fixture
def tinyproxy(tmp_path):
    """tinyproxy(user, password) starts a proxy with Basic auth; it is
    stopped after the test. proxy.port, proxy.log_text()."""
    if not shutil.which("tinyproxy"):
        pytest.skip("tinyproxy is not installed")
    started = []

    def start(user, password):
        proxy = SimpleNamespace(port=free_port(), log=tmp_path / f"tinyproxy{len(started)}.log")
        proxy.log_text = lambda: proxy.log.read_text(errors="replace") if proxy.log.exists() else ""
        conf = tmp_path / f"tinyproxy{len(started)}.conf"
        conf.write_text(f'Port {proxy.port}\nListen 127.0.0.1\nTimeout 60\nLogFile "{proxy.log}"\n'
                        f"LogLevel Connect\nMaxClients 50\nAllow 127.0.0.1\nBasicAuth {user} {password}\n")
        started.append(subprocess.Popen(["tinyproxy", "-d", "-c", str(conf)], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.STDOUT))
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", proxy.port), timeout=0.5).close()
                return proxy
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("tinyproxy did not start")

    yield start
    for process in started:
        stop_process(process)
