"""The module surface: registration, the properties every class shares,
signatures and docstrings, and what importing twice gives."""
from __future__ import annotations

import ctypes
import gc
import importlib
import inspect
import sys

import pytest

import velarto

# name, constructor text signature, first sentence of the class docstring
CLASSES = [
    ("Variable", "(name)", "Represents an atomic type variable."),
    ("Application", "(left, right)", "Represents a function type (application type)."),
    ("Term", "(name, type)", "Represents a typed term in the type theory."),
    ("Node", "(type, properties=None)", "Represents a node in the graph (a type in the model)."),
    ("Edge", "(term, start, end, properties=None)",
     "Represents an edge in the graph (a typed term in the model)."),
    ("Graph", "()", "Represents a type theoretical theory model as a graph."),
    ("TypeSchema", "(pattern)", "Represents a regex-like pattern for matching types."),
    ("NodePattern", "(variable=None, type=..., type_schema=None, properties=None)",
     "Represents a node pattern in a Cypher-like query."),
    ("EdgePattern", "(variable=None, term=None, term_type_schema=None, properties=None, direction=...)",
     "Represents an edge pattern in a Cypher-like query."),
    ("PathPattern", "(pattern=None)", "Represents a path pattern in a Cypher-like query."),
    ("Query", "(graph)", "Cypher-like query builder for the graph."),
]
CLASS_NAMES = [name for name, _, _ in CLASSES]


def _class(name):
    return getattr(velarto, name)


def _samples():
    """One instance of every class whose constructor is built, by class name."""
    A, B = velarto.Variable("A"), velarto.Variable("B")
    term = velarto.Term("f", velarto.Application(A, B))
    node = velarto.Node(A)
    return {
        "Variable": A,
        "Application": velarto.Application(A, B),
        "Term": term,
        "Node": node,
        "Edge": velarto.Edge(term, node, velarto.Node(B)),
        "Graph": velarto.Graph(),
    }


INSTANCE_NAMES = list(_samples())


# --- registration ---------------------------------------------------------------

def test_all_lists_the_eleven_classes_in_registration_order():
    assert velarto.__all__ == CLASS_NAMES
    assert type(velarto.__all__) is list


def test_module_attributes_are_the_docstring_the_classes_and_all_and_nothing_else():
    # What CPython puts in every extension module's dict, and the module's own attributes.
    interpreter = {"__name__", "__doc__", "__package__", "__loader__", "__spec__", "__file__"}
    assert set(vars(velarto)) == interpreter | set(CLASS_NAMES) | {"__all__"}
    for name in CLASS_NAMES:
        assert isinstance(_class(name), type)


def test_module_docstring_describes_the_module_and_lists_the_classes():
    doc = velarto.__doc__
    first_paragraph, _, rest = doc.partition("\n\n# Classes Exposed")
    assert "type theoretical graph modeling" in first_paragraph
    assert "`velarto`" in first_paragraph
    assert doc.endswith(
        "# Classes Exposed\n\n"
        "- `Variable`: Type variables\n"
        "- `Application`: Application types (A -> B)\n"
        "- `Term`: Typed terms\n"
        "- `Node`: Graph nodes with types\n"
        "- `Edge`: Graph edges with terms\n"
        "- `Graph`: The main graph structure\n"
        "- `TypeSchema`: Type pattern matching\n"
        "- `NodePattern`, `EdgePattern`, `PathPattern`: Query patterns\n"
        "- `Query`: Cypher-like query builder")
    assert rest and doc.count("# Classes Exposed") == 1


# --- importing twice --------------------------------------------------------------

def test_importing_again_gives_the_same_module_object():
    import velarto as again

    assert again is velarto
    assert importlib.import_module("velarto") is velarto


def test_initialisation_function_returns_the_cached_module():
    library = ctypes.PyDLL(velarto.__file__)
    init = library.PyInit_velarto
    init.restype = ctypes.py_object
    init.argtypes = []
    assert init() is velarto
    assert init() is velarto


def test_reimport_after_removal_keeps_the_class_objects():
    saved = sys.modules.pop("velarto")
    try:
        fresh = importlib.import_module("velarto")
        for name in CLASS_NAMES:
            assert getattr(fresh, name) is getattr(saved, name)
        assert fresh.__all__ == CLASS_NAMES
    finally:
        sys.modules["velarto"] = saved


# --- properties shared by all classes -------------------------------------------------

@pytest.mark.parametrize("name", CLASS_NAMES)
def test_class_cannot_be_subclassed(name):
    base = _class(name)
    with pytest.raises(TypeError):
        type("Derived", (base,), {})
    with pytest.raises(TypeError):
        exec(f"class Derived(velarto.{name}):\n    pass", {"velarto": velarto})


@pytest.mark.parametrize("name", CLASS_NAMES)
def test_class_name_module_and_base(name):
    cls = _class(name)
    assert cls.__name__ == name
    assert cls.__qualname__ == name
    assert cls.__module__ == "velarto"
    assert cls.__bases__ == (object,)
    assert repr(cls) == f"<class 'velarto.{name}'>"


