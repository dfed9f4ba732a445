// Projection: rows paired by position, never combined into all pairs.
//
// Each row is a new dict from the requested name to a new Node or Edge
// object around a copy of the bound value; the copy shares the bound value's
// properties dict, so writes through a row reach the graph's own node. A
// requested name that is not bound itself but reads `var.key` with `var`
// bound is a property column: its cell is the property's value (None when
// the key is missing), present in the rows where `var` has an entry. Any
// other item that reads as an expression (not a lone unbound name, which
// adds nothing, as it always did) is an expression column: present in every
// row, keyed by its alias or its text. An aggregate in any item groups the
// rows (aggregation.cpp).
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
#include "query/projection_rows.hpp"
#include "query/where_parser.hpp"

namespace velarto::py::query {

namespace {

PyObject* wrap(const QueryResult& value) { return result_to_python(value); }

// `var.key` where `var` is bound: the first '.' whose prefix names a
// variable. False with an exception set when the key cannot be made.
bool property_column(const Bindings& bindings, const std::string& name, Column& column) {
    for (std::size_t dot = name.find('.'); dot != std::string::npos; dot = name.find('.', dot + 1)) {
        const ResultList* list = bindings.find(name.substr(0, dot));
        if (!list) continue;
        column.list = list;
        PyObject* key = to_python_str(name.substr(dot + 1));
        if (!key) return false;
        PyUnicode_InternInPlace(&key); // properties dicts mostly hold interned keys: found by identity
        column.property = Ref::steal(key);
        column.item = name;
        column.dot_column = 1 + static_cast<std::size_t>(std::count_if(
            name.begin(), name.begin() + static_cast<std::ptrdiff_t>(dot), [](char c) { return (c & 0xC0) != 0x80; }));
        return true;
    }
    return true;
}

// An item that is not a bound name: an expression, unless it is a lone name
// or `var.key` (no alias), which keeps its meaning: a property column when
// some prefix before a '.' is bound, else nothing. Text that does not parse
// is a name too.
bool column_for(const EvalEnv& env, const std::string& name, Column& column) {
    const Bindings& bindings = env.bindings;
    column.list = bindings.find(name);
    if (column.list) return true;
    bool unreadable;
    std::shared_ptr<const ResultExpression> expression = parse_result_expression(name, unreadable);
    if (!expression) {
        if (!unreadable) return false;
        PyErr_Clear();
        return property_column(bindings, name, column);
    }
    const core::ConditionTree& tree = expression->condition.tree;
    const core::ExprNode* root = &tree.nodes[tree.root];
    while (root->kind == core::ExprKind::PropertyOf) root = &tree.nodes[root->operands[0]]; // `n.a.b`
    bool lone = !expression->alias && (root->kind == core::ExprKind::Variable || root->kind == core::ExprKind::Property);
    if (lone) {
        if (!property_column(bindings, name, column)) return false;
        // A name written in backticks reads its variable like any expression.
        if (column.list || !bindings.find(root->text)) return true;
    }
    if (expression->alias) column.key = Ref::steal(to_python_str(*expression->alias));
    if (!column.key) return false;
    column.expression = std::move(expression);
    column.evaluator = std::make_unique<ConditionEvaluator>(column.expression->condition, env);
    return column.evaluator->prepare();
}

} // namespace

// One column per distinct key; a later item with a key already seen replaces
// the earlier one's definition (as a later value replaces an earlier one in
// a dict) and keeps its place.
bool columns_for(const EvalEnv& env, PyObject* const* names, Py_ssize_t count, std::vector<Column>& out) {
    std::vector<std::string> keys;
    for (Py_ssize_t i = 0; i < count; ++i) {
        std::string name;
        if (!to_utf8(names[i], name)) return false;
        Column column;
        column.key = PyUnicode_CheckExact(names[i]) ? Ref::borrow(names[i]) : Ref::steal(to_python_str(name));
        if (!column.key || !column_for(env, name, column)) return false;
        std::string key = name;
        if (column.expression && column.expression->alias) key = *column.expression->alias;
        auto seen = std::find(keys.begin(), keys.end(), key);
        if (seen != keys.end()) {
            out[static_cast<std::size_t>(seen - keys.begin())] = std::move(column);
            continue;
        }
        keys.push_back(std::move(key));
        out.push_back(std::move(column));
    }
    return true;
}

namespace {

// The value of a property column's key in `properties` (None when missing),
// those of `entry`: a new reference, or nullptr with an exception set. An
// entry without properties (an edge list, a plain value other than a dict)
// has none to read: TypeError; a plain None reads as None.
PyObject* property_value(const Column& column, PyObject* properties, const QueryResult& entry) {
    if (!properties) {
        auto* plain = std::get_if<PlainValue>(&entry);
        if (plain && plain->object.get() == Py_None) return Py_NewRef(Py_None);
        std::string key;
        if (!to_utf8(column.property.get(), key)) return nullptr;
        std::string message = "cannot read property '" + key + "' of a " + element_kind_name(entry) +
                              core::condition_location(column.dot_column, column.item);
        PyErr_SetString(PyExc_TypeError, message.c_str());
        return nullptr;
    }
    PyObject* found = PyDict_Check(properties)
                          ? PyDict_GetItemWithError(properties, column.property.get())
                          : nullptr;
    if (!found && PyErr_Occurred()) return nullptr;
    return Py_NewRef(found ? found : Py_None);
}

} // namespace

bool read_cell(const Column& column, std::size_t index, const QueryResult& entry, Cell& cell) {
    cell.column = index;
    if (!column.property) {
        // A plain value is a cell's object, as an evaluated one would be.
        if (auto* plain = std::get_if<PlainValue>(&entry)) cell.value = plain->object;
        else cell.element = &entry;
        return true;
    }
    cell.value = Ref::steal(property_value(column, properties_of(entry), entry));
    return static_cast<bool>(cell.value);
}

namespace {

PyObject* property_at(const Column& column, std::size_t row) {
    PyObject* properties = column.list->properties_at(row);
    // Without properties the list holds its values: reading one makes nothing.
    return properties ? property_value(column, properties, QueryResult{})
                      : property_value(column, nullptr, (*column.list)[row]);
}

} // namespace

bool read_property_cell(const Column& column, std::size_t index, std::size_t row, Cell& cell) {
    cell.column = index;
    cell.value = Ref::steal(property_at(column, row));
    return static_cast<bool>(cell.value);
}

void value_cell(std::size_t column, const Value& value, Cell& cell) {
    cell.column = column;
    cell.element = value.element;
    cell.value = value.element ? Ref() : Ref::borrow(value.object ? value.object.get() : Py_None);
}

bool gather(const std::vector<Column>& columns, std::size_t row_count, std::vector<Row>& rows) {
    rows.reserve(row_count);
    SignalCheck signals;
    for (std::size_t j = 0; j < row_count; ++j) {
        if (!signals.tick()) return false;
        Row row;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const Column& column = columns[c];
            if (column.evaluator) {
                Value value;
                if (!column.evaluator->evaluate(j, value)) return false;
                value_cell(c, value, row.emplace_back());
                continue;
            }
            if (!column.list || column.list->size() <= j) continue;
            if (column.property) {
                if (!read_property_cell(column, c, j, row.emplace_back())) return false;
            } else if (!read_cell(column, c, (*column.list)[j], row.emplace_back())) {
                return false;
            }
        }
        if (!row.empty()) rows.push_back(std::move(row));
    }
    return true;
}

