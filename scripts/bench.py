"""The benchmarks of scripts/bench. Each figure is printed with its floor,
the ratio and the target; nothing is asserted."""

import json
import os
import re
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(os.environ["BENCH_ROOT"])
BIN = Path(os.environ["BENCH_BIN"])
WINE_RUN = str(ROOT / "scripts" / "wine-run")
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from product_server import ProductServer  # noqa: E402

PREFIX = os.environ["WINEPREFIX"]
QUICK = "--quick" in sys.argv
SMALL_REQUESTS = 1000 if QUICK else 10000
RECONNECTS = 10 if QUICK else 100
SMALL = (7, 7950)  # in the tool's range of valid codes, outside its dispatcher: answered at once


def ask(conn, request_id=1):
    """One small request and its answer (an empty text)."""
    conn.send(json.dumps({"toolId": SMALL[0], "requestId": request_id, "requestMessage": {"requestCode": SMALL[1]}}))
    return conn.recv(timeout=30)


def report(name, value, unit, floor=None, target=None, better="lower"):
    line = f"{name:<46} {value:>10.3f} {unit:<6}"
    if floor is not None:
        ratio = value / floor if floor else float("inf")
        line += f" floor {floor:>8.3f} {unit:<3} ratio {ratio:>5.2f}"
        value = ratio
    if target is not None:
        met = value <= target if better == "lower" else value >= target
        line += f"  target <= {target:g}  {'met' if met else 'NOT MET'}"
    print(line, flush=True)


def run_json(args, cwd=None):
    """Runs a program of the build under Wine; its last line is JSON."""
    out = subprocess.run([WINE_RUN, *args], cwd=cwd, capture_output=True, text=True, timeout=900)
    lines = [l for l in out.stdout.splitlines() if l.startswith("{")]
    if not lines:
        raise SystemExit(f"{args[0]} printed no figures:\n{out.stdout}\n{out.stderr}")
    return json.loads(lines[-1])


def echo_round_trip_ms():
    """Loopback echo through the same socket component, nothing else."""
    server = subprocess.Popen([sys.executable, str(ROOT / "bench/echo_server.py")], stdout=subprocess.PIPE,
                              text=True)
    try:
        port = json.loads(server.stdout.readline())["port"]
        return run_json([str(BIN / "socket_bench.exe"), str(port), "1000", "64", "3"],
                        cwd=tempfile.mkdtemp(prefix="hk-bench-"))["ms_per_message"]
    finally:
        server.terminate()
        server.wait(10)


def log_entry_floor_ms():
    work = Path(tempfile.mkdtemp(prefix="hk-bench-"))
    return min(run_json([str(BIN / "log_floor.exe"), "floor.log", "1000"], cwd=work)["us_per_entry"]
               for _ in range(3)) / 1000


def linux_pid_of(image):
    """The Wine process running image in this run's prefix (Wine shows the
    program as argv[0]: its Windows path, or for a 64-bit one the path it was
    started by)."""
    for proc in Path("/proc").iterdir():
        if not proc.name.isdigit():
            continue
        try:
            argv = (proc / "cmdline").read_bytes().decode(errors="replace").split("\0")
        except OSError:
            continue
        if not (argv and argv[0].lower().endswith(image)):
            continue
        try:  # another prefix may run the same program
            if f"WINEPREFIX={PREFIX}".encode() in (proc / "environ").read_bytes().split(b"\0"):
                return int(proc.name)
        except OSError:
            continue
    return None


def process_figures(pid):
    status = (Path("/proc") / str(pid) / "status").read_text()
    rollup = (Path("/proc") / str(pid) / "smaps_rollup").read_text()

    def kib(text, key):
        m = re.search(rf"^{key}:\s+(\d+) kB", text, re.M)
        return int(m.group(1)) if m else 0

    return {
        "private_kib": kib(rollup, "Private_Clean") + kib(rollup, "Private_Dirty"),
        "threads": int(re.search(r"^Threads:\s+(\d+)", status, re.M).group(1)),
        "fds": len(os.listdir(Path("/proc") / str(pid) / "fd")),
    }


