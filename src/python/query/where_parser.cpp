// Conditions (parsed when `where` is called) and result expressions.
//
// The engine parses the text; here every literal becomes its Python constant,
// every property key and parameter name an interned str and every exists()
// pattern a path pattern, once, so that evaluating a row makes no constant
// objects. An integer literal longer than the interpreter
// converts (sys.set_int_max_str_digits) is reported as an invalid query, at
// its column, like any other malformed condition.
#include "query/where_parser.hpp"

#include "errors.hpp"
#include "query/condition_eval.hpp"

namespace velarto::py::query {

namespace {

using core::ExprKind;
using core::ExprNode;

PyObject* integer_constant(const ExprNode& expr) { return PyLong_FromString(expr.text.c_str(), nullptr, 10); }

PyObject* float_constant(const ExprNode& expr) {
    double value = PyOS_string_to_double(expr.text.c_str(), nullptr, nullptr);
    if (value == -1.0 && PyErr_Occurred()) return nullptr;
    return PyFloat_FromDouble(value);
}

PyObject* interned(const std::string& text) {
    PyObject* key = to_python_str(text);
    if (key) PyUnicode_InternInPlace(&key);
    return key;
}

// The constant of one node, or nullptr when it has none (and no error): a
// literal's value, an interned key or parameter name, a map's keys as a tuple.
PyObject* constant_of(const ExprNode& expr) {
    switch (expr.kind) {
    case ExprKind::Integer: return integer_constant(expr);
    case ExprKind::Float: return float_constant(expr);
    case ExprKind::String: return to_python_str(expr.text);
    case ExprKind::Property:
    case ExprKind::PropertyOf: return interned(expr.key);
    case ExprKind::Map: {
        Ref keys = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(expr.keys.size())));
        for (std::size_t i = 0; keys && i < expr.keys.size(); ++i) {
            PyObject* key = interned(expr.keys[i]);
            if (!key) return nullptr;
            PyTuple_SET_ITEM(keys.get(), static_cast<Py_ssize_t>(i), key);
        }
        return keys.release();
    }
    case ExprKind::Parameter: return interned(expr.text);
    default: return nullptr;
    }
}

// The conversion's own exception, as the reason of an invalid query.
core::VelartoError conversion_error(const ExprNode& expr, const std::string& text) {
    std::string reason = "literal cannot be converted";
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    Ref held_type = Ref::steal(type), held_value = Ref::steal(value), held_traceback = Ref::steal(traceback);
    Ref message = Ref::steal(value ? PyObject_Str(value) : nullptr);
    const char* utf8 = message ? PyUnicode_AsUTF8(message.get()) : nullptr;
    if (utf8) reason += std::string(" (") + utf8 + ")";
    PyErr_Clear();
    return core::condition_error(std::move(reason), expr.column, text);
}

bool names_variable(const PathPatternValue& path, const std::string& name) {
    for (const NodePatternValue& node : path.nodes) {
        if (node.variable == name) return true;
    }
    for (const EdgePatternValue& edge : path.edges) {
        if (edge.variable == name) return true;
    }
    return false;
}

// The Python side of a parsed tree; false with an exception set.
bool complete(Condition& condition, const std::string& text) {
    condition.constants.resize(condition.tree.nodes.size());
    for (std::size_t i = 0; i < condition.tree.nodes.size(); ++i) {
        const ExprNode& expr = condition.tree.nodes[i];
        condition.constants[i] = Ref::steal(constant_of(expr));
        if (!condition.constants[i] && PyErr_Occurred()) {
            raise(conversion_error(expr, text));
            return false;
        }
        if (expr.kind == ExprKind::Exists) {
            Ref pattern = Ref::steal(to_python_str(expr.text));
            PathPatternValue path;
            if (!pattern || !parse_path(pattern.get(), path)) return false;
            // A pattern fixes the row's bound variables; a comprehension's
            // variable is no such thing, so reading one would be silently wrong.
            for (const std::string& local : expr.keys) {
                if (!names_variable(path, local)) continue;
                raise(core::condition_error("exists() cannot read the comprehension variable '" + local + "'",
                                            expr.column, text));
                return false;
            }
            condition.patterns.emplace_back(static_cast<std::uint32_t>(i), std::move(path));
        }
    }
    return true;
}

} // namespace

std::shared_ptr<const Condition> parse_condition(const std::string& text) {
    core::Result<core::ConditionTree> tree = core::parse_condition(text);
    if (!tree) return raise(tree.error()), nullptr;
    auto condition = std::make_shared<Condition>();
    condition->text = text;
    condition->tree = std::move(tree.value());
    if (!complete(*condition, text)) return nullptr;
    return condition;
}

std::shared_ptr<const ResultExpression> parse_result_expression(const std::string& text, bool& unreadable) {
    core::Result<core::ResultItem> item = core::parse_result_item(text);
    unreadable = !item;
    if (!item) return raise(item.error()), nullptr;
    auto expression = std::make_shared<ResultExpression>();
    expression->condition.text = text;
    expression->condition.tree = std::move(item.value().tree);
    expression->alias = std::move(item.value().alias);
    expression->aggregates = item.value().aggregates;
    if (!complete(expression->condition, text)) return nullptr;
    return expression;
}

} // namespace velarto::py::query
