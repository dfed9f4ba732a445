// The steps that change the graph: create, merge, set and delete.
//
// Every write into the graph is an item assignment under the element's uid,
// replacing what the dict held there. A create binds by replacement, a merge
// that finds appends and one that creates replaces. A failure ends the run;
// what was written before it stays. The path forms write node by node and
// then edge by edge, exactly as the node and edge forms would, except that a
// reused variable with no list at all is a NameError found before anything
// is written. A variable whose entries are plain values (a computing
// `with_`) cannot be written through or joined to: a TypeError, also before
// anything is written.
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "errors.hpp"
#include "interrupts.hpp"
#include "query/path_matcher.hpp"
#include "query/query_state.hpp"
#include "types.hpp"

namespace velarto::py::query {

namespace {

// A new node of the pattern's type holding its required properties, stored
// under its uid. The pattern must have a type.
bool store_new_node(QueryState& state, const NodePatternValue& pattern, NodeValue& out) {
    out.type = pattern.type_obj;
    out.properties = Ref::steal(PyDict_New());
    if (!out.properties) return false;
    for (const RequiredProperty& property : pattern.properties) {
        if (PyDict_SetItem(out.properties.get(), property.python_key.get(), property.value.get()) < 0) return false;
    }
    Ref object = Ref::steal(node_to_python(out));
    Ref uid = Ref::steal(node_uid_to_python(out));
    if (!object || !uid) return false;
    return PyObject_SetItem(state.graph.nodes.get(), uid.get(), object.get()) == 0;
}

bool create_node(QueryState& state, const NodePatternValue& pattern) {
    if (!pattern.type_obj) return true;
    NodeValue node;
    if (!store_new_node(state, pattern, node)) return false;
    if (pattern.variable) state.writable_bindings().replace(*pattern.variable, ResultList{node});
    return true;
}

// A variable whose entries are plain values (bound by a computing `with_`)
// names no place in the graph: writing through it, or joining an edge to it,
// is a TypeError before anything is written. True when `name` is fine.
bool not_values(const QueryState& state, const std::optional<std::string>& name) {
    const ResultList* list = name ? state.bindings->find(*name) : nullptr;
    if (!list || !list->holds_values()) return true;
    PyErr_Format(PyExc_TypeError, "Variable '%s' holds values, not nodes or edges", name->c_str());
    return false;
}

// The first node bound to `name`, if its list starts with a node.
const NodeValue* first_bound_node(const QueryState& state, const std::optional<std::string>& name) {
    if (!name) return nullptr;
    const ResultList* list = state.bindings->find(*name);
    if (!list || list->empty()) return nullptr;
    return std::get_if<NodeValue>(&(*list)[0]);
}

// A new edge of the pattern's term from `start` to `end`, with a new dict of
// the required properties, stored under its uid and bound by replacement.
bool create_edge(QueryState& state, const EdgePatternValue& pattern, const NodeValue& start,
                 const NodeValue& end) {
    auto parts = std::make_shared<EdgeCore>();
    parts->term = *pattern.term;
    parts->start = start;
    parts->end = end;
    EdgeValue edge{std::move(parts), Ref::steal(PyDict_New())};
    if (!edge.properties) return false;
    for (const RequiredProperty& property : pattern.properties) {
        if (PyDict_SetItem(edge.properties.get(), property.python_key.get(), property.value.get()) < 0) return false;
    }
    Ref object = Ref::steal(edge_to_python(edge));
    Ref uid = Ref::steal(edge_uid_to_python(edge));
    if (!object || !uid || PyObject_SetItem(state.graph.edges.get(), uid.get(), object.get()) < 0) return false;
    if (pattern.variable) state.writable_bindings().replace(*pattern.variable, ResultList{edge});
    return true;
}

bool create_edge_form(QueryState& state, const EdgeForm& form) {
    if (!form.pattern.term) return true;
    if (!not_values(state, form.start) || !not_values(state, form.end)) return false;
    // Copies: creating writes the bindings, which may hold these nodes.
    const NodeValue* start = first_bound_node(state, form.start);
    const NodeValue* end = first_bound_node(state, form.end);
    if (!start || !end) return true;
    NodeValue from = *start, to = *end;
    return create_edge(state, form.pattern, from, to);
}

bool merge_node(QueryState& state, const NodePatternValue& stored) {
    NodePatternValue pattern = stored;
    std::optional<NodeValue> found;
    bool ok = for_each_accepted_node(state.graph.nodes.get(), pattern, [&](const NodeValue& node, PyObject*) {
        found = node;
        return false;
    });
    if (!ok) return false;
    if (found) {
        if (pattern.variable) state.writable_bindings().append(*pattern.variable, *found);
        return true;
    }
    return create_node(state, pattern);
}

bool merge_edge_between(QueryState& state, const EdgePatternValue& stored, const NodeValue& from,
                        const NodeValue& to);

bool merge_edge(QueryState& state, const EdgeForm& form) {
    if (!not_values(state, form.start) || !not_values(state, form.end)) return false;
    const NodeValue* start = first_bound_node(state, form.start);
    const NodeValue* end = first_bound_node(state, form.end);
    if (!start || !end) return true;
    NodeValue from = *start, to = *end;
    return merge_edge_between(state, form.pattern, from, to);
}

// The first edge from `from` to `to` that the pattern accepts, appended to
// its variable; else, with a term, a new edge.
bool merge_edge_between(QueryState& state, const EdgePatternValue& stored, const NodeValue& from,
                        const NodeValue& to) {
    const core::Digest from_digest = from.type->digest();
    const core::Digest to_digest = to.type->digest();
    EdgePatternValue pattern = stored;
    PyObject* edges = state.graph.edges.get();
    Ref held = Ref::borrow(edges);
    DictWatch watch(edges);
    SignalCheck signals;
    Py_ssize_t position = 0;
    PyObject *key, *value;
    for (;;) {
        // Signal handlers run before an entry is borrowed: they are Python
        // code, and one that empties the dict frees its edges. The walk goes
        // on from its place in the dict as the handler left it, as the node
        // scans do; the watch starts again, so that only a change made by a
        // comparison (below) ends the scan.
        if (!signals.tick()) return false;
        if (signals.just_checked()) watch = DictWatch(edges);
        if (!PyDict_Next(edges, &position, &key, &value)) break;
        const EdgeValue* stored = edge_value(value);
        if (!stored) return false;
        EdgeValue edge = *stored;
        // Node uids are equal exactly when the types' digests are.
        if (edge.core->start.type->digest() != from_digest || edge.core->end.type->digest() != to_digest) continue;
        MatchResult accepted = edge_accepts(pattern, edge);
        if (accepted == MatchResult::Error || !watch.unchanged()) return false;
        if (accepted == MatchResult::NoMatch) continue;
        if (pattern.variable) state.writable_bindings().append(*pattern.variable, edge);
        return true;
    }
    if (!pattern.term) return true;
    return create_edge(state, pattern, from, to);
}

// The caller's dict as it is now, item by item, into `target`.
bool assign_items(const std::vector<std::pair<Ref, Ref>>& items, PyObject* target) {
    Ref held = Ref::borrow(target);
    for (const auto& [key, value] : items) {
        if (PyObject_SetItem(held.get(), key.get(), value.get()) < 0) return false;
    }
    return true;
}


// --- delete with detach -------------------------------------------------------------------

// The uids of the deleted nodes, as the digests of their types: node uids are
// equal exactly when these are. Open addressing in a power-of-two table kept
// at most half full, probed from a digest's first word (SHA-256 spreads its
// output evenly, so the word needs no mixing); an all-zero slot is empty, and
// the all-zero digest, should it ever be one, is kept apart.
class DigestSet {
public:
    explicit DigestSet(const std::vector<core::Digest>& digests) {
        std::size_t size = 16;
        while (size < 2 * digests.size()) size *= 2;
        slots_.assign(size, core::Digest{});
        mask_ = size - 1;
        for (const core::Digest& digest : digests) insert(digest);
    }

