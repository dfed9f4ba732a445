// Node and edge patterns: the values that match, create and merge steps hold,
// and the test of a node against a node pattern.
//
// Patterns are values: copying one copies its texts and its property list
// and shares the type, the term's type and the property value objects.
#pragma once

#include <Python.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/pattern_map.hpp"
#include "core/term.hpp"
#include "core/type.hpp"
#include "graph_elements.hpp"
#include "ref.hpp"
#include "type_schema.hpp"

namespace velarto::py {

// Required properties: text key (also kept as an exact str for look-ups) and
// the required value object. A value written `$name` in a pattern string has
// the parameter's name instead, and its value only in the copy of the
// pattern that a run makes (`with_parameters`).
struct RequiredProperty {
    std::string key;
    Ref python_key;
    Ref value;
    Ref parameter; // an interned str, or empty
};
using RequiredProperties = std::vector<RequiredProperty>;

struct NodePatternValue {
    std::optional<std::string> variable;
    core::TypeRef type_obj; // empty when absent
    std::optional<Schema> type_schema;
    RequiredProperties properties;
};

struct EdgePatternValue {
    std::optional<std::string> variable;
    std::optional<core::Term> term;
    std::optional<Schema> term_type_schema;
    RequiredProperties properties;
    std::string direction = "forward";
    std::optional<core::HopRange> range; // a variable-length edge (pattern strings only)
};

struct NodePatternObject {
    PyObject_HEAD
    NodePatternValue value;
};

struct EdgePatternObject {
    PyObject_HEAD
    EdgePatternValue value;
};

enum class MatchResult { Match, NoMatch, Error };

// Type, then schema, then each required property by Python `==` with the
// stored value on the left. A failing look-up is a mismatch; an exception
// from `==` or its truth value is an Error (left set).
MatchResult node_matches(const NodePatternValue& pattern, const NodeValue& node);
// The same property test, on any properties dict (edges use it too).
MatchResult properties_match(const RequiredProperties& required, PyObject* properties);

// Pattern construction from Python arguments, in the checking order of the
// constructors; the query builder uses these too. Arguments are borrowed and
// may be nullptr (left out). Return false with an exception set on failure.
bool build_node_pattern(PyObject* variable, PyObject* type, PyObject* type_schema,
                        PyObject* properties, NodePatternValue& out, const char* function);
bool build_edge_pattern(PyObject* variable, PyObject* term, PyObject* term_type_schema,
                        PyObject* properties, PyObject* direction, EdgePatternValue& out,
                        const char* function);

PyObject* node_pattern_to_python(const NodePatternValue& pattern);
PyObject* edge_pattern_to_python(const EdgePatternValue& pattern);

} // namespace velarto::py
