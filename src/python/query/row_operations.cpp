// Row operations, applied where they stand in the queue.
//
// They act on rows of the binding table (row j is entry j of every list
// longer than j) and write the lists back: each list becomes its entries in
// the new row order, rows that lack the variable skipped. Lists that were
// aligned therefore stay aligned, and a shorter list keeps covering the first
// rows, as the model of results requires.
//
// While a condition is evaluated or a sort compares values, Python code may
// run (a property's `__eq__` or `__lt__`). The table being read is held by
// its own reference for that time: a copy of this query that shares it and
// runs from inside that code writes into a copy of its own (copy on write),
// never into the table under our feet. The table is written only after all
// Python code of the step has run.
#include "query/row_operations.hpp"

#include <algorithm>

#include "errors.hpp"
#include "interrupts.hpp"
#include "query/computed_bindings.hpp"
#include "query/row_order.hpp"

namespace velarto::py::query {

void RowOperations::keep_rows(const std::vector<std::size_t>& order) {
    // The old lists go last: freeing the values of dropped rows may run
    // Python code, which must find every list whole.
    std::vector<ResultList> dropped;
    for (auto& entry : state_.writable_bindings().entries()) {
        ResultList& list = entry.second;
        ResultList kept = std::move(list).pick(order);
        dropped.push_back(std::move(list));
        list = std::move(kept);
    }
}

bool RowOperations::apply(const WhereOp& op) {
    if (!op.parsed) return true;
    std::vector<std::size_t> kept;
    {
        std::shared_ptr<const Bindings> table = state_.bindings;
        EvalEnv env{*table, state_.params.get(), state_, regexes_};
        ConditionEvaluator evaluator(*op.parsed, env);
        if (!evaluator.prepare()) return false;
        std::size_t rows = table->row_count();
        SignalCheck signals;
        for (std::size_t row = 0; row < rows; ++row) {
            Truth truth;
            if (!signals.tick() || !evaluator.test(row, truth)) return false;
            if (truth == Truth::True) kept.push_back(row);
        }
        if (kept.size() == rows) return true;
    }
    keep_rows(kept);
    return true;
}

bool RowOperations::apply(const WithOp& op) {
    if (op.computes) return bind_projection(state_, regexes_, op.items);
    if (op.variables.empty()) return true;
    auto named = [&](const auto& entry) {
        return std::find(op.variables.begin(), op.variables.end(), entry.first) != op.variables.end();
    };
    const auto& entries = state_.bindings->entries();
    if (std::all_of(entries.begin(), entries.end(), named)) return true;
    state_.writable_bindings().retain(named);
    return true;
}

bool RowOperations::apply(const OrderByOp& op) { return order_by({&op}, SIZE_MAX); }

bool RowOperations::order_by(const std::vector<const OrderByOp*>& keys, std::size_t keep) {
    std::vector<std::size_t> order;
    {
        std::shared_ptr<const Bindings> table = state_.bindings;
        std::vector<SortKey> sort_keys;
        for (const OrderByOp* op : keys) {
            Ref key = Ref::steal(to_python_str(op->key));
            if (!key) return false;
            const ResultList* list = table->find(op->variable);
            if (!list) {
                raise(core::VelartoError{core::ErrorKind::VariableNotFound, op->variable, {}, std::nullopt});
                return false;
            }
            sort_keys.push_back({list, std::move(key), op->ascending, op->key.empty()});
        }
        const std::size_t rows = table->row_count();
        if (!sorted_rows(sort_keys, rows, order, keep)) return false;
        if (order.size() == rows && std::is_sorted(order.begin(), order.end())) return true;
    }
    keep_rows(order);
    return true;
}

bool RowOperations::apply(const SkipOp& op) {
    if (op.count == 0 || state_.bindings->row_count() == 0) return true;
    for (auto& entry : state_.writable_bindings().entries()) {
        entry.second.drop_front(op.count);
    }
    return true;
}

bool RowOperations::apply(const LimitOp& op) {
    if (state_.bindings->row_count() <= op.count) return true;
    for (auto& entry : state_.writable_bindings().entries()) {
        entry.second.truncate(op.count);
    }
    return true;
}

} // namespace velarto::py::query
