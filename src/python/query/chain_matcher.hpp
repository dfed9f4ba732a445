// The depth-first chain search, shared by the match (path_matcher.cpp) and the
// counted matches (chain_count.cpp): its places, the candidates of a hop, and
// the matcher. Private to the query layer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "classes.hpp"
#include "interrupts.hpp"
#include "path_pattern.hpp"
#include "query/anchor_plan.hpp"
#include "query/edge_topology.hpp"
#include "query/path_matcher.hpp"

namespace velarto::py::query {

// Named rather than anonymous: ChainMatcher, declared in path_matcher.hpp, holds these.
namespace chain_search {

enum class Direction { Forward, Backward, Any };

inline Direction direction_of(const EdgePatternValue& pattern) {
    if (pattern.direction == "backward") return Direction::Backward;
    if (pattern.direction == "any") return Direction::Any;
    return Direction::Forward;
}

// One edge taken in one orientation.
struct Step {
    std::uint32_t edge;
    bool reversed;
};

// The candidates of one hop from one node: the edges leaving it (forward),
// entering it (backward) or both merged in dict order (undirected, a
// self-loop once), or steps a plan listed. Walks the lists in place; nothing
// is copied.
class HopCandidates {
public:
    HopCandidates(Direction direction, EdgeSpan starting, EdgeSpan ending)
        : direction_(direction), starting_(starting), ending_(ending) {}
    HopCandidates(const Step* listed, std::size_t size) : listed_(listed), listed_size_(size) {}

    bool next(Step& out) {
        if (listed_) {
            if (a_ == listed_size_) return false;
            out = listed_[a_++];
            return true;
        }
        const std::size_t a_end = starting_.size, b_end = ending_.size;
        const std::uint32_t* a = starting_.begin;
        const std::uint32_t* b = ending_.begin;
        if (direction_ == Direction::Forward) {
            if (a_ == a_end) return false;
            out = {a[a_++], false};
            return true;
        }
        if (direction_ == Direction::Backward) {
            if (b_ == b_end) return false;
            out = {b[b_++], true};
            return true;
        }
        if (a_ == a_end && b_ == b_end) return false;
        if (b_ == b_end || (a_ < a_end && a[a_] < b[b_])) {
            out = {a[a_++], false};
        } else if (a_ == a_end || b[b_] < a[a_]) {
            out = {b[b_++], true};
        } else { // in both lists: a self-loop, taken once
            out = {a[a_++], false};
            ++b_;
        }
        return true;
    }

private:
    Direction direction_ = Direction::Forward;
    EdgeSpan starting_, ending_;
    const Step* listed_ = nullptr;
    std::size_t listed_size_ = 0;
    std::size_t a_ = 0, b_ = 0;
};

// One place in the depth-first search: at node `at` (its id in the edge
// index, -1 for a node with no edge), in segment `segment` (the edge pattern
// of that index) after `hops` of its hops.
struct Frame {
    std::size_t segment;
    std::uint32_t hops;
    const NodeValue* at;
    bool owns_step;      // made by taking a hop: popping it gives the edge back
    bool may_extend;     // false for the zero-length chains of a leading range
    std::int64_t at_id;
    bool advanced = false;
    HopCandidates candidates{Direction::Forward, {}, {}};
};

} // namespace chain_search

using chain_search::Direction;
using chain_search::direction_of;
using chain_search::Frame;
using chain_search::HopCandidates;
using chain_search::Step;

class ChainMatcher {
public:
    ChainMatcher(QueryState& state, const PathPatternValue& path)
        : path_(path), edges_dict_(state.graph.edges.get()), nodes_dict_(state.graph.nodes.get()),
          held_dict_(Ref::borrow(edges_dict_)) {
        watch_.emplace(edges_dict_);
        prepare();
    }

