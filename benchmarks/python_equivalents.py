"""The same work as velarto's engine, written in plain Python over its public
objects: what a user would write without the native engine. Used as the
plain-Python side of the ratios."""
from __future__ import annotations

import hashlib
import sys
from pathlib import Path

from velarto import Application, Variable

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
from white_space import trim  # noqa: E402  (the same trimming the tests check against)

def schema_matches(p: str, ty) -> bool:
    """The text-walking schema matcher, re-reading the text on every call."""
    t = trim(p)
    if t == "$*$":
        return True
    if len(t) >= 2 and t[0] == "$" and t[-1] == "$" and "->" not in t and ":" not in t and "(" not in t:
        inner = t[1:-1]
        return inner == "*" or (type(ty) is Variable and ty.name == inner)
    if len(t) >= 2 and t.startswith("$(") and t.endswith(")$"):
        body = t[2:-2]
        if ":" not in body:
            return False
        return schema_matches("$" + trim(body.split(":", 1)[1]) + "$", ty)
    if "->" not in t:
        return type(ty) is Variable and ty.name == t
    body = t[1:-1] if t[0] == "$" and t[-1] == "$" else t
    if body.startswith("(") and body.endswith(")"):
        body = body[1:-1]
    depth = 0
    for i, ch in enumerate(body):
        if ch == "(":
            depth += 1
        elif ch == ")":
            depth -= 1
        elif ch == "-" and depth == 0 and body[i + 1:i + 2] == ">":
            if type(ty) is not Application:
                return False
            return (schema_matches("$" + trim(body[:i]) + "$", ty.left)
                    and schema_matches("$" + trim(body[i + 2:]) + "$", ty.right))
    return False


def type_uid(ty) -> str:
    if type(ty) is Variable:
        return hashlib.sha256(("var:" + ty.name).encode()).hexdigest()
    return hashlib.sha256(("app:" + type_uid(ty.left) + ":" + type_uid(ty.right)).encode()).hexdigest()


def node_uid(node) -> str:
    return hashlib.sha256(("node:" + type_uid(node.type)).encode()).hexdigest()


class PyVariable:
    """A plain-Python type variable with structural equality and hash."""
    __slots__ = ("name",)

    def __init__(self, name):
        self.name = name

    def __eq__(self, other):
        return type(other) is PyVariable and other.name == self.name

    def __hash__(self):
        return hash(("var", self.name))


class PyApplication:
    __slots__ = ("left", "right")

    def __init__(self, left, right):
        self.left, self.right = left, right

    def __eq__(self, other):
        return type(other) is PyApplication and self.left == other.left and self.right == other.right

    def __hash__(self):
        return hash(("app", self.left, self.right))


class PyTerm:
    __slots__ = ("name", "type")

    def __init__(self, name, type_):
        self.name, self.type = name, type_

    def __eq__(self, other):
        return type(other) is PyTerm and self.name == other.name and self.type == other.type

    def __hash__(self):
        return hash((self.name, self.type))
