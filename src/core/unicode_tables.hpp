// Character classes for rendering names inside Some("..."), generated from
// the interpreter's Unicode database by tools/gen_unicode_tables.py.
#pragma once

namespace velarto::core {

// The Unicode version the tables were generated from, such as "14.0.0".
extern const char* const kUnicodeTablesVersion;

// The interpreter's str.isprintable() for the one-character string chr(cp):
// false for the categories Cc Cf Cs Co Cn Zs Zl Zp except the space, and for
// anything above U+10FFFF.
bool is_printable(char32_t cp);

// General category Mn, Mc or Me.
bool is_combining_mark(char32_t cp);

} // namespace velarto::core
