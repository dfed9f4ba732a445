// Choosing the place a chain search starts from, and its nodes.
#include "query/anchor_plan.hpp"

#include <algorithm>
#include <string>
#include <string_view>

#include "core/condition.hpp"
#include "query/condition_eval.hpp"
#include "query/edge_topology.hpp"
#include "query/node_table.hpp"

namespace velarto::py::query {

using core::ExprKind;
using core::ExprNode;

namespace {

// A first test of the following `where` that names the nodes of a variable.
struct PushedTest {
    enum class Kind { Property, Uid, Type } kind = Kind::Property;
    std::string variable;
    PyObject* key = nullptr;        // Property: the interned key (held by the condition)
    std::vector<PyObject*> values;  // borrowed from the condition or the parameters
    bool keeps_missing = false;     // more tests follow a null one
};

// `dict[key]` for an exact str key, found by walking the dict so that no
// key's `==` runs; nullptr when absent or not decidable that way.
PyObject* exact_entry(PyObject* dict, PyObject* key) {
    if (!dict || !PyDict_Check(dict)) return nullptr;
    Py_ssize_t position = 0;
    PyObject *entry_key, *value;
    while (PyDict_Next(dict, &position, &entry_key, &value)) {
        if (!PyUnicode_CheckExact(entry_key)) return nullptr;
        if (entry_key == key || PyUnicode_Compare(entry_key, key) == 0) return value;
    }
    return nullptr;
}

// The value of a literal or parameter operand; nullptr when it is neither
// (or a parameter without a value: the `where` raises that itself).
PyObject* constant_operand(const Condition& condition, std::uint32_t index, PyObject* params) {
    const ExprNode& expr = condition.tree.nodes[index];
    switch (expr.kind) {
    case ExprKind::Integer:
    case ExprKind::Float:
    case ExprKind::String: return condition.constants[index].get();
    case ExprKind::Boolean: return expr.boolean ? Py_True : Py_False;
    case ExprKind::Parameter: return exact_entry(params, condition.constants[index].get());
    default: return nullptr;
    }
}

// The values of `x IN <list>`: the items of a list literal of constants, or
// of a list or tuple parameter. False when some item is not known or null.
bool list_operand(const Condition& condition, std::uint32_t index, PyObject* params, std::vector<PyObject*>& out) {
    const ExprNode& expr = condition.tree.nodes[index];
    if (expr.kind == ExprKind::List) {
        for (std::uint32_t item : expr.operands) {
            PyObject* value = constant_operand(condition, item, params);
            if (!value) return false;
            out.push_back(value);
        }
        return true;
    }
    if (expr.kind != ExprKind::Parameter) return false;
    PyObject* list = constant_operand(condition, index, params);
    if (!list || !(PyList_CheckExact(list) || PyTuple_CheckExact(list))) return false;
    // The parameter dict is never changed once made: its items stay alive.
    const Py_ssize_t size = PySequence_Fast_GET_SIZE(list);
    for (Py_ssize_t i = 0; i < size; ++i) out.push_back(PySequence_Fast_GET_ITEM(list, i));
    return true;
}

// `x.key`, `uid(x)` or `type(x)` with x a variable: the test's kind and x.
bool node_side(const Condition& condition, std::uint32_t index, PushedTest& test) {
    const ExprNode& expr = condition.tree.nodes[index];
    if (expr.kind == ExprKind::Property) {
        test.kind = PushedTest::Kind::Property;
        test.variable = expr.text;
        test.key = condition.constants[index].get();
        return test.key != nullptr;
    }
    if (expr.kind != ExprKind::Call || expr.operands.size() != 1) return false;
    if (expr.function != core::Function::Uid && expr.function != core::Function::Type) return false;
    const ExprNode& argument = condition.tree.nodes[expr.operands[0]];
    if (argument.kind != ExprKind::Variable) return false;
    test.kind = expr.function == core::Function::Uid ? PushedTest::Kind::Uid : PushedTest::Kind::Type;
    test.variable = argument.text;
    return true;
}

std::optional<PushedTest> pushed_test(const FollowingWhere& where) {
    if (!where.condition) return std::nullopt;
    const Condition& condition = *where.condition;
    const ExprNode& root = condition.tree.nodes[condition.tree.root];
    std::uint32_t first = condition.tree.root;
    bool more = false;
    if (root.kind == ExprKind::And) {
        first = root.operands[0];
        more = true;
    }
    const ExprNode& expr = condition.tree.nodes[first];
    PushedTest test;
    test.keeps_missing = more;
    if (expr.kind == ExprKind::Compare && expr.ops.size() == 1 && expr.ops[0] == core::Op::Eq) {
        for (int side = 0; side < 2; ++side) {
            PushedTest candidate = test;
            if (!node_side(condition, expr.operands[side], candidate)) continue;
            PyObject* value = constant_operand(condition, expr.operands[1 - side], where.params);
            if (!value || value == Py_None) return std::nullopt; // null for every row: nothing to narrow
            candidate.values.push_back(value);
            return candidate;
        }
        return std::nullopt;
    }
    if (expr.kind == ExprKind::Predicate && expr.ops.size() == 1 && expr.ops[0] == core::Op::In &&
        expr.operands.size() == 2 && node_side(condition, expr.operands[0], test)) {
        if (!list_operand(condition, expr.operands[1], where.params, test.values)) return std::nullopt;
        // `x IN [.., null, ..]` is null, not false, where x is not found.
        if (std::find(test.values.begin(), test.values.end(), Py_None) != test.values.end()) return std::nullopt;
        return test;
    }
    return std::nullopt;
}

// The uid text of a node (64 lower-case hex digits) as a digest.
bool digest_of_uid(const std::string& text, core::Digest& out) {
    if (text.size() != 64) return false;
    const char* hex = text.data();
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < 32; ++i) {
        int high = nibble(hex[2 * i]), low = nibble(hex[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        out[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return true;
}

void add_all(const std::vector<std::uint32_t>* ids, std::vector<std::uint32_t>& out) {
    if (ids) out.insert(out.end(), ids->begin(), ids->end());
}

// Keeps `ids` when it is the first or the smallest set so far.
void keep_smaller(std::optional<std::vector<std::uint32_t>>& best, std::vector<std::uint32_t> ids) {
    if (!best || ids.size() < best->size()) best = std::move(ids);
}

// The best of a property map's keys through `index_of(key)` (a kept
// PropertyIndex or nullptr): the ids whose value may equal the map's.
// Nothing when no key has a value an index can judge.
template <class IndexOf>
std::optional<std::vector<std::uint32_t>> nodes_of_map(const RequiredProperties& properties, IndexOf index_of) {
    std::optional<std::vector<std::uint32_t>> best;
    for (const RequiredProperty& required : properties) {
        PyObject* value = required.value.get();
        if (!value || !judged_by_hash(value) || !PyUnicode_CheckExact(required.python_key.get())) continue;
        if (PropertyIndex* index = index_of(required.python_key.get())) {
            std::vector<std::uint32_t> ids;
            index->add_candidates(PyObject_Hash(value), ids); // judged: cannot fail
            keep_smaller(best, std::move(ids));
        }
    }
    return best;
}

// The ids a pushed property test can be true (or, with more tests after it,
// null) for; nothing when the index cannot judge a value.
template <class IndexOf>
std::optional<std::vector<std::uint32_t>> nodes_of_property_test(const PushedTest& test, IndexOf index_of) {
    if (!std::all_of(test.values.begin(), test.values.end(), judged_by_hash)) return std::nullopt;
    PropertyIndex* index = index_of(test.key);
    if (!index) return std::nullopt;
    std::vector<std::uint32_t> ids;
    for (PyObject* value : test.values) index->add_candidates(PyObject_Hash(value), ids); // judged: cannot fail
    if (test.keeps_missing) index->add_missing(ids);
    return ids;
}

// The property index of `key` over the nodes at the edges' ends.
auto end_node_index(EdgeTopology& topology) {
    return [&topology](PyObject* key) {
        return topology.property_indexes.of(key, [&] { return end_node_dicts(topology); }, false);
    };
}

// The nodes the pushed test can be true (or, with more tests after it,
// null) for; nothing when the index cannot judge a value.
std::optional<std::vector<std::uint32_t>> nodes_of_test(const PushedTest& test, EdgeTopology& topology) {
    if (test.kind == PushedTest::Kind::Property) return nodes_of_property_test(test, end_node_index(topology));
    // uid() and type() are texts, never null on a node: another value is
    // false for every node. Texts compare by their text, a str subclass's too.
    std::vector<std::uint32_t> ids;
    for (PyObject* value : test.values) {
        if (!PyUnicode_Check(value)) continue;
        Py_ssize_t length = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(value, &length);
        if (!utf8) {
            PyErr_Clear(); // a lone surrogate: no uid or display form has one
            continue;
        }
        const std::string text(utf8, static_cast<std::size_t>(length));
        if (test.kind == PushedTest::Kind::Type) {
            add_all(topology.node_names.with_display(topology, text), ids);
            continue;
        }
        core::Digest digest;
        if (digest_of_uid(text, digest)) add_all(topology.node_names.with_uid(topology, digest), ids);
    }
    return ids;
}

// The nodes a node pattern's own tests leave: its exact type, or the best
// of its property map's keys. Nothing when it has no selective test.
std::optional<std::vector<std::uint32_t>> nodes_of_pattern(const NodePatternValue& pattern, EdgeTopology& topology) {
    const core::TypeNode* exact = pattern.type_obj ? pattern.type_obj.get() : nullptr;
    if (!exact && pattern.type_schema) exact = pattern.type_schema->tree().exact_type().get();
    if (exact) {
        std::vector<std::uint32_t> ids;
        const std::int64_t id = topology.index.id_of(exact->digest());
        if (id >= 0) ids.push_back(static_cast<std::uint32_t>(id));
        return ids;
    }
    return nodes_of_map(pattern.properties, end_node_index(topology));
}

} // namespace

bool may_narrow_nodes(const NodePatternValue& pattern, const FollowingWhere& where) {
    if (pattern.type_obj) return false;
    for (const RequiredProperty& required : pattern.properties) {
        if (required.value && judged_by_hash(required.value.get())) return true;
    }
    std::optional<PushedTest> pushed = pushed_test(where);
    return pushed && pattern.variable == pushed->variable && pushed->kind == PushedTest::Kind::Property;
}

std::optional<std::vector<std::uint32_t>> choose_nodes(const NodePatternValue& pattern, NodeTable& table,
                                                       const FollowingWhere& where) {
    if (pattern.type_obj || table.nodes.empty()) return std::nullopt; // the lookup by type finds those
    auto index_of = [&](PyObject* key) { return table.property_indexes.of(key, [&] { return table.owners(); }, true); };
    std::optional<std::vector<std::uint32_t>> best = nodes_of_map(pattern.properties, index_of);
    std::optional<PushedTest> pushed = pushed_test(where);
    if (pushed && pattern.variable == pushed->variable && pushed->kind == PushedTest::Kind::Property) {
        if (auto ids = nodes_of_property_test(*pushed, index_of)) keep_smaller(best, std::move(*ids));
    }
    if (!best) return std::nullopt;
    std::sort(best->begin(), best->end());
    best->erase(std::unique(best->begin(), best->end()), best->end());
    // Most nodes left: the scan reads ahead better, and no index is asked
    // whether it still holds.
    if (best->size() > 64 && best->size() > table.nodes.size() / 8) return std::nullopt;
    return best;
}

std::optional<Anchors> choose_anchors(const PathPatternValue& path, EdgeTopology& topology, const FollowingWhere& where,
                                      bool later_place_wins) {
    if (path.edges.empty() || topology.edges.empty()) return std::nullopt;
    std::optional<PushedTest> pushed = pushed_test(where);
    // The place whose node the pushed test reads: where variables are joined
    // every place holds it, so the first; else the last place wins.
    std::optional<std::size_t> pushed_place;
    auto names_an_edge = [&](const std::string& name) {
        return std::any_of(path.edges.begin(), path.edges.end(), [&](const auto& e) { return e.variable == name; });
    };
    if (pushed && !names_an_edge(pushed->variable)) {
        for (std::size_t place = 0; place < path.nodes.size(); ++place) {
            if (path.nodes[place].variable != pushed->variable) continue;
            pushed_place = place;
            if (!later_place_wins) break;
        }
    }
    std::optional<Anchors> best;
    for (std::size_t place = 0; place < path.nodes.size(); ++place) {
        // Before the place, fixed hops only; from the first place, a first
        // segment that can be empty starts at nodes without edges.
        if (place > 0 && path.edges[place - 1].range) break;
        if (place == 0 && path.edges[0].range && path.edges[0].range->min == 0) continue;
        std::optional<std::vector<std::uint32_t>> ids = nodes_of_pattern(path.nodes[place], topology);
        if (pushed_place == place) {
            std::optional<std::vector<std::uint32_t>> narrowed = nodes_of_test(*pushed, topology);
            if (narrowed && (!ids || narrowed->size() < ids->size())) ids = std::move(narrowed);
        }
        if (!ids || (best && ids->size() >= best->ids.size())) continue;
        best = Anchors{place, std::move(*ids)};
    }
    if (best) {
        std::sort(best->ids.begin(), best->ids.end());
        best->ids.erase(std::unique(best->ids.begin(), best->ids.end()), best->ids.end());
    }
    return best;
}

} // namespace velarto::py::query
