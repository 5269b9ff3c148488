"""Startup programs (tool 15) from the agent under Wine: a Run value of the
32-bit registry view is listed with its version description, then removed."""

import os
import subprocess

from e2e_support import WINE_RUN, formatter_data

RUN_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Run"
VALUE = "hk-e2e-startup"


def reg(*args):
    """Wine's own reg.exe in the test prefix, in the 32-bit view."""
    return subprocess.run([str(WINE_RUN), "reg", *args, "/reg:32"], capture_output=True, text=True, timeout=120)


def test_lists_and_removes_a_run_value(wine, served):
    exe = wine.program("hostkeeper-host.exe").read_bytes()[:4096]
    header = int.from_bytes(exe[0x3C:0x40], "little")
    # The 32-bit view is read directly by a 32-bit agent (PE machine 0x14c) on a 64-bit system.
    wow64 = os.environ.get("HK_WINEARCH", "win64") != "win32" and exe[header + 4:header + 6] == b"\x4c\x01"
    path = "Z:" + str(wine.program("startup_described.exe")).replace("/", "\\")
    added = reg("add", RUN_KEY, "/v", VALUE, "/t", "REG_SZ", "/d", f'"{path}" -min', "/f")
    assert added.returncode == 0, added.stdout + added.stderr
    try:
        data = formatter_data(served.request(15, 15000, data={"REQUEST": "ALL_APPS", "WebClientID": "web-9"},
                                             timeout=90), 15, 15300)
        assert data["WebClientID"] == "web-9"
        if wow64:
            assert [row for row in data["APPS_LIST"] if row["NAME"] == VALUE] == [
                {"NAME": VALUE, "DESCRIPTION": "Startup test described", "LOCATION": path, "USER": "Public",
                 "STATUS": "Enabled", "STARTUP_TYPE": "Registry"}]

        action = {"REQUEST": "REQUEST_THIS_APP_ACTION", "WebClientID": "web-9", "ACTION": "Remove", "APP_NAME": VALUE,
                  "USER": "Public"}
        assert formatter_data(served.request(15, 15001, data=action, timeout=90), 15, 15301) == {
            "WebClientID": "web-9", "ACTION_NAME": "Remove", "ERROR_CODE": "0", "ACTION_RESULT": "Success"}
        assert reg("query", RUN_KEY, "/v", VALUE).returncode != 0, "the Run value is still there"
    finally:
        reg("delete", RUN_KEY, "/v", VALUE, "/f")
