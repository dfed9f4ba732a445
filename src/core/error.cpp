// Messages of the engine's error kinds: fixed pieces around verbatim fields.
#include "error.hpp"

namespace velarto::core {

namespace {

std::string with_context(std::string text, const std::optional<std::string>& context,
                         const char* open) {
    if (context) {
        text += open;
        text += *context;
        text += ')';
    }
    return text;
}

} // namespace

std::string VelartoError::message() const {
    switch (kind) {
    case ErrorKind::TypeMismatch:
        return with_context("Type mismatch: expected " + first + ", got " + second, context, " (in ");
    case ErrorKind::NodeNotFound:
        return with_context("Node not found: " + first, context, " (");
    case ErrorKind::EdgeNotFound:
        return with_context("Edge not found: " + first, context, " (");
    case ErrorKind::InvalidPattern:
        return "Invalid pattern '" + first + "': " + second;
    case ErrorKind::InvalidQuery:
        return with_context("Invalid query: " + first, context, " (");
    case ErrorKind::InvalidIdentifier:
        return "Invalid identifier '" + first + "': " + second;
    case ErrorKind::PropertyError:
        return "Property error for '" + first + "': " + second;
    case ErrorKind::VariableNotFound:
        return with_context("Variable '" + first + "' not found", context, " (");
    case ErrorKind::SchemaValidation:
        return "Schema validation failed for '" + first + "': " + second;
    }
    return {};
}

VelartoError VelartoError::type_mismatch(std::string expected, std::string got,
                                         std::optional<std::string> context) {
    return {ErrorKind::TypeMismatch, std::move(expected), std::move(got), std::move(context)};
}

VelartoError VelartoError::invalid_query(std::string message, std::optional<std::string> context) {
    return {ErrorKind::InvalidQuery, std::move(message), {}, std::move(context)};
}

VelartoError invalid_pattern(std::string pattern, std::string reason) {
    return {ErrorKind::InvalidPattern, std::move(pattern), std::move(reason), std::nullopt};
}

} // namespace velarto::core
