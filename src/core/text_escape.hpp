// The quoted rendering of a name as it appears in pattern reprs:
// NodePattern(variable=Some("n")).
#pragma once

#include <string>
#include <string_view>

namespace velarto::core {

// "Some(\"" + the escaped name + "\")". Backslash and double quote are
// backslash-escaped; tab, CR, LF and NUL become \t \r \n \0; any other
// character that is not printable, or that is a combining mark, becomes
// \u{hex} (lower-case, no leading zeros). Everything else, the single quote
// included, is copied as it is.
std::string render_some(std::string_view utf8_name);

} // namespace velarto::core
