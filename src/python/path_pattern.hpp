// Path patterns: node and edge patterns in order, built by hand or parsed
// from a pattern string.
#pragma once

#include <Python.h>

#include <vector>

#include "patterns.hpp"

namespace velarto::py {

struct PathPatternValue {
    std::vector<NodePatternValue> nodes;
    std::vector<EdgePatternValue> edges;
};

struct PathPatternObject {
    PyObject_HEAD
    PathPatternValue value;
};

// Parses a Python str into a path; false with ValueError (or the encoding
// error) set on failure.
bool parse_path(PyObject* text, PathPatternValue& out);

// Parses a path for `create` or `merge` (`verb`): every node pattern is made
// concrete (its schema names one type, which becomes its exact type) or is
// a bare variable to reuse; every edge pattern gets the term its variable and
// concrete type name. A part that is neither raises ValueError
// "Invalid query: cannot <verb> ..." quoting the part.
bool parse_writable_path(PyObject* text, const char* verb, PathPatternValue& out);

// Whether some property map of the path reads a parameter (`{name: $who}`).
bool reads_parameters(const PathPatternValue& path);
// Whether some node or edge pattern of `path` has a property map (whose
// tests run Python code: a property's `==`).
bool has_property_maps(const PathPatternValue& path);
// Gives every such property the parameter's value from `params` (a dict, or
// nullptr for none), in a copy that a run uses; false with ValueError
// "Invalid query: parameter $x has no value" set for a missing one.
bool with_parameters(PathPatternValue& path, PyObject* params);

// New lists of new NodePattern / EdgePattern objects for a path's parts.
PyObject* node_patterns_to_python(const std::vector<NodePatternValue>& nodes);
PyObject* edge_patterns_to_python(const std::vector<EdgePatternValue>& edges);

} // namespace velarto::py
