// Calling a function of the table: the kinds of its arguments checked
// against its row, then its code.
//
// Messages name the function, what it expects and the kind it got, at the
// function's column: "toUpper() expects a string, got int"; with several
// arguments, which one: "substring() expects an integer as argument 2, got
// str". A list where a node or an edge is expected (the edges of a
// variable-length edge given to `type`) is let through to the code, which
// reads it as null.
#include "query/function_call.hpp"

#include <unistd.h>

#include <string>

#include "classes.hpp"
#include "graph_elements.hpp"

namespace velarto::py::query {

namespace {

constexpr FunctionCode kCode[] = {
#define VELARTO_FUNCTION_POINTER(id, ...) &call_##id,
    VELARTO_FUNCTIONS(VELARTO_FUNCTION_POINTER)
#undef VELARTO_FUNCTION_POINTER
};

std::uint16_t kind_bit(const Value& value) {
    if (!value.element && PyTuple_Check(value.object.get())) return core::arg::List;
    switch (kind_of(value)) {
    case Kind::Boolean: return core::arg::Boolean;
    case Kind::Integer: return core::arg::Integer;
    case Kind::Float: return core::arg::Float;
    case Kind::String: return core::arg::String;
    case Kind::List: return core::arg::List;
    case Kind::Map: return core::arg::Map;
    case Kind::Node: return core::arg::Node;
    case Kind::Edge: return core::arg::Edge;
    default: return core::arg::Other;
    }
}

// What a set of kinds reads as in a message.
std::string expected_kinds(std::uint16_t kinds) {
    namespace arg = core::arg;
    if ((kinds & arg::Graph) == arg::Graph && !(kinds & arg::Map)) return "a node or an edge";
    if ((kinds & arg::Graph) == arg::Graph) return "a node, an edge or a map";
    if (kinds == arg::Node) return "a node";
    if (kinds == arg::Edge) return "an edge";
    if (kinds == arg::Integer) return "an integer";
    if (kinds == arg::Number) return "a number";
    if (kinds == arg::String) return "a string";
    if (kinds == arg::List) return "a list";
    if (kinds == (arg::Number | arg::String)) return "a number or a string";
    if (kinds == (arg::String | arg::Boolean)) return "a string or a boolean";
    if (kinds == (arg::Number | arg::String | arg::Boolean)) return "a number, a string or a boolean";
    return "a string or a list";
}

} // namespace

bool ListBudget::take(std::size_t items) {
    // A list item costs its slot and, mostly, an object of its own.
    constexpr std::size_t kItemBytes = 40;
    static const std::size_t limit = [] {
        const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
        const std::size_t memory = pages > 0 && page > 0 ? static_cast<std::size_t>(pages) * static_cast<std::size_t>(page)
                                                         : std::size_t{1} << 32;
        return memory / 2 / kItemBytes;
    }();
    if (items > limit || used_ > limit - items) return false;
    used_ += items;
    return true;
}

bool FunctionCall::set(PyObject* result) const {
    out = Value{};
    if (!result) return false;
    if (result == Py_None) {
        Py_DECREF(result);
        return true;
    }
    out.object = Ref::steal(result);
    return true;
}

bool FunctionCall::refuse(std::size_t i, const char* expected) const {
    std::string what = std::string(core::function_name(expr.function)) + "() expects " + expected;
    if (core::function_row(expr.function).most > 1) what += " as argument " + std::to_string(i + 1);
    return raise_at(PyExc_TypeError, condition, expr.column, what + ", got " + kind_name(args[i]));
}

bool FunctionCall::too_large() const {
    return raise_at(PyExc_MemoryError, condition, expr.column,
                    std::string(core::function_name(expr.function)) + "() would make a list too large for memory");
}

bool FunctionCall::value_error(const std::string& what) const {
    return raise_at(PyExc_ValueError, condition, expr.column, std::string(core::function_name(expr.function)) + "() " + what);
}

bool call_function(const FunctionCall& call) {
    const core::FunctionRow& row = core::function_row(call.expr.function);
    call.out = Value{};
    for (std::size_t i = 0; i < call.count; ++i) {
        if (call.args[i].is_null()) return true;
    }
    for (std::size_t i = 0; i < call.count; ++i) {
        const std::uint16_t kinds = row.kinds[i < 3 ? i : 2];
        if (kind_bit(call.args[i]) & kinds) continue;
        const bool edges = call.expr.function == core::Function::Compose; // a list, and of edges
        return call.refuse(i, edges ? "a list of edges" : expected_kinds(kinds).c_str());
    }
    return kCode[static_cast<int>(call.expr.function)](call);
}

const NodeValue* node_of(const Value& value) {
    if (value.element) return std::get_if<NodeValue>(value.element);
    return value.object && Py_TYPE(value.object.get()) == NodeType ? node_value(value.object.get()) : nullptr;
}

const EdgeValue* edge_of(const Value& value) {
    if (value.element) return std::get_if<EdgeValue>(value.element);
    return value.object && Py_TYPE(value.object.get()) == EdgeType ? edge_value(value.object.get()) : nullptr;
}

} // namespace velarto::py::query
