// The property keys of one element table (nodes or edges) in a Cypher
// export: which keys a dialect takes, and for the schema-first dialect the
// column each key becomes and the statements that make and fill the table.
//
// The schema-first engine compares names ignoring ASCII case, keeps a few
// for itself (`_id`, `_label`, `_src`, `_dst`; `rowid` reads its row number)
// and cannot read a row field whose name holds a backtick or is empty; such
// keys are refused, as is a key that differs from another only in ASCII
// case, rather than letting the engine fail halfway through the statements.
// A column's type is joined over every value it holds (cypher_values.hpp).
#pragma once

#include <Python.h>

#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "cypher_values.hpp"
#include "ref.hpp"

namespace velarto::py::cypher {

class Columns {
public:
    explicit Columns(bool schema_first) : schema_first_(schema_first) {}

    // Adds the plain copies of `properties`' items to `fields`, refusing
    // (TypeError or ValueError naming the element and the key) what the
    // dialect cannot take. `element` names the element, called on refusal.
    bool add_properties(PyObject* properties, PyObject* fields, const std::function<std::string()>& element);

    // Schema-first only, once every element was added.
    PyObject* node_table_statement() const; // new references
    PyObject* edge_table_statement() const;
    // The row of `fields` for the engine: every column in the columns'
    // order (None when missing, floats in a DOUBLE column), except null
    // lists, which it leaves out and marks in `left_out` ('1' at their
    // column's position). Empty with an exception set on failure.
    Ref complete_row(PyObject* fields, std::string& left_out) const;
    PyObject* node_create_statement(const std::string& left_out);
    PyObject* edge_create_statement(const std::string& left_out);

private:
    struct Column {
        Ref key;          // exact str
        std::string text; // UTF-8
        Kind kind;
    };

    // The column of `key` (an exact str), or -1 with ValueError set.
    long column_of(PyObject* key, const std::function<std::string()>& element);
    std::string property_map(const std::string& left_out) const;

    bool schema_first_;
    std::vector<Column> columns_;
    std::unordered_map<PyObject*, long> by_object_; // exact keys met, held by their column or `held_`
    std::vector<Ref> held_;
    std::unordered_map<std::string, long> by_text_; // ASCII-lowered when schema-first
    std::map<std::string, Ref> create_statements_;
};

} // namespace velarto::py::cypher
