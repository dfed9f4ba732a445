// Projection: rows paired by position, never combined into all pairs.
//
// Each row is a new dict from the requested name to a new Node or Edge
// object around a copy of the bound value; the copy shares the bound value's
// properties dict, so writes through a row reach the graph's own node.
#include "query/projection.hpp"

#include <string>
#include <vector>

#include "args.hpp"
#include "errors.hpp"

namespace velarto::py::query {

namespace {

PyObject* wrap(const QueryResult& value) {
    if (auto* node = std::get_if<NodeValue>(&value)) return node_to_python(*node);
    return edge_to_python(std::get<EdgeValue>(value));
}

struct Column {
    Ref key;                  // the row key: an exact str
    const ResultList* list;   // nullptr when the name is not bound
};

bool columns_for(const Bindings& bindings, PyObject* const* names, Py_ssize_t count, std::vector<Column>& out) {
    for (Py_ssize_t i = 0; i < count; ++i) {
        std::string name;
        if (!to_utf8(names[i], name)) return false;
        Ref key = PyUnicode_CheckExact(names[i]) ? Ref::borrow(names[i]) : Ref::steal(to_python_str(name));
        if (!key) return false;
        out.push_back({std::move(key), bindings.find(name)});
    }
    return true;
}

} // namespace

PyObject* project_rows(const Bindings& bindings, PyObject* const* names, Py_ssize_t count, bool distinct) {
    (void)distinct;
    Ref rows = Ref::steal(PyList_New(0));
    if (!rows || bindings.empty()) return rows.release();
    std::vector<Column> columns;
    if (!columns_for(bindings, names, count, columns)) return nullptr;
    std::size_t row_count = bindings.row_count();
    for (std::size_t j = 0; j < row_count; ++j) {
        Ref row = Ref::steal(PyDict_New());
        if (!row) return nullptr;
        for (const Column& column : columns) {
            if (!column.list || column.list->size() <= j) continue;
            Ref value = Ref::steal(wrap((*column.list)[j]));
            if (!value || PyDict_SetItem(row.get(), column.key.get(), value.get()) < 0) return nullptr;
        }
        if (PyDict_GET_SIZE(row.get()) > 0 && PyList_Append(rows.get(), row.get()) < 0) return nullptr;
    }
    return rows.release();
}

} // namespace velarto::py::query