    // Listing the rows of a counted match later, over the edge values as
    // they were then (`values`, in the dict's order then): no dict, no
    // Python code, nothing that can fail but memory.
    ChainMatcher(const PathPatternValue& path, std::shared_ptr<EdgeTopology> topology, std::vector<const EdgeValue*> values)
        : path_(path), frozen_(true) {
        prepare();
        topology_ = std::move(topology);
        values_ = std::move(values);
        used_.assign(values_.size(), 0);
        loaded_ = true;
    }

private:
    // What both ways of making a matcher need: the hops of each segment and
    // what the rest of the pattern still needs from each one.
    void prepare() {
        runs_python_ = has_property_maps(path_);
        min_.resize(path_.edges.size());
        max_.resize(path_.edges.size());
        for (std::size_t s = 0; s < path_.edges.size(); ++s) written_hops(s);
        const std::size_t segments = path_.edges.size();
        needed_after_.assign(segments + 1, 0);
        direction_from_.assign(segments + 1, Direction::Any);
        for (std::size_t s = segments; s-- > 0;) {
            needed_after_[s] = needed_after_[s + 1] + min_[s];
            Direction direction = direction_of(path_.edges[s]);
            bool same = s + 1 == segments || direction_from_[s + 1] == direction;
            direction_from_[s] = same ? direction : Direction::Any;
        }
        // The search's stack holds a frame per hop and per segment begun:
        // sized for the hops every chain takes. Grown by doubling, a long
        // path's stack went through a dozen copies, and the freed blocks made
        // the allocator hand memory back to the system, to be faulted in
        // again on the next run.
        std::size_t depth = segments + 1 + needed_after_[0];
        const std::size_t reserved = std::min<std::size_t>(depth, kReservedFrames);
        frames_.reserve(reserved);
        chain_.reserve(reserved);
    }
    static constexpr std::size_t kReservedFrames = std::size_t{1} << 16;

public:
    // A node variable written at several places binds one node (by uid) at
    // all of them; with `edges`, an edge variable written twice matches
    // nothing, since no edge is used twice (a probe decides that per row).
    // Every shape but the two-node match of one fixed edge, whose later
    // place wins, asks for this before it runs.
    void join_repeated_variables(bool edges = true);
    bool joins_variables() const { return joined_; }

    bool run();
    // Where the pattern allows, counts the chains without listing them and
    // returns a table that lists them when first read (nullptr otherwise, or
    // on failure, with the exception set: check PyErr_Occurred).
    std::shared_ptr<ChainTable> counted_table();
    // A listed table reads the edges' values from the objects (see ChainTable).
    void give_edges_to_table() {
        if (chains) chains->hold_edge_objects(std::move(edges_));
    }

    // Probing (exists()): stop at the first chain, recording nothing; with an
    // anchor, chains start at the anchor only; segments that `fixed` fixes
    // (held by reference, narrowed between runs) take exactly its edges.
    bool probing = false;
    const NodeValue* anchor = nullptr;
    const std::vector<FixedSegment>* fixed = nullptr;
    bool found = false;
    // Listing a counted table: whether signals are checked.
    bool interruptible = false;
    // Matching: stop once this many chains are recorded, where no Python code
    // runs (so nobody can tell the rest was never looked at).
    std::size_t cap = SIZE_MAX;
    std::size_t recorded = 0;

    // Starts the search from these nodes of `topology` (the dict's current
    // one) instead of every edge (anchor_plan.hpp).
    void start_from(std::shared_ptr<EdgeTopology> topology, Anchors anchors);
    // After a failed run, with no exception set: Python code it ran wrote
    // properties, so the anchors may have left out nodes that match now; the
    // match is to be made again by a scan.
    bool restarting() const { return restart_; }

    // What the chains bind: with fixed hops and no Python code to watch, one
    // shared table (`chains`); otherwise a list per place.
    std::shared_ptr<ChainTable> chains;
    std::vector<ResultList> node_lists;
    std::vector<ResultList> edge_lists;

private:
    bool load_edges();
    bool reload_edges();
    void plan_anchored_steps();
    bool anchored_first_hops();
    // The edge at `index`, held for the rest of the run before it is read
    // (an anchored run holds only what it meets).
    void hold(std::uint32_t index) {
        if (lazy_) met_.push_back(Ref::borrow(topology_->edges[index]));
    }
    bool used(std::uint32_t edge_index) const {
        if (!linear_used_) return used_[edge_index];
        return std::any_of(chain_.begin(), chain_.end(), [&](const Step& step) { return step.edge == edge_index; });
    }
    void set_used(std::uint32_t edge_index, std::uint8_t value) {
        if (!linear_used_) used_[edge_index] = value;
    }
    // The node an earlier place holds, when `place` shares its variable and
    // that place is already bound (`before`: the place the search is at).
    const NodeValue* joined_node(std::size_t place, std::size_t before) const;
    HopCandidates closing_candidates(std::size_t segment, std::uint32_t from);
    HopCandidates narrowed_candidates(std::size_t segment, std::uint32_t from, const NodeValue& target);
    void written_hops(std::size_t segment) {
        const EdgePatternValue& edge = path_.edges[segment];
        min_[segment] = edge.range ? edge.range->min : 1;
        max_[segment] = edge.range ? edge.range->max.value_or(UINT32_MAX) : 1;
    }
    void apply_fixed();
    // Whether hop `hops` of `segment` may be `step`: always, unless the
    // segment is fixed to a list of edges.
    bool fits_fixed(std::size_t segment, std::uint32_t hops, const Step& step) const {
        if (!fixed || !(*fixed)[segment].fixed) return true;
        return edge(step.edge).digest() == (*fixed)[segment].edges[hops];
    }
    // Gives back the edges the chain holds: a search can end mid-chain.
    void release_chain() {
        for (const Step& held : chain_) set_used(held.edge, 0);
        chain_.clear();
    }
    bool zero_length_starts();
    HopCandidates candidates_from(std::size_t segment, std::int64_t from);
    // The id of the node a step arrives at, read from the index (no hashing).
    std::int64_t id_to(const Step& step) const {
        const EdgeIndex& index = topology_->index;
        return step.reversed ? index.start_id(step.edge) : index.end_id(step.edge);
    }
    std::int64_t id_of(const NodeValue& node) const { return topology_->index.id_of(node.type->digest()); }
    int accepts(const NodePatternValue& pattern, const NodeValue& node); // 1, 0, -1 (error)
    int take_first(const Step& step);                                    // 1 taken, 0 refused, -1
    bool search(Frame first);
    bool cannot_finish(std::size_t segment, std::uint32_t hops, std::int64_t at);
    bool first_hop(const Step& step);
    void record_chain();
    void record_steps();

