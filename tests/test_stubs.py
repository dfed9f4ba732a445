"""The type stubs agree with the module and type-check the examples."""
from __future__ import annotations

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import velarto

ROOT = Path(__file__).resolve().parent.parent
STUB = ROOT / "src" / "velarto.pyi"

if os.environ.get("VELARTO_SANITIZED"):
    # stubtest imports the module in a fresh interpreter, where a sanitized
    # build cannot load without the preloaded runtime; the plain build checks it.
    pytest.skip("the stubs are checked against the plain build", allow_module_level=True)

mypy = pytest.importorskip("mypy", reason="mypy is not installed")


def run_mypy(tmp_path: Path, *args: str) -> subprocess.CompletedProcess[str]:
    stub_dir = tmp_path / "stubs"
    stub_dir.mkdir(exist_ok=True)
    shutil.copy(STUB, stub_dir / "velarto.pyi")
    env = dict(os.environ, MYPYPATH=str(stub_dir))
    # The installed extension must be the one that is checked, not a stale copy.
    env["PYTHONPATH"] = os.pathsep.join(
        [str(Path(velarto.__file__).parent), env.get("PYTHONPATH", "")])
    env["MYPY_CACHE_DIR"] = str(tmp_path / "cache")
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, env=env,
                          cwd=tmp_path)


def test_stubtest_finds_no_difference(tmp_path):
    done = run_mypy(tmp_path, "mypy.stubtest", "velarto")
    assert done.returncode == 0, done.stdout + done.stderr


def test_examples_pass_strict_type_checking(tmp_path):
    examples = sorted(str(p) for p in (ROOT / "examples").glob("*.py"))
    done = run_mypy(tmp_path, "mypy", "--strict", *examples)
    assert done.returncode == 0, done.stdout + done.stderr


def test_every_stub_class_method_and_property_has_a_docstring():
    """Editors show the stubs' help: several runtime docstrings are signature-only."""
    import ast

    tree = ast.parse(STUB.read_text())
    missing = []
    for cls in (n for n in tree.body if isinstance(n, ast.ClassDef)):
        if ast.get_docstring(cls) is None:
            missing.append(cls.name)
        for index, member in enumerate(cls.body):
            if isinstance(member, ast.FunctionDef) and ast.get_docstring(member) is None:
                missing.append(f"{cls.name}.{member.name}")
            if isinstance(member, ast.AnnAssign):  # an attribute: its docstring is the next statement
                following = cls.body[index + 1] if index + 1 < len(cls.body) else None
                if not (isinstance(following, ast.Expr) and isinstance(following.value, ast.Constant)):
                    missing.append(f"{cls.name}.{member.target.id}")
    assert missing == []
    assert {n.name for n in tree.body if isinstance(n, ast.ClassDef)} == set(velarto.__all__)
