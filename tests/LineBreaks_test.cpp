#include "StringUnit/LineBreaks.h"

#include <gtest/gtest.h>

#include <tuple>

namespace quillet {
namespace {

TEST(LineBreaks, KindStripAndInsert) {
  const std::tuple<String, TLineBreakKind, String> Cases[] = {
      // clang-format off
      {u"", lbNone, u""},             {u"abc", lbNone, u"abc"},        {u"\r\n", lbCRLF, u""},
      {u"ab\r\n", lbCRLF, u"ab"},     {u"\r", lbCR, u""},              {u"ab\n\r", lbCR, u"ab\n"},
      {u"\n", lbLF, u""},             {u"ab\r\n\n", lbLF, u"ab\r\n"},  {u"ab\n\n", lbLF, u"ab\n"},
      {u"ab\r\r\n", lbCRLF, u"ab\r"}, {u"a\r\nb", lbNone, u"a\r\nb"},
      // clang-format on
  };
  for (const auto& [S, Kind, Stripped] : Cases) {
    SCOPED_TRACE(testing::PrintToString(S));
    const String Break(LineBreakString(Kind));
    EXPECT_EQ(GetLineBreakKind(S), Kind);
    EXPECT_EQ(Stripped + Break, S);
    String InPlace = S;
    StripLineBreak(InPlace);
    EXPECT_EQ(InPlace, Stripped);
    EXPECT_EQ(CopyWithoutLineBreak(S), Stripped);
    EXPECT_EQ(InsertBeforeLineBreak(S, u"<>"), Stripped + u"<>" + Break);
  }
  EXPECT_EQ(LineBreakString(static_cast<TLineBreakKind>(7)), u"");
  EXPECT_EQ(InsertBeforeLineBreak(u"ab\r\n", u"  "), u"ab  \r\n");
  EXPECT_EQ(InsertBeforeLineBreak(u"\n", u"x"), u"x\n");
  EXPECT_EQ(InsertBeforeLineBreak(u"a\r\r", u""), u"a\r\r");
}

TEST(LineBreaks, DeleteLastCharsAndRepeat) {
  const String Expected[] = {u"abc", u"abc", u"ab", u"a", u"", u"abc"};  // N = -1..4
  for (int32_t N = -1; N <= 4; ++N) {
    String S = u"abc";
    const String Copy = S;
    DeleteLastChars(S, N);
    EXPECT_EQ(S, Expected[N + 1]) << N;
    EXPECT_EQ(Copy, u"abc");
  }
  EXPECT_EQ(RepeatString(u" ", 4), u"    ");
  EXPECT_EQ(RepeatString(u"ab", 3), u"ababab");
  EXPECT_EQ(RepeatString(u"ab", 0) + RepeatString(u"ab", -2) + RepeatString(u"", 5), u"");
}

TEST(LineBreaks, LeadingAndTrailingRuns) {
  constexpr StringView In = u" \u3000\t";       // the indent blanks
  constexpr StringView End = u" \u3000\t\r\n";  // blanks and breaks
  const std::tuple<String, StringView, int32_t, int32_t, String, String> Cases[] = {
      // clang-format off
      {u"  \tx", In, 3, 0, u"x", u"  \tx"},        {u"x", In, 0, 0, u"x", u"x"},
      {u"   ", In, 3, 3, u"", u""},                {u"", In, 0, 0, u"", u""},
      {u"  \r\n", In, 2, 0, u"\r\n", u"  \r\n"},   {u" \t\r\n", End, 4, 4, u"", u""},
      {u"\r\n", In, 0, 0, u"\r\n", u"\r\n"},       {u"\r\n", End, 2, 2, u"", u""},
      {u" a ", u"", 0, 0, u" a ", u" a "},
      {u"\u3000a  ", u" ", 0, 2, u"\u3000a  ", u"\u3000a"},
      {u"ab \u3000\t\r\n", End, 0, 5, u"ab \u3000\t\r\n", u"ab"},
      {u"\u3000\u3000x\u3000", u"\u3000\u3000", 2, 1, u"x\u3000", u"\u3000\u3000x"},
      // clang-format on
  };
  for (const auto& [S, Set, Leading, Trailing, Left, Right] : Cases) {
    SCOPED_TRACE(testing::PrintToString(S));
    EXPECT_EQ(CountLeadingChars(S, Set), Leading);
    EXPECT_EQ(CountTrailingChars(S, Set), Trailing);
    EXPECT_EQ(TrimLeftChars(S, Set), Left);
    EXPECT_EQ(TrimRightChars(S, Set), Right);
  }
}

}  // namespace
}  // namespace quillet
