// Line breaks and blank runs at the ends of a line.
//
// Strings are UTF-16; one char16_t is one character (a surrogate pair is two).
// Positions count from 1, counts are signed 32-bit. A character set is a
// string: a character is in the set when it occurs in it, compared as a plain
// code unit (no case or width folding). Nothing here fails: impossible
// requests get neutral results.
#pragma once

#include <cstdint>

#include "StringUnit/StringTypes.h"

namespace quillet {

// Which break ends a string. Only the very end counts, and CR LF is one break.
enum TLineBreakKind : uint8_t { lbCRLF = 0, lbCR = 1, lbLF = 2, lbNone = 3 };

TLineBreakKind GetLineBreakKind(StringView S);
// "\r\n", "\r", "\n" or "" for kinds 0..3; "" for any other value.
StringView LineBreakString(TLineBreakKind Kind);

// Index (0-based) of the first CR or LF in S at or after From; S.size()
// when there is none. Vectorised where the processor allows: most of a text
// is the content of its lines.
size_t FindLineBreak(StringView S, size_t From);

// Removes the last N characters; nothing when N <= 0 or N > Length(S).
void DeleteLastChars(String& S, int32_t N);
// Removes the break that ends S, if any (one break at most).
void StripLineBreak(String& S);
String CopyWithoutLineBreak(StringView S);
// S without its break, then Insert, then the break: Length(S) + Length(Insert)
// characters. Without a break, S followed by Insert.
String InsertBeforeLineBreak(StringView S, StringView Insert);

// Length of the leading (trailing) run of characters in CharSet;
// Length(S) when every character is in it, 0 for an empty CharSet.
int32_t CountLeadingChars(StringView S, StringView CharSet);
int32_t CountTrailingChars(StringView S, StringView CharSet);
// S without its leading (trailing) run of CharSet characters.
String TrimLeftChars(StringView S, StringView CharSet);
String TrimRightChars(StringView S, StringView CharSet);

// N copies of S; "" when N <= 0.
String RepeatString(StringView S, int32_t N);

}  // namespace quillet
