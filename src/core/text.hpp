// Text helpers shared by the schema matcher and the pattern parser: UTF-8
// decoding into code points and trimming by the Unicode White_Space property.
// All texts inside the engine are UTF-8 (the interpreter hands us valid UTF-8).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velarto::core {

// True for the 25 code points with the Unicode White_Space property.
bool is_white_space(char32_t cp);

// Decodes one code point starting at text[pos] and advances pos. Invalid
// sequences decode byte by byte as U+FFFD (never happens for texts that came
// from the interpreter).
char32_t decode_utf8(std::string_view text, std::size_t& pos);
void append_utf8(std::string& out, char32_t cp);
std::u32string to_code_points(std::string_view text);
std::string to_utf8(std::u32string_view text);

// Leading and trailing White_Space removed; a view into the argument.
std::string_view trim(std::string_view text);
std::u32string_view trim(std::u32string_view text);

} // namespace velarto::core
