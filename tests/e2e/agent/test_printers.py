"""Tool 7 under Wine: the printer list is answered with whatever the prefix has."""

from e2e_support import formatter_data


def test_printer_list_is_answered(served):
    answer = served.request(7, 7000, data={"PrinterName": "all_printers"}, timeout=60)
    assert "webClientId" not in answer
    printers = formatter_data(answer, 7, 7304 if answer["responseCode"] == 7304 else 7300)["printers"]
    assert printers == "no_printers_found" if answer["responseCode"] == 7304 else (
        [row["PRINTER_ID"] for row in printers] == [str(i + 1) for i in range(len(printers))])

    other = served.request(7, 7000, data={"PrinterName": "Some Printer"}, timeout=60)
    assert formatter_data(other, 7, 7304) == {"printers": "no_printers_found"}
