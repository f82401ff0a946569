// Position-based matching and the one-pass multi-pattern replacement.
// Tested by tests/Matching_test.cpp.
#include "StringUnit/Matching.h"

#include <algorithm>
#include <array>

namespace quillet {

namespace {

int32_t Length(StringView S) {
  return static_cast<int32_t>(S.size());
}

// The IgnoreCase folding: ASCII a-z onto A-Z, nothing else.
char16_t FoldAsciiCase(char16_t C) {
  return (C >= u'a' && C <= u'z') ? C - 0x20 : C;
}

// The FoldCharClass folding, the upper-case conversion of the character
// classes: half-width a-z onto A-Z and full-width ａ-ｚ onto Ａ-Ｚ, 0x20 below
// in both alphabets. Nothing else changes, so every length is kept.
char16_t FoldLatinCase(char16_t C) {
  return (C >= u'a' && C <= u'z') || (C >= u'\uFF41' && C <= u'\uFF5A') ? C - 0x20 : C;
}

String FoldLatinCase(StringView S) {
  String Folded(S);
  for (char16_t& C : Folded) C = FoldLatinCase(C);
  return Folded;
}

char16_t Fold(char16_t C, bool IgnoreCase) {
  return IgnoreCase ? FoldAsciiCase(C) : C;
}

// Two ranges of equal length, equal character by character.
bool EqualRange(StringView X, StringView Y, bool IgnoreCase) {
  if (!IgnoreCase) return X == Y;
  for (size_t I = 0; I < X.size(); ++I) {
    if (FoldAsciiCase(X[I]) != FoldAsciiCase(Y[I])) return false;
  }
  return true;
}

// Count characters from Pos lie inside S (Count >= 1).
bool RangeInside(StringView S, int32_t Pos, int32_t Count) {
  return Pos >= 1 && int64_t{Pos} - 1 + Count <= Length(S);
}

int32_t CountExact(StringView Pattern, StringView Text, bool SkipOverlaps) {
  const size_t Step = SkipOverlaps ? Pattern.size() : 1;
  int32_t Count = 0;
  for (size_t P = Text.find(Pattern); P != StringView::npos; P = Text.find(Pattern, P + Step)) {
    ++Count;
  }
  return Count;
}

// One usable entry of a pattern table (its old text is never empty).
struct TEntry {
  StringView Old;
  StringView New;
  char16_t First;  // Old[0], folded when the scan ignores case
};

// The usable entries of a pattern table, grouped by first character with the
// table order kept inside each group, so that the first entry in table order
// that matches at a position is the first match within one group.
class TPatternIndex {
 public:
  TPatternIndex(const StringList& OldPatterns, const StringList& NewPatterns, bool IgnoreCase)
      : IgnoreCase_(IgnoreCase) {
    for (size_t I = 0; I < OldPatterns.size(); ++I) {
      if (OldPatterns[I].empty()) continue;
      const char16_t First = Fold(OldPatterns[I][0], IgnoreCase);
      Entries_.push_back({OldPatterns[I], NewPatterns[I], First});
      Filter_[Hash(First) >> 6] |= Bit(First);
    }
    std::stable_sort(Entries_.begin(), Entries_.end(),
                     [](const TEntry& A, const TEntry& B) { return A.First < B.First; });
  }

  // False at most positions where no entry can start: a cheap test of a
  // hash of the character, true for every character that starts an entry.
  bool MayStartAt(StringView Text, size_t At) const {
    const char16_t C = Fold(Text[At], IgnoreCase_);
    return (Filter_[Hash(C) >> 6] & Bit(C)) != 0;
  }

  // The first entry, in table order, whose old text occurs in Text at At.
  const TEntry* FirstMatchAt(StringView Text, size_t At) const {
    const char16_t C = Fold(Text[At], IgnoreCase_);
    const auto Group =
        std::equal_range(Entries_.begin(), Entries_.end(), TEntry{{}, {}, C},
                         [](const TEntry& A, const TEntry& B) { return A.First < B.First; });
    const size_t Room = Text.size() - At;
    for (auto Entry = Group.first; Entry != Group.second; ++Entry) {
      if (Entry->Old.size() <= Room &&
          EqualRange(Entry->Old, Text.substr(At, Entry->Old.size()), IgnoreCase_)) {
        return &*Entry;
      }
    }
    return nullptr;
  }

 private:
  // Mixes the high byte in, so that half-width katakana and CJK characters do
  // not fall on the same bits as ASCII.
  static uint8_t Hash(char16_t C) { return static_cast<uint8_t>(C ^ (C >> 8)); }
  static uint64_t Bit(char16_t C) { return uint64_t{1} << (Hash(C) & 63); }

