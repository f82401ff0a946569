// Column measures for Japanese text: a full-width character is two columns.
//
// ExpandTabs counts columns in bytes of code page 932 (Shift-JIS);
// DisplayWidth counts them by fixed Unicode ranges. Nothing here fails for
// any input.
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
// lead-byte values just before it: an odd run makes it a trail byte, even
// when it holds a lead-byte value itself. bkSingle for a Pos outside S.
TByteKind GetByteKind(const AnsiString& S, int32_t Pos);

// Bytes that hold the first N characters of S (a character is a single byte
// or a lead byte with its trail); all of S when it has fewer. 0 for N <= 0 or
// an empty S. Linear in the bytes walked.
int32_t CharsToBytes(const AnsiString& S, int32_t N);

// S with every tab replaced by TabWidth - (C mod TabWidth) spaces, C being the
// tab's 0-based column: the ANSI bytes of the output before it (a full-width
// character 2, ASCII, half-width katakana and unrepresentable units 1).
// S unchanged when TabWidth < 1. Linear in the length of S.
String ExpandTabs(StringView S, int32_t TabWidth);

// False (one column) exactly for U+0020-U+007F, U+203E and U+FF61-U+FF9F;
// true (two columns) for every other code unit, tab, CR, LF and each
// surrogate half included.
bool IsWideChar(char16_t C);

// 1-based display column at which character N starts; 0 unless
// 1 <= N <= Length(S) + 1 (Length(S) + 1 is the column after the last one).
int32_t DisplayColumnOf(StringView S, int32_t N);
// Sum of the widths of all characters; 0 for "".
int32_t DisplayWidth(StringView S);

}  // namespace quillet
