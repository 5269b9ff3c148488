"""Tool 8 (network sharing) served by the agent under Wine with Wine's own NetApi,
share security and WMI: every request code is answered, whatever Wine has."""

from e2e_support import formatter_data

REQUESTS = {
    8000: {"SHARE_NAME": "all_shares"},
    8001: {"SHARE_NAME": "hk-no-such-share", "MAX_USES": "10"},
    8002: {"SHARE_NAME": "hk-no-such-sh\u00e4re"},
    8003: {},
    8005: {},
    8006: {"UNC_CLIENT_NAME": "\\\\10.0.0.7", "USER_NAME": "nobody"},
    8010: {},
    8011: {"FILE_INFO_ID": "4711"},
}


def assert_list(data, count_key, exceeded_key, list_key):
    if "Status" in data:  # the enumeration failed: explained, no list
        assert data["Status"] == "Failed" and data["Remarks"] and data[list_key] is None, data
        return
    count = int(data[count_key])
    assert data[exceeded_key] is (count > 100), data
    assert (data[list_key] is None) if count == 0 else (len(data[list_key]) == min(count, 100)), data


def test_every_sharing_code_is_answered(served):
    answers = {code: formatter_data(served.request(8, code, data=data, timeout=60), 8, code + 300)
               for code, data in REQUESTS.items()}

    shares = answers[8000]
    if shares["Shares"] == "no_Shares_found":
        assert shares["shareCount"] == "" and shares["isSharesExceeded"] is False
    else:
        assert len(shares["Shares"]) == min(int(shares["shareCount"]), 100)
    for code in (8001, 8002, 8006, 8011):
        assert set(answers[code]) == {"Status", "Remarks"} and answers[code]["Remarks"], answers[code]
    # Neither the share nor the file exists (Wine lacks both functions too);
    # Wine's NetShareDel reports success for any name.
    assert answers[8001]["Status"] == answers[8011]["Status"] == "Failed"
    accounts = answers[8003]["Accounts"]
    assert accounts == "no_Accounts_found" or [row["INDEX"] for row in accounts] == [
        str(i) for i in range(len(accounts))]
    assert_list(answers[8005], "sessionCount", "isSessionExceeded", "Sessions")
    assert_list(answers[8010], "fileCount", "isfileCountExceeded", "OpenFiles")

    # Another tool 8 code in range but without an operation: the empty text.
    served.send('{"toolId":8,"requestId":2,"requestMessage":{"requestCode":8004,"requestData":{}}}')
    assert served.recv(timeout=30) == ""
