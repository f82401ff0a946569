// ReplaceMulti, and the matching it is built on, against plain references.
//
// Input: a flags byte (bit 0 raw text, bit 1 IgnoreCase, bit 2 ReplaceAll,
// bit 3 a NewPatterns table one entry short); an entry count (0..4) and the
// entries, up to 3 units old and 4 units new; then the text.
//
// Properties:
// - ReplaceMulti equals a one-pass scan written from the rules: at each
//   position the first non-empty old entry that matches wins, the scan goes
//   on behind it, replacements are never scanned again, and without
//   ReplaceAll only the leftmost match is replaced; unequal or empty tables
//   and the empty text give the text unchanged;
// - MatchAt at every position, and CountOccurrences with and without
//   overlaps and class folding, agree with direct comparisons.
#include "StringUnit/Matching.h"
#include "fuzz/FuzzSupport.h"

namespace quillet::fuzz {
namespace {

constexpr size_t MaxInputSize = 4096;

char16_t FoldAscii(char16_t C) {
  return C >= u'a' && C <= u'z' ? C - 0x20 : C;
}
char16_t FoldClass(char16_t C) {
  return C >= u'\uFF41' && C <= u'\uFF5A' ? C - 0x20 : FoldAscii(C);
}

bool OccursAt(StringView Pattern, StringView Text, size_t Pos, char16_t (*Fold)(char16_t)) {
  if (Pattern.empty() || Pos + Pattern.size() > Text.size()) return false;
  for (size_t K = 0; K < Pattern.size(); ++K)
    if (Fold(Pattern[K]) != Fold(Text[Pos + K])) return false;
  return true;
}
char16_t Exact(char16_t C) {
  return C;
}

String ReferenceReplace(StringView Text, const StringList& Old, const StringList& New,
                        bool IgnoreCase, bool ReplaceAll) {
  if (Old.empty() || Old.size() != New.size()) return String(Text);
  String Result;
  bool Active = true;
  size_t Pos = 0;
  while (Pos < Text.size()) {
    size_t Entry = 0;
    while (Active && Entry < Old.size() &&
           !OccursAt(Old[Entry], Text, Pos, IgnoreCase ? FoldAscii : Exact))
      ++Entry;
    if (Active && Entry < Old.size()) {
      Result += New[Entry];
      Pos += Old[Entry].size();
      Active = ReplaceAll;
    } else {
      Result.push_back(Text[Pos++]);
    }
  }
  return Result;
}

int32_t ReferenceCount(StringView Pattern, StringView Text, bool SkipOverlaps, bool FoldCharClass) {
  int32_t Count = 0;
  for (size_t Pos = 0; Pos < Text.size(); ++Pos) {
    if (!OccursAt(Pattern, Text, Pos, FoldCharClass ? FoldClass : Exact)) continue;
    ++Count;
    if (SkipOverlaps) Pos += Pattern.size() - 1;
  }
  return Count;
}

void CheckMatching(StringView Text, StringView Pattern) {
  const auto Length = static_cast<int32_t>(Text.size());
  for (int32_t Pos = -1; Pos <= Length + 1; ++Pos) {
    for (const bool IgnoreCase : {false, true}) {
      const bool Expected =
          Pos >= 1 && OccursAt(Pattern, Text, Pos - 1, IgnoreCase ? FoldAscii : Exact);
      if (MatchAt(Pattern, Text, Pos, IgnoreCase) != Expected)
        Fail("MatchAt answers as a direct comparison", Text, Pattern, Number(Pos));
    }
  }
  for (const bool SkipOverlaps : {false, true}) {
    for (const bool FoldCharClass : {false, true}) {
      ExpectEqual("CountOccurrences counts as a direct comparison", Text,
                  Number(ReferenceCount(Pattern, Text, SkipOverlaps, FoldCharClass)),
                  Number(CountOccurrences(Pattern, Text, SkipOverlaps, FoldCharClass)));
    }
  }
}

}  // namespace
}  // namespace quillet::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace quillet::fuzz;
  if (Size > MaxInputSize) return 0;
  TFuzzInput Input(Data, Size);
  const uint8_t Flags = Input.Byte();
  const bool Raw = Flags & 1, IgnoreCase = Flags & 2, ReplaceAll = Flags & 4;
  quillet::StringList Old(Input.Choose(5)), New(Old.size());
  for (size_t I = 0; I < Old.size(); ++I) {
    Old[I] = Input.ShortText(Raw, 3);
    New[I] = Input.ShortText(Raw, 4);
  }
  if ((Flags & 8) && !New.empty()) New.pop_back();
  const quillet::String Text = Input.Text(Raw);

  ExpectEqual("ReplaceMulti agrees with the one-pass reference", Text,
              ReferenceReplace(Text, Old, New, IgnoreCase, ReplaceAll),
              quillet::ReplaceMulti(Text, Old, New, IgnoreCase, ReplaceAll));
  for (const quillet::String& Pattern : Old) CheckMatching(Text, Pattern);
  return 0;
}
