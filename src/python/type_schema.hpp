// A schema as the binding keeps it: the exact text and its compiled tree.
#pragma once

#include <Python.h>

#include <memory>
#include <string>

#include "core/schema.hpp"

namespace velarto::py {

struct Schema {
    std::string text;
    std::shared_ptr<const core::CompiledSchema> compiled; // made on first use

    static Schema compile(std::string text);
    const core::CompiledSchema& tree();
    bool matches(const core::TypeNode& type) { return tree().matches(type); }
};

struct TypeSchemaObject {
    PyObject_HEAD
    Schema value;
};

} // namespace velarto::py
