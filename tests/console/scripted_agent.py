"""An agent that answers the tools the agent under Wine does not serve yet
(groups, sharing, devices, startup programs) with answers of the shapes they
will have, and prints every request it gets as one JSON line.

    scripted_agent.py BASE_URL    e.g. http://127.0.0.1:8790
"""

import asyncio
import json
import sys

import aiohttp

CLIENT = "clientId=scripted-1&clientName=Scripted%20agent&resourceId=r-2&sessionId=s-2&customerId=c-2"

MEMBER = {"MEMBER_ID": "0", "NAME": "LAB-PC\\Administrator", "SID": "S-1-5-21-7-500",
          "DESCRIPTION": "Built-in account for administering the computer", "MEMBER_TYPE": "User"}
GROUPS = [
    {"NAME": "Administrators", "DESCRIPTION": "Full access", "DOMAIN": "LAB-PC", "SID": "S-1-5-32-544",
     "SIDType": "4", "STATUS": "OK", "CAPTION": "LAB-PC\\Administrators", "GROUP_ID": "0", "MEMBERS": [MEMBER]},
    {"NAME": "Gäste", "DESCRIPTION": "Guests", "DOMAIN": "LAB-PC", "SID": "S-1-5-32-546", "SIDType": "4",
     "STATUS": "OK", "CAPTION": "LAB-PC\\Gäste", "GROUP_ID": "1", "MEMBERS": None},
]
SHARE = {"SHARE_NAME": "Docs", "SHARE_PATH": "C:\\Docs", "SHARE_TYPE": "Disk drive", "SHARE_DESCRIPTION": "",
         "SHARE_PERMISSION": "", "SHARE_MAX_USES": "Maximum Allowed", "SHARE_CURR_USES": "0",
         "SHARE_MEMBERS": [{"SHARE_NAME": "Docs", "USER_NAME": "Everyone", "ACCESS_FULL": "0",
                            "ACCESS_CHANGE": "0", "ACCESS_READ": "1", "DENY_FULL": "0", "DENY_CHANGE": "0",
                            "DENY_READ": "0"}]}
DISK = "{4d36e967-e325-11ce-bfc1-08002be10318}"
APP = {"NAME": "Updater", "DESCRIPTION": "Vendor updater", "LOCATION": "C:\\Program Files\\Vendor\\upd.exe",
       "USER": "Public", "STATUS": "Enabled", "STARTUP_TYPE": "Registry"}

DATA = {
    6000: {"groups": GROUPS},
    6001: {"actionName": "AddMember", "actionResult": "Failed", "remarks": "One or more of the members specified "
           "were already members of the local group. No new members were added."},
    8000: {"Shares": [SHARE], "isSharesExceeded": False, "shareCount": "1"},
    8005: {"sessionCount": "0", "isSessionExceeded": False, "Sessions": None},
    8010: {"fileCount": "0", "isfileCountExceeded": False, "OpenFiles": None},
    10000: {"DEVICE_LIST": [{"DEVICE_NAME": "Disk drives", "DEVICE_GUID": DISK.upper()}], "DRIVERS_COUNT": 12,
            "DRIVERS_ENABLE_COUNT": 11},
    10001: {"DRIVER_LIST": [{"DEVICE_ID": "SCSI\\DISK&VEN_WINE\\1&2", "NAME": "Wine disk"}]},
    10002: {"DRIVER_INFO": [{"PROPERTY": "Status", "VALUE": "OK"}, {"PROPERTY": "Manufacturer", "VALUE": "Wine"}]},
    15000: {"APPS_LIST": [APP]},
    15001: {"ACTION_NAME": "DISABLE", "ACTION_RESULT": "Success", "ERROR_CODE": "0"},
}


def answer(request):
    tool, code = request["toolId"], request["requestMessage"]["requestCode"]
    if code not in DATA:
        return ""
    data = dict(DATA[code])
    if "WebClientID" in request["requestMessage"]["requestData"]:
        data["WebClientID"] = request["requestMessage"]["requestData"]["WebClientID"]
    return json.dumps({"messageVersion": 1.0, "toolId": tool, "responseId": 0, "isSuccess": "true",
                       "responseCode": code + 300, "isPagedResponse": "false", "responseData": data,
                       "responseMessage": None}, ensure_ascii=False)


async def main(base):
    async with aiohttp.ClientSession() as session:
        url = base.replace("http://", "ws://") + "/mfWebSocket/HK_NATIVE?" + CLIENT
        async with session.ws_connect(url) as ws:
            async for msg in ws:
                if msg.type != aiohttp.WSMsgType.TEXT:
                    break
                request = json.loads(msg.data)
                print(json.dumps(request, ensure_ascii=False), flush=True)
                if request["toolId"] > 3:  # it serves none of the first three tools
                    await ws.send_str(answer(request))


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1]))