    bool contains(const core::Digest& digest) const {
        if (is_zero(digest)) return has_zero_;
        for (std::size_t i = first_word(digest) & mask_;; i = (i + 1) & mask_) {
            if (core::same_digest(slots_[i], digest)) return true;
            if (is_zero(slots_[i])) return false;
        }
    }

private:
    static std::uint64_t first_word(const core::Digest& digest) {
        std::uint64_t word;
        std::memcpy(&word, digest.data(), sizeof word);
        return word;
    }
    static bool is_zero(const core::Digest& digest) { return core::same_digest(digest, core::Digest{}); }

    void insert(const core::Digest& digest) {
        if (is_zero(digest)) {
            has_zero_ = true;
            return;
        }
        std::size_t i = first_word(digest) & mask_;
        while (!is_zero(slots_[i]) && !core::same_digest(slots_[i], digest)) i = (i + 1) & mask_;
        slots_[i] = digest;
    }

    std::vector<core::Digest> slots_;
    std::size_t mask_ = 0;
    bool has_zero_ = false;
};

// Detach: every edge whose start or end node (the nodes the edge holds) has
// the uid of a deleted node. One walk over the edge dict with a look-up per
// end keeps this linear in edges plus deleted nodes. The keys are collected
// first and removed afterwards, in the dict's order, so that a walk that
// fails (an entry that is not an Edge, a Ctrl-C) removes none of them; a key
// already gone is no error.
bool remove_attached_edges(PyObject* edges, const DigestSet& deleted) {
    Ref held = Ref::borrow(edges);
    std::vector<Ref> attached;
    SignalCheck signals;
    Py_ssize_t position = 0;
    PyObject *key, *value;
    for (;;) {
        // Before an entry is borrowed, as in merge_edge_between: a handler
        // may empty the dict, and the walk goes on from the dict as it is.
        if (!signals.tick()) return false;
        if (!PyDict_Next(edges, &position, &key, &value)) break;
        const EdgeValue* edge = edge_value(value);
        if (!edge) return false;
        const core::TypeNode* start = edge->core->start.type.get();
        const core::TypeNode* end = edge->core->end.type.get();
        if (deleted.contains(start->digest()) || (end != start && deleted.contains(end->digest()))) {
            attached.push_back(Ref::borrow(key));
        }
    }
    for (const Ref& key : attached) {
        if (PyObject_DelItem(edges, key.get()) < 0) PyErr_Clear();
    }
    return true;
}

// --- the path forms ---------------------------------------------------------------------

// The reused variables of a path that nothing before them binds: each must
// have a list when the step runs.
bool reused_are_bound(const QueryState& state, const PathPatternValue& path) {
    std::vector<const std::string*> made;
    for (const NodePatternValue& node : path.nodes) {
        if (node.type_obj) {
            if (node.variable) made.push_back(&*node.variable);
            continue;
        }
        bool earlier = false;
        for (const std::string* name : made) earlier |= *name == *node.variable;
        if (!earlier && !state.bindings->find(*node.variable)) {
            return raise(core::VelartoError{core::ErrorKind::VariableNotFound, *node.variable, {}, std::nullopt}),
                   false;
        }
        if (!earlier && !not_values(state, node.variable)) return false;
    }
    return true;
}

// Nodes in path order, created or merged (concrete) or looked up (reused),
// then the edges between neighbours; an end that is missing (a reused
// variable bound to an empty list) skips the edges that need it.
bool write_path(QueryState& state, const PathPatternValue& path, bool merge) {
    if (!reused_are_bound(state, path)) return false;
    std::vector<std::optional<NodeValue>> nodes(path.nodes.size());
    for (std::size_t i = 0; i < path.nodes.size(); ++i) {
        const NodePatternValue& pattern = path.nodes[i];
        if (!pattern.type_obj) {
            if (const NodeValue* bound = first_bound_node(state, pattern.variable)) nodes[i] = *bound;
            continue;
        }
        if (merge) {
            NodePatternValue copy = pattern;
            bool ok = for_each_accepted_node(state.graph.nodes.get(), copy, [&](const NodeValue& node, PyObject*) {
                nodes[i] = node;
                return false;
            });
            if (!ok) return false;
            if (nodes[i]) {
                if (pattern.variable) state.writable_bindings().append(*pattern.variable, *nodes[i]);
                continue;
            }
        }
        NodeValue made;
        if (!store_new_node(state, pattern, made)) return false;
        if (pattern.variable) state.writable_bindings().replace(*pattern.variable, ResultList{made});
        nodes[i] = std::move(made);
    }
    for (std::size_t i = 0; i < path.edges.size() && i + 1 < path.nodes.size(); ++i) {
        if (!nodes[i] || !nodes[i + 1]) continue;
        const EdgePatternValue& pattern = path.edges[i];
        bool backward = pattern.direction == "backward";
        const NodeValue& from = backward ? *nodes[i + 1] : *nodes[i];
        const NodeValue& to = backward ? *nodes[i] : *nodes[i + 1];
        bool ok = merge ? merge_edge_between(state, pattern, from, to) : create_edge(state, pattern, from, to);
        if (!ok) return false;
    }
    return true;
}

} // namespace

bool run_create(QueryState& state, const CreateOp& create) {
    if (auto* node = std::get_if<NodeForm>(&create.form)) return create_node(state, node->pattern);
    if (auto* edge = std::get_if<EdgeForm>(&create.form)) return create_edge_form(state, *edge);
    return write_path(state, std::get<PathForm>(create.form).path, false);
}

bool run_merge(QueryState& state, const MergeOp& merge) {
    if (auto* node = std::get_if<NodeForm>(&merge.form)) return merge_node(state, node->pattern);
    if (auto* edge = std::get_if<EdgeForm>(&merge.form)) return merge_edge(state, *edge);
    return write_path(state, std::get<PathForm>(merge.form).path, true);
}

bool run_set(QueryState& state, const SetOp& set) {
    const ResultList* bound = state.bindings->find(set.variable);
    if (!bound) return true;
    if (!not_values(state, set.variable)) return false;
    // Snapshot the caller's dict and the bound values: assignments may run
    // Python code that changes either.
    std::vector<std::pair<Ref, Ref>> items;
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (PyDict_Next(set.properties.get(), &position, &key, &value)) {
        items.emplace_back(Ref::borrow(key), Ref::borrow(value));
    }
    std::vector<Ref> targets;
    for (const QueryResult& entry : *bound) {
        if (auto* list = std::get_if<EdgeListValue>(&entry)) {
            for (const EdgeValue& edge : list->edges) targets.push_back(edge.properties);
        } else {
            targets.push_back(Ref::borrow(properties_of(entry)));
        }
    }
    for (const Ref& target : targets) {
        if (!assign_items(items, target.get())) return false;
    }
    return true;
}

bool run_delete(QueryState& state, const DeleteOp& del) {
    std::vector<Ref> node_uids, edge_uids;
    std::vector<core::Digest> deleted_types;
    for (const std::string& name : del.variables) {
        if (!not_values(state, name)) return false;
    }
    for (const std::string& name : del.variables) {
        const ResultList* bound = state.bindings->find(name);
        if (!bound) continue;
        for (const QueryResult& entry : *bound) {
            if (auto* node = std::get_if<NodeValue>(&entry)) {
                node_uids.push_back(Ref::steal(node_uid_to_python(*node)));
                deleted_types.push_back(node->type->digest());
                if (!node_uids.back()) return false;
            } else if (auto* edge = std::get_if<EdgeValue>(&entry)) {
                edge_uids.push_back(Ref::steal(edge_uid_to_python(*edge)));
                if (!edge_uids.back()) return false;
            } else {
                for (const EdgeValue& item : std::get<EdgeListValue>(entry).edges) {
                    edge_uids.push_back(Ref::steal(edge_uid_to_python(item)));
                    if (!edge_uids.back()) return false;
                }
            }
        }
    }
    // Removal errors, such as a key already gone, are ignored.
    for (const Ref& uid : node_uids) {
        if (PyObject_DelItem(state.graph.nodes.get(), uid.get()) < 0) PyErr_Clear();
    }
    for (const Ref& uid : edge_uids) {
        if (PyObject_DelItem(state.graph.edges.get(), uid.get()) < 0) PyErr_Clear();
    }
    if (!del.detach || deleted_types.empty()) return true;
    return remove_attached_edges(state.graph.edges.get(), DigestSet(deleted_types));
}

} // namespace velarto::py::query
