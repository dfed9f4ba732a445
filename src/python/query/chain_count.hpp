// Counting the chains of a one- or two-hop path without listing them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "query/edge_topology.hpp"
#include "query/path_matcher.hpp"

namespace velarto::py::query {

// The number of chains of `path` (one or two fixed hops, no property maps)
// over `edges` (the values at the index's positions), counted as the search
// would find them: a hop in each written direction, an undirected self-loop
// once, no edge twice in a chain. `same_place` (empty, or one entry per node
// place) gives the first place that must hold the same node, or -1.
std::size_t count_chains(const PathPatternValue& path, EdgeTopology& topology, const std::vector<const EdgeValue*>& edges,
                         const std::vector<std::int32_t>& same_place);

} // namespace velarto::py::query
