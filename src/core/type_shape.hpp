// The shape of a type as a list of texts, and what a schema requires of it:
// the form in which a type's structure is stored in a database, so that a
// type schema becomes a test a query language can write.
//
// Each part of a type has a path from the root: "" for the root, then 'L' or
// 'R' for the left or right side of an application. An application at path p
// is written `p + "->"`, a variable named N at p `p + "=" + N`; the shape
// lists them in pre-order (root first, left before right), so `A -> (B -> C)`
// is ["->", "L=A", "R->", "RL=B", "RR=C"]. Paths hold only 'L' and 'R', so the
// first '-' or '=' ends the path and an entry reads one way only.
//
// A schema fits a type exactly when every entry it requires is in the
// type's shape: an arrow requires an application at its place, a name a
// variable of that name there, `*` nothing; a dead end fits nothing. Both
// walks use explicit stacks: no type or schema is too deep for them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "schema.hpp"
#include "type.hpp"

namespace velarto::core {

std::vector<std::string> type_shape(const TypeNode& type);

// The entries a type's shape must hold to fit `schema`; nothing when the
// schema fits no type.
std::optional<std::vector<std::string>> shape_requirements(const CompiledSchema& schema);

} // namespace velarto::core
