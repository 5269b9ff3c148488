"""Drives the agent host against a local product server and prints what it serves."""

import argparse
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from product_server import ProductServer  # noqa: E402


def say(text):
    print(text, flush=True)


def table(rows, columns, limit=None):
    """Prints rows (dicts) with the given (title, key, width) columns."""
    header = "  ".join(title.ljust(width) for title, _, width in columns)
    say(header)
    say("-" * len(header))
    for row in rows[:limit] if limit else rows:
        cells = []
        for _, key, width in columns:
            value = str(row.get(key, ""))
            cells.append((value if len(value) <= width else value[: width - 1] + "~").ljust(width))
        say("  ".join(cells).rstrip())
    if limit and len(rows) > limit:
        say(f"... and {len(rows) - limit} more")


def legacy_rows(answer):
    data = answer.get("responseMessage", {}).get("responseData", {}).get("data")
    return data if isinstance(data, list) else None


def show(title, answer, columns, sort_key=None):
    say(f"\n== {title}")
    rows = legacy_rows(answer)
    if rows is None:
        message = answer.get("responseMessage", {})
        say(f"(no list: error {message.get('errorCode')}: {message.get('errorOutput')})")
        return
    if sort_key:
        rows = sorted(rows, key=sort_key)
    table(rows, columns)


def show_groups(groups_answer, users_answer):
    """The local groups (6000) with their members, and the user accounts (6003)."""
    say("\n== local groups (6000)")
    groups = groups_answer.get("responseData", {}).get("groups")
    if not isinstance(groups, list):
        say(f"(no list: {groups or groups_answer.get('errorOutput')})")
    else:
        rows = [dict(g, MEMBER_COUNT=len(g.get("MEMBERS") or []),
                     MEMBER_NAMES=", ".join(m.get("NAME", "") for m in g.get("MEMBERS") or [])) for g in groups]
        table(rows, [("ID", "GROUP_ID", 3), ("NAME", "NAME", 24), ("DOMAIN", "DOMAIN", 14), ("SID", "SID", 14),
                     ("N", "MEMBER_COUNT", 3), ("MEMBERS", "MEMBER_NAMES", 50)])
    say("\n== user accounts (6003)")
    users = users_answer.get("responseData", {}).get("users")
    if users is None:
        say(f"(no list: {users_answer.get('errorOutput')})")
    elif not users:
        say("(no accounts)")
    else:
        table(users, [("NAME", "USER_NAME", 20), ("HOME", "HOME_DIRECTORY", 24), ("LAST LOGON", "LAST_LOGON", 11),
                      ("EXPIRES", "ACCT_EXPIRES", 11), ("DESCRIPTION", "DESCRIPTION", 40)])


def show_printers(answer):
    """The printers of WMI, the print providers' registry entries and the spooler's connections (7000)."""
    say(f"\n== printers (7000, answered {answer.get('responseCode') or answer.get('errorCode')})")
    printers = answer.get("responseData", {}).get("printers")
    if not isinstance(printers, list):
        say(f"(no list: {printers or answer.get('errorOutput')})")
        return
    table(printers, [("ID", "PRINTER_ID", 3), ("NAME", "PRINTER_NAME", 28), ("DRIVER", "PRINTER_DRIVER_NAME", 22),
                     ("PORT", "PRINTER_PORT_NAME", 12), ("NETWORK", "PRINTER_NETWORK", 7),
                     ("SHARED", "PRINTER_SHARED", 6), ("STATUS", "EXTENDED_PRINTER_STATUS", 12),
                     ("SERVER", "PRINTER_SERVER_NAME", 16)])


def show_devices(answer):
    """The device classes present and the device counts (10000)."""
    data = answer.get("responseData") or {}
    say(f"\n== device classes (10000): {data.get('DRIVERS_COUNT', '?')} devices, "
        f"{data.get('DRIVERS_ENABLE_COUNT', '?')} working")
    classes = data.get("DEVICE_LIST")
    if not isinstance(classes, list):
        say(f"(no list: {classes or answer.get('errorOutput')})")
        return
    table(classes, [("CLASS", "DEVICE_NAME", 34), ("GUID", "DEVICE_GUID", 38)])


