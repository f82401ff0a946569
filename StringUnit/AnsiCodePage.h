// The one platform seam of the string library: conversion to the ANSI code
// page. Code page 932 wherever the platform can convert to it, so that columns
// are the Japanese ones on every system.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillet {

// Text in the ANSI code page. A character the code page cannot represent
// becomes one substitute byte; so does each half of a surrogate pair.
std::string ToAnsiString(std::u16string_view Text);

// Bytes that code unit C takes in the ANSI code page: 1 or 2. Table lookup,
// built once from ToAnsiString.
int32_t AnsiByteCount(char16_t C);

}  // namespace quillet
