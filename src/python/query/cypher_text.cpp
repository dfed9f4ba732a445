// The pieces of openCypher text a translation writes: names, parameters,
// and the check of what a database can hold.
#include <cctype>
#include <string>

#include "args.hpp"
#include "errors.hpp"
#include "query/cypher_translation.hpp"

namespace velarto::py::query {

namespace {

bool plain_identifier(std::string_view name) {
    if (name.empty() || !(std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_')) return false;
    for (char c : name) {
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
    }
    return true;
}

} // namespace

// The dialect argument: "opencypher" (left out) or "ladybug".
bool dialect_argument(const Signature& signature, int index, PyObject* given, Dialect& out) {
    out = Dialect::OpenCypher;
    if (!given) return true;
    if (!PyUnicode_Check(given)) return argument_error(signature, index, "str", given);
    if (PyUnicode_CompareWithASCIIString(given, "opencypher") == 0) return true;
    if (PyUnicode_CompareWithASCIIString(given, "ladybug") == 0) {
        out = Dialect::Ladybug;
        return true;
    }
    PyErr_Format(PyExc_ValueError, "unknown dialect %R: expected 'opencypher' or 'ladybug'", given);
    return false;
}

bool refuse_step(const std::string& step, const std::string& why) {
    std::string message = "Cannot translate " + step + ": " + why;
    Ref text = Ref::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(PyExc_ValueError, text.get());
    return false;
}

std::string quoted_name(std::string_view name) {
    if (plain_identifier(name)) return std::string(name);
    std::string out = "`";
    for (char c : name) {
        if (c == '`') out += '`';
        out += c;
    }
    return out + "`";
}

bool cypher_name(std::string_view name, const std::string& step, std::string& out) {
    if (name.substr(0, 8) == "velarto_") {
        return refuse_step(step, "the name '" + std::string(name) + "' is kept for the exported layout");
    }
    out = quoted_name(name);
    return true;
}

std::string unstorable(PyObject* value, bool maps_allowed) {
    if (value == Py_None || PyBool_Check(value) || PyFloat_Check(value) || PyUnicode_Check(value)) return {};
    if (PyLong_Check(value)) {
        int overflow = 0;
        PyLong_AsLongLongAndOverflow(value, &overflow);
        if (PyErr_Occurred()) PyErr_Clear();
        return overflow ? "an int beyond 64 bits" : std::string{};
    }
    if (PyList_Check(value) || PyTuple_Check(value)) {
        Ref held = Ref::borrow(value);
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(value); ++i) {
            PyObject* item = PySequence_Fast_GET_ITEM(value, i);
            if (PyList_Check(item) || PyTuple_Check(item) || PyDict_Check(item)) return "a list holding a list or a map";
            Ref item_held = Ref::borrow(item);
            std::string inner = unstorable(item, false);
            if (!inner.empty()) return "a list holding " + inner;
        }
        return {};
    }
    if (maps_allowed && PyDict_Check(value)) {
        Ref held = Ref::borrow(value);
        PyObject *key, *item;
        Py_ssize_t pos = 0;
        while (PyDict_Next(value, &pos, &key, &item)) {
            if (!PyUnicode_Check(key)) return "a map with a key that is no text";
            std::string inner = unstorable(item, true);
            if (!inner.empty()) return "a map holding " + inner;
        }
        return {};
    }
    return std::string("a value of type ") + Py_TYPE(value)->tp_name;
}

bool CypherWriter::start() {
    params_ = Ref::steal(PyDict_New());
    return static_cast<bool>(params_);
}

bool CypherWriter::pass(PyObject* value, const std::string& what, std::string& out) {
    std::string why = unstorable(value, true);
    if (!why.empty()) return refuse_step(what, "a database cannot hold " + why);
    std::string name = "velarto_p" + std::to_string(next_++);
    if (PyDict_SetItemString(params_.get(), name.c_str(), value) < 0) return false;
    out = '$';
    out += name;
    return true;
}

bool CypherWriter::user_parameter(PyObject* name, std::string& out) {
    std::string text;
    if (!to_utf8(name, text)) return false;
    const std::string step = std::string(1, '$') += text;
    if (text.substr(0, 8) == "velarto_") return refuse_step(step, "the name is kept for the translation's own parameters");
    PyObject* value = user_params_ ? PyDict_GetItemWithError(user_params_, name) : nullptr;
    if (!value) {
        if (PyErr_Occurred()) return false;
        raise(core::VelartoError::invalid_query("parameter $" + text + " has no value"));
        return false;
    }
    Ref held = Ref::borrow(value);
    std::string why = unstorable(value, true);
    if (!why.empty()) return refuse_step(step, "a database cannot hold " + why);
    if (PyDict_SetItem(params_.get(), name, value) < 0) return false;
    out = '$';
    out += quoted_name(text);
    return true;
}

} // namespace velarto::py::query
