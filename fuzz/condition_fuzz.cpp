// Fuzz target: the condition parser of `where` on arbitrary bytes.
//
// Beyond "no crash": every failure is an InvalidQuery error naming a column
// (or saying the condition is empty);
// every success is a tree whose operands stand before their users, and whose
// rendering (fully parenthesised) parses again into a tree that renders the
// same way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/condition.hpp"

using namespace velarto::core;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    Result<ConditionTree> parsed = parse_condition(text);
    if (!parsed) {
        const VelartoError& error = parsed.error();
        if (error.kind != ErrorKind::InvalidQuery) std::abort();
        const std::string message = error.message();
        if (message != "Invalid query: condition is empty" && message.find(" at column ") == std::string::npos) {
            std::abort();
        }
        return 0;
    }
    const ConditionTree& tree = parsed.value();
    if (tree.nodes.empty() || tree.root >= tree.nodes.size()) std::abort();
    for (std::uint32_t i = 0; i < tree.nodes.size(); ++i) {
        for (std::uint32_t operand : tree.nodes[i].operands) {
            if (operand >= i) std::abort(); // operands before the nodes that use them
        }
    }
    std::string rendered = render_condition(tree);
    Result<ConditionTree> again = parse_condition(rendered);
    // A rendering adds brackets; one that no longer fits the nesting limit is
    // refused for that reason alone.
    if (!again) {
        if (again.error().message().find("nested too deeply") == std::string::npos) std::abort();
        return 0;
    }
    if (render_condition(again.value()) != rendered) std::abort();
    return 0;
}