  bool IgnoreCase_;
  std::vector<TEntry> Entries_;
  std::array<uint64_t, 4> Filter_{};
};

// Length of Text plus, for every non-empty old entry, its greedy
// non-overlapping case-sensitive count times its growth (never negative).
size_t ReplaceReserve(StringView Text, const StringList& OldPatterns,
                      const StringList& NewPatterns) {
  size_t Reserve = Text.size();
  for (size_t I = 0; I < OldPatterns.size(); ++I) {
    if (OldPatterns[I].empty() || NewPatterns[I].size() <= OldPatterns[I].size()) continue;
    const size_t Growth = NewPatterns[I].size() - OldPatterns[I].size();
    Reserve += static_cast<size_t>(CountOccurrences(OldPatterns[I], Text, true, false)) * Growth;
  }
  return Reserve;
}

}  // namespace

bool IsBetween(int32_t Min, int32_t Value, int32_t Max) {
  return Min <= Value && Value <= Max;
}

bool CompareAt(StringView A, StringView B, int32_t PosA, int32_t PosB, int32_t Count,
               bool IgnoreCase) {
  if (Count <= 0) return true;
  if (!RangeInside(A, PosA, Count) || !RangeInside(B, PosB, Count)) return false;
  return EqualRange(A.substr(PosA - 1, Count), B.substr(PosB - 1, Count), IgnoreCase);
}

bool MatchAt(StringView Pattern, StringView Text, int32_t Pos, bool IgnoreCase) {
  if (Text.empty() || Pattern.empty()) return false;
  if (!IsBetween(1, Pos, Length(Text) - Length(Pattern) + 1)) return false;
  return CompareAt(Pattern, Text, 1, Pos, Length(Pattern), IgnoreCase);
}

bool EndsWith(StringView Text, StringView Suffix, bool IgnoreCase) {
  return MatchAt(Suffix, Text, Length(Text) - Length(Suffix) + 1, IgnoreCase);
}

String CopyRange(StringView Text, int32_t From, int32_t To) {
  if (From < 1) From = 1;
  if (To > Length(Text)) To = Length(Text);
  if (From > Length(Text) || To < From) return String();
  return String(Text.substr(From - 1, To - From + 1));
}

String DeleteCopy(StringView Text, int32_t Index, int32_t Count) {
  if (Index < 1 || Index > Length(Text) || Count <= 0) return String(Text);
  const size_t Start = Index - 1;
  const size_t Removed = std::min<size_t>(Count, Text.size() - Start);
  String Result;
  Result.reserve(Text.size() - Removed);
  Result.append(Text.substr(0, Start));
  Result.append(Text.substr(Start + Removed));
  return Result;
}

String RemoveSuffix(StringView Text, StringView Suffix, bool IgnoreCase) {
  if (!EndsWith(Text, Suffix, IgnoreCase)) return String(Text);
  return String(Text.substr(0, Text.size() - Suffix.size()));
}

int32_t CountOccurrences(StringView Pattern, StringView Text, bool SkipOverlaps,
                         bool FoldCharClass) {
  if (Pattern.empty() || Text.empty()) return 0;
  if (!FoldCharClass) return CountExact(Pattern, Text, SkipOverlaps);
  // The folding keeps every length, so positions carry over.
  return CountExact(FoldLatinCase(Pattern), FoldLatinCase(Text), SkipOverlaps);
}

String ReplaceMulti(StringView Text, const StringList& OldPatterns, const StringList& NewPatterns,
                    bool IgnoreCase, bool ReplaceAll) {
  if (OldPatterns.empty() || OldPatterns.size() != NewPatterns.size() || Text.empty()) {
    return String(Text);
  }
  const TPatternIndex Index(OldPatterns, NewPatterns, IgnoreCase);
  // With IgnoreCase the case-sensitive reserve can fall short; append then
  // grows the output as usual.
  String Out;
  Out.reserve(ReplaceReserve(Text, OldPatterns, NewPatterns));
  size_t S = 0;
  while (S < Text.size()) {
    size_t RunEnd = S;
    while (RunEnd < Text.size() && !Index.MayStartAt(Text, RunEnd)) ++RunEnd;
    Out.append(Text.substr(S, RunEnd - S));
    S = RunEnd;
    if (S == Text.size()) break;

    const TEntry* Match = Index.FirstMatchAt(Text, S);
    if (Match == nullptr) {
      Out.push_back(Text[S++]);
      continue;
    }
    Out.append(Match->New);
    S += Match->Old.size();
    if (!ReplaceAll) {
      Out.append(Text.substr(S));
      break;
    }
  }
  return Out;
}

}  // namespace quillet
