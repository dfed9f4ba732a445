// A schema as the binding keeps it: the exact text and its compiled tree.
#pragma once

#include <Python.h>

#include <memory>
#include <string>

#include "core/schema.hpp"

namespace velarto::py {

struct Schema {
    std::string text;
    // Made on first use, also through a const pattern: the tree follows from
    // the text, so filling it in changes nothing anyone can see.
    mutable std::shared_ptr<const core::CompiledSchema> compiled;

    static Schema compile(std::string text);
    const core::CompiledSchema& tree() const;
    bool matches(const core::TypeNode& type) const { return tree().matches(type); }
};

struct TypeSchemaObject {
    PyObject_HEAD
    Schema value;
};

} // namespace velarto::py
