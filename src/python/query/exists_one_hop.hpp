// exists() of one edge with one end fixed: `(p)-[:likes]->()` on every row.
//
// Searched row by row, each probe looks p up in the edge index and tests its
// edges, all in random places in memory, and a graph of a million edges pays
// that on every row. Instead, one pass over the edges in dict order (where
// they lie in memory) marks, per node id of the index, whether some edge of
// the pattern, in an orientation the direction allows, leads from that node
// to a node the other end accepts. A row then costs an id lookup and a test
// of its node against its own end's pattern.
//
// Only for patterns without property maps: then no Python code runs in the
// pass, the answer depends on types, terms and structure alone (all of them
// fixed while the edge dict is unchanged), and the marks stand until the
// dict's version changes. The marks for each end are made when a row first
// fixes that end. A row that fixes both ends, the edge, or something that is
// no node, goes the general way.
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "path_pattern.hpp"
#include "query/edge_topology.hpp"

namespace velarto::py::query {

class OneHopMarks {
public:
    // Whether `pattern` has this shape: two nodes, one edge of one hop, no
    // property maps.
    static bool fits(const PathPatternValue& pattern);

    // `pattern` is held by reference; `edges` is the graph's edge dict
    // (borrowed: the query holds it).
    OneHopMarks(const PathPatternValue& pattern, PyObject* edges) : pattern_(pattern), edges_(edges) {}

    // Whether an edge of the pattern joins `anchor`, standing at node place
    // `place` (0 or 1), to a node the other place accepts. False with an
    // exception set on failure.
    bool test(std::size_t place, const NodeValue& anchor, bool& found);

private:
    bool refresh();
    bool mark(std::size_t place);

    const PathPatternValue& pattern_;
    PyObject* edges_;
    std::uint64_t version_ = 0; // of the edge dict when the topology was taken; 0: none kept
    std::shared_ptr<EdgeTopology> topology_;
    std::vector<std::uint8_t> marks_[2];
    bool marked_[2] = {false, false};
};

} // namespace velarto::py::query
