// Terms: uid, equality, hash and the one typing rule, application.
#include "term.hpp"

#include "siphash.hpp"

namespace velarto::core {

Digest term_digest(const Term& term) {
    char type_hex[64];
    digest_to_hex(term.type->digest(), type_hex);
    Sha256 hasher;
    hasher.update("term:", 5);
    hasher.update(term.name);
    hasher.update(":", 1);
    hasher.update(type_hex, sizeof type_hex);
    return hasher.finish();
}

bool equal(const Term& a, const Term& b) { return a.name == b.name && equal(*a.type, *b.type); }

std::uint64_t term_hash(const Term& term) {
    std::string stream;
    stream.reserve(term.name.size() + 16);
    stream += term.name;
    stream += '\xFF';
    append_stream(stream, *term.type);
    return siphash13(stream);
}

Result<Term> apply(const Term& function, const Term& argument) {
    const TypeNode& type = *function.type;
    if (type.is_variable()) {
        return VelartoError::type_mismatch("application type (A -> B)", display(type),
                                           "term application");
    }
    if (!equal(*argument.type, *type.left())) {
        return VelartoError::type_mismatch(display(*type.left()), display(*argument.type),
                                           "function application");
    }
    return Term{"(" + function.name + " " + argument.name + ")", type.right()};
}

} // namespace velarto::core
