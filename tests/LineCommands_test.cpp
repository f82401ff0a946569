// Tests for transforms/LineCommands: the nine line rewrites.
#include "transforms/LineCommands.h"
#include "transforms/LiteralLineCommands.h"

#include <gtest/gtest.h>

#include <random>

#include "StringUnit/LineBreaks.h"

namespace quillet {
namespace {

// Spelled strings: "_" space, "#" U+3000, ">" tab, "<" CR, "|" LF.
String S(std::string_view Spelled) {
  String Out;
  for (char C : Spelled) {
    switch (C) {
      case '_':
        Out += u' ';
        break;
      case '#':
        Out += u'\u3000';
        break;
      case '>':
        Out += u'\t';
        break;
      case '<':
        Out += u'\r';
        break;
      case '|':
        Out += u'\n';
        break;
      default:
        Out += static_cast<char16_t>(C);
    }
  }
  return Out;
}

struct IndentRow {
  const char* Old;
  const char* Cmd[5];  // results of commands 1 to 5
};

TEST(NewIndent, WorkedTable) {
  const IndentRow Rows[] = {
      {"", {"", "", "", "", ""}},
      {"_____", {"_____", "##_", ">_", "__________", "___"}},
      {"___", {"___", "#_", "___", "______", "__"}},
      {">", {"____", "##", ">", ">>", ">"}},
      {"_>", {"____", "##", ">", "__>>", "_>"}},
      {"#>", {"____", "##", ">", "##>>", "#>"}},
      {"_#", {"___", "#_", "___", "__##", "_#"}},
      {">>>", {"____________", "######", ">>>", ">>>>>>", ">>"}},
  };
  for (const IndentRow& Row : Rows)
    for (uint8_t Cmd = 1; Cmd <= 5; ++Cmd)
      EXPECT_EQ(NewIndent(S(Row.Old), Cmd), S(Row.Cmd[Cmd - 1]))
          << "indent '" << Row.Old << "' command " << int(Cmd);
}

struct CommandRow {
  uint8_t Cmd;
  const char* Text;
  const char* Expected;
};

TEST(ApplyLineCommand, WorkedCases) {
  const CommandRow Rows[] = {
      // Indent removal keeps breaks and inner blanks.
      {6, "__>ab<|#c|>", "ab<|c|"},
      {6, "_a_b<|", "a_b<|"},
      // Trimming keeps every line's own break.
      {7, "ab_#><|cd_<e__", "ab<|cd<e"},
      {7, "__<|", "<|"},
      {7, "a_b", "a_b"},
      // A line of blanks is all indent.
      {3, "________<|", ">><|"},
      {4, "_a_b", "__a_b"},
      // Padding with spaces and with tabs.
      {8, "ab<|abcd<|a", "ab__<|abcd<|a___"},
      {9, "ab<|abcd<|a", "ab>><|abcd><|a>>"},
      {8, "a_____<|abc<|", "a__<|abc<|"},
      {8, "a>b<|abcdefg", "a>b__<|abcdefg"},
      {8, "__<|><|", "<|<|"},
      {9, "__<|><|", "><|><|"},
      {9, "abcdef|abcdefgh|", "abcdef>>|abcdefgh>|"},
      {9, "abcdef|", "abcdef>>|"},
      // Full-width characters count two columns.
      {8, "#x|abcd", "#x_|abcd"},
  };
  for (const CommandRow& Row : Rows)
    EXPECT_EQ(ApplyLineCommand(S(Row.Text), Row.Cmd), S(Row.Expected))
        << "command " << int(Row.Cmd) << " on '" << Row.Text << "'";
}

TEST(ApplyLineCommand, NoRewriteGivesEmpty) {
  for (uint8_t Cmd : {0, 10, 255}) EXPECT_EQ(ApplyLineCommand(u"  a\r\n", Cmd), u"");
  for (uint8_t Cmd = 0; Cmd <= 10; ++Cmd) EXPECT_EQ(ApplyLineCommand(u"", Cmd), u"");
}

TEST(Padding, Helpers) {
  EXPECT_EQ(RoundUpToMultiple(0, 4), 0);
  EXPECT_EQ(RoundUpToMultiple(4, 4), 4);
  EXPECT_EQ(RoundUpToMultiple(5, 4), 8);
  EXPECT_EQ(RoundUpToMultiple(14, 4), 16);
  EXPECT_EQ(LineWidth(S("#x")), 3);
  EXPECT_EQ(LineWidth(S("a>b<|")), 5);
  // Width 6 against target 10 (stop 12): two tabs; width 8: one; empty: three.
  EXPECT_EQ(PadWithTabs(S("abcdef"), 10), S("abcdef>>"));
  EXPECT_EQ(PadWithTabs(S("abcdefgh<|"), 10), S("abcdefgh><|"));
  EXPECT_EQ(PadWithTabs(S(""), 10), S(">>>"));
  EXPECT_EQ(PadWithSpaces(S("abcde"), 3), S("abcde"));

  TCommonStringRecordList Lines;
  Lines.SetText(S("ab|abcd|wxyz|"));
  EXPECT_EQ(FindLongestLine(Lines).Index, 1);
  EXPECT_EQ(FindLongestLine(Lines).Width, 4);
  Lines.SetText(S("|<|"));
  EXPECT_EQ(FindLongestLine(Lines).Index, -1);
  EXPECT_EQ(FindLongestLine(Lines).Width, 0);
  Lines.SetText(u"");
  EXPECT_EQ(FindLongestLine(Lines).Index, -1);
}

TEST(SplitIndent, JoinsBack) {
  for (const char* Line : {"", "abc", "__", "_#>a_b<|", "<|", "#"}) {
    auto [Indent, Rest] = SplitIndent(S(Line));
    EXPECT_EQ(Indent + Rest, S(Line));
    EXPECT_EQ(CountTrailingChars(Indent, IndentChars), static_cast<int32_t>(Indent.size()));
    EXPECT_TRUE(Rest.empty() || IndentChars.find(Rest[0]) == StringView::npos);
  }
}

// Random multi-line texts over blanks, letters, kana and breaks; with
// WithSurrogates also the halves of a pair, whose code page 932 columns (one
// substitute byte each) differ from their display width.
String RandomText(std::mt19937& Rng, bool WithSurrogates = true) {
  static const char16_t Alphabet[] = {u' ',      u' ',  u'\u3000', u'\t', u'a',  u'b',   u'\u3042',
                                      u'\uFF76', u'\r', u'\n',     u'\r', u'\n', 0xD83D, 0xDE00};
  std::uniform_int_distribution<size_t> Length(0, 40);
  std::uniform_int_distribution<size_t> Pick(0, std::size(Alphabet) - (WithSurrogates ? 1 : 3));
  String Text;
  for (size_t I = Length(Rng); I > 0; --I) Text += Alphabet[Pick(Rng)];
  return Text;
}

TEST(ApplyLineCommand, LinePreservingProperties) {
  std::mt19937 Rng(20261208);
  for (int Case = 0; Case < 3000; ++Case) {
    const String Text = RandomText(Rng);
    TCommonStringRecordList Before;
    Before.SetText(Text);
    for (uint8_t Cmd = 1; Cmd <= 7; ++Cmd) {
      // Each line becomes exactly one line with the same break: rebuild the
      // output from the per-line rewrite and compare.
      String Expected;
      for (int32_t I = 0; I < Before.Count(); ++I) {
        const String& Line = Before.Items(I);
        String NewLine = ApplyLineCommand(Line, Cmd);
        EXPECT_EQ(GetLineBreakKind(NewLine), GetLineBreakKind(Line));
        if (Cmd <= 5) {
          // Nothing after the indent changes.
          auto [Indent, Rest] = SplitIndent(Line);
          auto [NewIndentPart, NewRest] = SplitIndent(NewLine);
          EXPECT_EQ(NewRest, Rest);
        }
        Expected += NewLine;
      }
      EXPECT_EQ(ApplyLineCommand(Text, Cmd), Expected) << "command " << int(Cmd);
    }
    // Conversions are idempotent; doubling then halving restores the indent.
    for (uint8_t Cmd = 1; Cmd <= 3; ++Cmd) {
      const String Once = ApplyLineCommand(Text, Cmd);
      EXPECT_EQ(ApplyLineCommand(Once, Cmd), Once);
    }
    EXPECT_EQ(ApplyLineCommand(ApplyLineCommand(Text, 4), 5), Text);
    const String Trimmed = ApplyLineCommand(Text, 7);
    EXPECT_EQ(ApplyLineCommand(Trimmed, 7), Trimmed);
  }
}

TEST(ApplyLineCommand, PaddingAlignsEveryLine) {
  std::mt19937 Rng(7);
  for (int Case = 0; Case < 1000; ++Case) {
    const String Text = RandomText(Rng, false);
    for (uint8_t Cmd : {8, 9}) {
      TCommonStringRecordList Out;
      Out.SetText(ApplyLineCommand(Text, Cmd));
      int32_t Target = -1;
      for (int32_t I = 0; I < Out.Count(); ++I) {
        const String& Line = Out.Items(I);
        const int32_t Width = LineWidth(Line);
        if (Target < 0) Target = Width;
        EXPECT_EQ(Width, Target) << "command " << int(Cmd) << " line " << I;
        if (Cmd == 9) {
          EXPECT_EQ(Width % TabWidth, 0);
        }
      }
    }
  }
}

}  // namespace
}  // namespace quillet
