// Matching of chains of edges: paths of n node patterns and n-1 edge patterns.
#pragma once

#include "query/query_state.hpp"

namespace velarto::py::query {

// Binds, by replacement and aligned, every chain e1 ... e(n-1) whose
// consecutive edges meet at the same node (by uid) in the written directions,
// whose nodes each node pattern accepts and which uses no edge twice. Chains
// come depth-first, each hop in the edge dict's order.
bool match_chains(QueryState& state, PathPatternValue& path);

// The edge constraints of a pattern: term type schema, term, properties.
MatchResult edge_accepts(EdgePatternValue& pattern, const EdgeValue& edge);

} // namespace velarto::py::query
