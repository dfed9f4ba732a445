// Equality and ordering of the values of conditions and result
// expressions, and the sameness that grouping uses.
//
// Lists compare item by item with the three-valued equality of their items,
// maps key by key; nested lists go through the interpreter's recursion
// guard, so a list nested too deeply raises RecursionError instead of
// overflowing the C stack. Items are owned while they compare: an item's
// `__eq__` may change the list it came from.
#include "query/value_ops.hpp"

#include "classes.hpp"
#include "graph_elements.hpp"

namespace velarto::py::query {

using core::Op;

namespace {

bool truth_of_object(PyObject* result, Truth& out) {
    int truth = result ? PyObject_IsTrue(result) : -1;
    if (truth < 0) return false;
    out = truth ? Truth::True : Truth::False;
    return true;
}

bool truth_of_result(PyObject* result, Truth& out) {
    Ref held = Ref::steal(result);
    return held && truth_of_object(held.get(), out);
}

// ---------------------------------------------------------------- comparisons

// What makes a graph value itself: node or edge, and the digest behind its
// uid (a node's uid is a function of its type's uid alone). Nodes and edges
// of the row and Node or Edge objects held in properties alike.
struct Identity {
    int kind = 0; // 0: not a graph value, 1: a node, 2: an edge
    const core::Digest* digest = nullptr;
};

Identity identity_of(const QueryResult* element, PyObject* object) {
    const NodeValue* node = nullptr;
    const EdgeValue* edge = nullptr;
    if (element) {
        node = std::get_if<NodeValue>(element);
        edge = std::get_if<EdgeValue>(element);
    } else if (Py_TYPE(object) == NodeType) {
        node = node_value(object);
    } else if (Py_TYPE(object) == EdgeType) {
        edge = edge_value(object);
    }
    if (node) return {1, &node->type->digest()};
    if (edge) return {2, &edge->digest()};
    return {};
}

bool is_graph(Kind kind) { return kind == Kind::Node || kind == Kind::Edge; }

int swapped(int op) {
    switch (op) {
    case Py_LT: return Py_GT;
    case Py_LE: return Py_GE;
    case Py_GT: return Py_LT;
    case Py_GE: return Py_LE;
    default: return op;
    }
}

int rich_op(Op op) {
    switch (op) {
    case Op::Lt: return Py_LT;
    case Op::Le: return Py_LE;
    case Op::Gt: return Py_GT;
    default: return Py_GE;
    }
}

// Numbers by the base types' comparisons: exact across int and float.
bool numbers_compared(PyObject* a, Kind ka, PyObject* b, Kind kb, int op, Truth& out) {
    if (ka == Kind::Float) return truth_of_result(PyFloat_Type.tp_richcompare(a, b, op), out);
    if (kb == Kind::Float) return truth_of_result(PyFloat_Type.tp_richcompare(b, a, swapped(op)), out);
    return truth_of_result(PyLong_Type.tp_richcompare(a, b, op), out);
}

// Holds the recursion guard while lists or maps nested in lists compare.
class Nesting {
public:
    Nesting() : entered_(Py_EnterRecursiveCall(" in comparison") == 0) {}
    ~Nesting() {
        if (entered_) Py_LeaveRecursiveCall();
    }
    bool entered() const { return entered_; }

private:
    bool entered_;
};

// Item i of a list, owned: the list may change while items compare.
Value item_of(PyObject* list, Py_ssize_t i) { return python_value(Ref::borrow(PyList_GET_ITEM(list, i))); }

bool lists_equal(PyObject* a, PyObject* b, Truth& out) {
    Nesting nesting;
    if (!nesting.entered()) return false;
    out = PyList_GET_SIZE(a) == PyList_GET_SIZE(b) ? Truth::True : Truth::False;
    for (Py_ssize_t i = 0; out != Truth::False && i < PyList_GET_SIZE(a) && i < PyList_GET_SIZE(b); ++i) {
        Value x = item_of(a, i), y = item_of(b, i);
        Truth item;
        if (!values_equal(x, y, item)) return false;
        if (item != Truth::True) out = item;
    }
    if (PyList_GET_SIZE(a) != PyList_GET_SIZE(b)) out = Truth::False;
    return true;
}

// Lexicographic: the first pair that is not equal decides (null when their
// equality is null), else the shorter list is the smaller.
bool lists_ordered(PyObject* a, Op op, PyObject* b, Truth& out) {
    Nesting nesting;
    if (!nesting.entered()) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(a) && i < PyList_GET_SIZE(b); ++i) {
        Value x = item_of(a, i), y = item_of(b, i);
        Truth same;
        if (!values_equal(x, y, same)) return false;
        if (same == Truth::True) continue;
        if (same == Truth::Null) {
            out = Truth::Null;
            return true;
        }
        return values_ordered(x, op, y, out);
    }
    Py_ssize_t x = PyList_GET_SIZE(a), y = PyList_GET_SIZE(b);
    bool result = op == Op::Lt ? x < y : op == Op::Le ? x <= y : op == Op::Gt ? x > y : x >= y;
    out = result ? Truth::True : Truth::False;
    return true;
}

bool maps_equal(PyObject* a, PyObject* b, Truth& out) {
    Nesting nesting;
    if (!nesting.entered()) return false;
    out = Truth::False;
    if (PyDict_Size(a) != PyDict_Size(b)) return true;
    Ref items = Ref::steal(PyDict_Items(a)); // owns every key and value
    if (!items) return false;
    out = Truth::True;
    for (Py_ssize_t i = 0; out != Truth::False && i < PyList_GET_SIZE(items.get()); ++i) {
        PyObject* pair = PyList_GET_ITEM(items.get(), i);
        PyObject* found = PyDict_GetItemWithError(b, PyTuple_GET_ITEM(pair, 0));
        if (!found) {
            if (PyErr_Occurred()) return false;
            out = Truth::False;
            break;
        }
        Value y = python_value(Ref::borrow(found));
        Truth item;
        if (!values_equal(python_value(Ref::borrow(PyTuple_GET_ITEM(pair, 1))), y, item)) return false;
        if (item != Truth::True) out = item;
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------- comparisons

bool values_equal(const Value& a, const Value& b, Truth& out) {
    if (a.is_null() || b.is_null()) {
        out = Truth::Null;
        return true;
    }
    Kind ka = kind_of(a), kb = kind_of(b);
    if (is_graph(ka) || is_graph(kb)) {
        Identity x = identity_of(a.element, a.object.get()), y = identity_of(b.element, b.object.get());
        out = (x.kind == y.kind && *x.digest == *y.digest) ? Truth::True : Truth::False;
        return true;
    }
    if (ka == Kind::List && kb == Kind::List) {
        if (a.element && b.element) { // edge lists: edge by edge, by uid
            out = same_result(*a.element, *b.element) ? Truth::True : Truth::False;
            return true;
        }
        Ref x = list_of(a), y = list_of(b);
        return x && y && lists_equal(x.get(), y.get(), out);
    }
    if (ka == Kind::Other || kb == Kind::Other) {
        Ref x = Ref::steal(to_python(a)), y = Ref::steal(to_python(b));
        return x && y && truth_of_result(PyObject_RichCompare(x.get(), y.get(), Py_EQ), out);
    }
    if (is_number(ka) && is_number(kb)) return numbers_compared(a.object.get(), ka, b.object.get(), kb, Py_EQ, out);
    if (ka != kb) {
        out = Truth::False;
        return true;
    }
    switch (ka) {
    case Kind::Boolean: out = a.object.get() == b.object.get() ? Truth::True : Truth::False; return true;
    case Kind::String: return truth_of_result(PyUnicode_RichCompare(a.object.get(), b.object.get(), Py_EQ), out);
    default: return maps_equal(a.object.get(), b.object.get(), out);
    }
}

bool values_ordered(const Value& a, Op op, const Value& b, Truth& out) {
    out = Truth::Null;
    if (a.is_null() || b.is_null()) return true;
    Kind ka = kind_of(a), kb = kind_of(b);
    if (is_graph(ka) || is_graph(kb) || ka == Kind::Map || kb == Kind::Map) return true;
    if (ka == Kind::Other || kb == Kind::Other) {
        Ref x = Ref::steal(to_python(a)), y = Ref::steal(to_python(b));
        if (!x || !y) return false;
        Ref result = Ref::steal(PyObject_RichCompare(x.get(), y.get(), rich_op(op)));
        if (!result) {
            if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
            PyErr_Clear();
            return true;
        }
        return truth_of_object(result.get(), out);
    }
    if (is_number(ka) && is_number(kb)) return numbers_compared(a.object.get(), ka, b.object.get(), kb, rich_op(op), out);
    if (ka != kb) return true;
    switch (ka) {
    case Kind::Boolean: {
        int x = a.object.get() == Py_True, y = b.object.get() == Py_True;
        bool result = op == Op::Lt ? x < y : op == Op::Le ? x <= y : op == Op::Gt ? x > y : x >= y;
        out = result ? Truth::True : Truth::False;
        return true;
    }
    case Kind::String:
        return truth_of_result(PyUnicode_RichCompare(a.object.get(), b.object.get(), rich_op(op)), out);
    default: { // lists
        Ref x = list_of(a), y = list_of(b);
        return x && y && lists_ordered(x.get(), op, y.get(), out);
    }
    }
}

// ---------------------------------------------------------------- grouping

bool same_value(const QueryResult* a_element, PyObject* a, const QueryResult* b_element, PyObject* b, bool& out) {
    bool a_null = !a_element && !a, b_null = !b_element && !b;
    if (a_null || b_null) {
        out = a_null && b_null;
        return true;
    }
    bool a_list = a_element && std::holds_alternative<EdgeListValue>(*a_element);
    bool b_list = b_element && std::holds_alternative<EdgeListValue>(*b_element);
    if (a_list || b_list) { // edge lists: edge by edge, by uid
        out = a_list && b_list && same_result(*a_element, *b_element);
        return true;
    }
    Identity x = identity_of(a_element, a), y = identity_of(b_element, b);
    if (x.kind || y.kind) {
        out = x.kind == y.kind && *x.digest == *y.digest;
        return true;
    }
    int equal = PyObject_RichCompareBool(a, b, Py_EQ);
    if (equal < 0) return false;
    out = equal > 0;
    return true;
}

bool same_value(const Value& a, const Value& b, bool& out) {
    return same_value(a.element, a.object.get(), b.element, b.object.get(), out);
}

bool hash_value(const QueryResult* element, PyObject* object, std::size_t& out) {
    out = 0;
    if (!element && !object) return true;
    if (auto* list = element ? std::get_if<EdgeListValue>(element) : nullptr) {
        for (const EdgeValue& edge : list->edges) {
            for (std::size_t i = 0; i < sizeof(std::size_t); ++i) out = out * 131 + edge.digest()[i];
        }
        out += 3;
        return true;
    }
    Identity identity = identity_of(element, object);
    if (identity.kind) {
        for (std::size_t i = 0; i < sizeof(std::size_t); ++i) out = out * 131 + (*identity.digest)[i];
        out += static_cast<std::size_t>(identity.kind);
        return true;
    }
    Py_hash_t hash = PyObject_Hash(object);
    if (hash == -1) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
        PyErr_Clear(); // unhashable: told apart by equality alone
        return true;
    }
    out = static_cast<std::size_t>(hash);
    return true;
}

bool hash_value(const Value& value, std::size_t& out) { return hash_value(value.element, value.object.get(), out); }

} // namespace velarto::py::query
