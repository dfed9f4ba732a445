// The scan of node candidates shared by the match and merge steps.
#pragma once

#include "interrupts.hpp"
#include "node_lookahead.hpp"
#include "query/query_state.hpp"

namespace velarto::py::query {

template <class Visit>
bool for_each_accepted_node(PyObject* nodes, const NodePatternValue& pattern, Visit&& visit, bool copies) {
    auto test = [&](const NodeValue& node, PyObject* object, bool& stop) {
        MatchResult result = node_matches(pattern, node);
        if (result == MatchResult::Error) return false;
        if (result == MatchResult::Match && !visit(node, object)) stop = true;
        return true;
    };
    bool stop = false;
    if (pattern.type_obj) {
        std::vector<NodeValue> candidates; // copies: Python code may change the dict
        if (!get_nodes_by_type(nodes, *pattern.type_obj, candidates)) return false;
        SignalCheck signals;
        for (const NodeValue& node : candidates) {
            if (!signals.tick() || !test(node, nullptr, stop)) return false;
            if (stop) break;
        }
        return true;
    }
    Ref held = Ref::borrow(nodes);
    DictWatch watch(nodes);
    // Only required properties run Python code (their `==`); without them the
    // stored value is tested in place and copied only when accepted, which
    // keeps the scan from touching the type and dict of every rejected node.
    const bool runs_python = !pattern.properties.empty();
    const bool schema = pattern.type_schema.has_value();
    // A schema of one exact type compares the type's digest; others walk the
    // type, reading its name too.
    const bool walks_type = schema && !pattern.type_schema->tree().exact_type();
    const bool copies_all = copies && !schema && !runs_python; // a copy counts the type and the dict
    NodeLookahead entries(nodes, {.type = schema || copies_all, .type_name = walks_type,
                                  .properties = runs_python || copies_all, .table = runs_python});
    while (PyObject* value = entries.next()) {
        const NodeValue* stored = node_value(value);
        if (!stored) return false;
        if (!runs_python) {
            if (!test(*stored, value, stop)) return false;
            if (stop) break;
            continue;
        }
        Ref node_object = Ref::borrow(value); // held while `==` runs Python code
        if (!test(*stored, value, stop)) return false;
        if (stop) break;
        if (!watch.unchanged()) return false;
    }
    return !entries.failed();
}

} // namespace velarto::py::query
