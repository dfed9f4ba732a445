// A term: a name and a shared type. Terms are small values copied by the
// graph (an edge keeps its own copy), so the type is shared, the name copied.
#pragma once

#include <cstdint>
#include <string>

#include "error.hpp"
#include "type.hpp"

namespace velarto::core {

struct Term {
    std::string name;
    TypeRef type;
};

// SHA-256("term:" + name + ":" + uid(type)); the uid is its 64 hex digits.
Digest term_digest(const Term& term);

bool equal(const Term& a, const Term& b);

// SipHash-1-3 of name + 0xFF + S(type).
std::uint64_t term_hash(const Term& term);

// f(x): a term of f's output type named "(f x)", or a TypeMismatch.
Result<Term> apply(const Term& function, const Term& argument);

} // namespace velarto::core
