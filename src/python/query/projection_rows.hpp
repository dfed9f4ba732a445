// The pieces of projection shared by plain rows and grouped rows.
//
// A column is what one requested item reads: a bound variable, a property
// of one (`var.key`), or an expression evaluated on the row. A row is
// gathered as cells (the bound value, or a Python object) and turned into a
// dict only at the end, so that rows can be compared and grouped without
// making wrappers.
#pragma once

#include <Python.h>

#include <memory>
#include <string>
#include <vector>

#include "query/condition_eval.hpp"

namespace velarto::py::query {

struct Column {
    Ref key;                        // the row key: an exact str
    const ResultList* list = nullptr; // a variable or property column's list
    Ref property;                   // the property key of a `var.key` column
    std::string item;               // and the item as given, with
    std::size_t dot_column = 0;     // the column of its '.', for errors
    std::shared_ptr<const ResultExpression> expression; // an expression column
    std::unique_ptr<ConditionEvaluator> evaluator;      // its evaluator, prepared
};

// One present cell of a row.
struct Cell {
    std::size_t column = 0;
    const QueryResult* element = nullptr; // a graph value of the table (never a plain value)
    Ref value;                            // or a Python object (None for null)
};

using Row = std::vector<Cell>;

// One column per distinct key of the items (borrowed str objects), each
// prepared on `env`; a later item with a key seen before replaces the
// earlier one's definition and keeps its place. False with an exception set.
bool columns_for(const EvalEnv& env, PyObject* const* names, Py_ssize_t count, std::vector<Column>& out);

// The cells of every row in order, rows with no cell dropped.
bool gather(const std::vector<Column>& columns, std::size_t row_count, std::vector<Row>& rows);

// The cell of a variable or property column on a row where its list has an
// entry. False with an exception set.
bool read_cell(const Column& column, std::size_t index, const QueryResult& entry, Cell& cell);

// The same for a property column, read without making the list's values.
bool read_property_cell(const Column& column, std::size_t index, std::size_t row, Cell& cell);

// An evaluated value as a cell.
void value_cell(std::size_t column, const Value& value, Cell& cell);

// Rows grouped by the columns without aggregates, one per group in order of
// first appearance; the aggregating columns computed per group.
bool aggregate_rows(const std::vector<Column>& columns, std::size_t row_count, std::vector<Row>& out);

} // namespace velarto::py::query
