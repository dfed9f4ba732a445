// Counting the chains of a one- or two-hop path without listing them.
#pragma once

#include <cstddef>
#include <vector>

#include "query/edge_index.hpp"
#include "query/path_matcher.hpp"

namespace velarto::py::query {

// The number of chains of `path` (one or two fixed hops, no property maps)
// over `edges` (the values at the index's positions), counted as the search
// would find them: a hop in each written direction, an undirected self-loop
// once, no edge twice in a chain.
std::size_t count_chains(const PathPatternValue& path, const EdgeIndex& index, const std::vector<const EdgeValue*>& edges);

} // namespace velarto::py::query
