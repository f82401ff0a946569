// Column measures for Japanese text: a full-width character is two columns.
//
// ExpandTabs counts columns in bytes of code page 932 (Shift-JIS);
// DisplayWidth counts them by fixed Unicode ranges.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "StringUnit/LineBreaks.h"

namespace quillet {

// A byte string in the ANSI code page; positions count from 1.
using AnsiString = std::string;

enum TByteKind : uint8_t { bkSingle = 0, bkLead = 1, bkTrail = 2 };

// B lies in 0x81-0x9F or 0xE0-0xFC (the Shift-JIS lead bytes), whatever the
// system's code page.
bool IsLeadByte(uint8_t B);

// Kind of the byte at Pos (1 <= Pos <= length), found from the run of
// lead-byte values just before it.
TByteKind GetByteKind(const AnsiString& S, int32_t Pos);

// Bytes that hold the first N characters of S; 0 for N <= 0 or an empty S.
int32_t CharsToBytes(const AnsiString& S, int32_t N);

// S with every tab replaced by spaces up to the next multiple of TabWidth
// columns, columns counted in ANSI bytes of the text before the tab.
String ExpandTabs(StringView S, int32_t TabWidth);

// True (two columns) for every code unit outside U+0020-U+007F, U+203E and
// U+FF61-U+FF9F; tab, CR, LF and each surrogate half are wide.
bool IsWideChar(char16_t C);

// 1-based display column at which character N starts; 0 unless
// 1 <= N <= Length(S) + 1.
int32_t DisplayColumnOf(StringView S, int32_t N);
int32_t DisplayWidth(StringView S);

}  // namespace quillet
