// Node and edge values and their Python classes.
//
// A node value is a shared type plus an owned reference to a properties dict;
// an edge value shares an immutable core (term, start node, end node, and the
// edge's digest once computed) plus its own properties reference. Copying
// either copies references, never dicts: a copy sees writes into the same
// properties dict, while assigning a new dict to one holder leaves the other.
#pragma once

#include <Python.h>

#include <memory>

#include "core/term.hpp"
#include "core/type.hpp"
#include "ref.hpp"

namespace velarto::py {

struct NodeValue {
    core::TypeRef type;
    Ref properties;

    const core::Digest& digest() const; // SHA-256 of "node:" + uid(type), kept by the type
};

struct EdgeCore {
    core::Term term;
    NodeValue start;
    NodeValue end;
    mutable core::Digest edge_digest{}; // all zeros until computed

    const core::Digest& digest() const; // SHA-256 of "edge:" + uid(term)
};

struct EdgeValue {
    std::shared_ptr<const EdgeCore> core;
    Ref properties;

    const core::Digest& digest() const { return core->digest(); }
};

struct NodeObject {
    PyObject_HEAD
    NodeValue value;
};

struct EdgeObject {
    PyObject_HEAD
    EdgeValue value;
};

PyObject* node_to_python(const NodeValue& node);
PyObject* edge_to_python(const EdgeValue& edge);

// Borrowed access to the value inside an object of the exact class, or
// nullptr with the conversion TypeError set.
const NodeValue* node_value(PyObject* object);
const EdgeValue* edge_value(PyObject* object);

// Uid texts.
PyObject* node_uid_to_python(const NodeValue& node);
PyObject* edge_uid_to_python(const EdgeValue& edge);

} // namespace velarto::py
