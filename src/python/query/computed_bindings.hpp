// The binding table that a computing `with_` leaves.
//
// `with_` with any item other than a variable's name projects the rows as
// `return_` does (the same columns, the same grouping) and binds the result
// instead of returning it: a named variable keeps its entries, an aliased
// item binds its values, one per projected row, and every other variable is
// dropped. Later steps read an alias as a variable whose entries are plain
// values (result_list.hpp).
#pragma once

#include <Python.h>

#include <vector>

#include "query/condition_eval.hpp"
#include "query/query_state.hpp"
#include "ref.hpp"

namespace velarto::py::query {

// Replaces the state's table by the projection of `items` (str objects) over
// it. A table with no variables stays as it is. False with an exception set;
// the table is then unchanged.
bool bind_projection(QueryState& state, RegexCache& regexes, const std::vector<Ref>& items);

} // namespace velarto::py::query
