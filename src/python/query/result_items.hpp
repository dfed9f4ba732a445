// The items of `return_`, `return_distinct` and `with_`, checked when they are
// given, so that an item the language cannot read fails at its column
// instead of adding nothing to every row.
#pragma once

#include <Python.h>

#include "query/query_state.hpp"

namespace velarto::py::query {

enum class ItemUse { Return, With };

// Every item (a borrowed str) must be a variable's name, `name.key` of one, or
// an expression with an optional ` AS alias` (for `with_`: a name, or any
// item with an alias; `computes` tells whether any item is not a name).
// False with ValueError "Invalid query: ..." set, naming the item and the
// column where it goes wrong.
bool check_result_items(const QueryState& state, PyObject* const* items, Py_ssize_t count, ItemUse use,
                        bool* computes = nullptr);

} // namespace velarto::py::query
