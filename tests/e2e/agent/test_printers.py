"""Tool 7 under Wine: the printer list is answered with whatever the prefix has."""

from e2e_support import AGENT_IDS as IDS

ROW_KEYS = {"PRINTER_ID", "PRINTER_AVAILABILITY", "PRINTER_CAPTION", "PRINTER_COMMENT", "PRINTER_DESCRIPTION",
            "PRINTER_DEVICE_ID", "PRINTER_DRIVER_NAME", "EXTENDED_PRINTER_STATUS", "PRINTER_LOCATION", "MAX_COPIES",
            "PRINTER_NAME", "PRINTER_NETWORK", "PRINTER_PARAMETER", "PRINTER_PORT_NAME", "PRINTER_STATE",
            "PRINTER_STATUS", "PRINTER_SERVER_NAME", "PRINTER_SHARED", "PRINTER_SHARE_NAME", "PRINTER_STATUS_VALUE",
            "PRINTER_SYSTEM_NAME", "WORK_OFFLINE", "PRINT_PROCESSOR_NAME"}


def test_printer_list_is_answered(server, agent):
    host = agent("--host", "127.0.0.1", "--port", str(server.port), "--product-server", *IDS)
    conn = server.wait_connection(timeout=60)

    answer = conn.request(7, 7000, data={"PrinterName": "all_printers"}, timeout=60)
    assert answer["toolId"] == 7 and answer["responseId"] == 0 and answer["isSuccess"] == "true"
    assert answer["isPagedResponse"] == "false" and "webClientId" not in answer
    printers = answer["responseData"]["printers"]
    if answer["responseCode"] == 7304:
        assert printers == "no_printers_found"
    else:
        assert answer["responseCode"] == 7300
        assert [row["PRINTER_ID"] for row in printers] == [str(i + 1) for i in range(len(printers))]
        assert all(set(row) == ROW_KEYS and all(isinstance(v, str) for v in row.values()) for row in printers)

    other = conn.request(7, 7000, data={"PrinterName": "Some Printer"}, timeout=60)
    assert other["responseCode"] == 7304 and other["responseData"] == {"printers": "no_printers_found"}

    conn.request(1, 1105)
    assert host.wait(timeout=10) == 0
