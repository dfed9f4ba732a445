// Computing `with_`: the projection bound as the next binding table.
//
// A plain projection keeps the rows as they are, so a named variable's list
// is carried over whole (a list that reads a table keeps reading it) and only
// the computed items are evaluated, row by row. With an aggregate the rows
// are grouped by `aggregate_rows`, exactly as in `return_`, and every list is
// made from the groups' cells. A group whose rows lack a variable lacks it
// too; groups come in order of first appearance and a list covers a prefix
// of the rows, so the groups that have it come first and the new list covers
// a prefix of the new rows.
//
// The old table is held by our own reference while it is read (an
// expression may run Python code). What the new lists take from it is
// copied; the old table is let go at the very end, after everything that
// points into it is gone, since freeing its values may run finalizers.
#include "query/computed_bindings.hpp"

#include <string>
#include <utility>

#include "args.hpp"
#include "interrupts.hpp"
#include "query/projection_rows.hpp"

namespace velarto::py::query {

namespace {

// A cell or an evaluated value as an entry: a graph value is copied, any
// other value (null as None) becomes a plain value.
QueryResult entry_of(const QueryResult* element, PyObject* object) {
    if (element) return *element;
    return PlainValue{Ref::borrow(object ? object : Py_None)};
}

bool carried(const Column& column) { return column.list && !column.property && !column.evaluator; }
bool aggregating(const Column& column) { return column.expression && column.expression->aggregates; }

// `var.key AS alias`: the key (borrowed from the tree) and var's list, read
// in place where the entry is a node or an edge, as the evaluator would
// first try; anything else goes to the evaluator.
struct DirectProperty {
    const ResultList* list = nullptr;
    PyObject* key = nullptr;
};

DirectProperty direct_property(const Bindings& table, const Column& column) {
    if (!column.evaluator) return {};
    const core::ConditionTree& tree = column.expression->condition.tree;
    const core::ExprNode& root = tree.nodes[tree.root];
    if (root.kind != core::ExprKind::Property) return {};
    return {table.find(root.text), column.expression->condition.constants[tree.root].get()};
}

// The value in place, or false (`out` empty) when the evaluator must read it.
bool read_direct(const DirectProperty& direct, std::size_t row, Ref& out) {
    if (!direct.list || row >= direct.list->size()) return true;
    PyObject* properties = direct.list->properties_at(row);
    if (!properties || !PyDict_Check(properties)) return true;
    PyObject* found = PyDict_GetItemWithError(properties, direct.key);
    if (!found && PyErr_Occurred()) return false;
    out = Ref::borrow(found ? found : Py_None);
    return true;
}

// The computed columns, row by row; a carried column's list is left empty.
bool project_plain(const Bindings& table, const std::vector<Column>& columns, std::vector<ResultList>& lists) {
    const std::size_t rows = table.row_count();
    std::vector<DirectProperty> direct;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (columns[c].evaluator) lists[c].reserve(rows);
        direct.push_back(direct_property(table, columns[c]));
    }
    SignalCheck signals;
    for (std::size_t row = 0; row < rows; ++row) {
        if (!signals.tick()) return false;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const Column& column = columns[c];
            Ref found;
            if (!read_direct(direct[c], row, found)) return false;
            if (found) {
                lists[c].push_back(PlainValue{std::move(found)});
            } else if (column.evaluator) {
                Value value;
                if (!column.evaluator->evaluate(row, value)) return false;
                lists[c].push_back(entry_of(value.element, value.object.get()));
            } else if (column.property && row < column.list->size()) {
                Cell cell;
                if (!read_property_cell(column, c, row, cell)) return false;
                lists[c].push_back(entry_of(nullptr, cell.value.get()));
            }
        }
    }
    return true;
}

bool project_grouped(const std::vector<Column>& columns, std::size_t rows, std::vector<ResultList>& lists) {
    std::vector<Row> groups;
    if (!aggregate_rows(columns, rows, groups)) return false;
    for (const Row& group : groups) {
        for (const Cell& cell : group) lists[cell.column].push_back(entry_of(cell.element, cell.value.get()));
    }
    return true;
}

} // namespace

bool bind_projection(QueryState& state, RegexCache& regexes, const std::vector<Ref>& items) {
    if (state.bindings->empty()) return true;
    std::vector<std::string> names;   // per column: the name it binds
    std::vector<ResultList> lists;    // and its list
    std::vector<bool> binds, moves;   // whether it binds at all; whether its old list moves over
    {
        std::shared_ptr<const Bindings> table = state.bindings;
        EvalEnv env{*table, state.params.get(), state, regexes};
        std::vector<PyObject*> objects;
        for (const Ref& item : items) objects.push_back(item.get());
        std::vector<Column> columns;
        if (!columns_for(env, objects.data(), static_cast<Py_ssize_t>(objects.size()), columns)) return false;
        bool grouped = false;
        for (const Column& column : columns) grouped |= aggregating(column);
        names.resize(columns.size());
        lists.resize(columns.size());
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (!to_utf8(columns[c].key.get(), names[c])) return false;
            binds.push_back(columns[c].list || columns[c].evaluator);
            moves.push_back(!grouped && carried(columns[c]));
        }
        bool ok = grouped ? project_grouped(columns, table->row_count(), lists)
                          : project_plain(*table, columns, lists);
        if (!ok) return false;
    }
    Bindings& old = state.writable_bindings();
    Bindings made;
    for (std::size_t c = 0; c < names.size(); ++c) {
        if (!binds[c]) continue;
        if (ResultList* list = moves[c] ? old.find(names[c]) : nullptr) lists[c] = std::move(*list);
        made.replace(names[c], std::move(lists[c]));
    }
    // Held until the end: freeing the old values may run Python code.
    std::shared_ptr<const Bindings> previous =
        std::exchange(state.bindings, std::make_shared<const Bindings>(std::move(made)));
    return true;
}

} // namespace velarto::py::query
