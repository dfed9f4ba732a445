// Row operations of a run: where, with_, order_by, skip and limit, applied at
// their place in the queue on the rows of the binding table.
#pragma once

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

private:
    QueryState& state_;
};

} // namespace velarto::py::query
