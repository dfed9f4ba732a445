// The one error type of the engine and the result type that carries it.
//
// An error is made where a failure is found, travels back as a value inside
// `Result<T>`, and becomes a Python exception exactly once, at the door of the
// Python call (src/python/errors). Fields are owned texts, inserted verbatim
// into the message; an absent optional field adds nothing, an empty one adds
// its surrounding words.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace velarto::core {

enum class ErrorKind {
    TypeMismatch,      // expected, got, context?
    NodeNotFound,      // id, context?
    EdgeNotFound,      // id, context?
    InvalidPattern,    // pattern, reason
    InvalidQuery,      // message, context?
    InvalidIdentifier, // name, reason
    PropertyError,     // key, message
    VariableNotFound,  // name, context?
    SchemaValidation,  // schema, reason
};

struct VelartoError {
    ErrorKind kind;
    std::string first;                 // the first field of every kind
    std::string second;                // the second required field (two-field kinds)
    std::optional<std::string> context; // the optional trailing field

    std::string message() const;

    static VelartoError type_mismatch(std::string expected, std::string got,
                                      std::optional<std::string> context = std::nullopt);
    static VelartoError invalid_query(std::string message,
                                      std::optional<std::string> context = std::nullopt);
};

VelartoError invalid_pattern(std::string pattern, std::string reason);

// A value or an error; the engine's functions return this instead of throwing.
template <class T>
class Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(VelartoError error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    VelartoError& error() { return std::get<1>(state_); }
    const VelartoError& error() const { return std::get<1>(state_); }

private:
    std::variant<T, VelartoError> state_;
};

} // namespace velarto::core
