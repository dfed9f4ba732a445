// Where a chain search starts: the plan of a match.
//
// A search that scans every edge costs a pass over the edge dict however few
// chains it finds. When a node place of the path is selective, the search
// starts from that place's nodes instead and walks the kept edge index
// outward, costing what it walks. A place is selective through
// - a type label naming one exact type (one node at most: a node is a type),
// - a property map whose value the kept property index can judge, or
// - the `where` right after the match, when its condition is, or begins with
//   (`... AND ...`), `x.key = v`, `x.key IN [...]`, `uid(x) = v` or
//   `type(x) = v` for a node variable x of the path and a literal or
//   parameter v. The condition still runs after the match; the plan only
//   drops rows for which that first test is false, which AND does not read
//   further. A test that is null (a missing key) lets AND read on, so when
//   more tests follow, the nodes missing the key are kept as well.
// The anchors are a superset of the nodes that can stand at the place: the
// search still tests each one in full.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "path_pattern.hpp"
#include "query/bindings.hpp"

namespace velarto::py::query {

struct EdgeTopology;
struct NodeTable;
struct Condition;

struct Anchors {
    std::size_t place = 0;
    std::vector<std::uint32_t> ids; // node ids of the edge index, ascending, distinct
};

// The `where` that directly follows a match whose variables are all the
// binding table holds (so dropping rows of the match drops the same rows of
// the table), with the query's parameters (borrowed, may be null).
struct FollowingWhere {
    const Condition* condition = nullptr;
    PyObject* params = nullptr;
};

// The `where` after a match, when the binding table holds only variables
// the match binds (`binds(name)`); else none.
template <class Binds>
FollowingWhere narrowing_where(const Bindings& bindings, PyObject* params, const Condition* where, Binds binds) {
    if (!where) return {};
    for (const auto& entry : bindings.entries()) {
        if (!binds(entry.first)) return {};
    }
    return FollowingWhere{where, params};
}

// Whether `choose_nodes` may narrow a node match: a property map with a
// value an index can judge, or a pushed test of the where on its variable.
bool may_narrow_nodes(const NodePatternValue& pattern, const FollowingWhere& where);

// The positions of the nodes of `table` that a node match's property map,
// or the first test of the where after it, leaves (a superset of those it
// accepts, ascending), or nothing when neither narrows the scan enough to
// beat it. Runs no Python code and raises nothing.
std::optional<std::vector<std::uint32_t>> choose_nodes(const NodePatternValue& pattern, NodeTable& table,
                                                       const FollowingWhere& where);

// The most selective place of `path` a search can start from, or nothing.
// A place after the first needs fixed hops before it (the search walks back
// to the first place from it). `later_place_wins`: a variable written twice
// binds its last place (the two-node match of one fixed edge). Runs no
// Python code and raises nothing.
std::optional<Anchors> choose_anchors(const PathPatternValue& path, EdgeTopology& topology, const FollowingWhere& where,
                                      bool later_place_wins);

} // namespace velarto::py::query
