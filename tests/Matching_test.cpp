#include "StringUnit/Matching.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

namespace quillet {
namespace {

const String Prefix = u"P\u3000";  // shifts every position by 2

TEST(Matching, MatchAtAndCompareAt) {
  // Pattern, Text, Pos, result without and with IgnoreCase.
  const std::tuple<String, String, int32_t, bool, bool> Cases[] = {
      // clang-format off
      {u"ab", u"xab", 2, true, true},     {u"ab", u"xab", 3, false, false},
      {u"ab", u"xab", 0, false, false},   {u"ab", u"xab", 1, false, false},
      {u"", u"xab", 1, false, false},     {u"ab", u"", 1, false, false},
      {u"a", u"A", 1, false, true},       {u"z", u"Z", 1, false, true},
      {u"AB", u"xab", 2, false, true},    {u"\uFF41", u"\uFF21", 1, false, false},
      {u"@", u"`", 1, false, false},      {u"[", u"{", 1, false, false},
      {u"abc", u"ab", 1, false, false},   {u"xab", u"xab", 1, true, true},
      {u"b", u"xab", 4, false, false},    {u"\xDC00", u"\xD800\xDC00", 2, true, true},
      // clang-format on
  };
  for (const auto& [Pattern, Text, Pos, Exact, Blind] : Cases) {
    SCOPED_TRACE(testing::PrintToString(Pattern) + " in " + testing::PrintToString(Text));
    EXPECT_EQ(MatchAt(Pattern, Text, Pos, false), Exact) << Pos;
    EXPECT_EQ(MatchAt(Pattern, Text, Pos, true), Blind) << Pos;
    if (Pos >= 1 && !Text.empty()) {
      EXPECT_EQ(MatchAt(Pattern, Prefix + Text, Pos + 2, false), Exact) << "shifted";
    }
  }
  EXPECT_TRUE(IsBetween(1, 1, 1) && !IsBetween(1, 0, 5) && !IsBetween(1, 6, 5));
  EXPECT_FALSE(IsBetween(3, 4, 2));
  EXPECT_TRUE(CompareAt(u"abc", u"cab", 1, 2, 2, false) &&
              CompareAt(u"aBc", u"xbC", 2, 2, 2, true));
  EXPECT_TRUE(CompareAt(u"abc", u"x", 9, -9, 0, false) && CompareAt(u"abc", u"x", 9, 9, -1, false));
  EXPECT_FALSE(CompareAt(u"aBc", u"xbC", 2, 2, 2, false));
  EXPECT_FALSE(CompareAt(u"abc", u"abc", 2, 2, 3, false) ||
               CompareAt(u"abc", u"abc", 0, 1, 1, false));
}

TEST(Matching, EndsWithAndRemoveSuffix) {
  // Text, Suffix, EndsWith and RemoveSuffix without and with IgnoreCase.
  const std::tuple<String, String, bool, bool, String, String> Cases[] = {
      // clang-format off
      {u"", u"", false, false, u"", u""},              {u"a,b,", u",", true, true, u"a,b", u"a,b"},
      {u"a,b", u",", false, false, u"a,b", u"a,b"},    {u"abc", u"", false, false, u"abc", u"abc"},
      {u"", u"a", false, false, u"", u""},             {u"abC", u"bc", false, true, u"abC", u"a"},
      {u"bc", u"abc", false, false, u"bc", u"bc"},     {u"abc", u"abc", true, true, u"", u""},
      {u"a\r\n", u"\n", true, true, u"a\r", u"a\r"},
      // clang-format on
  };
  for (const auto& [Text, Suffix, Exact, Blind, Removed, RemovedBlind] : Cases) {
    SCOPED_TRACE(testing::PrintToString(Text) + " / " + testing::PrintToString(Suffix));
    EXPECT_EQ(EndsWith(Text, Suffix, false), Exact);
    EXPECT_EQ(EndsWith(Text, Suffix, true), Blind);
    EXPECT_EQ(RemoveSuffix(Text, Suffix, false), Removed);
    EXPECT_EQ(RemoveSuffix(Text, Suffix, true), RemovedBlind);
  }
}

TEST(Matching, CopyRangeAndDeleteCopy) {
  const std::tuple<int32_t, int32_t, String> Copies[] = {
      // clang-format off
      {0, 3, u"abc"}, {5, 100, u"ef"}, {4, 3, u""}, {7, 9, u""}, {1, 6, u"abcdef"},
      {6, 6, u"f"},   {-5, 1, u"a"},   {3, -1, u""}, {2, 2, u"b"}, {6, 7, u"f"},
      // clang-format on
  };
  for (const auto& [From, To, Expected] : Copies) {
    EXPECT_EQ(CopyRange(u"abcdef", From, To), Expected) << From << ".." << To;
    if (From >= 1) {
      EXPECT_EQ(CopyRange(Prefix + u"abcdef", From + 2, To + 2), Expected);
    }
  }
  EXPECT_EQ(CopyRange(u"", 1, 1), u"");
  const std::tuple<int32_t, int32_t, String> Deletes[] = {
      // clang-format off
      {2, 2, u"adef"}, {0, 2, u"abcdef"}, {7, 1, u"abcdef"}, {6, 1, u"abcde"}, {5, 100, u"abcd"},
      {1, 6, u""},     {2, 0, u"abcdef"}, {2, -1, u"abcdef"}, {1, 1, u"bcdef"},
      // clang-format on
  };
  for (const auto& [Index, Count, Expected] : Deletes) {
    EXPECT_EQ(DeleteCopy(u"abcdef", Index, Count), Expected) << Index << "," << Count;
    if (Index >= 1) {
      EXPECT_EQ(DeleteCopy(Prefix + u"abcdef", Index + 2, Count), Prefix + Expected);
    }
  }
}

TEST(Matching, CountOccurrences) {
  // Pattern, Text, counts with SkipOverlaps, without, then the same with FoldCharClass.
  const std::tuple<String, String, int32_t, int32_t, int32_t, int32_t> Cases[] = {
      // clang-format off
      {u"aa", u"aaaa", 2, 3, 2, 3},   {u"\uFF41", u"\uFF21\uFF41", 1, 1, 2, 2},
      {u"a", u"Aa", 1, 1, 2, 2},      {u"A", u"aA", 1, 1, 2, 2},
      {u"", u"abc", 0, 0, 0, 0},      {u"abc", u"", 0, 0, 0, 0},
      {u"aba", u"ababa", 1, 2, 1, 2}, {u"abcd", u"abc", 0, 0, 0, 0},
      {u"[", u"{[", 1, 1, 1, 1},      {u"aB", u"Abab", 0, 0, 2, 2},
      {u"\u3000", u"\u3000 \u3000", 2, 2, 2, 2},
      // clang-format on
  };
  for (const auto& [Pattern, Text, Skip, All, SkipFolded, AllFolded] : Cases) {
    SCOPED_TRACE(testing::PrintToString(Pattern) + " in " + testing::PrintToString(Text));
    EXPECT_EQ(CountOccurrences(Pattern, Text, true, false), Skip);
    EXPECT_EQ(CountOccurrences(Pattern, Text, false, false), All);
    EXPECT_EQ(CountOccurrences(Pattern, Text, true, true), SkipFolded);
    EXPECT_EQ(CountOccurrences(Pattern, Text, false, true), AllFolded);
  }
}

// Upper-case partner taken from alphabets written out, not from arithmetic.
constexpr StringView AsciiLower = u"abcdefghijklmnopqrstuvwxyz";
constexpr StringView AsciiUpper = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ";
char16_t UpperFrom(char16_t C, StringView Lower, StringView Upper) {
  const size_t I = Lower.find(C);
  return I == StringView::npos ? C : Upper[I];
}

TEST(Matching, FoldingSweep) {
  const String ClassLower =
      String(AsciiLower) + u"ａｂｃｄｅｆｇｈｉｊｋｌｍｎｏｐｑｒｓｔｕｖｗｘｙｚ";
  const String ClassUpper =
      String(AsciiUpper) + u"ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱＲＳＴＵＶＷＸＹＺ";
  for (uint32_t U = 0; U < 0x10000; ++U) {
    const char16_t C = static_cast<char16_t>(U);
    for (const char16_t D : {static_cast<char16_t>(C - 0x20), static_cast<char16_t>(C + 0x20)}) {
      const bool Blind =
          UpperFrom(C, AsciiLower, AsciiUpper) == UpperFrom(D, AsciiLower, AsciiUpper);
      const bool Folded =
          UpperFrom(C, ClassLower, ClassUpper) == UpperFrom(D, ClassLower, ClassUpper);
      ASSERT_EQ(MatchAt(StringView(&C, 1), StringView(&D, 1), 1, true), Blind) << U;
      ASSERT_EQ(CountOccurrences(StringView(&C, 1), StringView(&D, 1), true, true), Folded ? 1 : 0)
          << U;
    }
  }
}

TEST(Matching, ReplaceMultiTable) {
  const StringList Blanks = {u" ", u"\u3000", u"\t"}, Doubled = {u"  ", u"\u3000\u3000", u"\t\t"};
  const StringList Breaks = {u"\r\n", u"\r", u"\n"}, Letters = {u"A", u"B", u"C"};
  // Text, OldPatterns, NewPatterns, IgnoreCase, result without and with ReplaceAll.
  const std::tuple<String, StringList, StringList, bool, String, String> Cases[] = {
      // clang-format off
      {u"ab", {u"a", u"ab"}, {u"1", u"2"}, false, u"1b", u"1b"},   // the earlier entry wins
      {u"ab", {u"ab", u"a"}, {u"2", u"1"}, false, u"2", u"2"},
      {u"ab", {u"a", u"b"}, {u"b", u"c"}, false, u"bb", u"bc"},    // no cascading
      {u"aaa", {u"a", u"x"}, {u"x", u"y"}, false, u"xaa", u"xxx"},
      {u"aXa", {u"a"}, {u"x"}, false, u"xXa", u"xXx"},
      {u"aaa", {u"aa"}, {u"b"}, false, u"ba", u"ba"},
      {u"abc", {u"a", u"b"}, {u"x"}, false, u"abc", u"abc"},       // tables of different sizes
      {u"abc", {}, {}, false, u"abc", u"abc"},
      {u"", {u"a"}, {u"b"}, false, u"", u""},
      {u"a b", {u"", u" "}, {u"x", u""}, false, u"ab", u"ab"},     // empty old never matches
      {u" \t", Blanks, Doubled, false, u"  \t", u"  \t\t"},
      {u"\r\n\r", Breaks, Letters, false, u"A\r", u"AB"},
      {u"\n\r\r\n", Breaks, Letters, false, u"C\r\r\n", u"CBA"},
      {u"\xD83D\xDE00x", {u"\xDE00"}, {u"!"}, false, u"\xD83D!x", u"\xD83D!x"},
      {u"aBAb", {u"ab"}, {u"x"}, true, u"xAb", u"xx"},
      {u"aBAb", {u"ab"}, {u"x"}, false, u"aBAb", u"aBAb"},
      {u"ABC", {u"b"}, {u"bbbb"}, true, u"AbbbbC", u"AbbbbC"},    // grows past the reserve
      {u"\uFF41\uFF21", {u"\uFF41"}, {u"x"}, true, u"x\uFF21", u"x\uFF21"},
      // clang-format on
  };
  for (const auto& [Text, Old, New, IgnoreCase, Once, All] : Cases) {
    SCOPED_TRACE(testing::PrintToString(Text));
    EXPECT_EQ(ReplaceMulti(Text, Old, New, IgnoreCase, false), Once);
    EXPECT_EQ(ReplaceMulti(Text, Old, New, IgnoreCase, true), All);
  }
}

// The replacement as a plain reading of its definition, without shortcuts.
String NaiveReplace(StringView Text, const StringList& Old, const StringList& New, bool IgnoreCase,
                    bool ReplaceAll) {
  if (Old.empty() || Old.size() != New.size()) return String(Text);
  const auto Same = [IgnoreCase](char16_t X, char16_t Y) {
    if (!IgnoreCase) return X == Y;
    return UpperFrom(X, AsciiLower, AsciiUpper) == UpperFrom(Y, AsciiLower, AsciiUpper);
  };
  String Out;
  bool Active = true;
  for (size_t S = 0; S < Text.size();) {
    size_t Hit = Old.size();
    for (size_t I = 0; Active && Hit == Old.size() && I < Old.size(); ++I) {
      if (Old[I].empty() || S + Old[I].size() > Text.size()) continue;
      if (std::equal(Old[I].begin(), Old[I].end(), Text.begin() + S, Same)) Hit = I;
    }
    if (Hit == Old.size()) {
      Out += Text[S++];
      continue;
    }
    Out += New[Hit];
    S += Old[Hit].size();
    Active = ReplaceAll;
  }
  return Out;
}

TEST(Matching, ReplaceMultiAgreesWithNaiveOnAllShortStrings) {
  const struct {
    StringList Old, New;
    bool IgnoreCase;
  } Tables[] = {
      {{u" ", u"\u3000", u"\t"}, {u"  ", u"\u3000\u3000", u"\t\t"}, false},
      {{u"    ", u"  ", u"\t"}, {u"\t", u"", u"    "}, false},
      {{u"a", u"aa", u"\r\n", u""}, {u"", u"X", u"\n", u"Z"}, false},
      {{u"\r\n", u"\r", u"\n", u" \u3000"}, {u"1", u"22", u"333", u"4"}, false},
      {{u"A\t", u"A", u"aa"}, {u"b", u"cc", u"d"}, true},
  };
  String Text;
  int64_t Checked = 0;
  const auto Visit = [&](auto&& Self, size_t Depth) -> void {
    for (const auto& T : Tables) {
      for (const bool All : {false, true}) {
        ASSERT_EQ(ReplaceMulti(Text, T.Old, T.New, T.IgnoreCase, All),
                  NaiveReplace(Text, T.Old, T.New, T.IgnoreCase, All))
            << testing::PrintToString(Text) << " all=" << All;
        ++Checked;
      }
    }
    if (Depth == 6) return;
    for (const char16_t C : StringView(u" \u3000\ta\r\n")) {
      Text.push_back(C);
      Self(Self, Depth + 1);
      Text.pop_back();
    }
  };
  Visit(Visit, 0);
  EXPECT_EQ(Checked, 55987 * 5 * 2);  // every string of 0..6 characters over six
}

}  // namespace
}  // namespace quillet
