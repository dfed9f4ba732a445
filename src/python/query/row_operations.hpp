// Row operations of a run: where, with_, order_by, skip and limit, applied at
// their place in the queue on the rows of the binding table.
#pragma once

#include <vector>

#include "query/condition_eval.hpp"
#include "query/query_state.hpp"

namespace velarto::py::query {

class RowOperations {
public:
    explicit RowOperations(QueryState& state) : state_(state) {}

    bool apply(const WhereOp& op);
    bool apply(const WithOp& op);
    bool apply(const OrderByOp& op);
    bool apply(const SkipOp& op);
    bool apply(const LimitOp& op);

    // Consecutive order_by calls: one stable sort, the first call's key
    // primary; only the first `keep` rows are kept (a limit follows).
    bool order_by(const std::vector<const OrderByOp*>& keys, std::size_t keep);

private:
    // Every list becomes its entries in the given row order, rows that lack
    // the variable skipped.
    void keep_rows(const std::vector<std::size_t>& order);

    QueryState& state_;
    RegexCache regexes_; // for the whole run
};

} // namespace velarto::py::query
