// Shapes of types and the shape entries a schema requires (type_shape.hpp).
#include "type_shape.hpp"

#include <utility>

namespace velarto::core {

std::vector<std::string> type_shape(const TypeNode& type) {
    std::vector<std::string> shape;
    std::vector<std::pair<const TypeNode*, std::string>> pending{{&type, std::string()}};
    while (!pending.empty()) {
        auto [part, path] = std::move(pending.back());
        pending.pop_back();
        if (part->is_variable()) {
            shape.push_back(path + "=" + part->name());
            continue;
        }
        shape.push_back(path + "->");
        pending.emplace_back(part->right().get(), path + "R"); // the left side is taken first
        pending.emplace_back(part->left().get(), path + "L");
    }
    return shape;
}

std::optional<std::vector<std::string>> shape_requirements(const CompiledSchema& schema) {
    using Op = CompiledSchema::Op;
    std::vector<std::string> required;
    std::vector<std::pair<std::size_t, std::string>> pending{{0, std::string()}};
    while (!pending.empty()) {
        auto [at, path] = std::move(pending.back());
        pending.pop_back();
        const CompiledSchema::Node& node = schema.nodes_[at];
        switch (node.op) {
        case Op::Always: break;
        case Op::Never: return std::nullopt;
        case Op::Name: required.push_back(path + "=" + std::string(schema.text_of(node))); break;
        case Op::WrappedName: required.push_back(path + "=$" + std::string(schema.text_of(node)) + "$"); break;
        case Op::Capture: pending.emplace_back(node.first, std::move(path)); break;
        case Op::Arrow:
            required.push_back(path + "->");
            pending.emplace_back(node.second, path + "R");
            pending.emplace_back(node.first, path + "L");
            break;
        }
    }
    return required;
}

} // namespace velarto::core
