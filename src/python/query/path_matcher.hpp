// Matching of chains of edges: paths of n node patterns and n-1 edge patterns.
#pragma once

#include <memory>
#include <vector>

#include "query/query_state.hpp"

namespace velarto::py::query {

// Binds, by replacement and aligned, every chain e1 ... e(n-1) whose
// consecutive edges meet at the same node (by uid) in the written directions,
// whose nodes each node pattern accepts and which uses no edge twice. Chains
// come depth-first, each hop in the edge dict's order. A node variable
// written at several places holds one node at all of them, and an edge
// variable written twice matches nothing; only the two-node path of one
// fixed edge lets the later place win.
//
// `row_cap` is how many chains the rows after this step can keep (a `limit`
// right after the match): when the search runs no Python code, finding more
// could change nothing, so it stops there.
// `where`: the condition of a `where` right after the match, whose first
// test may narrow where the search starts (anchor_plan.hpp); may be null.
bool match_chains(QueryState& state, const PathPatternValue& path, std::size_t row_cap = SIZE_MAX,
                  const Condition* where = nullptr);

class ChainMatcher;

// The edges one segment of a probed path must take, by digest, in the path's
// order: a variable-length edge whose variable the row binds to an edge list.
struct FixedSegment {
    bool fixed = false;
    std::vector<core::Digest> edges;
};

// Existence tests of one path, repeated (exists() in conditions): the edge
// dict is loaded once and its indexes built once, and a test anchored at a
// node starts from that node's edges, so it costs O(degree) per hop instead
// of a scan. `path` and `fixed` (one entry per segment) are held by
// reference: they may be narrowed between tests (never the path's shape).
// An edge dict changed between tests is loaded again; a change during a
// test is a RuntimeError.
class ChainProbe {
public:
    ChainProbe(QueryState& state, const PathPatternValue& path, const std::vector<FixedSegment>& fixed);
    ~ChainProbe();
    // Whether some chain of the path exists whose first node is `anchor`
    // (any node when nullptr). False with an exception set on failure.
    bool exists(const NodeValue* anchor, bool& found);

private:
    std::unique_ptr<ChainMatcher> matcher_;
};

// The edge constraints of a pattern: term type schema, term, properties.
MatchResult edge_accepts(const EdgePatternValue& pattern, const EdgeValue& edge);

} // namespace velarto::py::query