namespace {

// ---------------------------------------------------------------- distinct rows

// A cell as a value: graph values compare by uid whether they are bound
// values or Node and Edge objects found in properties.
Value cell_value(const Cell& cell) {
    Value value;
    value.element = cell.element;
    if (!cell.element && cell.value.get() != Py_None) value.object = cell.value;
    return value;
}

bool hash_row(const Row& row, std::size_t& out) {
    std::size_t hash = row.size();
    for (const Cell& cell : row) {
        std::size_t part;
        if (!hash_value(cell_value(cell), part)) return false;
        hash = hash * 0x9E3779B97F4A7C15ull + part * 1000003u + cell.column;
    }
    out = hash;
    return true;
}

bool same_cell(const Cell& a, const Cell& b, bool& out) {
    out = false;
    return a.column != b.column || same_value(cell_value(a), cell_value(b), out);
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
    SignalCheck signals;
    for (std::size_t j = 0; j < row_count; ++j) {
        if (!signals.tick()) return nullptr;
        Ref row;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const Column& column = columns[c];
            if (!column.list || column.list->size() <= j) continue;
            if (!row && !(row = Ref::steal(PyDict_New()))) return nullptr;
            Ref value = Ref::steal(column.property ? property_at(column, j) : column.list->to_python(j));
            if (!value || PyDict_SetItem(row.get(), column.key.get(), value.get()) < 0) return nullptr;
        }
        if (row && PyList_Append(list.get(), row.get()) < 0) return nullptr;
    }
    return list.release();
}

} // namespace

PyObject* project_rows(QueryState& state, const Bindings& bindings, PyObject* const* names, Py_ssize_t count,
                       bool distinct) {
    if (bindings.empty()) return PyList_New(0);
    RegexCache regexes;
    EvalEnv env{bindings, state.params.get(), state, regexes};
    std::vector<Column> columns;
    if (!columns_for(env, names, count, columns)) return nullptr;
    bool expressions = false, aggregates = false;
    for (const Column& column : columns) {
        expressions |= static_cast<bool>(column.expression);
        aggregates |= column.expression && column.expression->aggregates;
    }
    if (!distinct && !expressions) return direct_rows(columns, bindings.row_count());
    std::vector<Row> rows;
    bool ok = aggregates ? aggregate_rows(columns, bindings.row_count(), rows)
                         : gather(columns, bindings.row_count(), rows);
    if (!ok) return nullptr;
    if (distinct && !drop_duplicates(rows)) return nullptr;
    return make_rows(columns, rows);
}

} // namespace velarto::py::query
