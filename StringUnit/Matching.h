// Position-based matching and the one-pass multi-pattern replacement.
//
// Positions are 1-based and ranges include both ends. Empty and absent
// strings are the same. Nothing here fails or changes its arguments.
#pragma once

#include <cstdint>

#include "StringUnit/StringTypes.h"

namespace quillet {

// Min <= Value <= Max; false whenever Min > Max.
bool IsBetween(int32_t Min, int32_t Value, int32_t Max);

// Count characters of A from PosA equal those of B from PosB. Count <= 0 is
// true; a range that leaves its string is false. IgnoreCase folds ASCII a-z
// onto A-Z and nothing else (full-width letters compare exactly).
bool CompareAt(StringView A, StringView B, int32_t PosA, int32_t PosB, int32_t Count,
               bool IgnoreCase);

// Pattern occurs in Text at Pos. False for an empty Pattern or Text, and when
// the pattern would start before 1 or hang over the end.
bool MatchAt(StringView Pattern, StringView Text, int32_t Pos, bool IgnoreCase);

// False when either string is empty.
bool EndsWith(StringView Text, StringView Suffix, bool IgnoreCase);

// Characters From..To of Text, both ends included. From < 1 acts as 1,
// To > Length as Length;
// To < From, or From > Length, gives "".
String CopyRange(StringView Text, int32_t From, int32_t To);

// Text without Count characters from Index. Nothing removed when Index is
// outside 1..Length or Count <= 0; a Count past the end stops at the end.
String DeleteCopy(StringView Text, int32_t Index, int32_t Count);

// Text without Suffix when it ends with it; an empty Suffix never matches.
String RemoveSuffix(StringView Text, StringView Suffix, bool IgnoreCase);

// Occurrences of Pattern in Text; 0 when either is empty. SkipOverlaps takes
// them greedily from the left without overlap, otherwise every start counts.
// FoldCharClass folds half- and full-width a-z to upper case first; the
// comparison itself never ignores case.
int32_t CountOccurrences(StringView Pattern, StringView Text, bool SkipOverlaps,
                         bool FoldCharClass);

// One left-to-right pass over Text; at each position the first entry of
// OldPatterns (in table order) that matches is replaced by the paired entry of
// NewPatterns and the scan continues behind the match. Replacements are never
// scanned again; empty old entries never match. Text comes back unchanged when
// the tables are empty or of different sizes. Without ReplaceAll only the
// leftmost replacement is made. IgnoreCase finds matches regardless of ASCII
// case but writes the new entries exactly. The output is reserved once from
// the case-sensitive occurrence counts of the growing entries.
String ReplaceMulti(StringView Text, const StringList& OldPatterns, const StringList& NewPatterns,
                    bool IgnoreCase, bool ReplaceAll);

}  // namespace quillet
