"""Startup programs (tool 15) from the agent under Wine: a Run value of the
32-bit registry view is listed with its version description, then removed."""

import os
import subprocess
from pathlib import Path

import pytest

from product_server import ProductServer
from e2e_support import AGENT_IDS as IDS

WINE_RUN = Path(__file__).resolve().parents[3] / "scripts" / "wine-run"
RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
VALUE = "hk-e2e-startup"


def reg(*args):
    """Wine's own reg.exe in the test prefix, in the 32-bit view."""
    return subprocess.run([str(WINE_RUN), "reg", *args, "/reg:32"], capture_output=True, text=True, timeout=120)


@pytest.fixture
def run_value(wine):
    probe = wine.program("startup_described.exe")
    path = "Z:" + str(probe).replace("/", "\\")
    added = reg("add", RUN_KEY, "/v", VALUE, "/t", "REG_SZ", "/d", f'"{path}" -min', "/f")
    assert added.returncode == 0, added.stdout + added.stderr
    yield path
    reg("delete", RUN_KEY, "/v", VALUE, "/f")


def thirty_two_bit(exe):
    """Whether a Windows program is a 32-bit one (its PE machine field)."""
    data = exe.read_bytes()[:4096]
    header = int.from_bytes(data[0x3C:0x40], "little")
    return data[header + 4:header + 6] == b"\x4c\x01"


def test_lists_and_removes_a_run_value(wine, agent, run_value):
    # The 32-bit view is read directly by a 32-bit agent on a 64-bit system.
    wow64 = (os.environ.get("HK_WINEARCH", "win64") != "win32"
             and thirty_two_bit(wine.program("hostkeeper-host.exe")))
    with ProductServer() as server:
        host = agent("--host", "127.0.0.1", "--port", str(server.port), "--product-server", *IDS)
        conn = server.wait_connection(timeout=60)

        answer = conn.request(15, 15000, data={"REQUEST": "ALL_APPS", "WebClientID": "web-9"}, timeout=90)
        assert answer["toolId"] == 15 and answer["responseId"] == 0 and answer["isSuccess"] == "true"
        assert answer["responseCode"] == 15300
        data = answer["responseData"]
        assert data["WebClientID"] == "web-9"
        if wow64:
            rows = [row for row in data["APPS_LIST"] if row["NAME"] == VALUE]
            assert rows == [{"NAME": VALUE, "DESCRIPTION": "Startup test described", "LOCATION": run_value,
                             "USER": "Public", "STATUS": "Enabled", "STARTUP_TYPE": "Registry"}]

        action = {"REQUEST": "REQUEST_THIS_APP_ACTION", "WebClientID": "web-9", "ACTION": "Remove",
                  "APP_NAME": VALUE, "USER": "Public"}
        answer = conn.request(15, 15001, data=action, timeout=90)
        assert answer["responseCode"] == 15301
        assert answer["responseData"] == {"WebClientID": "web-9", "ACTION_NAME": "Remove", "ERROR_CODE": "0",
                                          "ACTION_RESULT": "Success"}
        assert reg("query", RUN_KEY, "/v", VALUE).returncode != 0, "the Run value is still there"

        conn.request(1, 1105)
        assert host.wait(timeout=10) == 0
