"""Fixtures shared by the end-to-end tests.

The tests run the Windows programs of a build under Wine and talk to them
through real servers on loopback. They find the build through HK_BUILD_DIR
(the bin folder with the .exe and .dll files) and run programs through
scripts/wine-run, which honours HK_WINEPREFIX.

  bin_dir        the build's bin folder (skips when it is not set)
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
import tempfile
import time
from pathlib import Path

import pytest

E2E_DIR = Path(__file__).resolve().parent
ROOT = E2E_DIR.parent.parent
WINE_RUN = ROOT / "scripts" / "wine-run"
sys.path.insert(0, str(E2E_DIR))

from e2e_support import stop_process  # noqa: E402


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.fixture(name="free_port", scope="session")
def free_port_fixture():
    return free_port


@pytest.fixture(scope="session")
def bin_dir():
    path = os.environ.get("HK_BUILD_DIR")
    if not path:
        pytest.skip("HK_BUILD_DIR is not set (the bin folder of the build under test)")
    path = Path(path)
    if not path.is_dir():
        pytest.fail(f"HK_BUILD_DIR {path} is not a folder")
    return path


class Wine:
    """Runs programs of the build under Wine in the run's prefix."""

    def __init__(self, bin_dir):
        self.bin_dir = bin_dir

    def program(self, name):
        exe = self.bin_dir / name
        if not exe.exists():
            pytest.fail(f"{exe} is missing: build the test programs first")
        return exe

    def command(self, name, *args):
        return [str(WINE_RUN), str(self.program(name)), *map(str, args)]

    def start(self, name, *args, cwd=None, **popen_args):
        return subprocess.Popen(self.command(name, *args), cwd=cwd, **popen_args)


@pytest.fixture(scope="session")
def wine(bin_dir):
    if not WINE_RUN.exists() or not (shutil.which("wine") or os.path.exists("/usr/lib/wine/wine64")):
        pytest.skip("Wine is not installed")
    subprocess.run([str(WINE_RUN), "--init"], check=True, timeout=300)
    # Keeps one wineserver for the run (it leaves 30 s after its last client),
    # instead of one per program started.
    env = dict(os.environ)
    env["WINEPREFIX"] = os.environ.get("HK_WINEPREFIX", str(ROOT / "build" / "wine64"))
    subprocess.run(["wineserver", "-p30"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=False)
    return Wine(bin_dir)


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True, timeout=60)


class CertificateAuthority:
    """A certificate authority and the certificates it (or a stranger) signed."""

    def __init__(self, folder):
        self.folder = Path(folder)
        self.ca_cert = self.folder / "ca.pem"
        self.ca_key = self.folder / "ca.key"

    def _authority(self, name, subject):
        key, cert = self.folder / f"{name}.key", self.folder / f"{name}.pem"
        _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30",
                 "-keyout", str(key), "-out", str(cert), "-subj", subject,
                 "-addext", "basicConstraints=critical,CA:TRUE",
                 "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=self.folder)
        return cert, key

    def issue(self, name, dns_names, ca_cert=None, ca_key=None, expired=False):
        """Signs a server certificate for dns_names; returns (cert, key) paths.
        An expired one was valid for January 2020."""
        ca_cert, ca_key = ca_cert or self.ca_cert, ca_key or self.ca_key
        key, csr, cert = (self.folder / f"{name}.key", self.folder / f"{name}.csr",
                          self.folder / f"{name}.pem")
        ext = self.folder / f"{name}.ext"
        ext.write_text("basicConstraints=CA:FALSE\n"
                       "keyUsage=critical,digitalSignature,keyEncipherment\n"
                       "extendedKeyUsage=serverAuth\n"
                       "subjectAltName=" + ",".join(f"DNS:{n}" for n in dns_names) + "\n")
        _openssl("req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", str(key), "-out", str(csr),
                 "-subj", f"/CN={dns_names[0]}", cwd=self.folder)
        if expired:
            # Only "openssl ca" takes dates in the past.
            conf = self.folder / f"{name}.cnf"
            conf.write_text("[ca]\ndefault_ca = past\n[past]\ndatabase = index.txt\nnew_certs_dir = .\n"
                            "serial = serial\ndefault_md = sha256\npolicy = any\nunique_subject = no\n"
                            "[any]\ncommonName = supplied\n")
            (self.folder / "index.txt").touch()
            (self.folder / "serial").write_text("1000\n")
            _openssl("ca", "-batch", "-config", str(conf), "-cert", str(ca_cert), "-keyfile", str(ca_key),
                     "-in", str(csr), "-out", str(cert), "-notext", "-extfile", str(ext),
                     "-startdate", "20200101000000Z", "-enddate", "20200201000000Z", cwd=self.folder)
            return cert, key
        _openssl("x509", "-req", "-in", str(csr), "-CA", str(ca_cert), "-CAkey", str(ca_key),
                 "-CAcreateserial", "-days", "30", "-sha256", "-extfile", str(ext), "-out", str(cert),
                 cwd=self.folder)
        return cert, key


