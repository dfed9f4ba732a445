// Property keys and columns of a Cypher export (see cypher_columns.hpp).
#include "cypher_columns.hpp"

#include <string_view>

#include "errors.hpp"

namespace velarto::py::cypher {

namespace {

constexpr std::string_view kOwnPrefix = "velarto_";
constexpr std::string_view kEngineNames[] = {"_id", "_label", "_src", "_dst", "rowid"};

std::string ascii_lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::nullptr_t refuse_key(PyObject* type, const std::function<std::string()>& element, PyObject* key,
                          const char* why) {
    PyErr_Format(type, "%s: property key %R cannot be exported: %s", element().c_str(), key, why);
    return nullptr;
}

// Makes an int of a DOUBLE column a float; false with an exception set.
bool float_of_int(PyObject* value, Ref& out) {
    double number = PyLong_AsDouble(value);
    if (number == -1.0 && PyErr_Occurred()) return false;
    out = Ref::steal(PyFloat_FromDouble(number));
    return static_cast<bool>(out);
}

} // namespace

long Columns::column_of(PyObject* key, const std::function<std::string()>& element) {
    if (auto found = by_object_.find(key); found != by_object_.end()) return found->second;
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(key, &size);
    if (!utf8) return -1;
    std::string text(utf8, static_cast<std::size_t>(size));
    if (text.starts_with(kOwnPrefix)) {
        refuse_key(PyExc_ValueError, element, key, "keys starting with 'velarto_' are the export's own");
        return -1;
    }
    std::string lookup = text;
    if (schema_first_) {
        lookup = ascii_lowered(text);
        const char* why = nullptr;
        if (text.empty()) why = "the engine refuses an empty name";
        else if (text.find('`') != std::string::npos) why = "the engine cannot read a name holding a backtick";
        else if (lookup.starts_with(kOwnPrefix))
            why = "it names one of the export's own columns, as the engine ignores ASCII case in names";
        for (std::string_view reserved : kEngineNames)
            if (lookup == reserved) why = "the engine keeps this name for itself";
        if (why) {
            refuse_key(PyExc_ValueError, element, key, why);
            return -1;
        }
    }
    long index;
    if (auto found = by_text_.find(lookup); found != by_text_.end()) {
        index = found->second;
        if (columns_[index].text != text) {
            PyErr_Format(PyExc_ValueError,
                         "%s: property key %R cannot be exported: it differs from the key %R only in ASCII "
                         "case, which the engine ignores",
                         element().c_str(), key, columns_[index].key.get());
            return -1;
        }
    } else {
        index = static_cast<long>(columns_.size());
        columns_.push_back(Column{Ref::borrow(key), text, Kind{}});
        by_text_.emplace(std::move(lookup), index);
    }
    by_object_.emplace(key, index);
    held_.push_back(Ref::borrow(key));
    return index;
}

bool Columns::add_properties(PyObject* properties, PyObject* fields, const std::function<std::string()>& element) {
    if (!PyDict_Check(properties)) {
        PyErr_Format(PyExc_TypeError, "%s: properties must be a dict, not %.200s", element().c_str(),
                     Py_TYPE(properties)->tp_name);
        return false;
    }
    // A snapshot: what we read is held, whatever happens to the dict.
    Ref items = Ref::steal(PyDict_Items(properties));
    if (!items) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        PyObject* item = PyList_GET_ITEM(items.get(), i);
        PyObject* raw_key = PyTuple_GET_ITEM(item, 0);
        if (!PyUnicode_Check(raw_key)) {
            PyErr_Format(PyExc_TypeError, "%s: a property key of type %.200s cannot be exported: keys must be str",
                         element().c_str(), Py_TYPE(raw_key)->tp_name);
            return false;
        }
        Ref key = plain_text(raw_key);
        if (!key) return false;
        if (has_surrogate(key.get())) {
            refuse_key(PyExc_ValueError, element, key.get(), "it holds a lone surrogate, which UTF-8 cannot encode");
            return false;
        }
        long index = column_of(key.get(), element);
        if (index < 0) return false;
        Kind kind;
        std::string refusal;
        Ref value = plain_value(PyTuple_GET_ITEM(item, 1), kind, refusal);
        if (!value) {
            if (!refusal.empty())
                PyErr_Format(PyExc_TypeError, "%s: property %R holds %s, which a database cannot hold",
                             element().c_str(), key.get(), refusal.c_str());
            return false;
        }
        if (schema_first_) {
            Kind& column = columns_[index].kind;
            if (kind.list && kind.scalar == Scalar::Mixed) {
                PyErr_Format(PyExc_TypeError, "%s: property %R holds a %s; a list column holds one kind of element",
                             element().c_str(), key.get(), kind_name(kind).c_str());
                return false;
            }
            if (!join_kinds(column, kind)) {
                PyErr_Format(PyExc_TypeError,
                             "%s: property %R holds %s, where other elements hold %s; a column holds one kind",
                             element().c_str(), key.get(), kind_name(kind).c_str(), kind_name(column).c_str());
                return false;
            }
        }
        int present = PyDict_Contains(fields, key.get()); // exact str keys: no Python code runs
        if (present != 0) {
            if (present > 0)
                refuse_key(PyExc_ValueError, element, key.get(), "another key of the same text precedes it");
            return false;
        }
        if (PyDict_SetItem(fields, key.get(), value.get()) < 0) return false;
    }
    return true;
}

