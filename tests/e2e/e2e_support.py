"""Small helpers shared by the end-to-end fixtures."""

import subprocess

# The identifiers the agent suites start the host with.
AGENT_IDS = ["--client-id", "cli-1", "--client-name", "Front Desk", "--resource-id", "res-2",
             "--session-id", "ses-3", "--customer-id", "cus-4", "--device-id", "dev-5"]


def stop_process(process, grace=5):
    """Asks a process to end, and kills it when it has not after grace seconds."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(grace)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(grace)
