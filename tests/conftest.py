from __future__ import annotations

import os
import subprocess

import pytest

# Under tools/sanitize.sh the sanitizer runtime is preloaded into this
# interpreter; the programs the tests start (the compiler, engine harnesses,
# oracle interpreters) are not what is being checked and must not inherit it.
# A child that imports velarto itself gets it back from VELARTO_PRELOAD.
_preload = os.environ.pop("LD_PRELOAD", None)
if _preload:
    os.environ["VELARTO_PRELOAD"] = _preload

import engine_build


@pytest.fixture(scope="session")
def engine_binary():
    """engine_binary("name") returns the path of tests/engine/name.cpp built (see engine_build)."""
    built: dict[str, object] = {}

    def get(name: str):
        if name not in built:
            try:
                built[name] = engine_build.build(name)
            except subprocess.CalledProcessError as failure:  # show the compiler's complaint
                pytest.fail(f"building engine test {name} failed:\n{failure.stderr}")
        return built[name]

    return get
