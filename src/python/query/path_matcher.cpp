// Chains of edges, depth-first.
//
// The first hop scans the edge dict in its order (each edge forward, or
// backward, or both for an undirected pattern). Later hops start from the
// node the previous hop ended at and look its edges up in an index by start
// and by end node (kept between runs while the edge dict is unchanged), so a
// run costs O(edges + results) rather than a nested scan. Nodes are keyed by
// the digest of their type: two nodes have equal uids exactly when their
// types do.
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
#include "query/longest_trails.hpp"
#include "query/path_matcher.hpp"

#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "query/chain_matcher.hpp"

namespace velarto::py::query {


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

// Between two probes Python code (another part of the condition) may have
// changed the edge dict: the held edges and their index are dropped and the
// dict read again. The old edges go first, since freeing one can run Python
// code that changes the dict once more.
bool ChainMatcher::reload_edges() {
    release_chain();
    values_.clear();
    topology_.reset();
    std::vector<Ref> old = std::move(edges_);
    edges_.clear();
    old.clear();
    watch_.emplace(edges_dict_);
    return load_edges();
}

// A probe's bound edge lists set their segments' hops; the rest keep the
// written ones.
void ChainMatcher::apply_fixed() {
    for (std::size_t segment = 0; segment < path_.edges.size(); ++segment) {
        const FixedSegment& given = (*fixed)[segment];
        if (!given.fixed) {
            written_hops(segment);
            continue;
        }
        min_[segment] = max_[segment] = static_cast<std::uint32_t>(given.edges.size());
    }
}

void ChainMatcher::join_repeated_variables(bool edges_too) {
    joined_ = true;
    same_place_.assign(path_.nodes.size(), -1);
    std::unordered_map<std::string_view, std::int32_t> first; // a path may name thousands of variables
    for (std::size_t place = 0; place < path_.nodes.size(); ++place) {
        if (!path_.nodes[place].variable) continue;
        auto [at, fresh] = first.emplace(*path_.nodes[place].variable, static_cast<std::int32_t>(place));
        if (!fresh) same_place_[place] = at->second;
    }
    if (!edges_too) return;
    std::unordered_set<std::string_view> edges;
    for (const EdgePatternValue& edge : path_.edges) {
        if (edge.variable && !edges.insert(*edge.variable).second) edge_repeats_ = true;
    }
}

// An edge variable written twice, or a segment whose fewest hops exceed its
// most: no chain can match.
bool ChainMatcher::matches_nothing() const {
    if (edge_repeats_) return true;
    for (std::size_t segment = 0; segment < min_.size(); ++segment) {
        if (min_[segment] > max_[segment]) return true;
    }
    return false;
}

HopCandidates ChainMatcher::candidates_from(std::size_t segment, std::int64_t from) {
    if (from < 0) return HopCandidates(Direction::Forward, {}, {});
    const auto id = static_cast<std::uint32_t>(from);
    if (segment < toward_anchor_.size()) {
        auto found = toward_anchor_[segment].find(id);
        if (found == toward_anchor_[segment].end()) return HopCandidates(Direction::Forward, {}, {});
        return HopCandidates(found->second.data(), found->second.size());
    }
    if (segment > 0 && !path_.edges[segment].range && joined_) return closing_candidates(segment, id);
    const EdgeIndex& index = topology_->index;
    return HopCandidates(direction_of(path_.edges[segment]), index.starting_at_id(id), index.ending_at_id(id));
}

int ChainMatcher::accepts(const NodePatternValue& pattern, const NodeValue& node) {
    MatchResult result = node_matches(pattern, node);
    if (result == MatchResult::Error || !readable_after_python()) return -1;
    return result == MatchResult::Match ? 1 : 0;
}

// A place from which no walk in the pattern's remaining direction has the
// hops the rest of the pattern needs cannot finish a chain: the bound ignores
// node tests and edge reuse, so it never cuts a chain that exists. Used only
// when no Python code runs, since skipping a place also skips its tests.
// This keeps a long pattern over a long path linear: chains that start too
// late to fit are refused at their first hop instead of walked to the end.
bool ChainMatcher::cannot_finish(std::size_t segment, std::uint32_t hops, std::int64_t at) {
    if (runs_python_) return false;
    std::uint64_t need = (hops < min_[segment] ? min_[segment] - hops : 0) + needed_after_[segment + 1];
    if (need == 0) return false;
    EdgeTopology& topology = *topology_;
    const std::vector<std::uint32_t>* longest;
    if (direction_from_[segment] == Direction::Any) {
        // Hops that may go either way: trails ignoring directions.
        if (!topology.trails_known) {
            topology.longest_trails = longest_trails(topology.index, topology.edges.size());
            topology.trails_known = true;
        }
        longest = &topology.longest_trails;
    } else {
        const int which = direction_from_[segment] == Direction::Forward ? 0 : 1;
        if (!topology.walks_known[which]) {
            topology.longest_walks[which] = topology.index.longest_walks(which == 0);
            topology.walks_known[which] = true;
        }
        longest = &topology.longest_walks[which];
    }
    std::uint32_t most = at < 0 ? 0 : (*longest)[static_cast<std::size_t>(at)];
    return most != EdgeIndex::kUnbounded && most < need;
}

int ChainMatcher::take_first(const Step& step) {
    if (!tick()) return -1;
    if (!fits_fixed(0, 0, step)) return 0;
    MatchResult accepted = edge_accepts(path_.edges[0], edge(step.edge));
    if (accepted == MatchResult::Error || !readable_after_python()) return -1;
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
    if (lazy_) return false; // a table reads its edges by position from all of them
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
            if (top.hops >= min_[segment] && same_as_earlier(segment + 1, *top.at)) {
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
                set_used(chain_.back().edge, 0);
                chain_.pop_back();
            }
            frames_.pop_back();
            continue;
        }
        if (used(step.edge)) continue; // no edge twice in one whole path
        if (!tick()) return false;
        hold(step.edge);
        const std::size_t segment = top.segment;
        const std::uint32_t hops = top.hops;
        if (!fits_fixed(segment, hops, step)) continue;
        MatchResult accepted = edge_accepts(path_.edges[segment], edge(step.edge));
        if (accepted == MatchResult::Error || !readable_after_python()) return false;
        if (accepted == MatchResult::NoMatch) continue;
        const std::int64_t arrived = id_to(step);
        if (cannot_finish(segment, hops + 1, arrived)) continue;
        set_used(step.edge, 1);
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
        segment_begin_[0] = 0;
        bool searched = search(Frame{0, 0, &node, false, false, id_of(node)});
        release_chain(); // a probe stops at the first chain, mid-way
        if (!searched) return false;
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
    set_used(step.edge, 1);
    bool ok = search(Frame{0, 1, &to_node(step), false, true, id_to(step)});
    release_chain(); // a probe stops at the first chain, mid-way
    return ok;
}

