// Checking result items before anything runs.
//
// Any text is a variable's name once a step binds it (`match(node="my var")`),
// and `name.key` reads its property; every other item must parse. Which
// names a run can bind is known before it runs: the table's names now and
// the variables of the recorded match, create and merge steps. They are
// gathered only when an item does not parse, which the common items do.
#include "query/result_items.hpp"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <unordered_set>

#include "args.hpp"
#include "errors.hpp"
#include "query/condition_eval.hpp"
#include "query/where_parser.hpp"

namespace velarto::py::query {

namespace {

using Names = std::unordered_set<std::string>;

void add(Names& names, const std::optional<std::string>& name) {
    if (name) names.insert(*name);
}

void add_form(Names& names, const std::variant<NodeForm, EdgeForm, PathForm>& form) {
    if (auto* node = std::get_if<NodeForm>(&form)) return add(names, node->pattern.variable);
    if (auto* edge = std::get_if<EdgeForm>(&form)) {
        add(names, edge->pattern.variable);
        add(names, edge->start);
        add(names, edge->end);
        return;
    }
    const PathPatternValue& path = std::get<PathForm>(form).path;
    for (const NodePatternValue& node : path.nodes) add(names, node.variable);
    for (const EdgePatternValue& edge : path.edges) add(names, edge.variable);
}

Names bindable_names(const QueryState& state) {
    Names names;
    for (const auto& entry : state.bindings->entries()) names.insert(entry.first);
    for (const Operation* operation : state.operations.in_order()) {
        if (auto* match = std::get_if<MatchOp>(operation)) add_form(names, match->form);
        else if (auto* create = std::get_if<CreateOp>(operation)) add_form(names, create->form);
        else if (auto* merge = std::get_if<MergeOp>(operation)) add_form(names, merge->form);
    }
    return names;
}

// A property key as `name.key` may write it without quotes: letters, digits,
// '_', '.' and any non-ASCII character; no brackets, operators or blanks,
// which belong to expressions (`n.l[0] AS i`).
bool plain_key(std::string_view key) {
    return !key.empty() && std::all_of(key.begin(), key.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte >= 0x80 || std::isalnum(byte) || c == '_' || c == '.';
    });
}

// A name, or (for `return_`) `name.key` with a prefix before some '.' that is a name.
bool names_a_variable(const Names& names, const std::string& item, ItemUse use) {
    if (names.count(item)) return true;
    if (use == ItemUse::With) return false;
    for (std::size_t dot = item.find('.'); dot != std::string::npos; dot = item.find('.', dot + 1)) {
        if (names.count(item.substr(0, dot))) return plain_key(std::string_view(item).substr(dot + 1));
    }
    return false;
}

} // namespace

bool check_result_items(const QueryState& state, PyObject* const* items, Py_ssize_t count, ItemUse use,
                        bool* computes) {
    if (computes) *computes = false;
    std::optional<Names> names;
    auto known = [&](const std::string& item) {
        if (!names) names = bindable_names(state);
        return names_a_variable(*names, item, use);
    };
    for (Py_ssize_t i = 0; i < count; ++i) {
        std::string item;
        if (!to_utf8(items[i], item)) return false;
        bool unreadable;
        std::shared_ptr<const ResultExpression> expression = parse_result_expression(item, unreadable);
        if (!expression) {
            if (!unreadable || !known(item)) {
                // The parser's error, at its column; a blank item has none to name.
                if (item.find_first_not_of(" \t\n\r") != std::string::npos) return false;
                PyErr_Clear();
                raise(core::condition_error("an item must not be empty", item.size() + 1, item));
                return false;
            }
            PyErr_Clear();
            continue;
        }
        if (use == ItemUse::Return) continue;
        const core::ConditionTree& tree = expression->condition.tree;
        const core::ExprNode& root = tree.nodes[tree.root];
        if ((root.kind == core::ExprKind::Variable && !expression->alias) || known(item)) continue;
        if (!expression->alias) {
            raise(core::condition_error("with_ binds a computed item under an alias: add AS name", root.column, item));
            return false;
        }
        if (computes) *computes = true;
    }
    return true;
}

} // namespace velarto::py::query
