// The driver of a run, and the match step.
//
// A run walks a snapshot of the operation list from the first operation and
// dispatches each one; the binding table is not reset, so bindings left by
// earlier runs stay and each step replaces or appends per variable. The
// first failing step ends the run with its exception; what happened before
// stays, in the graph and in the bindings.
#include <type_traits>

#include "dict_version.hpp"
#include "interrupts.hpp"
#include "prefetch.hpp"
#include "query/anchor_plan.hpp"
#include "query/node_table.hpp"
#include "query/path_matcher.hpp"
#include "query/query_state.hpp"
#include "query/row_operations.hpp"
#include "query/where_parser.hpp"
#include "args.hpp"
#include "query/condition_eval.hpp"

namespace velarto::py::query {

DictWatch::DictWatch(PyObject* dict) : dict_(dict), size_(PyDict_GET_SIZE(dict)), version_(dict_version(dict)) {}

bool DictWatch::same() const {
    // A version of 0 means the dict could not be watched: nothing can be
    // promised about it, so it counts as changed.
    return version_ != 0 && PyDict_GET_SIZE(dict_) == size_ && dict_version(dict_) == version_;
}

bool DictWatch::unchanged() const {
    if (same()) return true;
    PyErr_SetString(PyExc_RuntimeError, "dictionary changed during iteration");
    return false;
}

namespace {

// The nodes at `positions` of the kept table that the pattern accepts, in
// dict order. Each is held before it is read; Python code (a property's
// `==`, a signal handler) that changes the dict ends the scan with a
// RuntimeError, since the nodes not reached yet are borrowed from it. Python
// code that writes properties may make a node the index left out match: from
// there on every node is tested, as the scan would.
template <class Keep>
bool for_each_indexed_node(PyObject* dict, const NodeTable& table, const std::vector<std::uint32_t>& positions,
                           const NodePatternValue& pattern, Keep keep) {
    DictWatch watch(dict);
    SignalCheck signals;
    PropertyWrites writes;
    const bool runs_python = !pattern.properties.empty();
    bool narrowed = true;
    std::size_t next = 0; // in `positions` while narrowed, in the table after
    constexpr std::size_t kObject = 16, kProperties = 8; // asked for ahead: the loads overlap
    for (;;) {
        if (narrowed ? next == positions.size() : next == table.nodes.size()) break;
        if (!signals.tick() || (signals.just_checked() && !watch.unchanged())) return false;
        const std::uint32_t at = narrowed ? positions[next] : static_cast<std::uint32_t>(next);
        if (narrowed && next + kObject < positions.size()) prefetch(table.nodes[positions[next + kObject]]);
        if (narrowed && next + kProperties < positions.size()) {
            prefetch(node_value(table.nodes[positions[next + kProperties]])->properties.get());
        }
        ++next;
        Ref object = Ref::borrow(table.nodes[at]);
        const NodeValue& node = *node_value(object.get()); // the table holds Node objects only
        MatchResult result = node_matches(pattern, node);
        if (result == MatchResult::Error || !watch.unchanged()) return false;
        if (result == MatchResult::Match) keep(node, object.get());
        if (narrowed && runs_python && !writes.quiet()) {
            narrowed = false;
            next = at + 1;
        }
    }
    return true;
}

bool match_node(QueryState& state, const NodePatternValue& pattern, const Condition* where = nullptr) {
    auto found = std::make_shared<NodeValueStore>();
    // A run that ends in a count may never read the values: it holds the
    // dict's objects (one pass over them) and copies only if a step reads
    // them; so does a match that is sorted and cut, whose sort reads one key
    // of each node in place and keeps a few. A run that returns rows reads
    // them all: copying while scanning costs less than a second pass later.
    const bool hold = state.counting || state.few_rows_read;
    std::vector<Ref> held;
    // A pattern without constraints takes every node: size the list once.
    if (!pattern.type_obj && !pattern.type_schema && pattern.properties.empty()) {
        const auto nodes = static_cast<std::size_t>(PyDict_GET_SIZE(state.graph.nodes.get()));
        if (hold) {
            held.reserve(nodes);
        } else {
            found->values.reserve(nodes);
        }
    }
    auto keep = [&](const NodeValue& node, PyObject* object) {
        if (hold && object) {
            held.push_back(Ref::borrow(object));
        } else {
            found->values.push_back(node);
        }
        return true;
    };
    PyObject* dict = state.graph.nodes.get();
    bool ok;
    std::shared_ptr<NodeTable> table;
    std::optional<std::vector<std::uint32_t>> positions;
    auto binds = [&](const std::string& name) { return pattern.variable == name; };
    const FollowingWhere following = narrowing_where(*state.bindings, state.params.get(), where, binds);
    if (may_narrow_nodes(pattern, following)) {
        table = node_table(dict);
        if (!table) return false;
        positions = choose_nodes(pattern, *table, following);
    }
    if (positions) {
        ok = for_each_indexed_node(dict, *table, *positions, pattern, keep);
    } else {
        ok = for_each_accepted_node(dict, pattern, keep, /*copies=*/!hold);
    }
    if (!ok) return false;
    found->hold_objects(std::move(held));
    if (pattern.variable) state.writable_bindings().replace(*pattern.variable, ResultList::node_column(std::move(found)));
    return true;
}

} // namespace

bool run_match(QueryState& state, const MatchOp& match, std::size_t row_cap, const Condition* where) {
    // Patterns are read in place: the operation list never changes them (a
    // schema compiled on first use is filled in, not changed).
    if (auto* node = std::get_if<NodeForm>(&match.form)) return match_node(state, node->pattern, where);
    if (auto* edge = std::get_if<EdgeForm>(&match.form)) {
        PathPatternValue path;
        path.nodes.resize(2);
        path.nodes[0].variable = edge->start;
        path.nodes[1].variable = edge->end;
        path.edges.push_back(edge->pattern);
        path.edges[0].direction = "forward";
        return match_chains(state, path, row_cap, where);
    }
    const PathPatternValue& path = std::get<PathForm>(match.form).path;
    if (path.nodes.size() == 1 && path.edges.empty()) return match_node(state, path.nodes[0], where);
    if (path.edges.empty()) {
        // Nodes side by side: each node pattern is its own node match.
        for (const NodePatternValue& pattern : path.nodes) {
            if (!match_node(state, pattern)) return false;
        }
        return true;
    }
    if (path.edges.size() + 1 == path.nodes.size()) return match_chains(state, path, row_cap, where);
    return true; // no other shape of path has a meaning: nothing is scanned or bound
}

namespace {

// How many rows can survive the `skip` and `limit` calls that directly follow
// the operation at `index`: rows past skips + limit are cut whatever they hold.
std::size_t rows_kept_after(const std::vector<const Operation*>& queue, std::size_t index) {
    std::size_t offset = 0;
    for (std::size_t i = index + 1; i < queue.size(); ++i) {
        if (auto* skip = std::get_if<SkipOp>(queue[i])) {
            offset = skip->count > SIZE_MAX - offset ? SIZE_MAX : offset + skip->count;
        } else if (auto* limit = std::get_if<LimitOp>(queue[i])) {
            return limit->count > SIZE_MAX - offset ? SIZE_MAX : offset + limit->count;
        } else {
            break;
        }
    }
    return SIZE_MAX;
}

// Whether a `with_` reads its rows in place: it names variables, or reads
// `name.key` into an alias, and evaluates nothing.
bool reads_in_place(const WithOp& with) {
    for (const Ref& item : with.items) {
        std::string text;
        if (!to_utf8(item.get(), text)) return PyErr_Clear(), false;
        bool unreadable;
        std::shared_ptr<const ResultExpression> expression = parse_result_expression(text, unreadable);
        if (!expression) return PyErr_Clear(), false;
        const core::ConditionTree& tree = expression->condition.tree;
        const core::ExprKind kind = tree.nodes[tree.root].kind;
        if (kind != core::ExprKind::Variable && kind != core::ExprKind::Property) return false;
    }
    return true;
}

// Whether the operations after `index` sort the rows and then cut them to
// a limit (skips may stand between, and `with_` steps that read rows in
// place before the sort): the rows past the limit are never read.
bool sorted_then_cut(const std::vector<const Operation*>& queue, std::size_t index) {
    std::size_t next = index + 1;
    while (next < queue.size() && std::holds_alternative<WithOp>(*queue[next]) &&
           reads_in_place(std::get<WithOp>(*queue[next]))) {
        ++next;
    }
    if (next == queue.size() || !std::holds_alternative<OrderByOp>(*queue[next])) return false;
    while (next < queue.size() && std::holds_alternative<OrderByOp>(*queue[next])) ++next;
    return rows_kept_after(queue, next - 1) != SIZE_MAX;
}

// A path whose maps read parameters runs as a copy that holds their values,
// read when the step runs (a missing one is an invalid query).
template <class Op, class Run>
bool with_values(QueryState& state, const Op& op, Run run) {
    auto* path = std::get_if<PathForm>(&op.form);
    if (!path || !reads_parameters(path->path)) return run(op);
    Op resolved = op;
    if (!with_parameters(std::get<PathForm>(resolved.form).path, state.params.get())) return false;
    return run(resolved);
}

} // namespace

bool execute_operations(QueryState& state) {
    // The list is persistent: holding a copy keeps every operation alive even
    // if Python code run by a step appends to this query's list.
    OperationList snapshot = state.operations;
    RowOperations rows(state);
    std::vector<const Operation*> queue = snapshot.in_order();
    for (std::size_t i = 0; i < queue.size(); ++i) {
        const Operation* operation = queue[i];
        // Counted tables are listed before a step reads them, where a long
        // listing can be interrupted; skip and limit only narrow their rows.
        const bool narrows = std::holds_alternative<SkipOp>(*operation) || std::holds_alternative<LimitOp>(*operation);
        if (!narrows && !state.bindings->list_pending_rows()) return false;
        if (std::holds_alternative<OrderByOp>(*operation)) {
            // Consecutive order_by calls form one sort, the first call primary.
            std::vector<const OrderByOp*> keys;
            for (; i < queue.size() && std::holds_alternative<OrderByOp>(*queue[i]); ++i) {
                keys.push_back(&std::get<OrderByOp>(*queue[i]));
            }
            --i;
            if (!rows.order_by(keys, rows_kept_after(queue, i))) return false;
            continue;
        }
        bool ok = std::visit(
            [&](const auto& op) -> bool {
                using Op = std::decay_t<decltype(op)>;
                if constexpr (std::is_same_v<Op, MatchOp>) {
                    const std::size_t cap = rows_kept_after(queue, i);
                    const Condition* where = nullptr;
                    if (i + 1 < queue.size()) {
                        if (auto* next = std::get_if<WhereOp>(queue[i + 1])) where = next->parsed.get();
                    }
                    state.few_rows_read = sorted_then_cut(queue, i);
                    const bool ran =
                        with_values(state, op, [&](const MatchOp& match) { return run_match(state, match, cap, where); });
                    state.few_rows_read = false;
                    return ran;
                } else if constexpr (std::is_same_v<Op, CreateOp>) {
                    return with_values(state, op, [&](const CreateOp& create) { return run_create(state, create); });
                } else if constexpr (std::is_same_v<Op, MergeOp>) {
                    return with_values(state, op, [&](const MergeOp& merge) { return run_merge(state, merge); });
                } else if constexpr (std::is_same_v<Op, SetOp>) {
                    return run_set(state, op);
                } else if constexpr (std::is_same_v<Op, DeleteOp>) {
                    return run_delete(state, op);
                } else {
                    return rows.apply(op);
                }
            },
            *operation);
        if (!ok) return false;
    }
    return true;
}

} // namespace velarto::py::query
