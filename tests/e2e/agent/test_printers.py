"""Tool 7 under Wine: the printer list is answered with whatever the prefix has."""


def test_printer_list_is_answered(served):
    answer = served.request(7, 7000, data={"PrinterName": "all_printers"}, timeout=60)
    assert (answer["toolId"], answer["responseId"], answer["isSuccess"], answer["isPagedResponse"]) == (
        7, 0, "true", "false") and "webClientId" not in answer
    printers = answer["responseData"]["printers"]
    if answer["responseCode"] == 7304:
        assert printers == "no_printers_found"
    else:
        assert answer["responseCode"] == 7300
        assert [row["PRINTER_ID"] for row in printers] == [str(i + 1) for i in range(len(printers))]

    other = served.request(7, 7000, data={"PrinterName": "Some Printer"}, timeout=60)
    assert other["responseCode"] == 7304 and other["responseData"] == {"printers": "no_printers_found"}
