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

} // namespace velarto::py
