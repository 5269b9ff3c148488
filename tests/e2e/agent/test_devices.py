"""Tool 10 under Wine: Wine's own device classes, devices and properties."""

import subprocess

from e2e_support import WINE_RUN, formatter_data


def escaped(text):
    return text.replace("\\", "DEVMGR_SLASH").replace("{", "DEVMGR_OPEN").replace("}", "DEVMGR_CLOSE")


def devices(conn, code, **data):
    answer = formatter_data(conn.request(10, code, data=data, timeout=60), 10, code + 300)
    assert answer["WebClientID"] == data.get("WebClientID", "")
    return answer


def test_classes_members_properties_and_an_action(served):
    listing = devices(served, 10000, REQUEST="all_device", WebClientID="web-9")
    assert 0 <= listing["DRIVERS_ENABLE_COUNT"] <= listing["DRIVERS_COUNT"] and listing["DRIVERS_COUNT"] > 0
    classes = listing["DEVICE_LIST"]
    assert classes and [row["DEVICE_NAME"].encode() for row in classes] == sorted(
        {row["DEVICE_NAME"].encode() for row in classes})
    # Wine's Win32_PnPEntity has no ClassGuid: the members of a class are
    # answered all the same, as a list or the marker.
    members = devices(served, 10001, REQUEST="GET_THS_DEVICE", DEVICE_GUID=classes[0]["DEVICE_GUID"][1:-1])
    assert members["DRIVER_LIST"] == "NO_DEVICES_FOUND" or all(m["DEVICE_ID"] for m in members["DRIVER_LIST"])

    # A device id Wine's own WMI command lists, asked for escaped.
    wmic = subprocess.run([str(WINE_RUN), "wmic", "path", "Win32_PnPEntity", "get", "DeviceID"],
                          capture_output=True, timeout=120, check=True)
    device_id = wmic.stdout.decode("utf-16", errors="replace").split()[1]
    info = devices(served, 10002, REQUEST="GET_THS_DRIVER_INFO", DEVICE_ID=escaped(device_id))["DRIVER_INFO"]
    assert {row["PROPERTY"]: row["VALUE"] for row in info}["DeviceID"] == device_id

    # The real device action program starts; a device that does not exist
    # has no status afterwards.
    action = devices(served, 10003, REQUEST="REQUEST_THIS_DRIVER_ACTION", ACTION="enable",
                     CLASS_GUID=escaped(classes[0]["DEVICE_GUID"]), DEVICE_ID="ROOTDEVMGR_SLASHHK_NO_SUCH_DEVICE")
    assert (action["ACTION_NAME"], action["ACTION_RESULT"]) == ("enable", "Failed")
