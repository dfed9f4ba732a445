// The order of rows under `order_by`: a stable sort by property keys, or by
// the bound values themselves.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "query/bindings.hpp"
#include "ref.hpp"

namespace velarto::py::query {

// One key of a sort: the property `key` (an exact str) of the row's entry in
// `list` (nullptr when the variable is not bound), or with `itself` the
// entry itself (nodes and edges by uid).
struct SortKey {
    const ResultList* list;
    Ref key;
    bool ascending;
    bool itself = false;
};

// The rows 0 .. rows-1 in sorted order, the first key primary; only the first
// `keep` of them when fewer are kept (a `limit` follows), exactly the full
// order's prefix. False with an exception set when reading a property or
// comparing two values failed.
bool sorted_rows(const std::vector<SortKey>& keys, std::size_t rows, std::vector<std::size_t>& order,
                 std::size_t keep = SIZE_MAX);

} // namespace velarto::py::query
