// exists(<pattern>): fixing the row's values into the pattern, then one probe.
//
// The pattern is narrowed in place, row by row, on two private copies (the
// path as written and reversed); the probes hold them by reference, and so
// the segments fixed to edge lists, each in its copy's order. A fixed value
// that the pattern's own type, term or range already refuses makes the
// answer false without a search.
#include "query/exists_probe.hpp"

#include <string_view>
#include <unordered_map>

#include "dict_version.hpp"
#include "query/node_scan.hpp"

namespace velarto::py::query {

namespace {

PathPatternValue reversed(const PathPatternValue& path) {
    PathPatternValue out;
    out.nodes.assign(path.nodes.rbegin(), path.nodes.rend());
    out.edges.assign(path.edges.rbegin(), path.edges.rend());
    for (EdgePatternValue& edge : out.edges) {
        if (edge.direction == "forward") edge.direction = "backward";
        else if (edge.direction == "backward") edge.direction = "forward";
    }
    return out;
}

const QueryResult* entry_of(const ResultList* list, std::size_t row) {
    return list && row < list->size() ? &(*list)[row] : nullptr;
}

} // namespace

ExistsProbe::ExistsProbe(const PathPatternValue& pattern, const Bindings& bindings, QueryState& state)
    : original_(pattern), forward_(pattern), backward_(reversed(pattern)), forward_fixed_(pattern.edges.size()),
      backward_fixed_(pattern.edges.size()), state_(state), fixed_nodes_(pattern.nodes.size(), nullptr),
      fixed_edges_(pattern.edges.size(), nullptr), fixed_lists_(pattern.edges.size(), nullptr),
      keeps_answers_(!has_property_maps(pattern)), free_nodes_(pattern.nodes.size()) {
    for (const NodePatternValue& node : pattern.nodes) {
        node_lists_.push_back(node.variable ? bindings.find(*node.variable) : nullptr);
    }
    for (const EdgePatternValue& edge : pattern.edges) {
        edge_lists_.push_back(edge.variable ? bindings.find(*edge.variable) : nullptr);
    }
    if (OneHopMarks::fits(original_)) one_hop_ = std::make_unique<OneHopMarks>(original_, state.graph.edges.get());
    std::unordered_map<std::string_view, std::size_t> first; // a pattern may name many variables
    for (std::size_t h = 0; h < pattern.edges.size(); ++h) {
        const std::optional<std::string>& name = pattern.edges[h].variable;
        if (!name) continue;
        auto [at, fresh] = first.emplace(*name, h);
        if (fresh) continue;
        if (repeated_edges_.empty() || repeated_edges_.back() != at->second) repeated_edges_.push_back(at->second);
    }
}

// Narrows both copies to the row's values; `possible` false when a fixed
// value cannot stand at its place.
void ExistsProbe::fix(std::size_t row, bool& possible) {
    possible = true;
    any_fixed_ = false;
    std::size_t n = original_.nodes.size(), m = original_.edges.size();
    for (std::size_t i = 0; i < n; ++i) {
        const QueryResult* entry = entry_of(node_lists_[i], row);
        const NodeValue* node = entry ? std::get_if<NodeValue>(entry) : nullptr;
        const core::TypeRef& written = original_.nodes[i].type_obj;
        fixed_nodes_[i] = node;
        if ((entry && !node) || (node && written && !core::equal(*written, *node->type))) possible = false;
        forward_.nodes[i].type_obj = node ? node->type : written;
        backward_.nodes[n - 1 - i].type_obj = forward_.nodes[i].type_obj;
        any_fixed_ |= entry != nullptr;
    }
    for (std::size_t h = 0; h < m; ++h) {
        const QueryResult* entry = entry_of(edge_lists_[h], row);
        const EdgeValue* edge = entry ? std::get_if<EdgeValue>(entry) : nullptr;
        const EdgeListValue* list = entry ? std::get_if<EdgeListValue>(entry) : nullptr;
        const std::optional<core::Term>& written = original_.edges[h].term;
        fixed_edges_[h] = edge;
        fixed_lists_[h] = list;
        forward_fixed_[h].fixed = backward_fixed_[m - 1 - h].fixed = false;
        if (list) fix_list(h, *list, possible);
        else if (entry && !edge) possible = false; // a node where an edge stands
        if (edge && written && !core::equal(*written, edge->core->term)) possible = false;
        forward_.edges[h].term = edge ? std::optional<core::Term>(edge->core->term) : written;
        backward_.edges[m - 1 - h].term = forward_.edges[h].term;
        any_fixed_ |= entry != nullptr;
    }
}

// A segment bound to an edge list takes exactly its edges: the written range
// must allow that many hops, and each hop must still pass the written edge
// pattern (checked by the search).
void ExistsProbe::fix_list(std::size_t segment, const EdgeListValue& list, bool& possible) {
    const std::optional<core::HopRange>& range = original_.edges[segment].range;
    const std::size_t hops = list.edges.size();
    if (!range || hops < range->min || (range->max && hops > *range->max)) {
        possible = false;
        return;
    }
    FixedSegment& ahead = forward_fixed_[segment];
    FixedSegment& behind = backward_fixed_[original_.edges.size() - 1 - segment];
    ahead.fixed = behind.fixed = true;
    ahead.edges.clear();
    for (const EdgeValue& edge : list.edges) ahead.edges.push_back(edge.digest());
    behind.edges.assign(ahead.edges.rbegin(), ahead.edges.rend());
}

bool ExistsProbe::test(std::size_t row, bool& found) {
    found = false;
    std::size_t n = original_.nodes.size(), m = original_.edges.size();
    if (m > 0 && n != m + 1) return true; // no other shape of path has a meaning
    for (std::size_t h : repeated_edges_) {
        if (!entry_of(edge_lists_[h], row)) return true; // free, and written twice
    }
    bool handled;
    if (!one_hop(row, handled, found)) return false;
    if (handled) return true;
    bool possible;
    fix(row, possible);
    if (!possible) return true;
    if (m == 0) return side_by_side(found);
    return search_chain(found);
}

// A row that fixes exactly one end of a one-edge pattern, to a node, is
// answered by the marks; any other row is left to the search.
bool ExistsProbe::one_hop(std::size_t row, bool& handled, bool& found) {
    handled = false;
    if (!one_hop_ || entry_of(edge_lists_[0], row)) return true;
    const QueryResult* first = entry_of(node_lists_[0], row);
    const QueryResult* last = entry_of(node_lists_[1], row);
    if (!first == !last) return true;
    const NodeValue* anchor = std::get_if<NodeValue>(first ? first : last);
    if (!anchor) return true;
    handled = true;
    return one_hop_->test(first ? 0 : 1, *anchor, found);
}

bool ExistsProbe::versions_now(Versions& out) const {
    out.nodes = dict_version(state_.graph.nodes.get());
    out.edges = dict_version(state_.graph.edges.get());
    return !PyErr_Occurred();
}

// The edge a chain must begin (or, `last`, end) with, when the row fixes it.
const EdgeValue* ExistsProbe::end_edge(bool last) const {
    if (const EdgeValue* edge = last ? fixed_edges_.back() : fixed_edges_.front()) return edge;
    const EdgeListValue* list = last ? fixed_lists_.back() : fixed_lists_.front();
    if (!list || list->edges.empty()) return nullptr;
    return last ? &list->edges.back() : &list->edges.front();
}

bool ExistsProbe::search_chain(bool& found) {
    auto probe = [&](bool backward, const NodeValue* anchor) {
        std::unique_ptr<ChainProbe>& slot = backward ? backward_probe_ : forward_probe_;
        if (!slot) {
            slot = std::make_unique<ChainProbe>(state_, backward ? backward_ : forward_,
                                                backward ? backward_fixed_ : forward_fixed_);
        }
        return slot->exists(anchor, found);
    };
    if (fixed_nodes_.front()) return probe(false, fixed_nodes_.front());
    if (fixed_nodes_.back()) return probe(true, fixed_nodes_.back());
    // A fixed end edge: the chain starts at one of its two nodes.
    for (bool backward : {false, true}) {
        const EdgeValue* edge = end_edge(backward);
        if (!edge) continue;
        for (const NodeValue* end : {&edge->core->start, &edge->core->end}) {
            if (!probe(backward, end)) return false;
            if (found) return true;
        }
        return true;
    }
    if (any_fixed_) return probe(false, nullptr);
    Versions now;
    if (!versions_now(now)) return false;
    if (keeps_answers_ && unanchored_ && now == kept_at_) {
        found = *unanchored_;
        return true;
    }
    if (!probe(false, nullptr)) return false;
    unanchored_ = found;
    kept_at_ = now; // a change during the search shows as a later version
    return true;
}

// Node patterns side by side: each must accept some node (its fixed one).
bool ExistsProbe::side_by_side(bool& found) {
    Versions now;
    if (!versions_now(now)) return false;
    if (!keeps_answers_ || now != kept_at_) free_nodes_.assign(free_nodes_.size(), std::nullopt);
    kept_at_ = now;
    for (std::size_t i = 0; i < forward_.nodes.size(); ++i) {
        NodePatternValue& pattern = forward_.nodes[i];
        if (fixed_nodes_[i]) {
            MatchResult result = node_matches(pattern, *fixed_nodes_[i]);
            if (result == MatchResult::Error) return false;
            if (result == MatchResult::NoMatch) return true;
            continue;
        }
        if (!free_nodes_[i]) {
            bool any = false;
            bool ok = for_each_accepted_node(state_.graph.nodes.get(), pattern, [&](const NodeValue&, PyObject*) {
                any = true;
                return false;
            });
            if (!ok) return false;
            free_nodes_[i] = any;
        }
        if (!*free_nodes_[i]) return true;
    }
    found = true;
    return true;
}

} // namespace velarto::py::query
