"""Runs a test's Python code in a child interpreter, for cases that would crash
the test process if the module were wrong: the child's death is the failure,
reported with what it printed.

The child imports the same velarto as the tests (the same `sys.path`) and,
under the sanitizer build, gets the sanitizer runtime back (conftest.py moves
it to VELARTO_PRELOAD so that other programs the tests start go without it).
"""
from __future__ import annotations

import os
import subprocess
import sys
import textwrap


def run_in_child(code: str, timeout: float = 120) -> str:
    """Runs `code` (dedented) in a fresh interpreter and returns its standard
    output; fails the test when the child does not exit with status 0."""
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    preload = os.environ.get("VELARTO_PRELOAD")
    if preload:
        env["LD_PRELOAD"] = preload
    done = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        env=env,
        timeout=timeout,
    )
    if done.returncode != 0:
        raise AssertionError(
            f"the child exited with status {done.returncode}\n"
            f"--- stdout\n{done.stdout[-4000:]}\n--- stderr\n{done.stderr[-8000:]}"
        )
    return done.stdout
