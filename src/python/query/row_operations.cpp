// Row operations. They are recorded by the builder and, for now, passed over
// by the run: they filter, project, order and cut nothing.
#include "query/row_operations.hpp"

namespace velarto::py::query {

bool RowOperations::apply(const WhereOp&) { return true; }
bool RowOperations::apply(const WithOp&) { return true; }
bool RowOperations::apply(const OrderByOp&) { return true; }
bool RowOperations::apply(const SkipOp&) { return true; }
bool RowOperations::apply(const LimitOp&) { return true; }

} // namespace velarto::py::query
