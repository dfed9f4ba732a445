// The marks of a one-edge exists(), made in one pass over the edge dict.
//
// The pass reads the index's edges in place (borrowed, see edge_topology.hpp):
// nothing in it runs Python code, since the shape excludes property maps, so
// nothing can change the dict under it. Per edge it asks what the general
// search asks of a first hop from either end: the edge pattern, then the
// node at the other end against its place's pattern.
#include "query/exists_one_hop.hpp"

#include "classes.hpp"
#include "dict_version.hpp"
#include "prefetch.hpp"
#include "query/path_matcher.hpp"

namespace velarto::py::query {

bool OneHopMarks::fits(const PathPatternValue& pattern) {
    return pattern.nodes.size() == 2 && pattern.edges.size() == 1 && !pattern.edges[0].range &&
           !has_property_maps(pattern);
}

bool OneHopMarks::refresh() {
    const std::uint64_t now = dict_version(edges_);
    if (now == 0) PyErr_Clear(); // not watchable: the index is taken anew on every row
    if (now != 0 && now == version_ && topology_) return true;
    topology_.reset();
    marked_[0] = marked_[1] = false;
    topology_ = edge_topology(edges_);
    if (!topology_) return false;
    version_ = now;
    return true;
}

bool OneHopMarks::mark(std::size_t place) {
    const EdgePatternValue& edge = pattern_.edges[0];
    const NodePatternValue& other = pattern_.nodes[1 - place];
    const EdgeIndex& index = topology_->index;
    const std::vector<PyObject*>& objects = topology_->edges;
    std::vector<std::uint8_t>& marks = marks_[place];
    marks.assign(index.node_count(), 0);
    // Place 0 stands at an edge's start when the pattern goes along it, at
    // its end when against it; undirected, at either.
    const bool along = edge.direction != "backward", against = edge.direction != "forward";
    constexpr std::size_t kAhead = 8;
    auto value_of = [&](std::size_t i) -> const EdgeValue& { return as<EdgeObject>(objects[i])->value.read(); };
    const core::TypeNode* last_type = nullptr;
    MatchResult last_answer = MatchResult::NoMatch;
    // An edge pattern of one term type walks that type's edges only.
    const core::TypeNode* term_type = exact_term_type(edge);
    const std::vector<std::uint32_t>* only = term_type ? topology_->edges_of_term_type(*term_type) : nullptr;
    const std::size_t count = only ? only->size() : objects.size();
    auto position = [&](std::size_t k) -> std::size_t { return only ? (*only)[k] : k; };
    for (std::size_t k = 0; k < count; ++k) {
        if (k + 2 * kAhead < count) prefetch(objects[position(k + 2 * kAhead)]);
        if (k + kAhead < count) prefetch(value_of(position(k + kAhead)).core.get());
        const std::size_t i = position(k);
        const EdgeValue& value = value_of(i);
        // Without a written term the test reads the term's type alone, and
        // edges of one kind share one type: asked again only when it changes.
        MatchResult accepted;
        if (edge.term) {
            accepted = edge_accepts(edge, value);
        } else if (const core::TypeNode* type = value.core->term.type.get(); type == last_type) {
            accepted = last_answer;
        } else {
            accepted = last_answer = edge_accepts(edge, value);
            last_type = type;
        }
        if (accepted == MatchResult::Error) return false;
        if (accepted == MatchResult::NoMatch) continue;
        const EdgeCore& parts = *value.core;
        for (bool start_first : {true, false}) { // the edge's start at place 0, then its end
            if (!(start_first ? along : against)) continue;
            const bool here_is_start = start_first == (place == 0);
            const std::uint32_t id = here_is_start ? index.start_id(i) : index.end_id(i);
            if (marks[id]) continue;
            MatchResult result = node_matches(other, here_is_start ? parts.end : parts.start);
            if (result == MatchResult::Error) return false;
            if (result == MatchResult::Match) marks[id] = 1;
        }
    }
    marked_[place] = true;
    return true;
}

bool OneHopMarks::test(std::size_t place, const NodeValue& anchor, bool& found) {
    found = false;
    if (!refresh() || (!marked_[place] && !mark(place))) return false;
    const std::int64_t id = topology_->index.id_of(anchor.type->digest());
    if (id < 0 || !marks_[place][static_cast<std::size_t>(id)]) return true;
    MatchResult own = node_matches(pattern_.nodes[place], anchor);
    if (own == MatchResult::Error) return false;
    found = own == MatchResult::Match;
    return true;
}

} // namespace velarto::py::query
