"""Builds the small C++ programs in tests/engine/ against the engine sources.

The engine layer (src/core) has no Python in it, so its pieces are tested
directly: each program is compiled once per test session with the system's
C++ compiler and driven over stdin/stdout by the tests.
"""
from __future__ import annotations

import os
import shutil
import subprocess
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CORE = ROOT / "src" / "core"
ENGINE_TESTS = ROOT / "tests" / "engine"


def compiler() -> str | None:
    return os.environ.get("CXX") or shutil.which("g++") or shutil.which("c++") or shutil.which("clang++")


def build(name: str, out_dir: Path) -> Path:
    """Compile tests/engine/<name>.cpp with every engine source; return the binary."""
    cxx = compiler()
    if cxx is None:
        raise RuntimeError("no C++ compiler found for the engine tests")
    sources = sorted(str(p) for p in CORE.glob("*.cpp"))
    binary = out_dir / name
    cmd = [cxx, "-std=c++20", "-O1", "-g", "-Wall", "-Wextra", "-I", str(ROOT / "src"),
           str(ENGINE_TESTS / f"{name}.cpp"), *sources, "-o", str(binary)]
    subprocess.run(cmd, check=True, capture_output=True, text=True)
    return binary


def run(binary: Path, stdin: bytes, *args: str) -> bytes:
    done = subprocess.run([str(binary), *args], input=stdin, capture_output=True, check=True)
    return done.stdout
