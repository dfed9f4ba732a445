// Chains of edges, depth-first.
//
// The first hop scans the edge dict in its order (each edge forward, or
// backward, or both for an undirected pattern). Later hops start from the
// node the previous hop ended at and look its edges up in per-run indexes by
// start and by end node, built once on first need, so a run costs
// O(edges + results) rather than a nested scan. Nodes are keyed by the digest
// of their type: two nodes have equal uids exactly when their types do.
//
// An edge pattern with a range is a segment of min..max hops; a fixed edge is
// a segment of exactly one. The search is one explicit stack of places, so
// an unbounded range on a cycle-rich graph holds one frame per hop of the
// current chain (never more than the edges) and the results, and checks for
// Ctrl-C as it goes.
//
// Python code can run inside a hop (a property's `__eq__`): the matcher holds
// a strong reference to every edge of the dict for the whole run, so nothing
// it reads can be freed under it, and the edge dict is watched, so a change
// to it ends the scan with a RuntimeError.
#include "query/path_matcher.hpp"

#include <algorithm>
#include <memory>
#include <optional>

#include "classes.hpp"
#include "interrupts.hpp"
#include "query/chain_count.hpp"
#include "query/edge_topology.hpp"

namespace velarto::py::query {

// Named rather than anonymous: ChainMatcher, declared in the header, holds these.
namespace chain_search {

enum class Direction { Forward, Backward, Any };

Direction direction_of(const EdgePatternValue& pattern) {
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
// self-loop once). Walks the index lists in place; nothing is copied.
class HopCandidates {
public:
    HopCandidates(Direction direction, EdgeSpan starting, EdgeSpan ending)
        : direction_(direction), starting_(starting), ending_(ending) {}

    bool next(Step& out) {
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
    Direction direction_;
    EdgeSpan starting_, ending_;
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
    ChainMatcher(QueryState& state, PathPatternValue& path)
        : path_(path), edges_dict_(state.graph.edges.get()), nodes_dict_(state.graph.nodes.get()),
          held_dict_(Ref::borrow(edges_dict_)) {
        watch_.emplace(edges_dict_);
        prepare();
    }

    // Listing the rows of a counted match later, over the edge values as
    // they were then (`values`, in the dict's order then): no dict, no
    // Python code, nothing that can fail but memory.
    ChainMatcher(PathPatternValue& path, std::shared_ptr<EdgeTopology> topology, std::vector<const EdgeValue*> values)
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
        runs_python_ = false;
        for (const NodePatternValue& node : path_.nodes) runs_python_ |= !node.properties.empty();
        for (const EdgePatternValue& edge : path_.edges) runs_python_ |= !edge.properties.empty();
        for (const EdgePatternValue& edge : path_.edges) {
            min_.push_back(edge.range ? edge.range->min : 1);
            max_.push_back(edge.range ? edge.range->max.value_or(UINT32_MAX) : 1);
        }
        const std::size_t segments = path_.edges.size();
        needed_after_.assign(segments + 1, 0);
        direction_from_.assign(segments + 1, Direction::Any);
        for (std::size_t s = segments; s-- > 0;) {
            needed_after_[s] = needed_after_[s + 1] + min_[s];
            Direction direction = direction_of(path_.edges[s]);
            bool same = s + 1 == segments || direction_from_[s + 1] == direction;
            direction_from_[s] = same ? direction : Direction::Any;
        }
    }

public:
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
    // anchor, chains start at the anchor only.
    bool probing = false;
    const NodeValue* anchor = nullptr;
    bool found = false;
    // Listing a counted table: whether signals are checked.
    bool interruptible = false;
    // Matching: stop once this many chains are recorded, where no Python code
    // runs (so nobody can tell the rest was never looked at).
    std::size_t cap = SIZE_MAX;
    std::size_t recorded = 0;

    // What the chains bind: with fixed hops and no Python code to watch, one
    // shared table (`chains`); otherwise a list per place.
    std::shared_ptr<ChainTable> chains;
    std::vector<ResultList> node_lists;
    std::vector<ResultList> edge_lists;

private:
    bool load_edges();
    bool zero_length_starts();
    HopCandidates candidates_from(std::size_t segment, std::int64_t from);
    // The id of the node a step arrives at, read from the index (no hashing).
    std::int64_t id_to(const Step& step) const {
        const EdgeIndex& index = topology_->index;
        return step.reversed ? index.start_id(step.edge) : index.end_id(step.edge);
    }
    std::int64_t id_of(const NodeValue& node) const { return topology_->index.id_of(node.type->digest()); }
    int accepts(NodePatternValue& pattern, const NodeValue& node); // 1, 0, -1 (error)
    int take_first(const Step& step);                                    // 1 taken, 0 refused, -1
    bool search(Frame first);
    bool cannot_finish(std::size_t segment, std::uint32_t hops, std::int64_t at);
    bool first_hop(const Step& step);
    void record_chain();
    void record_steps();

    const EdgeValue& edge(std::uint32_t index) const { return *values_[index]; }
    bool tick() { return (frozen_ && !interruptible) || signals_.tick(); }
    bool tables_fit() const;
    const NodeValue& from_node(const Step& step) const {
        const EdgeCore& parts = *edge(step.edge).core;
        return step.reversed ? parts.end : parts.start;
    }
    const NodeValue& to_node(const Step& step) const {
        const EdgeCore& parts = *edge(step.edge).core;
        return step.reversed ? parts.start : parts.end;
    }

    PathPatternValue& path_;
    PyObject* edges_dict_ = nullptr;
    PyObject* nodes_dict_ = nullptr;
    Ref held_dict_;
    std::optional<DictWatch> watch_;
    bool frozen_ = false;
    bool runs_python_;
    std::vector<std::uint32_t> min_, max_; // hops per segment; a fixed edge is 1..1
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
};

bool ChainMatcher::load_edges() {
    loaded_ = true;
    topology_ = edge_topology(edges_dict_);
    if (!topology_) return false;
    edges_.reserve(topology_->edges.size());
    values_.reserve(topology_->edges.size());
    for (PyObject* object : topology_->edges) {
        edges_.push_back(Ref::borrow(object));
        values_.push_back(&as<EdgeObject>(object)->value.read());
    }
    used_.assign(edges_.size(), 0);
    return true;
}

HopCandidates ChainMatcher::candidates_from(std::size_t segment, std::int64_t from) {
    if (from < 0) return HopCandidates(Direction::Forward, {}, {});
    const EdgeIndex& index = topology_->index;
    const auto id = static_cast<std::uint32_t>(from);
    return HopCandidates(direction_of(path_.edges[segment]), index.starting_at_id(id), index.ending_at_id(id));
}

int ChainMatcher::accepts(NodePatternValue& pattern, const NodeValue& node) {
    MatchResult result = node_matches(pattern, node);
    if (result == MatchResult::Error || (runs_python_ && !watch_->unchanged())) return -1;
    return result == MatchResult::Match ? 1 : 0;
}

// A place from which no walk in the pattern's remaining direction has the
// hops the rest of the pattern needs cannot finish a chain: the bound ignores
// node tests and edge reuse, so it never cuts a chain that exists. Used only
// when no Python code runs, since skipping a place also skips its tests.
// This keeps a long pattern over a long path linear: chains that start too
// late to fit are refused at their first hop instead of walked to the end.
bool ChainMatcher::cannot_finish(std::size_t segment, std::uint32_t hops, std::int64_t at) {
    if (runs_python_ || direction_from_[segment] == Direction::Any) return false;
    std::uint64_t need = (hops < min_[segment] ? min_[segment] - hops : 0) + needed_after_[segment + 1];
    if (need == 0) return false;
    const int which = direction_from_[segment] == Direction::Forward ? 0 : 1;
    EdgeTopology& topology = *topology_;
    if (!topology.walks_known[which]) {
        topology.longest_walks[which] = topology.index.longest_walks(which == 0);
        topology.walks_known[which] = true;
    }
    std::uint32_t most = at < 0 ? 0 : topology.longest_walks[which][static_cast<std::size_t>(at)];
    return most != EdgeIndex::kUnbounded && most < need;
}

int ChainMatcher::take_first(const Step& step) {
    if (!tick()) return -1;
    MatchResult accepted = edge_accepts(path_.edges[0], edge(step.edge));
    if (accepted == MatchResult::Error || (runs_python_ && !watch_->unchanged())) return -1;
    if (accepted == MatchResult::NoMatch) return 0;
    return accepts(path_.nodes[0], from_node(step));
}

void ChainMatcher::record_chain() {
    if (probing) {
        found = true;
        return;
    }
    if (chains) {
        record_steps();
    } else {
        node_lists[0].emplace_back(*start_);
        for (std::size_t segment = 0; segment < path_.edges.size(); ++segment) {
            std::size_t begin = segment_begin_[segment];
            std::size_t end = segment + 1 < path_.edges.size() ? segment_begin_[segment + 1] : chain_.size();
            if (path_.edges[segment].range) {
                EdgeListValue list;
                list.edges.reserve(end - begin);
                for (std::size_t hop = begin; hop < end; ++hop) list.edges.push_back(edge(chain_[hop].edge));
                edge_lists[segment].emplace_back(std::move(list));
            } else {
                edge_lists[segment].emplace_back(edge(chain_[begin].edge));
            }
            node_lists[segment + 1].emplace_back(*segment_end_[segment]);
        }
    }
    if (++recorded >= cap && !runs_python_) found = true;
}

// A row of the chain table: each hop's edge by its position in the dict's
// order (the table holds the objects; see ChainTable).
void ChainMatcher::record_steps() {
    for (const Step& step : chain_) chains->steps.push_back(step.edge << 1 | static_cast<std::uint32_t>(step.reversed));
}

// Fixed hops and no Python code to watch: rows can be a table of steps.
bool ChainMatcher::tables_fit() const {
    bool fixed_hops = std::none_of(path_.edges.begin(), path_.edges.end(), [](const auto& e) { return e.range; });
    return !probing && !runs_python_ && fixed_hops && values_.size() < (std::size_t{1} << 31);
}

// Depth-first from one place. At each place the chain is first reported
// (or carried into the next segment) when the segment has enough hops, and
// only then extended by one more hop: each chain comes before its
// extensions. Iterative, so a long chain costs heap, not native stack.
bool ChainMatcher::search(Frame first) {
    frames_.clear();
    frames_.push_back(first);
    while (!frames_.empty() && !found) {
        Frame& top = frames_.back();
        if (!top.advanced) {
            top.advanced = true;
            const std::size_t segment = top.segment;
            if (top.may_extend && top.hops < max_[segment]) {
                top.candidates = candidates_from(segment, top.at_id);
            }
            if (top.hops >= min_[segment]) {
                const NodeValue* at = top.at;
                int ok = accepts(path_.nodes[segment + 1], *at);
                if (ok < 0) return false;
                if (ok) {
                    segment_end_[segment] = at;
                    if (segment + 1 == path_.edges.size()) {
                        record_chain();
                    } else {
                        segment_begin_[segment + 1] = chain_.size();
                        frames_.push_back(Frame{segment + 1, 0, at, false, true, top.at_id});
                    }
                }
            }
            continue;
        }
        Step step;
        if (!top.candidates.next(step)) {
            if (top.owns_step) {
                used_[chain_.back().edge] = 0;
                chain_.pop_back();
            }
            frames_.pop_back();
            continue;
        }
        if (used_[step.edge]) continue; // no edge twice in one whole path
        if (!tick()) return false;
        const std::size_t segment = top.segment;
        const std::uint32_t hops = top.hops;
        MatchResult accepted = edge_accepts(path_.edges[segment], edge(step.edge));
        if (accepted == MatchResult::Error || (runs_python_ && !watch_->unchanged())) return false;
        if (accepted == MatchResult::NoMatch) continue;
        const std::int64_t arrived = id_to(step);
        if (cannot_finish(segment, hops + 1, arrived)) continue;
        used_[step.edge] = 1;
        chain_.push_back(step);
        frames_.push_back(Frame{segment, hops + 1, &to_node(step), true, true, arrived});
    }
    return true;
}

// A leading range with minimum 0: first the zero-length chains, one per node
// of the node dict that both end patterns accept, in the dict's order.
bool ChainMatcher::zero_length_starts() {
    std::vector<Ref> nodes; // held: the patterns' `==` may run Python code
    if (anchor) {
        nodes.emplace_back(); // only the anchor starts a chain
    } else {
        nodes.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(nodes_dict_)));
        Py_ssize_t position = 0;
        PyObject *key, *value;
        while (PyDict_Next(nodes_dict_, &position, &key, &value)) {
            if (!node_value(value)) return false;
            nodes.push_back(Ref::borrow(value));
        }
    }
    DictWatch node_watch(nodes_dict_);
    for (const Ref& object : nodes) {
        if (!signals_.tick()) return false;
        const NodeValue& node = object ? *node_value(object.get()) : *anchor;
        int ok = accepts(path_.nodes[0], node);
        if (ok < 0 || (runs_python_ && !node_watch.unchanged())) return false;
        if (!ok) continue;
        start_ = &node;
        chain_.clear();
        segment_begin_[0] = 0;
        if (!search(Frame{0, 0, &node, false, false, id_of(node)})) return false;
        if (found) break;
    }
    return true;
}

// Every chain whose first hop is `step`.
bool ChainMatcher::first_hop(const Step& step) {
    int taken = take_first(step);
    if (taken <= 0) return taken == 0;
    if (cannot_finish(0, 1, id_to(step))) return true;
    start_ = &from_node(step);
    chain_.assign(1, step);
    segment_begin_[0] = 0;
    used_[step.edge] = 1;
    bool ok = search(Frame{0, 1, &to_node(step), false, true, id_to(step)});
    for (const Step& held : chain_) used_[held.edge] = 0; // a probe may stop mid-chain
    return ok;
}

bool ChainMatcher::run() {
    if (loaded_) {
        if (!frozen_ && !watch_->unchanged()) return false;
    } else if (!load_edges()) {
        return false;
    }
    const std::size_t segments = path_.edges.size();
    if (frozen_) {
        // The table to fill was given.
    } else if (tables_fit()) {
        chains = std::make_shared<ChainTable>();
        chains->hops = segments;
    } else {
        node_lists.resize(segments + 1);
        edge_lists.resize(segments);
    }
    segment_begin_.assign(segments, 0);
    segment_end_.assign(segments, nullptr);
    found = false;
    if (min_[0] == 0 && !zero_length_starts()) return false;
    if (max_[0] == 0 || found) return true;
    if (anchor) {
        HopCandidates first_hops = candidates_from(0, id_of(*anchor));
        Step step;
        while (!found && first_hops.next(step)) {
            if (!first_hop(step)) return false;
        }
        return true;
    }
    // The first hop of every chain: each edge in dict order, as a fixed first hop.
    Direction first_direction = direction_of(path_.edges[0]);
    for (std::uint32_t first = 0; first < values_.size() && !found; ++first) {
        Step steps[2] = {{first, first_direction == Direction::Backward}, {first, true}};
        int count = 1;
        if (first_direction == Direction::Any) {
            const EdgeCore& parts = *edge(first).core;
            if (parts.start.type->digest() != parts.end.type->digest()) count = 2; // a self-loop once
        }
        for (int k = 0; k < count && !found; ++k) {
            if (!first_hop(steps[k])) return false;
        }
    }
    return true;
}

namespace {

// What a counted match keeps to list its rows when they are first read.
struct FrozenChains {
    PathPatternValue path;
    std::shared_ptr<EdgeTopology> topology;
    std::size_t cap;
};

} // namespace

std::shared_ptr<ChainTable> ChainMatcher::counted_table() {
    bool fixed_hops = std::none_of(path_.edges.begin(), path_.edges.end(), [](const auto& e) { return e.range; });
    if (path_.edges.size() > 2 || probing || runs_python_ || !fixed_hops) return nullptr;
    if (!load_edges() || !tables_fit()) return nullptr;
    // The search records rows until it has `cap` of them (at least one).
    const std::size_t rows = std::min(count_chains(path_, topology_->index, values_), std::max<std::size_t>(cap, 1));
    auto table = std::make_shared<ChainTable>();
    table->hops = path_.edges.size();
    if (rows == 0) return table;
    table->counted = rows;
    auto frozen = std::make_shared<const FrozenChains>(FrozenChains{path_, topology_, cap});
    table->pending = [frozen](ChainTable& listing, bool interruptible) {
        // The values as the count saw them: the held objects', or the copies
        // made when some Edge's properties were assigned since.
        std::vector<const EdgeValue*> values;
        if (!listing.edge_objects.empty()) {
            values.reserve(listing.edge_objects.size());
            for (const Ref& object : listing.edge_objects) values.push_back(edge_value(object.get()));
        } else {
            values.reserve(listing.store->values.size());
            for (const EdgeValue& value : listing.store->values) values.push_back(&value);
        }
        PathPatternValue path = frozen->path;
        ChainMatcher lister(path, frozen->topology, std::move(values));
        lister.cap = frozen->cap;
        lister.chains = std::shared_ptr<ChainTable>(std::shared_ptr<ChainTable>(), &listing); // not owned
        lister.interruptible = interruptible;
        return lister.run(); // no Python code, no dict: only a signal (when checked) or memory can fail
    };
    table->hold_edge_objects(std::move(edges_)); // after `pending` is set: it is read
    return table;
}

MatchResult edge_accepts(EdgePatternValue& pattern, const EdgeValue& edge) {
    const EdgeCore& parts = *edge.core;
    if (pattern.term_type_schema && !pattern.term_type_schema->matches(*parts.term.type)) {
        return MatchResult::NoMatch;
    }
    if (pattern.term && !core::equal(*pattern.term, parts.term)) return MatchResult::NoMatch;
    if (pattern.properties.empty()) return MatchResult::Match;
    Ref properties = edge.properties;
    return properties_match(pattern.properties, properties.get());
}

ChainProbe::ChainProbe(QueryState& state, PathPatternValue& path)
    : matcher_(std::make_unique<ChainMatcher>(state, path)) {
    matcher_->probing = true;
}

ChainProbe::~ChainProbe() = default;

bool ChainProbe::exists(const NodeValue* anchor, bool& found) {
    matcher_->anchor = anchor;
    bool ok = matcher_->run();
    found = ok && matcher_->found;
    return ok;
}

bool match_chains(QueryState& state, PathPatternValue& path, std::size_t row_cap) {
    ChainMatcher matcher(state, path);
    matcher.cap = row_cap;
    std::shared_ptr<ChainTable> counted = matcher.counted_table();
    if (counted) {
        matcher.chains = std::move(counted);
    } else if (PyErr_Occurred() || !matcher.run()) {
        return false;
    } else {
        matcher.give_edges_to_table();
    }
    // Bind in path order: n0, e0, n1, e1, ...; a name used twice keeps the later place.
    Bindings& bindings = state.writable_bindings();
    std::shared_ptr<const ChainTable> chains = std::move(matcher.chains);
    for (std::size_t i = 0; i < path.nodes.size(); ++i) {
        if (path.nodes[i].variable) {
            bindings.replace(*path.nodes[i].variable, chains ? ResultList::chain_column(chains, 2 * i)
                                                             : std::move(matcher.node_lists[i]));
        }
        if (i < path.edges.size() && path.edges[i].variable) {
            bindings.replace(*path.edges[i].variable, chains ? ResultList::chain_column(chains, 2 * i + 1)
                                                             : std::move(matcher.edge_lists[i]));
        }
    }
    return true;
}

} // namespace velarto::py::query
