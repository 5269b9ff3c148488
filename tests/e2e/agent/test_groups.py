"""Tool 6 answered by the agent under Wine with Wine's own groups and users."""

import json

from e2e_support import formatter_data


def test_group_requests_answered_with_wines_data(served):
    groups = formatter_data(served.request(6, 6000, data={"Groups": "All_Groups"}, timeout=60), 6, 6300)["groups"]
    # Wine's WMI keeps no local groups; a list, should it ever have one, has numbered rows.
    assert groups == "no_Groups_found" or [g["GROUP_ID"] for g in groups] == [str(i) for i in range(len(groups))]
    users = formatter_data(served.request(6, 6003, data={"request": "getUsers"}, timeout=60), 6, 6303)
    assert users["actionName"] == "getUsers" and isinstance(users["users"], list)

    for code, request, name in ((6002, "add", "AddGroup"), (6002, "Delete", "DelGroup"), (6001, "add", "AddMember")):
        data = {"Groups": "hk-e2e-Gäste", "request": request, "Description": "end-to-end", "domainName": "HOST",
                "userName": "Jörg"}
        answer = formatter_data(served.request(6, code, data=data), 6, code + 300)
        assert answer["actionName"] == name and answer["actionResult"] in ("Success", "Failed"), answer
    data = {"Groups": "Users", "request": "del", "domainName": "HOST", "userName": ""}
    assert formatter_data(served.request(6, 6001, data=data), 6, 6301) == {
        "actionName": "DelMember", "actionResult": "Failed", "remarks": "AccountName Empty or Null"}

    # A 6003 that is not "getUsers" builds nothing: the empty text goes out.
    served.send(json.dumps({"toolId": 6, "requestId": 1, "requestMessage": {"requestCode": 6003,
                                                                            "requestData": {"request": "x"}}}))
    assert served.recv(timeout=30) == ""