    const EdgeValue& edge(std::uint32_t index) const {
        return lazy_ ? reinterpret_cast<EdgeObject*>(topology_->edges[index])->value.read() : *values_[index];
    }
    bool tick() {
        if (frozen_ && !interruptible) return true;
        if (!signals_.tick()) return false;
        // A handler may have changed the dict: an anchored run reads edges
        // it does not hold yet, so it stops there.
        return !lazy_ || !signals_.just_checked() || watch_->unchanged();
    }
    bool matches_nothing() const;
    // After a test that may have run Python code: false when the edge dict
    // changed (RuntimeError set) or, in an anchored run, properties were
    // written (no exception: the match is made again by a scan).
    bool readable_after_python() {
        if (!runs_python_) return true;
        if (!watch_->unchanged()) return false;
        if (!lazy_ || writes_->quiet()) return true;
        restart_ = true;
        return false;
    }
    // Whether `node`, reached at `place`, is the node of the earlier place
    // that shares its variable (always, when none does).
    bool same_as_earlier(std::size_t place, const NodeValue& node) const {
        if (same_place_.empty() || same_place_[place] < 0) return true;
        const auto earlier = static_cast<std::size_t>(same_place_[place]);
        const NodeValue& first = earlier == 0 ? *start_ : *segment_end_[earlier - 1];
        return first.type->digest() == node.type->digest();
    }
    bool tables_fit() const;
    const NodeValue& from_node(const Step& step) const {
        const EdgeCore& parts = *edge(step.edge).core;
        return step.reversed ? parts.end : parts.start;
    }
    const NodeValue& to_node(const Step& step) const {
        const EdgeCore& parts = *edge(step.edge).core;
        return step.reversed ? parts.start : parts.end;
    }

    const PathPatternValue& path_;
    PyObject* edges_dict_ = nullptr;
    PyObject* nodes_dict_ = nullptr;
    Ref held_dict_;
    std::optional<DictWatch> watch_;
    bool frozen_ = false;
    bool runs_python_;
    std::vector<std::uint32_t> min_, max_; // hops per segment; a fixed edge is 1..1, a fixed list its length
    // From segment s on: the fewest hops still needed, and the one direction
    // they all take (Any when they differ); the longest walks per direction.
    std::vector<std::uint64_t> needed_after_;
    std::vector<Direction> direction_from_;
    // The edge dict's values, in its order, held for the whole run, and their
    // index (kept between runs while the dict is unchanged).
    std::vector<Ref> edges_;
    std::vector<const EdgeValue*> values_; // the value of each, read in place
    std::shared_ptr<EdgeTopology> topology_;
    SignalCheck signals_;
    bool loaded_ = false;
    // The chain so far: its hops, which edges it uses (by position in
    // edges_, so the no-edge-twice test is O(1)), where each segment's hops
    // begin in it, and the node each segment ended at.
    std::vector<Step> chain_;
    std::vector<std::uint8_t> used_;
    std::vector<std::size_t> segment_begin_;
    std::vector<const NodeValue*> segment_end_;
    const NodeValue* start_ = nullptr;
    std::vector<Frame> frames_;
    // Joined variables: per node place, the first place with its variable
    // (-1: none earlier, or not joined); whether an edge variable repeats.
    bool joined_ = false;
    std::vector<std::int32_t> same_place_;
    bool edge_repeats_ = false;
    // An anchored run: the edges it met (held), whether edge use is tested on
    // the chain itself (short chains: no table as long as the edges), the
    // property writes it watches and whether they asked for a scan, its
    // first hops, and per segment before the anchor place the steps each node
    // may take toward it, in dict order.
    bool lazy_ = false;
    bool linear_used_ = false;
    std::optional<PropertyWrites> writes_;
    bool restart_ = false;
    std::optional<Anchors> anchors_;
    std::vector<Ref> met_;
    std::vector<Step> first_steps_;
    std::vector<std::unordered_map<std::uint32_t, std::vector<Step>>> toward_anchor_;
    // Per segment, the steps a closing cycle narrowed a hop to.
    std::vector<std::vector<Step>> listed_;
};

} // namespace velarto::py::query