bool ChainMatcher::run() {
    if (loaded_) {
        if (!frozen_ && !watch_->same() && !reload_edges()) return false;
    } else if (lazy_) {
        loaded_ = true;
        plan_anchored_steps();
    } else if (!load_edges()) {
        return false;
    }
    if (fixed) apply_fixed();
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
    listed_.resize(segments);
    found = false;
    if (matches_nothing()) return true;
    if (min_[0] == 0 && !zero_length_starts()) return false;
    if (max_[0] == 0 || found) return true;
    if (lazy_) return anchored_first_hops();
    if (anchor) {
        HopCandidates first_hops = candidates_from(0, id_of(*anchor));
        Step step;
        while (!found && first_hops.next(step)) {
            if (!first_hop(step)) return false;
        }
        return true;
    }
    // The first hop of every chain: each edge in dict order, as a fixed first
    // hop; only the edges of the one term type the first edge pattern allows.
    Direction first_direction = direction_of(path_.edges[0]);
    const core::TypeNode* term_type = exact_term_type(path_.edges[0]);
    // A table listed later may hold copies, not the objects the topology
    // names: it reads the positions the count made, never makes them.
    const bool may_make = !frozen_ || topology_->term_types != EdgeTopology::TermTypes::Unknown;
    const std::vector<std::uint32_t>* only = term_type && may_make ? topology_->edges_of_term_type(*term_type) : nullptr;
    const std::size_t firsts = only ? only->size() : values_.size();
    for (std::size_t k_first = 0; k_first < firsts && !found; ++k_first) {
        const std::uint32_t first = only ? (*only)[k_first] : static_cast<std::uint32_t>(k_first);
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

MatchResult edge_accepts(const EdgePatternValue& pattern, const EdgeValue& edge) {
    const EdgeCore& parts = *edge.core;
    if (pattern.term_type_schema) {
        // A schema of one exact type compares digests, where the term's type
        // keeps one already (computing it would cost more than the walk).
        const core::TypeRef& exact = pattern.term_type_schema->tree().exact_type();
        const core::TypeNode& type = *parts.term.type;
        if (exact && type.has_digest() ? exact->digest() != type.digest() : !pattern.term_type_schema->matches(type)) {
            return MatchResult::NoMatch;
        }
    }
    if (pattern.term && !core::equal(*pattern.term, parts.term)) return MatchResult::NoMatch;
    if (pattern.properties.empty()) return MatchResult::Match;
    Ref properties = edge.properties;
    return properties_match(pattern.properties, properties.get());
}

ChainProbe::ChainProbe(QueryState& state, const PathPatternValue& path, const std::vector<FixedSegment>& fixed)
    : matcher_(std::make_unique<ChainMatcher>(state, path)) {
    // A probe binds nothing: every shape joins its node variables. An edge
    // variable the row binds is fixed at each of its places, so whether one
    // written twice can match is decided per row (exists_probe.cpp).
    matcher_->join_repeated_variables(/*edges=*/false);
    matcher_->probing = true;
    matcher_->fixed = &fixed;
}

ChainProbe::~ChainProbe() = default;

bool ChainProbe::exists(const NodeValue* anchor, bool& found) {
    matcher_->anchor = anchor;
    bool ok = matcher_->run();
    found = ok && matcher_->found;
    return ok;
}

bool match_chains(QueryState& state, const PathPatternValue& path, std::size_t row_cap, const Condition* where) {
    const bool one_fixed_edge = path.nodes.size() == 2 && path.edges.size() == 1 && !path.edges[0].range;
    std::optional<ChainMatcher> matcher;
    auto make_matcher = [&] {
        matcher.emplace(state, path);
        matcher->cap = row_cap;
        if (!one_fixed_edge) matcher->join_repeated_variables();
    };
    make_matcher();
    std::shared_ptr<EdgeTopology> topology = edge_topology(state.graph.edges.get());
    if (!topology) return false;
    // Rows the match drops are rows the table never gets when the table
    // holds only this path's variables.
    auto binds = [&](const std::string& name) {
        auto is_name = [&](const auto& pattern) { return pattern.variable == name; };
        return std::any_of(path.nodes.begin(), path.nodes.end(), is_name) ||
               std::any_of(path.edges.begin(), path.edges.end(), is_name);
    };
    const FollowingWhere following = narrowing_where(*state.bindings, state.params.get(), where, binds);
    std::optional<Anchors> anchors = choose_anchors(path, *topology, following, /*later_place_wins=*/one_fixed_edge);
    std::shared_ptr<ChainTable> counted;
    if (anchors) {
        matcher->start_from(std::move(topology), std::move(*anchors));
    } else if (state.counting) {
        // Only a count follows: count now, list the rows if a step reads them.
        // Rows that are read anyway are listed by one search instead.
        topology.reset();
        counted = matcher->counted_table();
    }
    if (counted) {
        matcher->chains = std::move(counted);
    } else if (PyErr_Occurred()) {
        return false;
    } else {
        if (!matcher->run()) {
            if (!matcher->restarting()) return false;
            // Python code wrote properties mid-search, which may make nodes
            // the anchors left out match: the scan answers.
            make_matcher();
            if (!matcher->run()) return false;
        }
        matcher->give_edges_to_table();
    }
    // Bind in path order: n0, e0, n1, e1, ...; a name used twice keeps the
    // later place (which holds the same nodes, where variables are joined).
    Bindings& bindings = state.writable_bindings();
    std::shared_ptr<const ChainTable> chains = std::move(matcher->chains);
    for (std::size_t i = 0; i < path.nodes.size(); ++i) {
        if (path.nodes[i].variable) {
            bindings.replace(*path.nodes[i].variable, chains ? ResultList::chain_column(chains, 2 * i)
                                                             : std::move(matcher->node_lists[i]));
        }
        if (i < path.edges.size() && path.edges[i].variable) {
            bindings.replace(*path.edges[i].variable, chains ? ResultList::chain_column(chains, 2 * i + 1)
                                                             : std::move(matcher->edge_lists[i]));
        }
    }
    return true;
}

} // namespace velarto::py::query
