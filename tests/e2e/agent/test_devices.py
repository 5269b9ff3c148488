"""Tool 10 under Wine: Wine's own device classes, devices and properties."""

import subprocess
from pathlib import Path

from e2e_support import AGENT_IDS as IDS

WINE_RUN = Path(__file__).resolve().parents[3] / "scripts" / "wine-run"


PROPERTIES = ["Availability", "Caption", "ClassGuid", "CompatibleID", "ConfigManagerErrorCode",
              "ConfigManagerUserConfig", "CreationClassName", "Description", "DeviceID", "ErrorCleared",
              "ErrorDescription", "HardwareID", "InstallDate", "LastErrorCode", "Manufacturer", "Name", "PNPClass",
              "PNPDeviceID", "PowerManagementCapabilities", "PowerManagementSupported", "Present", "Service",
              "Status", "StatusInfo", "SystemCreationClassName", "SystemName"]


def wmi_device_ids():
    """The device ids Wine's WMI has, asked of Wine's own WMI command."""
    result = subprocess.run([str(WINE_RUN), "wmic", "path", "Win32_PnPEntity", "get", "DeviceID"],
                            capture_output=True, timeout=120, check=True)
    lines = result.stdout.decode("utf-16", errors="replace").splitlines()
    ids = [line.strip() for line in lines[1:] if line.strip()]
    assert ids, lines
    return ids


def escaped(text):
    return text.replace("\\", "DEVMGR_SLASH").replace("{", "DEVMGR_OPEN").replace("}", "DEVMGR_CLOSE")


def devices(conn, code, **data):
    answer = conn.request(10, code, data=data, timeout=60)
    assert answer["toolId"] == 10 and answer["responseId"] == 0 and answer["isSuccess"] == "true", answer
    assert answer["responseCode"] == code + 300
    assert answer["responseData"]["WebClientID"] == data.get("WebClientID", "")
    return answer["responseData"]


def test_classes_members_properties_and_an_action(server, agent):
    host = agent("--host", "127.0.0.1", "--port", str(server.port), "--product-server", *IDS)
    conn = server.wait_connection(timeout=60)

    listing = devices(conn, 10000, REQUEST="all_device", WebClientID="web-9")
    assert isinstance(listing["DRIVERS_COUNT"], int) and listing["DRIVERS_COUNT"] > 0
    assert 0 <= listing["DRIVERS_ENABLE_COUNT"] <= listing["DRIVERS_COUNT"]
    classes = listing["DEVICE_LIST"]
    assert isinstance(classes, list) and classes, classes
    names = [row["DEVICE_NAME"].encode() for row in classes]
    assert names == sorted(set(names))
    assert all(row["DEVICE_GUID"].startswith("{") and len(row["DEVICE_GUID"]) == 38 for row in classes)

    # Wine's Win32_PnPEntity has no ClassGuid: the members of a class are
    # answered all the same, as a list or the marker.
    for row in classes:
        found = devices(conn, 10001, REQUEST="GET_THS_DEVICE", DEVICE_GUID=row["DEVICE_GUID"][1:-1])["DRIVER_LIST"]
        assert found == "NO_DEVICES_FOUND" or all(member["DEVICE_ID"] for member in found)
    device_id = wmi_device_ids()[0]

    info = devices(conn, 10002, REQUEST="GET_THS_DRIVER_INFO", DEVICE_ID=escaped(device_id))["DRIVER_INFO"]
    properties = {row["PROPERTY"]: row["VALUE"] for row in info}
    assert properties["DeviceID"] == device_id
    order = [PROPERTIES.index(row["PROPERTY"]) for row in info]
    assert order == sorted(set(order))

    # The real device action program starts; a device that does not exist
    # has no status afterwards.
    action = devices(conn, 10003, REQUEST="REQUEST_THIS_DRIVER_ACTION", ACTION="enable",
                     CLASS_GUID=escaped(classes[0]["DEVICE_GUID"]), DEVICE_ID="ROOTDEVMGR_SLASHHK_NO_SUCH_DEVICE")
    assert action["ACTION_NAME"] == "enable" and action["ACTION_RESULT"] == "Failed"

    conn.request(1, 1105)
    assert host.wait(timeout=10) == 0
