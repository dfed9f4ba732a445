// The Python `Term` class over the engine's term value.
#pragma once

#include <Python.h>

#include "core/term.hpp"

namespace velarto::py {

struct TermObject {
    PyObject_HEAD
    core::Term value;
};

PyObject* term_to_python(const core::Term& term);

} // namespace velarto::py
