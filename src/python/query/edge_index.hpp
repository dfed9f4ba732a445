// Per-run indexes of the edges by start node and by end node.
//
// A chain search asks, at each node, for the edges leaving or entering it,
// in edge-dict order. Nodes are keyed by the digest of their type (two nodes
// have equal uids exactly when their types do). The index gives every
// distinct node a dense id through one open-addressing table (a digest is a
// SHA-256 value, so its first eight bytes are already a good hash), then
// sorts the edge positions by start id and by end id with a counting sort:
// two flat arrays and their offsets, built in O(edges) with a handful of
// allocations, and walked in place by the search. Counting sort is stable,
// so each node's edges stay in dict order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "core/type.hpp"

namespace velarto::py::query {

// A run of edge positions, in dict order.
struct EdgeSpan {
    const std::uint32_t* begin = nullptr;
    std::size_t size = 0;
};

class EdgeIndex {
public:
    // `start(i)` and `end(i)` give the digests of edge i's end points.
    template <class StartOf, class EndOf>
    void build(std::size_t edges, StartOf start, EndOf end) {
        // Sized by the nodes as they come, not by the edges: a graph has far
        // fewer nodes than edges as a rule, and the table is most of the index.
        slots_.assign(16, Slot{});
        start_ids_.resize(edges);
        end_ids_.resize(edges);
        for (std::size_t i = 0; i < edges; ++i) {
            start_ids_[i] = intern(start(i));
            end_ids_[i] = intern(end(i));
        }
        sort(start_ids_, by_start_offsets_, by_start_);
        sort(end_ids_, by_end_offsets_, by_end_);
    }

    static constexpr std::uint32_t kUnbounded = UINT32_MAX;

    // The dense id of a node, or -1 for a node with no edge.
    std::int64_t id_of(const core::Digest& node) const {
        if (slots_.empty()) return -1;
        const Slot& slot = find(node, key_of(node));
        return slot.digest ? static_cast<std::int64_t>(slot.id) : -1;
    }

    // Per node id, the most hops of any walk from it along the edges
    // (`forward`) or against them, or kUnbounded when a walk can reach a
    // cycle. An upper bound on every chain from the node, found in O(edges)
    // by peeling nodes whose remaining out-edges (in-edges) are all peeled.
    std::vector<std::uint32_t> longest_walks(bool forward) const {
        const std::vector<std::uint32_t>& from = forward ? start_ids_ : end_ids_;
        // Edges arriving at a node in the walk's direction, to step back along.
        const std::vector<std::uint32_t>& arriving_offsets = forward ? by_end_offsets_ : by_start_offsets_;
        const std::vector<std::uint32_t>& arriving = forward ? by_end_ : by_start_;
        std::vector<std::uint32_t> leaving(ids_, 0), longest(ids_, 0);
        for (std::uint32_t node : from) ++leaving[node];
        std::vector<std::uint32_t> ready;
        for (std::uint32_t node = 0; node < ids_; ++node) {
            if (leaving[node] == 0) ready.push_back(node);
        }
        std::vector<std::uint8_t> peeled(ids_, 0);
        while (!ready.empty()) {
            std::uint32_t node = ready.back();
            ready.pop_back();
            peeled[node] = 1;
            for (std::uint32_t k = arriving_offsets[node]; k < arriving_offsets[node + 1]; ++k) {
                std::uint32_t edge = arriving[k];
                std::uint32_t previous = from[edge];
                longest[previous] = std::max(longest[previous], longest[node] + 1);
                if (--leaving[previous] == 0) ready.push_back(previous);
            }
        }
        for (std::uint32_t node = 0; node < ids_; ++node) {
            if (!peeled[node]) longest[node] = kUnbounded;
        }
        return longest;
    }

    // Dense ids: of every node with an edge, and of edge i's end points.
    std::uint32_t node_count() const { return ids_; }
    std::uint32_t start_id(std::size_t edge) const { return start_ids_[edge]; }
    std::uint32_t end_id(std::size_t edge) const { return end_ids_[edge]; }

    // The same, by the node's id (no hashing): what a search walking from
    // edge to edge has at hand.
    EdgeSpan starting_at_id(std::uint32_t id) const { return span_of(id, by_start_offsets_, by_start_); }
    EdgeSpan ending_at_id(std::uint32_t id) const { return span_of(id, by_end_offsets_, by_end_); }

    // Where node `id`'s runs begin in the by-start and by-end orders (and in
    // the orders below, which share their runs).
    std::uint32_t starting_offset(std::uint32_t id) const { return by_start_offsets_[id]; }
    std::uint32_t ending_offset(std::uint32_t id) const { return by_end_offsets_[id]; }

