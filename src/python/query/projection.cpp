// Projection: rows paired by position, never combined into all pairs.
//
// Each row is a new dict from the requested name to a new Node or Edge
// object around a copy of the bound value; the copy shares the bound value's
// properties dict, so writes through a row reach the graph's own node. A
// requested name that is not bound itself but reads `var.key` with `var`
// bound is a property column: its cell is the property's value (None when
// the key is missing), present in the rows where `var` has an entry.
//
// Rows are first gathered as cells (the bound value, or the property's
// object) and turned into dicts only at the end, so that `return_distinct`
// can compare rows without making wrappers: graph values by uid, property
// values by Python equality, with a hash of each row to find the candidates.
// A name requested twice names one column (the second value would replace
// the first under the same key, and it is the same value).
#include "query/projection.hpp"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "args.hpp"
#include "errors.hpp"
#include "interrupts.hpp"

namespace velarto::py::query {

namespace {

PyObject* wrap(const QueryResult& value) {
    if (auto* node = std::get_if<NodeValue>(&value)) return node_to_python(*node);
    return edge_to_python(std::get<EdgeValue>(value));
}

struct Column {
    Ref key;                // the row key: an exact str
    const ResultList* list; // nullptr when the name is not bound
    Ref property;           // the property key of a `var.key` column
};

// One present cell of a row.
struct Cell {
    std::size_t column;
    const QueryResult* element = nullptr; // a variable column's value
    Ref value;                            // a property column's value
};

using Row = std::vector<Cell>;

// `var.key` where `var` is bound: the first '.' whose prefix names a
// variable. False with an exception set when the key cannot be made.
bool property_column(const Bindings& bindings, const std::string& name, Column& column) {
    for (std::size_t dot = name.find('.'); dot != std::string::npos; dot = name.find('.', dot + 1)) {
        const ResultList* list = bindings.find(name.substr(0, dot));
        if (!list) continue;
        column.list = list;
        column.property = Ref::steal(to_python_str(name.substr(dot + 1)));
        return static_cast<bool>(column.property);
    }
    return true;
}

bool columns_for(const Bindings& bindings, PyObject* const* names, Py_ssize_t count, std::vector<Column>& out) {
    std::vector<std::string> seen;
    for (Py_ssize_t i = 0; i < count; ++i) {
        std::string name;
        if (!to_utf8(names[i], name)) return false;
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
        seen.push_back(name);
        Ref key = PyUnicode_CheckExact(names[i]) ? Ref::borrow(names[i]) : Ref::steal(to_python_str(name));
        if (!key) return false;
        Column column{std::move(key), bindings.find(name), Ref()};
        if (!column.list && !property_column(bindings, name, column)) return false;
        out.push_back(std::move(column));
    }
    return true;
}

bool read_cell(const Column& column, std::size_t index, const QueryResult& entry, Cell& cell) {
    cell.column = index;
    if (!column.property) {
        cell.element = &entry;
        return true;
    }
    PyObject* properties = std::holds_alternative<NodeValue>(entry) ? std::get<NodeValue>(entry).properties.get()
                                                                    : std::get<EdgeValue>(entry).properties.get();
    PyObject* found = PyDict_Check(properties) ? PyDict_GetItemWithError(properties, column.property.get()) : nullptr;
    if (!found && PyErr_Occurred()) return false;
    cell.value = Ref::borrow(found ? found : Py_None);
    return true;
}

bool gather(const std::vector<Column>& columns, std::size_t row_count, std::vector<Row>& rows) {
    rows.reserve(row_count);
    SignalCheck signals;
    for (std::size_t j = 0; j < row_count; ++j) {
        if (!signals.tick()) return false;
        Row row;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const Column& column = columns[c];
            if (!column.list || column.list->size() <= j) continue;
            if (!read_cell(column, c, (*column.list)[j], row.emplace_back())) return false;
        }
        if (!row.empty()) rows.push_back(std::move(row));
    }
    return true;
}

// ---------------------------------------------------------------- distinct rows

bool hash_row(const Row& row, std::size_t& out) {
    std::size_t hash = row.size();
    for (const Cell& cell : row) {
        std::size_t part = cell.column;
        if (cell.element) {
            const core::Digest& digest = std::holds_alternative<NodeValue>(*cell.element)
                                             ? std::get<NodeValue>(*cell.element).type->digest()
                                             : std::get<EdgeValue>(*cell.element).digest();
            for (std::size_t i = 0; i < sizeof(std::size_t); ++i) part = part * 131 + digest[i];
        } else {
            Py_hash_t value = PyObject_Hash(cell.value.get());
            if (value == -1) {
                if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
                PyErr_Clear(); // unhashable: found by equality among the rows of the same other cells
                value = 0;
            }
            part = part * 1000003u + static_cast<std::size_t>(value);
        }
        hash = hash * 0x9E3779B97F4A7C15ull + part;
    }
    out = hash;
    return true;
}

bool same_element(const QueryResult& a, const QueryResult& b) {
    if (a.index() != b.index()) return false;
    if (auto* node = std::get_if<NodeValue>(&a)) return node->type->digest() == std::get<NodeValue>(b).type->digest();
    return std::get<EdgeValue>(a).digest() == std::get<EdgeValue>(b).digest();
}

bool same_cell(const Cell& a, const Cell& b, bool& out) {
    if (a.column != b.column) {
        out = false;
        return true;
    }
    if (a.element) {
        out = same_element(*a.element, *b.element);
        return true;
    }
    int equal = PyObject_RichCompareBool(a.value.get(), b.value.get(), Py_EQ);
    if (equal < 0) return false;
    out = equal > 0;
    return true;
}

bool same_row(const Row& a, const Row& b, bool& out) {
    out = a.size() == b.size();
    for (std::size_t i = 0; i < a.size() && out; ++i) {
        if (!same_cell(a[i], b[i], out)) return false;
    }
    return true;
}

bool drop_duplicates(std::vector<Row>& rows) {
    std::unordered_map<std::size_t, std::vector<std::size_t>> by_hash; // hash -> kept rows
    std::vector<Row> kept;
    for (Row& row : rows) {
        std::size_t hash;
        if (!hash_row(row, hash)) return false;
        std::vector<std::size_t>& candidates = by_hash[hash];
        bool duplicate = false;
        for (std::size_t index : candidates) {
            if (!same_row(kept[index], row, duplicate)) return false;
            if (duplicate) break;
        }
        if (duplicate) continue;
        candidates.push_back(kept.size());
        kept.push_back(std::move(row));
    }
    rows = std::move(kept);
    return true;
}

PyObject* make_rows(const std::vector<Column>& columns, const std::vector<Row>& rows) {
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return nullptr;
    for (const Row& cells : rows) {
        Ref row = Ref::steal(PyDict_New());
        if (!row) return nullptr;
        for (const Cell& cell : cells) {
            Ref value = cell.element ? Ref::steal(wrap(*cell.element)) : cell.value;
            if (!value || PyDict_SetItem(row.get(), columns[cell.column].key.get(), value.get()) < 0) return nullptr;
        }
        if (PyList_Append(list.get(), row.get()) < 0) return nullptr;
    }
    return list.release();
}

// Plain rows, built straight into dicts: no intermediate cells.
PyObject* direct_rows(const std::vector<Column>& columns, std::size_t row_count) {
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return nullptr;
    Cell cell;
    SignalCheck signals;
    for (std::size_t j = 0; j < row_count; ++j) {
        if (!signals.tick()) return nullptr;
        Ref row;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const Column& column = columns[c];
            if (!column.list || column.list->size() <= j) continue;
            if (!row && !(row = Ref::steal(PyDict_New()))) return nullptr;
            Ref value;
            if (column.property) {
                if (!read_cell(column, c, (*column.list)[j], cell)) return nullptr;
                value = std::move(cell.value);
            } else {
                value = Ref::steal(wrap((*column.list)[j]));
            }
            if (!value || PyDict_SetItem(row.get(), column.key.get(), value.get()) < 0) return nullptr;
        }
        if (row && PyList_Append(list.get(), row.get()) < 0) return nullptr;
    }
    return list.release();
}

} // namespace

PyObject* project_rows(const Bindings& bindings, PyObject* const* names, Py_ssize_t count, bool distinct) {
    if (bindings.empty()) return PyList_New(0);
    std::vector<Column> columns;
    if (!columns_for(bindings, names, count, columns)) return nullptr;
    if (!distinct) return direct_rows(columns, bindings.row_count());
    std::vector<Row> rows;
    if (!gather(columns, bindings.row_count(), rows)) return nullptr;
    if (distinct && !drop_duplicates(rows)) return nullptr;
    return make_rows(columns, rows);
}

} // namespace velarto::py::query