PyObject* Columns::node_table_statement() const {
    std::string text = "CREATE NODE TABLE VNode(velarto_uid STRING PRIMARY KEY, velarto_type STRING, "
                       "velarto_shape STRING[]";
    for (const Column& column : columns_) text += ", `" + column.text + "` " + column_type(column.kind);
    return to_python_str(text + ")");
}

PyObject* Columns::edge_table_statement() const {
    std::string text = "CREATE REL TABLE VEdge(FROM VNode TO VNode, velarto_uid STRING, velarto_name STRING, "
                       "velarto_type STRING, velarto_shape STRING[]";
    for (const Column& column : columns_) text += ", `" + column.text + "` " + column_type(column.kind);
    return to_python_str(text + ")");
}

Ref Columns::complete_row(PyObject* fields, std::string& left_out) const {
    // The engine matches rows by their fields' order, so each row is made
    // anew in one order: the export's own fields, then the columns'.
    // `fields` is the export's own dict, seen by no Python code yet, so the
    // values borrowed from it stay put while the row is made.
    Ref row = Ref::steal(PyDict_New());
    if (!row) return {};
    for (const char* own : {"velarto_uid", "velarto_name", "velarto_type", "velarto_shape"}) {
        PyObject* value = PyDict_GetItemString(fields, own); // borrowed; exact str keys only
        if (value && PyDict_SetItemString(row.get(), own, value) < 0) return {};
    }
    left_out.assign(columns_.size(), '0');
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const Column& column = columns_[i];
        PyObject* value = PyDict_GetItemWithError(fields, column.key.get()); // borrowed
        if (!value && PyErr_Occurred()) return {};
        if (column.kind.list) {
            if (!value || value == Py_None) {
                left_out[i] = '1';
                continue;
            }
            if (column.kind.scalar == Scalar::Float) {
                for (Py_ssize_t j = 0; j < PyList_GET_SIZE(value); ++j) { // our own list
                    PyObject* item = PyList_GET_ITEM(value, j);
                    if (!PyLong_CheckExact(item)) continue;
                    Ref number;
                    if (!float_of_int(item, number)) return {};
                    PyList_SetItem(value, j, number.release());
                }
            }
            if (PyDict_SetItem(row.get(), column.key.get(), value) < 0) return {};
            continue;
        }
        Ref number;
        if (value && column.kind.scalar == Scalar::Float && PyLong_CheckExact(value) && !float_of_int(value, number))
            return {};
        if (PyDict_SetItem(row.get(), column.key.get(), number ? number.get() : value ? value : Py_None) < 0)
            return {};
    }
    return row;
}

std::string Columns::property_map(const std::string& left_out) const {
    std::string text = "velarto_uid: row.velarto_uid, velarto_type: row.velarto_type, "
                       "velarto_shape: row.velarto_shape";
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (left_out[i] == '1') continue;
        // A column a batch holds only nulls in reads as STRING, which the
        // engine casts to nothing else unless told.
        const std::string quoted = "`" + columns_[i].text + "`";
        const char* type = column_type(columns_[i].kind);
        if (std::string_view(type) == "STRING") text += ", " + quoted + ": row." + quoted;
        else text += ", " + quoted + ": CAST(row." + quoted + " AS " + type + ")";
    }
    return text;
}

PyObject* Columns::node_create_statement(const std::string& left_out) {
    Ref& cached = create_statements_[left_out];
    if (!cached)
        cached = Ref::steal(to_python_str("UNWIND $rows AS row CREATE (n:VNode {" + property_map(left_out) + "})"));
    return cached ? Py_NewRef(cached.get()) : nullptr;
}

// MATCH ... CREATE, not `COPY VEdge FROM (UNWIND ... RETURN ...)`: the COPY
// finds the ends by primary key and runs ten times faster, but the engine's
// COPY was seen to store a list of two equal texts as the text and an empty
// one, on a batch that CREATE stores right.
PyObject* Columns::edge_create_statement(const std::string& left_out) {
    Ref& cached = create_statements_[left_out];
    if (!cached)
        cached = Ref::steal(to_python_str(
            "UNWIND $rows AS row MATCH (s:VNode {velarto_uid: row.velarto_start}), "
            "(t:VNode {velarto_uid: row.velarto_end}) CREATE (s)-[r:VEdge {velarto_name: row.velarto_name, " +
            property_map(left_out) + "}]->(t)"));
    return cached ? Py_NewRef(cached.get()) : nullptr;
}

} // namespace velarto::py::cypher
