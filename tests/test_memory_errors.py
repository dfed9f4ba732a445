"""Running out of memory inside the engine is a MemoryError, never a crash."""
from __future__ import annotations

import os
import subprocess
import sys
import textwrap

import pytest

import velarto

pytestmark = pytest.mark.skipif(bool(os.environ.get("VELARTO_SANITIZED")),
                                reason="an address-space limit does not mix with the sanitizer's shadow memory")


@pytest.mark.parametrize("work", [
    "velarto.TypeSchema('$(x:' * 20_000_000 + ')$').matches(velarto.Variable('a'))",
    "velarto.PathPattern('(a)' * 20_000_000)",
])
def test_exhausted_memory_raises_memory_error(work):
    script = textwrap.dedent(f"""
        import resource, velarto
        resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
        try:
            {work}
        except MemoryError:
            print("MemoryError")
        else:
            print("finished")
    """)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(
        filter(None, [os.path.dirname(velarto.__file__), os.environ.get("PYTHONPATH")])))
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=env, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() in {"MemoryError", "finished"}
