"""Every Python example in the README runs, in order, and prints what its
comments say it prints."""
from __future__ import annotations

import contextlib
import io
import re
from pathlib import Path

README = Path(__file__).resolve().parent.parent / "README.md"


def python_blocks() -> list[str]:
    return re.findall(r"```python\n(.*?)```", README.read_text(), flags=re.S)


def expected_outputs(block: str) -> list[str]:
    """`print(...)   # text` lines announce their output."""
    return [m.group(1).strip() for m in re.finditer(r"^print\(.*\)\s+# (.+)$", block, flags=re.M)]


def test_readme_has_examples():
    assert len(python_blocks()) >= 5


def test_readme_examples_run_and_print_what_they_claim():
    namespace: dict[str, object] = {}
    for block in python_blocks():
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            exec(compile(block, str(README), "exec"), namespace)
        printed = out.getvalue().splitlines()
        for claim in expected_outputs(block):
            assert any(line.strip() == claim for line in printed), (claim, printed)