@pytest.fixture(scope="session")
def test_ca(wine):
    """CA trusted in the prefix's LOCAL_MACHINE ROOT store for this run, with:
    localhost_cert/key (signed by it for localhost), wrong_host_cert/key
    (signed by it for another name), untrusted_cert/key (for localhost,
    signed by an authority nobody trusts) and expired_cert/key (signed by it
    for localhost, expired in 2020)."""
    if not shutil.which("openssl"):
        pytest.skip("openssl is not installed")
    folder = tempfile.mkdtemp(prefix="hk-ca-")
    ca = CertificateAuthority(folder)
    ca._authority("ca", f"/CN=Hostkeeper Test CA {os.getpid()}")
    stranger_cert, stranger_key = ca._authority("stranger", "/CN=Untrusted Test CA")
    ca.localhost_cert, ca.localhost_key = ca.issue("localhost", ["localhost"])
    ca.wrong_host_cert, ca.wrong_host_key = ca.issue("wronghost", ["not-this-host.example"])
    ca.untrusted_cert, ca.untrusted_key = ca.issue("untrusted", ["localhost"], stranger_cert, stranger_key)
    ca.expired_cert, ca.expired_key = ca.issue("expired", ["localhost"], expired=True)
    # The machine's root store is kept in the registry, one serialized
    # certificate (its SHA-1 hash and its DER bytes) under a key named by the hash.
    der = ssl.PEM_cert_to_DER_cert(ca.ca_cert.read_text())
    sha1 = hashlib.sha1(der)
    key = rf"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates\{sha1.hexdigest().upper()}"
    blob = struct.pack("<III", 3, 1, 20) + sha1.digest() + struct.pack("<III", 32, 1, len(der)) + der
    reg = [str(WINE_RUN), "reg"]
    subprocess.run([*reg, "add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(), "/f"], check=True,
                   capture_output=True, timeout=120)
    try:
        yield ca
    finally:
        subprocess.run([*reg, "delete", key, "/f"], capture_output=True, timeout=120)
        shutil.rmtree(folder, ignore_errors=True)


class Tinyproxy:
    def __init__(self, folder, user=None, password=None):
        self.folder = Path(folder)
        self.port = free_port()
        self.user, self.password = user, password
        self.log = self.folder / "tinyproxy.log"
        conf = self.folder / "tinyproxy.conf"
        lines = [f"Port {self.port}", "Listen 127.0.0.1", "Timeout 60", f'LogFile "{self.log}"',
                 "LogLevel Connect", "MaxClients 50", "Allow 127.0.0.1"]
        if user:
            lines.append(f"BasicAuth {user} {password}")
        conf.write_text("\n".join(lines) + "\n")
        command = ["tinyproxy", "-d", "-c", str(conf)]
        self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 10
        while self.process.poll() is None and time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=0.5).close()
                return
            except OSError:
                time.sleep(0.05)
        self.stop()
        raise RuntimeError("tinyproxy did not start")

    def log_text(self):
        return self.log.read_text(errors="replace") if self.log.exists() else ""

    def stop(self):
        stop_process(self.process)


@pytest.fixture
def tinyproxy(tmp_path):
    """tinyproxy(user=None, password=None) starts a proxy; all are stopped after the test."""
    if not shutil.which("tinyproxy"):
        pytest.skip("tinyproxy is not installed")
    started = []

    def start(user=None, password=None):
        folder = tmp_path / f"proxy{len(started)}"
        folder.mkdir()
        proxy = Tinyproxy(folder, user, password)
        started.append(proxy)
        return proxy

    yield start
    for proxy in started:
        proxy.stop()
