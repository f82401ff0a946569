// ApplyLineCommand and the column helpers against the literal sequences
// (transforms/LiteralLineCommands.h) on many random texts: surrogates
// (paired and lone), characters that code page 932 cannot represent, narrow
// and wide characters, and every mix of CR, LF and CR LF.
#include <gtest/gtest.h>

#include <random>

#include "StringUnit/AnsiCodePage.h"
#include "StringUnit/Columns.h"
#include "StringUnit/LineBreaks.h"
#include "StringUnit/Matching.h"
#include "transforms/LineCommands.h"
#include "transforms/LiteralLineCommands.h"
#include "tests/ReferenceExpandTabs.h"

namespace quillet {
namespace {

// Alphabets that stress different parts: blanks and breaks (indents, empty
// and blank lines), then everything with a width or byte count of its own.
const std::u16string_view Alphabets[] = {
    u"   \u3000\u3000\t\t\r\n",
    u"  \u3000\t\r\n\r\nab\u3042\u6F22",
    u" \u3000\t\r\n"
    u"a~\u00E9\u00A5\u203E\u2460\uFF61\uFF76\uFF9F\uFFE5\uE000\uFFFF\u0080\u0001\u3000"
    u"\xD83D\xDE00\xDC00\xD800",
};

String RandomText(std::mt19937& Rng, size_t MaxLength) {
  const std::u16string_view Alphabet = Alphabets[Rng() % std::size(Alphabets)];
  String Text(Rng() % (MaxLength + 1), u' ');
  for (char16_t& C : Text) C = Alphabet[Rng() % Alphabet.size()];
  return Text;
}

TEST(LineCommandsFast, MatchesTheLiteralSequence) {
  std::mt19937 Rng(8122026);
  for (int Case = 0; Case < 4000; ++Case) {
    const String Text = RandomText(Rng, Case % 500 == 0 ? 20000 : Case % 50 == 0 ? 600 : 40);
    for (uint8_t Cmd = 0; Cmd <= 10; ++Cmd)
      ASSERT_EQ(ApplyLineCommand(Text, Cmd), ApplyLineCommandLiterally(Text, Cmd))
          << "command " << int(Cmd) << " case " << Case;
  }
}

TEST(LineCommandsFast, HelpersMatchTheLiteralSequence) {
  std::mt19937 Rng(31);
  for (int Case = 0; Case < 3000; ++Case) {
    const String Line = RandomText(Rng, 30);
    ASSERT_EQ(LineWidth(Line), LiteralLineWidth(Line)) << "case " << Case;
  }
}

// One indent alone, appended after what Out holds, as the commands rewrite
// a line's indent; and the padding as PadWithSpaces and PadWithTabs insert
// it. Indents up to 5000 blanks cross the buffer the output is gathered in.
TEST(LineCommandsFast, IndentAndPaddingAloneMatchTheLiteralSequence) {
  std::mt19937 Rng(1209);
  for (int Case = 0; Case < 3000; ++Case) {
    String Indent(Rng() % (Case % 100 == 0 ? 5000 : 12), u' ');
    for (char16_t& C : Indent) C = IndentChars[Rng() % IndentChars.size()];
    for (uint8_t Cmd = lcSpaces; Cmd <= lcUnindent; ++Cmd) {
      String Out = u"ab";
      AppendNewIndent(Indent, Cmd, Out);
      ASSERT_EQ(Out, u"ab" + (Cmd == lcUnindent ? String() : NewIndent(Indent, Cmd)))
          << "command " << int{Cmd} << " case " << Case;
    }
    const int32_t Width = static_cast<int32_t>(Rng() % 30);
    const int32_t Longest = Width + static_cast<int32_t>(Rng() % 12);
    const String Line = String(Width, u'a') + u"\n";
    const TPadding Spaces = LinePadding(lcPad, Width, Longest);
    ASSERT_EQ(String(Width, u'a') + String(Spaces.Count, Spaces.Unit) + u"\n",
              PadWithSpaces(Line, Longest))
        << "width " << Width << " longest " << Longest;
    const TPadding Tabs = LinePadding(lcPadTabs, Width, Longest);
    ASSERT_EQ(String(Width, u'a') + String(Tabs.Count, Tabs.Unit) + u"\n",
              PadWithTabs(Line, Longest + TabWidth))
        << "width " << Width << " longest " << Longest;
  }
}

// The string routines under the commands, on any code units; the long texts
// cross the blocks in which DisplayWidth counts.
TEST(LineCommandsFast, RoutinesMatchTheirDefinitions) {
  std::mt19937 Rng(4);
  for (int Case = 0; Case < 2000; ++Case) {
    String Text = Case % 100 == 0 ? String(70000 + Rng() % 9, u'a') : RandomText(Rng, 30);
    for (size_t I = Rng() % 3; I < Text.size(); I += 1 + Rng() % 50) Text[I] = Rng() & 0xFFFF;
    int32_t Width = 0;
    for (char16_t C : Text) Width += IsWideChar(C) ? 2 : 1;
    ASSERT_EQ(DisplayWidth(Text), Width) << "case " << Case;
    for (size_t From = 0; From <= Text.size(); From += 1 + Rng() % (Text.size() / 8 + 1)) {
      size_t Break = From;
      while (Break < Text.size() && Text[Break] != u'\r' && Text[Break] != u'\n') ++Break;
      ASSERT_EQ(FindLineBreak(Text, From), Break) << "case " << Case << " from " << From;
    }
    if (Text.size() < 100) {
      ASSERT_EQ(ExpandTabs(Text, 4), ReferenceExpandTabs(Text, TabWidth)) << "case " << Case;
    }
  }
}

// Texts made of one repeated piece: the shapes whose cost must stay linear,
// up to indents and fills longer than the buffer the output is gathered in.
TEST(LineCommandsFast, RepeatedShapes) {
  const std::u16string_view Pieces[] = {u"\t",  u"\u3000",    u"\n",           u"\r",       u"\r\n",
                                        u"a\n", u" \u3000\t", u"\t\u3000 x\r", u" \t\r\n\n"};
  std::vector<String> Texts;
  for (std::u16string_view Piece : Pieces)
    for (int32_t Count : {1, 2, 3, 257, 1500}) Texts.push_back(RepeatString(Piece, Count));
  // Runs of equal blanks longer than what the output takes in one piece, a
  // pair straddling the cut.
  Texts.push_back(u" " + RepeatString(u"\u3000", 4100) + u"x\r\n");
  Texts.push_back(RepeatString(u" ", 5000));
  // Lines longer than the blocks they are read in, blanks across the cuts.
  Texts.push_back(RepeatString(u"ab          ", 700) + u"\r\n" + RepeatString(u"x\u3000\t", 2000));
  Texts.push_back(u"\t" + RepeatString(u"a", 4095) + RepeatString(u" ", 4097) + u"b \n");
  for (const String& Text : Texts)
    for (uint8_t Cmd = 1; Cmd <= 9; ++Cmd)
      EXPECT_EQ(ApplyLineCommand(Text, Cmd), ApplyLineCommandLiterally(Text, Cmd))
          << "command " << int(Cmd) << " length " << Text.size();
}

}  // namespace
}  // namespace quillet