@pytest.mark.parametrize("name", CLASS_NAMES)
def test_class_has_no_dict_weakref_or_container_protocol(name):
    cls = _class(name)
    assert cls.__dictoffset__ == 0
    assert cls.__weakrefoffset__ == 0
    assert not cls.__flags__ & (1 << 14)  # Py_TPFLAGS_HAVE_GC: no cyclic collection
    for dunder in ("__iter__", "__len__", "__getitem__", "__contains__"):
        assert not hasattr(cls, dunder), dunder


@pytest.mark.parametrize("name", CLASS_NAMES)
def test_class_attributes_can_be_assigned(name):
    cls = _class(name)
    setattr(cls, "_assigned_by_test", 42)
    try:
        assert cls._assigned_by_test == 42
    finally:
        delattr(cls, "_assigned_by_test")
    assert not hasattr(cls, "_assigned_by_test")


@pytest.mark.parametrize("name", INSTANCE_NAMES)
def test_instance_refuses_new_attributes(name):
    instance = _samples()[name]
    assert type(instance).__name__ == name
    assert not hasattr(instance, "__dict__")
    with pytest.raises(AttributeError):
        instance.some_new_attribute = 1


@pytest.mark.parametrize("name", INSTANCE_NAMES)
def test_instance_has_no_weak_references_and_is_not_gc_tracked(name):
    import weakref

    instance = _samples()[name]
    with pytest.raises(TypeError):
        weakref.ref(instance)
    assert not gc.is_tracked(instance)


@pytest.mark.parametrize("name", INSTANCE_NAMES)
def test_instance_is_neither_iterable_nor_sized(name):
    instance = _samples()[name]
    with pytest.raises(TypeError):
        iter(instance)
    with pytest.raises(TypeError):
        len(instance)
    with pytest.raises(TypeError):
        instance[0]


# --- signatures and docstrings ---------------------------------------------------------

@pytest.mark.parametrize("name,signature,first_sentence", CLASSES)
def test_class_text_signature(name, signature, first_sentence):
    cls = _class(name)
    assert cls.__text_signature__ == signature
    assert str(inspect.signature(cls)) == signature.replace("...", "Ellipsis")


@pytest.mark.parametrize("name,signature,first_sentence", CLASSES)
def test_class_docstring_starts_with_first_sentence(name, signature, first_sentence):
    doc = _class(name).__doc__
    assert doc.startswith(first_sentence)
    assert "--" not in doc.split("\n", 1)[0]


@pytest.mark.parametrize("name", INSTANCE_NAMES)
def test_built_class_docstring_has_example_and_fields(name):
    doc = _class(name).__doc__
    assert "```python" in doc and "velarto." in doc
    assert "# Fields" in doc


def test_graph_docstring_describes_its_fields():
    doc = velarto.Graph.__doc__
    assert "Dictionary mapping node UIDs to Node objects" in doc
    assert "Dictionary mapping edge UIDs to Edge objects" in doc


# class, method, text signature, docstring after the signature (None: first sentence only)
METHODS = [
    ("Variable", "uid", "($self)",
     "Returns a unique identifier for this variable.\n\n# Returns\n\nA SHA256 hash based on the variable name"),
    ("Application", "uid", "($self)",
     "Returns a unique identifier for this application.\n\n# Returns\n\n"
     "A SHA256 hash based on the left and right types"),
    ("Term", "uid", "($self)",
     "Returns a unique identifier for this term.\n\n"
     "The UID is constructed using SHA256 hash based on the term's name and type UID.\n\n"
     "# Returns\n\nA SHA256 hash representing this term uniquely"),
    ("Node", "uid", "($self)",
     "Returns a unique identifier for this node.\n\nThe UID is based on the node's type UID using SHA256.\n\n"
     "# Returns\n\nA SHA256 hash representing this node uniquely"),
    ("Edge", "uid", "($self)",
     "Returns a unique identifier for this edge.\n\nThe UID is based on the edge's term UID using SHA256.\n\n"
     "# Returns\n\nA SHA256 hash representing this edge uniquely"),
    ("Graph", "query", "($self)", None),
]


@pytest.mark.parametrize("cls,method,signature,doc", METHODS)
def test_method_signature_and_docstring(cls, method, signature, doc):
    function = getattr(_class(cls), method)
    assert function.__text_signature__ == signature
    assert str(inspect.signature(function)) == "(self, /)"
    bound = getattr(_samples()[cls], method)
    assert str(inspect.signature(bound)) == "()"
    if doc is None:
        assert function.__doc__.startswith("Creates a new query builder for this graph.")
    else:
        assert function.__doc__ == doc


