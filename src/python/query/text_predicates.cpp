// The string predicates of conditions and result expressions, and the
// per-run cache of compiled regular expressions.
//
// The string predicates are null unless both sides are texts, as in
// openCypher; `=~` must match the whole text, with Python's `re` syntax.
#include "query/condition_eval.hpp"

#include <string>

namespace velarto::py::query {

using core::Op;

bool ConditionEvaluator::text_test(Op op, const Value& text, const Value& other, Truth& out) {
    out = Truth::Null;
    if (text.element || other.element || text.is_null() || other.is_null()) return true;
    PyObject* subject = text.object.get();
    PyObject* pattern = other.object.get();
    if (!PyUnicode_Check(subject) || !PyUnicode_Check(pattern)) return true;
    Py_ssize_t found;
    if (op == Op::Matches) {
        Ref fullmatch;
        if (!regexes_.fullmatch(pattern, fullmatch)) return false;
        Ref match = Ref::steal(PyObject_CallOneArg(fullmatch.get(), subject));
        if (!match) return false;
        found = match.get() != Py_None;
    } else if (op == Op::Contains) {
        found = PyUnicode_Contains(subject, pattern);
    } else {
        found = PyUnicode_Tailmatch(subject, pattern, 0, PY_SSIZE_T_MAX, op == Op::StartsWith ? -1 : 1);
    }
    if (found < 0) return false;
    out = found ? Truth::True : Truth::False;
    return true;
}

bool RegexCache::fullmatch(PyObject* pattern, Ref& method) {
    // Only exact str patterns are kept: a str subclass may hash and compare
    // as it likes.
    bool cacheable = PyUnicode_CheckExact(pattern);
    if (cacheable && methods_) {
        PyObject* known = PyDict_GetItemWithError(methods_.get(), pattern);
        if (known) {
            method = Ref::borrow(known);
            return true;
        }
        if (PyErr_Occurred()) return false;
    }
    if (!compile_) {
        Ref re = Ref::steal(PyImport_ImportModule("re"));
        compile_ = Ref::steal(re ? PyObject_GetAttrString(re.get(), "compile") : nullptr);
        if (!compile_) return false;
    }
    Ref compiled = Ref::steal(PyObject_CallOneArg(compile_.get(), pattern));
    method = Ref::steal(compiled ? PyObject_GetAttrString(compiled.get(), "fullmatch") : nullptr);
    if (!method) return false;
    if (!cacheable) return true;
    if (!methods_) methods_ = Ref::steal(PyDict_New());
    return methods_ && PyDict_SetItem(methods_.get(), pattern, method.get()) == 0;
}

} // namespace velarto::py::query
