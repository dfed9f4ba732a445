// Per node, the most hops of any trail from it when directions are ignored: a
// bound for patterns whose edges go both ways, or some one way and some the
// other, where the walks along one direction give none.
//
// In a forest a trail is a simple path, and the longest path from a node of a
// tree is its eccentricity: the farther of its distances to the two ends of a
// diameter, found by three breadth-first passes per tree. A tree with a cycle
// (a self-loop and two edges between one pair of nodes count as one) gets no
// bound: trails there can go round.
#pragma once

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

#include "query/edge_index.hpp"

namespace velarto::py::query {

namespace trails {

// The root of a node's component, halving the path on the way.
inline std::uint32_t root_of(std::vector<std::uint32_t>& parent, std::uint32_t node) {
    while (parent[node] != node) node = parent[node] = parent[parent[node]];
    return node;
}

// Distances from `from` to every node of its tree (`seen` marks the tree's
// nodes already reached, and is reset for them on return); returns the
// farthest node and fills `order` with the tree's nodes.
template <class Neighbours>
std::uint32_t distances(std::uint32_t from, Neighbours&& neighbours, std::vector<std::uint32_t>& distance,
                        std::vector<std::uint8_t>& seen, std::vector<std::uint32_t>& order) {
    order.assign(1, from);
    seen[from] = 1;
    distance[from] = 0;
    std::uint32_t farthest = from;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::uint32_t node = order[k];
        if (distance[node] > distance[farthest]) farthest = node;
        neighbours(node, [&](std::uint32_t next) {
            if (seen[next]) return;
            seen[next] = 1;
            distance[next] = distance[node] + 1;
            order.push_back(next);
        });
    }
    for (std::uint32_t node : order) seen[node] = 0;
    return farthest;
}

} // namespace trails

inline std::vector<std::uint32_t> longest_trails(const EdgeIndex& index, std::size_t edges) {
    const std::uint32_t nodes = index.node_count();
    std::vector<std::uint32_t> parent(nodes);
    std::iota(parent.begin(), parent.end(), 0u);
    std::vector<std::uint8_t> cyclic(nodes, 0);
    for (std::size_t e = 0; e < edges; ++e) {
        std::uint32_t a = trails::root_of(parent, index.start_id(e)), b = trails::root_of(parent, index.end_id(e));
        if (a == b) {
            cyclic[a] = 1;
        } else {
            parent[b] = a;
            cyclic[a] |= cyclic[b];
        }
    }
    auto neighbours = [&](std::uint32_t node, auto&& visit) {
        EdgeSpan out = index.starting_at_id(node), in = index.ending_at_id(node);
        for (std::size_t k = 0; k < out.size; ++k) visit(index.end_id(out.begin[k]));
        for (std::size_t k = 0; k < in.size; ++k) visit(index.start_id(in.begin[k]));
    };
    std::vector<std::uint32_t> longest(nodes, EdgeIndex::kUnbounded), from_a(nodes), from_b(nodes), order;
    std::vector<std::uint8_t> seen(nodes, 0), done(nodes, 0);
    for (std::uint32_t node = 0; node < nodes; ++node) {
        if (done[node] || cyclic[trails::root_of(parent, node)]) continue;
        const std::uint32_t a = trails::distances(node, neighbours, from_a, seen, order);
        const std::uint32_t b = trails::distances(a, neighbours, from_a, seen, order);
        trails::distances(b, neighbours, from_b, seen, order);
        for (std::uint32_t member : order) {
            longest[member] = std::max(from_a[member], from_b[member]);
            done[member] = 1;
        }
    }
    return longest;
}

} // namespace velarto::py::query
