// The steps that change the graph: create, merge, set and delete.
//
// Every write into the graph is an item assignment under the element's uid,
// replacing what the dict held there. A create binds by replacement, a merge
// that finds appends and one that creates replaces. A failure ends the run;
// what was written before it stays.
#include <utility>

#include "errors.hpp"
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

// The first node bound to `name`, if its list starts with a node.
const NodeValue* first_bound_node(const QueryState& state, const std::optional<std::string>& name) {
    if (!name) return nullptr;
    const ResultList* list = state.bindings->find(*name);
    if (!list || list->empty()) return nullptr;
    return std::get_if<NodeValue>(&list->front());
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
    bool ok = for_each_accepted_node(state.graph.nodes.get(), pattern, [&](const NodeValue& node) {
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

bool merge_edge(QueryState& state, const EdgeForm& form) {
    const NodeValue* start = first_bound_node(state, form.start);
    const NodeValue* end = first_bound_node(state, form.end);
    if (!start || !end) return true;
    NodeValue from = *start, to = *end;
    const core::Digest from_digest = from.type->digest();
    const core::Digest to_digest = to.type->digest();
    EdgePatternValue pattern = form.pattern;
    PyObject* edges = state.graph.edges.get();
    Ref held = Ref::borrow(edges);
    DictWatch watch(edges);
    SignalCheck signals;
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (PyDict_Next(edges, &position, &key, &value)) {
        if (!signals.tick()) return false;
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


} // namespace

bool run_create(QueryState& state, const CreateOp& create) {
    if (auto* node = std::get_if<NodeForm>(&create.form)) return create_node(state, node->pattern);
    if (auto* edge = std::get_if<EdgeForm>(&create.form)) return create_edge_form(state, *edge);
    for (const NodePatternValue& pattern : std::get<PathForm>(create.form).path.nodes) {
        if (!create_node(state, pattern)) return false;
    }
    return true;
}

bool run_merge(QueryState& state, const MergeOp& merge) {
    if (auto* node = std::get_if<NodeForm>(&merge.form)) return merge_node(state, node->pattern);
    return merge_edge(state, std::get<EdgeForm>(merge.form));
}

bool run_set(QueryState& state, const SetOp& set) {
    const ResultList* bound = state.bindings->find(set.variable);
    if (!bound) return true;
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
        if (auto* node = std::get_if<NodeValue>(&entry)) targets.push_back(node->properties);
        else targets.push_back(std::get<EdgeValue>(entry).properties);
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
        const ResultList* bound = state.bindings->find(name);
        if (!bound) continue;
        for (const QueryResult& entry : *bound) {
            if (auto* node = std::get_if<NodeValue>(&entry)) {
                node_uids.push_back(Ref::steal(node_uid_to_python(*node)));
                deleted_types.push_back(node->type->digest());
                if (!node_uids.back()) return false;
            } else {
                edge_uids.push_back(Ref::steal(edge_uid_to_python(std::get<EdgeValue>(entry))));
                if (!edge_uids.back()) return false;
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
    // Detach: also every edge whose start or end node has the uid of a deleted node.
    std::vector<Ref> attached;
    SignalCheck signals;
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (PyDict_Next(state.graph.edges.get(), &position, &key, &value)) {
        if (!signals.tick()) return false;
        const EdgeValue* edge = edge_value(value);
        if (!edge) return false;
        for (const core::Digest& type : deleted_types) {
            if (edge->core->start.type->digest() == type || edge->core->end.type->digest() == type) {
                attached.push_back(Ref::borrow(key));
                break;
            }
        }
    }
    for (const Ref& key : attached) {
        if (PyObject_DelItem(state.graph.edges.get(), key.get()) < 0) PyErr_Clear();
    }
    return true;
}

} // namespace velarto::py::query
