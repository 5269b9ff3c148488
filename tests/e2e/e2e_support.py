"""Small helpers shared by the end-to-end fixtures and suites."""

import json
import socket
import subprocess
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
WINE_RUN = ROOT / "scripts" / "wine-run"
# The identifiers the agent suites start the host with.
AGENT_IDS = ["--client-id", "cli-1", "--client-name", "Front Desk", "--resource-id", "res-2",
             "--session-id", "ses-3", "--customer-id", "cus-4", "--device-id", "dev-5"]
EXIT = json.dumps({"toolId": 0, "requestId": 1, "requestMessage": {"requestCode": 0}})


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def stop_process(process, grace=5):
    """Asks a process to end, and kills it when it has not after grace seconds."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(grace)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(grace)


def serves(conn):
    """One quick request answered on this agent's connection."""
    answer = conn.request(2, 2007, data={"cmd": "hk-no-such-service"}, timeout=20)
    return answer["responseMessage"] == {"errorCode": "2106", "errorOutput": "Unable to open Service"}


def formatter_data(answer, tool, code):
    """The data of a tool's success answer, its envelope checked."""
    assert (answer["toolId"], answer["responseId"], answer["isSuccess"], answer["responseCode"],
            answer["isPagedResponse"]) == (tool, 0, "true", code, "false"), answer
    return answer["responseData"]
