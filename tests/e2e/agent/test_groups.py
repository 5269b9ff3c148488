"""Tool 6 answered by the agent under Wine with Wine's own groups and users."""

import json

from e2e_support import AGENT_IDS as IDS


def formatter_data(answer, code):
    assert answer["toolId"] == 6 and answer["responseId"] == 0 and answer["isSuccess"] == "true", answer
    assert answer["responseCode"] == code and answer["isPagedResponse"] == "false", answer
    return answer["responseData"]


def test_group_requests_answered_with_wines_data(server, agent):
    host = agent("--host", "127.0.0.1", "--port", str(server.port), "--product-server", *IDS)
    conn = server.wait_connection(timeout=60)

    groups = formatter_data(conn.request(6, 6000, data={"Groups": "All_Groups"}, timeout=60), 6300)["groups"]
    # Wine's WMI keeps no local groups; a list, should it ever have one, has numbered rows.
    assert groups == "no_Groups_found" or [g["GROUP_ID"] for g in groups] == [str(i) for i in range(len(groups))]

    users = formatter_data(conn.request(6, 6003, data={"request": "getUsers"}, timeout=60), 6303)
    assert users["actionName"] == "getUsers" and isinstance(users["users"], list)
    for user in users["users"]:
        assert set(user) == {"USER_NAME", "HOME_DIRECTORY", "DESCRIPTION", "LAST_LOGON", "ACCT_EXPIRES"}

    for request, name in (("add", "AddGroup"), ("Delete", "DelGroup")):
        answer = formatter_data(conn.request(6, 6002, data={"Groups": "hk-e2e-Gäste", "request": request,
                                                            "Description": "end-to-end"}), 6302)
        assert answer["actionName"] == name and answer["actionResult"] in ("Success", "Failed"), answer
        assert isinstance(answer["remarks"], str)

    answer = formatter_data(conn.request(6, 6001, data={"Groups": "hk-e2e-Gäste", "request": "add",
                                                        "domainName": "HOST", "userName": "Jörg"}), 6301)
    assert answer["actionName"] == "AddMember" and answer["actionResult"] in ("Success", "Failed"), answer
    answer = formatter_data(conn.request(6, 6001, data={"Groups": "Users", "request": "del", "domainName": "HOST",
                                                        "userName": ""}), 6301)
    assert answer == {"actionName": "DelMember", "actionResult": "Failed", "remarks": "AccountName Empty or Null"}

    # A 6003 that is not "getUsers" builds nothing: the empty text goes out.
    conn.send(json.dumps({"toolId": 6, "requestId": 1, "requestMessage": {"requestCode": 6003,
                                                                          "requestData": {"request": "x"}}}))
    assert conn.recv(timeout=30) == ""

    conn.send(json.dumps({"toolId": 0, "requestId": 1, "requestMessage": {"requestCode": 0}}))
    assert host.wait(timeout=10) == 0