    // Each node's out-edges ordered by end node, and its in-edges by start
    // node, each in dict order among the edges between the same two nodes;
    // `ids` gets the node at the other end of each. O(edges): the edges in
    // end order (start order), dealt into the start (end) runs, keep that
    // order within each run.
    void out_by_end(std::vector<std::uint32_t>& edges, std::vector<std::uint32_t>& ids) const {
        deal(by_end_, start_ids_, by_start_offsets_, end_ids_, edges, ids);
    }
    void in_by_start(std::vector<std::uint32_t>& edges, std::vector<std::uint32_t>& ids) const {
        deal(by_start_, end_ids_, by_end_offsets_, start_ids_, edges, ids);
    }

    EdgeSpan starting_at(const core::Digest& node) const { return span(node, by_start_offsets_, by_start_); }
    EdgeSpan ending_at(const core::Digest& node) const { return span(node, by_end_offsets_, by_end_); }

    // The memory the index holds.
    std::size_t bytes() const {
        std::size_t words = 0;
        for (const auto* v : {&start_ids_, &end_ids_, &by_start_offsets_, &by_start_, &by_end_offsets_, &by_end_})
            words += v->capacity();
        return slots_.capacity() * sizeof(Slot) + words * sizeof(std::uint32_t);
    }

private:
    struct Slot {
        std::uint64_t key = 0;
        const core::Digest* digest = nullptr; // empty when null
        std::uint32_t id = 0;
    };

    static std::uint64_t key_of(const core::Digest& digest) {
        std::uint64_t key;
        std::memcpy(&key, digest.data(), sizeof key);
        return key;
    }

    // The slot of a digest: its own, or the empty one where it would go.
    const Slot& find(const core::Digest& digest, std::uint64_t key) const {
        std::size_t mask = slots_.size() - 1;
        for (std::size_t at = static_cast<std::size_t>(key) & mask;; at = (at + 1) & mask) {
            const Slot& slot = slots_[at];
            if (!slot.digest || (slot.key == key && *slot.digest == digest)) return slot;
        }
    }

    std::uint32_t intern(const core::Digest& digest) {
        std::uint64_t key = key_of(digest);
        Slot* slot = &const_cast<Slot&>(find(digest, key));
        if (slot->digest) return slot->id;
        if (2 * (static_cast<std::size_t>(ids_) + 1) > slots_.size()) { // at most half full
            grow();
            slot = &const_cast<Slot&>(find(digest, key));
        }
        *slot = Slot{key, &digest, ids_++};
        return slot->id;
    }

    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (const Slot& kept : old) {
            if (!kept.digest) continue;
            std::size_t at = static_cast<std::size_t>(kept.key) & mask;
            while (slots_[at].digest) at = (at + 1) & mask;
            slots_[at] = kept;
        }
    }

    void sort(const std::vector<std::uint32_t>& ids, std::vector<std::uint32_t>& offsets,
              std::vector<std::uint32_t>& out) {
        offsets.assign(ids_ + 1, 0);
        for (std::uint32_t id : ids) ++offsets[id + 1];
        for (std::uint32_t id = 0; id < ids_; ++id) offsets[id + 1] += offsets[id];
        out.resize(ids.size());
        std::vector<std::uint32_t> next(offsets.begin(), offsets.end() - 1);
        for (std::uint32_t i = 0; i < ids.size(); ++i) out[next[ids[i]]++] = i;
    }

    void deal(const std::vector<std::uint32_t>& ordered, const std::vector<std::uint32_t>& run_of,
              const std::vector<std::uint32_t>& offsets, const std::vector<std::uint32_t>& other_end,
              std::vector<std::uint32_t>& edges, std::vector<std::uint32_t>& ids) const {
        edges.resize(ordered.size());
        ids.resize(ordered.size());
        std::vector<std::uint32_t> next(offsets.begin(), offsets.end() - 1);
        for (std::uint32_t edge : ordered) {
            const std::uint32_t at = next[run_of[edge]]++;
            edges[at] = edge;
            ids[at] = other_end[edge];
        }
    }

    EdgeSpan span(const core::Digest& node, const std::vector<std::uint32_t>& offsets,
                  const std::vector<std::uint32_t>& edges) const {
        if (slots_.empty()) return {};
        const Slot& slot = find(node, key_of(node));
        if (!slot.digest) return {};
        return span_of(slot.id, offsets, edges);
    }

    static EdgeSpan span_of(std::uint32_t id, const std::vector<std::uint32_t>& offsets,
                            const std::vector<std::uint32_t>& edges) {
        return {edges.data() + offsets[id], offsets[id + 1] - offsets[id]};
    }

    std::vector<Slot> slots_;
    std::uint32_t ids_ = 0;
    std::vector<std::uint32_t> start_ids_, end_ids_; // per edge position
    std::vector<std::uint32_t> by_start_offsets_, by_start_, by_end_offsets_, by_end_;
};

} // namespace velarto::py::query
