// The kept node tables.
#include "query/node_table.hpp"

#include "dict_version.hpp"
#include "graph_elements.hpp"
#include "query/kept_per_dict.hpp"

namespace velarto::py::query {

namespace {

KeptPerDict<NodeTable> kept_node_tables;

void forget_freed_node_table(PyObject* dict) { kept_node_tables.forget(dict); }

std::shared_ptr<NodeTable> make_node_table(PyObject* dict) {
    auto table = std::make_shared<NodeTable>();
    table->nodes.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(dict)));
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (PyDict_Next(dict, &position, &key, &value)) {
        if (!node_value(value)) return nullptr;
        table->nodes.push_back(value);
    }
    return table;
}

} // namespace

DictOwners NodeTable::owners() const {
    DictOwners owners;
    owners.reserve(nodes.size());
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        owners.emplace_back(static_cast<std::uint32_t>(i), node_value(nodes[i])->properties.get());
    }
    return owners;
}

std::shared_ptr<NodeTable> node_table(PyObject* dict) {
    return kept_node_tables.current(dict, make_node_table, forget_freed_node_table);
}

} // namespace velarto::py::query
