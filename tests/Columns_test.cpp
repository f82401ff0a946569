#include "StringUnit/Columns.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <vector>

#include "StringUnit/AnsiCodePage.h"
#include "tests/ReferenceExpandTabs.h"

namespace quillet {
namespace {

TEST(Columns, ByteKinds) {
  const std::tuple<AnsiString, std::vector<int>> Cases[] = {
      // clang-format off
      {"\x61\x82\xA0\x62", {0, 1, 2, 0}}, {"\x81\x81\x81\x40", {1, 2, 1, 2}},
      {"\xE0\xFC\x81", {1, 2, 1}},        {"\xA1\x81\x40", {0, 1, 2}},
      {"\x80\xFD\x9F", {0, 0, 1}},        {"\x9F\xE0\xFC\xFC\x41", {1, 2, 1, 2, 0}},
      // clang-format on
  };
  for (const auto& [Bytes, Kinds] : Cases) {
    for (size_t I = 0; I < Kinds.size(); ++I) {
      EXPECT_EQ(GetByteKind(Bytes, static_cast<int32_t>(I + 1)), Kinds[I]) << I + 1;
    }
    EXPECT_EQ(GetByteKind(Bytes, 0), bkSingle);
    EXPECT_EQ(GetByteKind(Bytes, static_cast<int32_t>(Kinds.size() + 1)), bkSingle);
  }
  const AnsiString Mixed = "\x61\x82\xA0\x62", Pairs = "\x81\x81\x81\x40";
  const std::tuple<AnsiString, int32_t, int32_t> Counts[] = {
      // clang-format off
      {Mixed, 1, 1}, {Mixed, 2, 3}, {Mixed, 3, 4}, {Mixed, 10, 4}, {Mixed, 0, 0}, {Mixed, -1, 0},
      {"", 1, 0},    {Pairs, 1, 2}, {Pairs, 2, 4}, {"\x61\x81", 2, 2},
      // clang-format on
  };
  for (const auto& [S, N, Bytes] : Counts) EXPECT_EQ(CharsToBytes(S, N), Bytes) << N;
}

// Byte counting by the per-position kinds, the way the column is defined.
int32_t CharsToBytesByKinds(const AnsiString& S, int32_t N) {
  if (N <= 0 || S.empty()) return 0;
  int32_t Ends = 0;
  for (int32_t Pos = 1; Pos <= static_cast<int32_t>(S.size()); ++Pos) {
    if (GetByteKind(S, Pos) != bkLead) ++Ends;
    if (Ends == std::min<int32_t>(N, static_cast<int32_t>(S.size()))) return Pos;
  }
  return static_cast<int32_t>(S.size());
}

TEST(Columns, CharsToBytesAgreesWithByteKindsOnAllShortStrings) {
  const char Alphabet[] = {'\x40', '\x81', '\xA0', '\xE0'};
  AnsiString S;
  const auto Visit = [&](auto&& Self, size_t Depth) -> void {
    for (int32_t N = -1; N <= 9; ++N) ASSERT_EQ(CharsToBytes(S, N), CharsToBytesByKinds(S, N)) << N;
    if (Depth == 7) return;
    for (const char B : Alphabet) {
      S.push_back(B);
      Self(Self, Depth + 1);
      S.pop_back();
    }
  };
  Visit(Visit, 0);
}

TEST(Columns, AnsiConversion) {
  EXPECT_EQ(ToAnsiString(u"a\u3000\uFF76"), "a\x81\x40\xB6");
  EXPECT_EQ(ToAnsiString(u"\u0100\xD83D\xDE00\xDC00x"), "????x");
  // Each unit converts alone as it does inside a text, as one code-page character.
  for (uint32_t U = 0; U < 0x10000; ++U) {
    const String Unit(1, static_cast<char16_t>(U));
    const AnsiString Bytes = ToAnsiString(Unit);
    ASSERT_EQ(static_cast<int32_t>(Bytes.size()), AnsiByteCount(Unit[0])) << U;
    ASSERT_EQ(CharsToBytes(Bytes + "a", 1), AnsiByteCount(Unit[0])) << U;
    ASSERT_EQ(ToAnsiString(u"\u3000" + Unit + u"b"), "\x81\x40" + Bytes + "b") << U;
  }
}

TEST(Columns, ExpandTabsTable) {
  const std::tuple<String, int32_t, String> Cases[] = {
      // clang-format off
      {u"", 4, u""},               {u"abc", 4, u"abc"},              {u"\t", 4, u"    "},
      {u" \t", 4, u"    "},        {u"ab\tc", 4, u"ab  c"},          {u"abcd\t", 4, u"abcd    "},
      {u"\t\t", 4, u"        "},   {u"     \t", 4, u"        "},     {u"\u3000\t", 4, u"\u3000  "},
      {u"\uFF76\t", 4, u"\uFF76   "}, {u"\u0100\t", 4, u"\u0100   "},    {u"a\r\n\t", 4, u"a\r\n "},
      {u"\u3000\u3000\t", 4, u"\u3000\u3000    "}, {u"\xD83D\xDE00\t", 4, u"\xD83D\xDE00  "},
      {u"a\tb", 1, u"a b"},        {u"a\tb", 8, u"a       b"},       {u"a\tb", 0, u"a\tb"},
      {u"a\tb", -1, u"a\tb"},
      // clang-format on
  };
  for (const auto& [S, TabWidth, Expected] : Cases) {
    EXPECT_EQ(ExpandTabs(S, TabWidth), Expected) << testing::PrintToString(S);
  }
}

TEST(Columns, ExpandTabsAgreesWithConversionOnRandomText) {
  const std::vector<String> Pieces = {u"a",      u" ",      u"\t",          u"\t",
                                      u"\u3000", u"\u30A2", u"\uFF76",      u"\u0100",
                                      u"\u00E9", u"\r",     u"\xD83D\xDE00"};
  std::mt19937 Random(932);
  for (int Round = 0; Round < 3000; ++Round) {
    String S;
    const int Count = static_cast<int>(Random() % 16);
    for (int I = 0; I < Count; ++I) S += Pieces[Random() % Pieces.size()];
    for (const int32_t Width : {1, 2, 3, 4, 8}) {
      ASSERT_EQ(ExpandTabs(S, Width), ReferenceExpandTabs(S, Width))
          << testing::PrintToString(S) << " width " << Width;
    }
  }
}

// The one-column code units, written as ranges.
bool IsNarrowByRanges(char16_t C) {
  constexpr std::pair<char16_t, char16_t> Narrow[] = {
      {u' ', u'\x7F'}, {u'\u203E', u'\u203E'}, {u'\uFF61', u'\uFF9F'}};
  for (const auto& [First, Last] : Narrow) {
    if (First <= C && C <= Last) return true;
  }
  return false;
}

TEST(Columns, WidthSweep) {
  for (uint32_t U = 0; U < 0x10000; ++U) {
    const char16_t C = static_cast<char16_t>(U);
    ASSERT_EQ(IsWideChar(C), !IsNarrowByRanges(C)) << U;
    ASSERT_EQ(DisplayWidth(StringView(&C, 1)), IsNarrowByRanges(C) ? 1 : 2) << U;
  }
}

TEST(Columns, DisplayWidthAndColumns) {
  const std::tuple<String, int32_t> Widths[] = {
      // clang-format off
      {u"", 0},       {u"abc", 3},    {u"\u3000", 2},       {u"\t", 2},         {u"\uFF76", 1},
      {u"\u00E9", 2}, {u"\u203E", 1}, {u"\xD83D\xDE00", 4}, {u"\x7F", 1},       {u"\x1F\r\n", 6},
      {u"a\u3000b", 4},
      // clang-format on
  };
  for (const auto& [S, Width] : Widths) EXPECT_EQ(DisplayWidth(S), Width) << S.size();
  const std::tuple<String, int32_t, int32_t> Columns[] = {
      // clang-format off
      {u"a\u3000b", 3, 4}, {u"a\u3000b", 4, 5}, {u"a\u3000b", 1, 1}, {u"a\u3000b", 2, 2},
      {u"a", 3, 0},        {u"a", 0, 0},        {u"a", -1, 0},       {u"", 1, 1},   {u"", 2, 0},
      // clang-format on
  };
  for (const auto& [S, N, Column] : Columns) {
    SCOPED_TRACE(testing::PrintToString(S) + " N=" + std::to_string(N));
    EXPECT_EQ(DisplayColumnOf(S, N), Column);
    if (Column > 0) {
      for (const String Prefix : {u"ab", u"\u3000"}) {
        EXPECT_EQ(DisplayColumnOf(Prefix + S, N + static_cast<int32_t>(Prefix.size())), Column + 2);
      }
    }
  }
}

}  // namespace
}  // namespace quillet
