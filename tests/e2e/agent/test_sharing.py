"""Tool 8 (network sharing) served by the agent under Wine with Wine's own NetApi,
share security and WMI: every request code is answered, whatever Wine has."""

from e2e_support import formatter_data

LISTS = {8000: ({"SHARE_NAME": "all_shares"}, "Shares"), 8003: ({}, "Accounts"), 8005: ({}, "Sessions"),
         8010: ({}, "OpenFiles")}
ACTIONS = {8001: {"SHARE_NAME": "hk-no-such-share", "MAX_USES": "10"}, 8002: {"SHARE_NAME": "hk-no-such-sh\u00e4re"},
           8006: {"UNC_CLIENT_NAME": "\\\\10.0.0.7", "USER_NAME": "nobody"}, 8011: {"FILE_INFO_ID": "4711"}}


def test_every_sharing_code_is_answered(served):
    for code, (data, key) in LISTS.items():
        answer = formatter_data(served.request(8, code, data=data, timeout=60), 8, code + 300)
        # A list, its marker, nothing (an empty count), or a failure explained.
        assert key in answer and (answer.get("Status") != "Failed" or answer["Remarks"]), answer
    status = {code: formatter_data(served.request(8, code, data=data, timeout=60), 8, code + 300)
              for code, data in ACTIONS.items()}
    assert all(set(s) == {"Status", "Remarks"} and s["Remarks"] for s in status.values()), status
    # Neither the share nor the file exists (Wine lacks both functions too);
    # Wine's NetShareDel reports success for any name.
    assert status[8001]["Status"] == status[8011]["Status"] == "Failed"

    # Another tool 8 code in range but without an operation: the empty text.
    served.send('{"toolId":8,"requestId":2,"requestMessage":{"requestCode":8004,"requestData":{}}}')
    assert served.recv(timeout=30) == ""
