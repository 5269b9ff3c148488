"""Small helpers shared by the end-to-end fixtures."""

import subprocess


def stop_process(process, grace=5):
    """Asks a process to end, and kills it when it has not after grace seconds."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(grace)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(grace)
