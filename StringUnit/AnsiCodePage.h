// The one platform seam of the string library: conversion to the ANSI code
// page. Code page 932 wherever the platform can convert to it, so that columns
// are the Japanese ones on every system.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillet {

// Text in the ANSI code page, one code-page character per UTF-16 code unit:
// a unit the code page cannot represent becomes one substitute byte '?', and
// so does each half of a surrogate pair and every lone surrogate. The
// conversion keeps no state across units, so the bytes of a text are the
// bytes of its units one after another.
std::string ToAnsiString(std::u16string_view Text);

// Bytes that code unit C takes in ToAnsiString: 1 or 2. Table lookup; the
// table is built once, on first use, from the conversion itself (by code
// shared between the platforms, in Columns.cpp).
int32_t AnsiByteCount(char16_t C);
// The same table, entry C being AnsiByteCount(C), for loops that look up
// many units.
const uint8_t* AnsiByteCounts();

}  // namespace quillet