@pytest.mark.parametrize("cls,method", [(c, m) for c, m, _, _ in METHODS])
def test_method_takes_no_arguments(cls, method):
    bound = getattr(_samples()[cls], method)
    with pytest.raises(TypeError):
        bound(1)
    with pytest.raises(TypeError):
        bound(x=1)


# class, attribute, docstring
ATTRIBUTE_DOCS = [
    ("Application", "left", "Gets the left (input) type of this application.\n\n# Returns\n\n"
     "The input type as a Python object"),
    ("Application", "right", "Gets the right (output) type of this application.\n\n# Returns\n\n"
     "The output type as a Python object"),
    ("Term", "type", "Gets the type of this term.\n\n# Returns\n\nThe type as a Python object (Variable or Application)"),
    ("Node", "type", "Gets the type of this node.\n\n# Returns\n\nThe type as a Python object (Variable or Application)"),
    ("Edge", "term", "Gets the term of this edge.\n\n# Returns\n\nThe term as a Python object"),
    ("Edge", "start", "Gets the starting node of this edge.\n\n# Returns\n\nThe start node as a Python object"),
    ("Edge", "end", "Gets the ending node of this edge.\n\n# Returns\n\nThe end node as a Python object"),
]


@pytest.mark.parametrize("cls,attribute,doc", ATTRIBUTE_DOCS)
def test_attribute_docstring(cls, attribute, doc):
    assert getattr(_class(cls), attribute).__doc__ == doc


# class, attributes (r = read-only, w = assignable)
ATTRIBUTES = [
    ("Variable", {"name": "w"}),
    ("Application", {"left": "r", "right": "r"}),
    ("Term", {"name": "w", "type": "r"}),
    ("Node", {"type": "r", "properties": "w"}),
    ("Edge", {"term": "r", "start": "r", "end": "r", "properties": "w"}),
    ("Graph", {"nodes": "r", "edges": "r"}),
]


@pytest.mark.parametrize("cls,attributes", ATTRIBUTES)
def test_read_only_attributes_refuse_assignment_and_deletion(cls, attributes):
    instance = _samples()[cls]
    for attribute, mode in attributes.items():
        current = getattr(instance, attribute)
        with pytest.raises(AttributeError):
            delattr(instance, attribute)
        if mode == "r":
            with pytest.raises(AttributeError):
                setattr(instance, attribute, current)


@pytest.mark.parametrize("cls,attributes", ATTRIBUTES)
def test_assignable_attributes_refuse_deletion_with_message(cls, attributes):
    instance = _samples()[cls]
    for attribute, mode in attributes.items():
        if mode != "w":
            continue
        with pytest.raises(AttributeError) as caught:
            delattr(instance, attribute)
        assert caught.value.args == ("can't delete attribute",)


def test_import_emits_no_warnings():
    # A fresh interpreter that turns every warning into an error must still import.
    import os
    import subprocess

    where = os.path.dirname(velarto.__file__)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [where, os.environ.get("PYTHONPATH")])))
    if os.environ.get("VELARTO_PRELOAD"):  # a sanitized build needs its runtime first
        env["LD_PRELOAD"] = os.environ["VELARTO_PRELOAD"]
    done = subprocess.run([sys.executable, "-W", "error", "-c", "import velarto"],
                          capture_output=True, text=True, env=env)
    assert done.returncode == 0, done.stderr


SUBINTERPRETER_IMPORT = """
import sys
try:
    import _interpreters as interpreters          # 3.13
except ImportError:
    import _xxsubinterpreters as interpreters     # 3.11, 3.12
import velarto
if sys.version_info >= (3, 13):
    interpreter = interpreters.create(sys.argv[1])
elif sys.version_info >= (3, 12):
    interpreter = interpreters.create(isolated=sys.argv[1] == "isolated")
else:
    interpreter = interpreters.create()
code = "import velarto"
try:
    failure = interpreters.exec(interpreter, code) if hasattr(interpreters, "exec") \\
        else interpreters.run_string(interpreter, code)
except Exception as error:                       # raised in the caller before 3.13
    failure = error
print(repr(failure))
"""


@pytest.mark.parametrize("config", ["legacy", "isolated"])
def test_second_interpreter_is_refused(config):
    # A child process: a failed guard could crash the interpreter that runs it.
    import os
    import subprocess

    where = os.path.dirname(velarto.__file__)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [where, os.environ.get("PYTHONPATH")])))
    if os.environ.get("VELARTO_PRELOAD"):
        env["LD_PRELOAD"] = os.environ["VELARTO_PRELOAD"]
    done = subprocess.run([sys.executable, "-c", SUBINTERPRETER_IMPORT, config],
                          capture_output=True, text=True, env=env)
    assert done.returncode == 0, done.stderr
    # An isolated interpreter (3.12+) refuses a single-phase module before the
    # init function runs; a legacy one runs it, and its guard refuses.
    if config == "legacy" or sys.version_info < (3, 12):
        assert "one interpreter per process only" in done.stdout, done.stdout
    else:
        assert "ImportError" in done.stdout, done.stdout
