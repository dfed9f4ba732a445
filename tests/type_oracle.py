"""Independent Python models of the type and term formats, used as oracles.

A type is described by plain data: a ``str`` is a variable of that name, a
pair ``(left, right)`` is the application ``left -> right``. From such a
description this module builds the velarto object and computes, without the
extension, what its display form, uid and hash stream must be. Every helper
walks descriptions iteratively, so the deep-type tests can use them too.

The Python hash of a type or term is SipHash-1-3 with an all-zero key over a
byte stream; the interpreter's own ``hash(bytes)`` is that very function when
it runs with PYTHONHASHSEED=0, so ``python_hashes`` asks such an interpreter
in a subprocess, one subprocess for a whole batch of streams.
"""
from __future__ import annotations

import hashlib
import os
import struct
import subprocess
import sys
from typing import Union

import velarto

TypeDesc = Union[str, tuple]

VARIABLE_TAG = struct.pack("<I", 0)
APPLICATION_TAG = struct.pack("<I", 1)
ZERO4 = b"\x00\x00\x00\x00"


def build(desc: TypeDesc):
    """A new velarto Variable/Application for the description (fresh objects throughout)."""
    if isinstance(desc, str):
        return velarto.Variable(desc)
    # Post-order with an explicit stack: descriptions may be deep.
    done: list = []
    stack: list = [(desc, False)]
    while stack:
        node, expanded = stack.pop()
        if isinstance(node, str):
            done.append(velarto.Variable(node))
        elif expanded:
            right = done.pop()
            left = done.pop()
            done.append(velarto.Application(left, right))
        else:
            stack.append((node, True))
            stack.append((node[1], False))
            stack.append((node[0], False))
    return done.pop()


def display(desc: TypeDesc) -> str:
    """A variable's name; "(" + left + " -> " + right + ")" for an application."""
    out: list[str] = []
    stack: list = [(False, desc)]  # (is literal text, item)
    while stack:
        literal, item = stack.pop()
        if literal or isinstance(item, str):
            out.append(item)
        else:
            out.append("(")
            stack.extend([(True, ")"), (False, item[1]), (True, " -> "), (False, item[0])])
    return "".join(out)


def sha(text: str) -> str:
    return hashlib.sha256(text.encode("utf-8")).hexdigest()


def type_uid(desc: TypeDesc) -> str:
    """uid: SHA-256 of "var:" + name, or of "app:" + uid(left) + ":" + uid(right)."""
    results: list[str] = []
    stack: list = [(desc, False)]
    while stack:
        node, expanded = stack.pop()
        if isinstance(node, str):
            results.append(sha("var:" + node))
        elif expanded:
            right = results.pop()
            left = results.pop()
            results.append(sha("app:" + left + ":" + right))
        else:
            stack.append((node, True))
            stack.append((node[1], False))
            stack.append((node[0], False))
    return results.pop()


def term_uid(name: str, desc: TypeDesc) -> str:
    return sha("term:" + name + ":" + type_uid(desc))


def node_uid(desc: TypeDesc) -> str:
    return sha("node:" + type_uid(desc))


def edge_uid(name: str, desc: TypeDesc) -> str:
    return sha("edge:" + term_uid(name, desc))


def stream(desc: TypeDesc) -> bytes:
    """S(t): tag (u32 LE), then name + 0xFF + four zero bytes, or S(left) + S(right) + four zero bytes."""
    out = bytearray()
    stack: list = [desc]
    while stack:
        node = stack.pop()
        if node is None:
            out += ZERO4
        elif isinstance(node, str):
            out += VARIABLE_TAG + node.encode("utf-8") + b"\xff" + ZERO4
        else:
            out += APPLICATION_TAG
            stack.extend([None, node[1], node[0]])
    return bytes(out)


def type_hash_stream(desc: TypeDesc) -> bytes:
    """What hash(Variable) / hash(Application) is computed over (no tag of its own)."""
    if isinstance(desc, str):
        return desc.encode("utf-8") + b"\xff"
    return stream(desc[0]) + stream(desc[1])


def term_hash_stream(name: str, desc: TypeDesc) -> bytes:
    return name.encode("utf-8") + b"\xff" + stream(desc)


_HASHER = r"""
import sys
data = sys.stdin.buffer.read()
position, answers = 0, []
while position < len(data):
    size = int.from_bytes(data[position:position + 8], "little")
    position += 8
    answers.append(str(hash(data[position:position + size])))
    position += size
sys.stdout.write("\n".join(answers))
"""


def python_hashes(streams: list[bytes]) -> list[int]:
    """hash(bytes(s)) for each stream, as an interpreter with PYTHONHASHSEED=0 computes it."""
    payload = b"".join(len(s).to_bytes(8, "little") + s for s in streams)
    env = dict(os.environ, PYTHONHASHSEED="0")
    done = subprocess.run([sys.executable, "-c", _HASHER], input=payload, env=env,
                          capture_output=True, check=True)
    answers = [int(line) for line in done.stdout.decode().split()]
    assert len(answers) == len(streams)
    return answers