def entries_per_request(conn, log, count=50):
    """Log entries one small request writes, read off the log between two
    looks at it (again when the log rotated in between)."""
    entry = re.compile(rb"\r\n\d+ \d\d:\d\d:\d\d:\d{1,3}  ")
    for _ in range(5):
        before = log.read_bytes() if log.exists() else b""
        for i in range(count):
            ask(conn, i)
        after = log.read_bytes() if log.exists() else b""
        if after.startswith(before):
            return len(entry.findall(after[len(before):])) / count
    return float("nan")


def agent_figures(echo_ms, entry_ms):
    work = Path(tempfile.mkdtemp(prefix="hk-bench-agent-"))
    with ProductServer() as server:
        host = subprocess.Popen([WINE_RUN, str(BIN / "hostkeeper-host.exe"), "--host", "127.0.0.1", "--port",
                                 str(server.port), "--product-server", "--client-id", "bench"], cwd=work,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            conn = server.wait_connection(timeout=90)
            pid = None
            deadline = time.monotonic() + 30
            while pid is None and time.monotonic() < deadline:
                pid = linux_pid_of("hostkeeper-host.exe")
                time.sleep(0.2)
            logs = list(Path(PREFIX).glob(
                "drive_c/users/*/AppData/Local/Quillstead/log/ToolsSys.log")) + [work / "log" / "ToolsSys.log"]
            log = max((p for p in logs if p.exists()), key=lambda p: p.stat().st_mtime, default=logs[-1])

            for _ in range(300):  # warm up
                ask(conn)
            per_request = entries_per_request(conn, log)
            count = 700
            batches = []
            for _ in range(3):
                start = time.perf_counter()
                for i in range(count):
                    ask(conn, i)
                batches.append((time.perf_counter() - start) * 1000 / count)
            agent_ms = min(batches)
            floor = echo_ms + per_request * entry_ms
            report(f"small request round trip ({per_request:.0f} log entries)", agent_ms, "ms", floor, 1.3)

            first = process_figures(pid)
            for i in range(SMALL_REQUESTS):
                ask(conn, i)
            after = process_figures(pid)
            grown = (after["private_kib"] - first["private_kib"]) / 1024
            report(f"private bytes growth over {SMALL_REQUESTS} requests", grown, "MiB", None, 1.0)

            conn.close(1001)
            conn = server.wait_connection(timeout=30)
            ask(conn)
            once = process_figures(pid)
            for _ in range(RECONNECTS - 1):
                conn.close(1001)
                conn = server.wait_connection(timeout=30)
            ask(conn)
            time.sleep(2)
            last = process_figures(pid)
            report(f"threads after {RECONNECTS} reconnects (after 1: {once['threads']})", last["threads"], "",
                   once["threads"], 1.0)
            report(f"open descriptors after {RECONNECTS} reconnects (after 1: {once['fds']})", last["fds"], "",
                   once["fds"], 1.0)
            conn.request(1, 1105)
            host.wait(30)
        finally:
            if host.poll() is None:
                host.kill()
                host.wait(10)


def main():
    print(f"Hostkeeper benchmarks ({BIN.parent.name} build, {'quick' if QUICK else 'full'} run)\n", flush=True)
    echo_ms = echo_round_trip_ms()
    entry_ms = log_entry_floor_ms()
    report("floor: loopback echo round trip", echo_ms, "ms")
    report("floor: one log entry (open, write, close)", entry_ms, "ms")
    work = tempfile.mkdtemp(prefix="hk-bench-log-")
    logged_ms = min(run_json([str(BIN / "log_bench.exe"), "Z:" + work.replace("/", "\\"), "1000"])["us_per_entry"] for _ in range(3)) / 1000
    report("one entry through the log", logged_ms, "ms", entry_ms, 1.3)
    agent_figures(echo_ms, entry_ms)

    for children in (50, 200):
        figures = run_json([str(BIN / "process_bench.exe"), str(children), "2"])
        report(f"1101 gathering per process ({figures['processes']} processes)", figures["ms_per_process_median"],
               "ms", None, 2.0)
    services = run_json([str(BIN / "services_bench.exe"), "50"])
    report(f"2101 listing of {services['services']} services", services["listing_ms"], "ms", services["bare_ms"], 1.5)


if __name__ == "__main__":
    main()
