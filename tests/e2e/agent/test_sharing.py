"""Tool 8 (network sharing) served by the agent under Wine with Wine's own NetApi,
share security and WMI: every request code is answered, whatever Wine has."""

from e2e_support import AGENT_IDS as IDS


def assert_status(data):
    assert set(data) == {"Status", "Remarks"}, data
    assert data["Status"] in ("SUCCESS", "Success", "Failed"), data
    assert isinstance(data["Remarks"], str) and data["Remarks"], data


def assert_list(data, count_key, exceeded_key, list_key):
    if "Status" in data:  # the enumeration failed: explained, no list
        assert data["Status"] == "Failed" and data["Remarks"], data
        assert data[list_key] is None
        return
    assert set(data) == {count_key, exceeded_key, list_key}, data
    count = int(data[count_key])
    assert data[exceeded_key] is (count > 100)
    rows = data[list_key]
    assert (rows is None) if count == 0 else (len(rows) == min(count, 100))


def test_every_sharing_code_is_answered(server, agent):
    host = agent("--host", "127.0.0.1", "--port", str(server.port), "--product-server", *IDS)
    conn = server.wait_connection(timeout=60)
    requests = [
        (8000, {"SHARE_NAME": "all_shares"}),
        (8001, {"SHARE_NAME": "hk-no-such-share", "MAX_USES": "10"}),
        (8002, {"SHARE_NAME": "hk-no-such-sh\u00e4re"}),
        (8003, {}),
        (8005, {}),
        (8006, {"UNC_CLIENT_NAME": "\\\\10.0.0.7", "USER_NAME": "nobody"}),
        (8010, {}),
        (8011, {"FILE_INFO_ID": "4711"}),
    ]
    answers = {}
    for code, data in requests:
        answer = conn.request(8, code, data=data, timeout=60)
        assert answer["toolId"] == 8 and answer["responseId"] == 0, answer
        assert answer["isSuccess"] == "true" and answer["responseCode"] == code + 300, answer
        answers[code] = answer["responseData"]

    shares = answers[8000]
    assert set(shares) == {"Shares", "isSharesExceeded", "shareCount"}, shares
    if shares["Shares"] == "no_Shares_found":
        assert shares["shareCount"] == "" and shares["isSharesExceeded"] is False
    else:
        assert len(shares["Shares"]) == min(int(shares["shareCount"]), 100)
    for code in (8001, 8002, 8006, 8011):
        assert_status(answers[code])
    # Neither the share nor the file exists (Wine lacks both functions too);
    # Wine's NetShareDel reports success for any name.
    assert answers[8001]["Status"] == answers[8011]["Status"] == "Failed"
    accounts = answers[8003]["Accounts"]
    assert accounts == "no_Accounts_found" or [row["INDEX"] for row in accounts] == [
        str(i) for i in range(len(accounts))]
    assert_list(answers[8005], "sessionCount", "isSessionExceeded", "Sessions")
    assert_list(answers[8010], "fileCount", "isfileCountExceeded", "OpenFiles")

    # Another tool 8 code in range but without an operation: the empty text.
    conn.send('{"toolId":8,"requestId":2,"requestMessage":{"requestCode":8004,"requestData":{}}}')
    assert conn.recv(timeout=30) == ""

    conn.request(1, 1105)
    assert host.wait(timeout=10) == 0