def show_sharing(connection):
    """Tool 8: shares, sessions and open files, each a formatter answer."""
    def rows_of(title, code, data, key, columns, count_key=None):
        answer = connection.request(8, code, data=data, timeout=60)
        say(f"\n== {title} ({code})")
        if answer.get("isSuccess") != "true":
            say(f"(no list: error {answer.get('errorCode')}: {answer.get('errorOutput')})")
            return
        body = answer["responseData"]
        if body.get("Status") == "Failed":
            say(f"(no list: {body.get('Remarks', '').strip()})")
            return
        rows = body.get(key)
        if count_key and body.get(count_key):
            listed = len(rows) if isinstance(rows, list) else 0
            cut = listed and int(body[count_key]) > listed
            say(f"{body[count_key]} in all" + (f", the first {listed} listed" if cut else ""))
        if not isinstance(rows, list):
            say(f"(none{': ' + rows if isinstance(rows, str) else ''})")
            return
        table(rows, columns)

    rows_of("shares", 8000, {"SHARE_NAME": "All_Shares"}, "Shares",
            [("NAME", "SHARE_NAME", 14), ("TYPE", "SHARE_TYPE", 20), ("PATH", "SHARE_PATH", 24),
             ("MAX USES", "SHARE_MAX_USES", 15), ("IN USE", "SHARE_CURR_USES", 6),
             ("REMARK", "SHARE_DESCRIPTION", 24)], "shareCount")
    rows_of("network sessions", 8005, {}, "Sessions",
            [("COMPUTER", "SESSION_COMPUTER_NAME", 20), ("USER", "SESSION_USER_NAME", 16),
             ("OPENS", "SESSION_NUM_OPENS", 5), ("ACTIVE s", "SESSION_ACTIVE_TIME", 8),
             ("IDLE s", "SESSION_IDLE_TIME", 8), ("TRANSPORT", "SESSION_TRANSPORT_NAME", 30)], "sessionCount")
    rows_of("open files", 8010, {}, "OpenFiles",
            [("ID", "FILE_INFO_ID", 8), ("ACCESS", "FILE_INFO_PERMISSION", 17), ("LOCKS", "FILE_INFO_NUM_LOCKS", 5),
             ("USER", "FILE_INFO_USER_NAME", 16), ("PATH", "FILE_INFO_PATH_NAME", 40)], "fileCount")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True, help="folder with hostkeeper-host.exe and the DLLs")
    args = parser.parse_args()
    args.bin = os.path.abspath(args.bin)

    started = time.monotonic()
    with ProductServer() as server:
        say(f"== product server listening on 127.0.0.1:{server.port}")
        host = subprocess.Popen(
            [os.path.join(ROOT, "scripts", "wine-run"), os.path.join(args.bin, "hostkeeper-host.exe"),
             "--host", "127.0.0.1", "--port", str(server.port), "--product-server",
             "--client-id", "demo-client", "--client-name", "demo", "--resource-id", "r-1",
             "--session-id", "s-1", "--customer-id", "c-1", "--device-id", "d-1"],
            cwd=args.bin, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        try:
            say("== starting the agent host under Wine (it samples CPU usage first, about 3 s)")
            connection = server.wait_connection(timeout=60)
            say(f"== agent connected: /{connection.raw_path.lstrip('/')}")
            path, status, _ = server.wait_post(timeout=30)
            say(f"== start status posted to {path}: status {status.get('status')}, \"{status.get('statusMessage')}\"")

            answer = connection.request(1, 1101, timeout=60)
            show("processes (1101)", answer,
                 [("PID", "pid", 6), ("NAME", "name", 24), ("USER", "user_name", 12), ("CPU%", "cpu", 4),
                  ("WS KiB", "working_set", 8), ("COMMAND LINE", "command_line", 60)],
                 sort_key=lambda r: int(r.get("pid", 0)))
            answer = connection.request(2, 2101, timeout=60)
            show("services (2101)", answer,
                 [("NAME", "name", 22), ("DISPLAY NAME", "display_name", 34), ("STATE", "service_status", 9),
                  ("START", "start_type", 12), ("PID", "pid", 5), ("ACCOUNT", "groups", 20)])
            answer = connection.request(3, 3101, timeout=60)
            show("local users (3101)", answer,
                 [("NAME", "name", 20), ("FULL NAME", "full_name", 20), ("STATUS", "status", 8),
                  ("TYPE", "account_type", 8), ("DOMAIN", "domain", 16), ("SID", "sid", 46)])
            show_groups(connection.request(6, 6000, data={"Groups": "All_Groups"}, timeout=60),
                        connection.request(6, 6003, data={"request": "getUsers"}, timeout=60))
            answer = connection.request(15, 15000, data={"REQUEST": "ALL_APPS", "WebClientID": "demo"}, timeout=60)
            say("\n== startup programs (15000)")
            apps = answer.get("responseData", {}).get("APPS_LIST")
            if isinstance(apps, list):
                table(apps, [("NAME", "NAME", 24), ("DESCRIPTION", "DESCRIPTION", 28), ("STATUS", "STATUS", 8),
                             ("TYPE", "STARTUP_TYPE", 8), ("USER", "USER", 16), ("LOCATION", "LOCATION", 50)])
            else:
                say(f"(no list: {apps if apps is not None else answer.get('errorOutput')})")

            show_printers(connection.request(7, 7000, data={"PrinterName": "ALL_PRINTERS"}, timeout=60))
            show_sharing(connection)

            show_devices(connection.request(10, 10000, data={"REQUEST": "ALL_DEVICE"}, timeout=60))

            say("\n== asking the agent to exit (1105)")
            answer = connection.request(1, 1105)
            say(f"== answer: {answer['responseMessage']['responseCode']} "
                f"\"{answer['responseMessage']['responseData']['data']}\"")
            host.wait(timeout=30)
            say(f"== the agent stopped (exit code {host.returncode}); {time.monotonic() - started:.1f} s in all")
            return 0 if host.returncode == 0 else 1
        except Exception as exc:
            say(f"demo failed: {exc!r}")
            host.kill()
            out = host.stdout.read() if host.stdout else ""
            if out:
                say(out)
            return 1


if __name__ == "__main__":
    sys.exit(main())
