// The condition language of `where`: parsed once when `where` is called.
#pragma once

#include <memory>
#include <string>

#include "core/error.hpp"

namespace velarto::py::query {

struct Condition;

// A parsed condition, or an InvalidQuery error saying what is wrong and where.
core::Result<std::shared_ptr<const Condition>> parse_condition(const std::string& text);

} // namespace velarto::py::query
