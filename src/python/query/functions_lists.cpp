// The functions of lists: size, range, head, last, tail and reverse.
//
// A list is a Python list or tuple, or the edges of a variable-length edge
// (read as a list of Edge objects). `range` is inclusive at both ends, as in
// openCypher, and refuses before making it a list that would not fit in
// memory; making a long one honours Ctrl-C.
#include "interrupts.hpp"
#include "query/function_call.hpp"

namespace velarto::py::query {

bool call_Size(const FunctionCall& call) {
    const Value& argument = call.arg(0);
    if (auto* list = argument.element ? std::get_if<EdgeListValue>(argument.element) : nullptr) {
        return call.set(PyLong_FromSize_t(list->edges.size()));
    }
    PyObject* object = call.object(0);
    Py_ssize_t size = PyUnicode_Check(object) ? PyUnicode_GetLength(object) : PyObject_Size(object);
    return size >= 0 && call.set(PyLong_FromSsize_t(size));
}

bool call_Range(const FunctionCall& call) {
    Ref step = call.count > 2 ? Ref::borrow(call.object(2)) : Ref::steal(PyLong_FromLong(1));
    if (!step) return false;
    const int direction = PyObject_RichCompareBool(step.get(), Ref::steal(PyLong_FromLong(0)).get(), Py_GT);
    if (direction < 0) return false;
    if (PyObject_Not(step.get()) == 1) return call.value_error("cannot take a step of 0");
    // Inclusive: the end moves one step further out.
    Ref one = Ref::steal(PyLong_FromLong(direction ? 1 : -1));
    Ref stop = one ? Ref::steal(PyNumber_Add(call.object(1), one.get())) : Ref();
    Ref range = stop ? Ref::steal(PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(&PyRange_Type),
                                                               call.object(0), stop.get(), step.get(), nullptr))
                     : Ref();
    if (!range) return false;
    Py_ssize_t length = PyObject_Size(range.get());
    if (length < 0) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return false;
        PyErr_Clear();
        return call.too_large();
    }
    if (!call.budget.take(static_cast<std::size_t>(length))) return call.too_large();
    Ref list = Ref::steal(PyList_New(length));
    if (!list) return false;
    SignalCheck signals;
    for (Py_ssize_t i = 0; i < length; ++i) {
        PyObject* item = PySequence_GetItem(range.get(), i);
        if (!item) return false;
        PyList_SET_ITEM(list.get(), i, item);
        if (!signals.tick()) return false;
    }
    return call.set(list.release());
}

bool call_Head(const FunctionCall& call) {
    Ref list = list_of(call.arg(0));
    if (!list) return false;
    if (PySequence_Fast_GET_SIZE(list.get()) == 0) return true;
    return call.set(Py_NewRef(PySequence_Fast_GET_ITEM(list.get(), 0)));
}

bool call_Last(const FunctionCall& call) {
    Ref list = list_of(call.arg(0));
    if (!list) return false;
    const Py_ssize_t size = PySequence_Fast_GET_SIZE(list.get());
    if (size == 0) return true;
    return call.set(Py_NewRef(PySequence_Fast_GET_ITEM(list.get(), size - 1)));
}

bool call_Tail(const FunctionCall& call) {
    Ref list = list_of(call.arg(0));
    if (!list) return false;
    const Py_ssize_t size = PySequence_Fast_GET_SIZE(list.get());
    Ref rest = Ref::steal(PySequence_GetSlice(list.get(), size > 0 ? 1 : 0, size));
    return rest && call.set(PySequence_List(rest.get()));
}

bool call_Reverse(const FunctionCall& call) {
    PyObject* object = call.object(0);
    if (object && PyUnicode_Check(object)) {
        Ref reversed = Ref::steal(PySlice_New(nullptr, nullptr, Ref::steal(PyLong_FromLong(-1)).get()));
        return reversed && call.set(PyUnicode_Type.tp_as_mapping->mp_subscript(object, reversed.get()));
    }
    Ref list = list_of(call.arg(0));
    Ref copy = list ? Ref::steal(PySequence_List(list.get())) : Ref();
    if (!copy || PyList_Reverse(copy.get()) < 0) return false;
    return call.set(copy.release());
}

} // namespace velarto::py::query
