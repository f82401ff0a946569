// The UTF-8 line rewrite against decoding, ApplyLineCommand and encoding, on
// random texts of blanks, breaks and characters whose bytes resemble the
// full-width space's (U+3001, U+2000, U+0080) or the stand-in letter, and
// characters of every width: narrow three-byte ones (U+203E, half-width
// katakana), full-width forms, control characters, four-byte characters.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "TemplateList/StringRecordList.h"
#include "tools/TextEncoding.h"
#include "tools/Utf8Lines.h"
#include "transforms/LineCommands.h"
#include "transforms/LiteralLineCommands.h"

namespace quillet {
namespace {

std::string RandomText(std::mt19937& Random) {
  static const char* const Pieces[] = {" ",
                                       "\t",
                                       "\xE3\x80\x80",
                                       "\r",
                                       "\n",
                                       "\r\n",
                                       "x",
                                       "a",
                                       "\xE3\x81\x82",
                                       "\xE3\x80\x81",
                                       "\xE2\x80\x80",
                                       "\xC2\x80",
                                       "\x01",
                                       "\x7F",
                                       "\xE2\x80\xBE",
                                       "\xEF\xBD\xB1",
                                       "\xEF\xBE\x9F",
                                       "\xEF\xBC\xA1",
                                       "\xC2\xAB",
                                       "\xF0\x9F\x98\x80",
                                       "\xE3\x80\x80\xE3\x80\x80",
                                       "abcdefghijklmnop"};
  // Now and then long enough for many of the 64-byte steps lines are found in.
  std::string Text;
  for (size_t N = Random() % (Random() % 8 == 0 ? 400 : 40); N > 0; --N) {
    Text += Pieces[Random() % std::size(Pieces)];
  }
  return Text;
}

TEST(Utf8Lines, GivesTheBytesOfTheDecodedRewrite) {
  std::mt19937 Random(20261208);
  for (int Round = 0; Round < 20000; ++Round) {
    const std::string Text = RandomText(Random);
    String Decoded;
    ASSERT_EQ(DecodeText(Text, TEncoding::Utf8, Decoded), NoError);
    uint64_t Lines = 0;
    const int32_t Widest = Utf8WidestTrimmedLine(Text, Lines);
    TCommonStringRecordList List;
    List.SetText(Decoded);
    int32_t Expected = 0;
    for (int32_t I = 0; I < List.Count(); ++I) {
      Expected = std::max(Expected, LineWidth(TrimLineEnd(List.Items(I))));
    }
    ASSERT_EQ(Widest, Expected) << Text;
    ASSERT_EQ(Lines, static_cast<uint64_t>(List.Count())) << Text;
    for (uint8_t Command = lcSpaces; Command <= lcPadTabs; ++Command) {
      std::string Expected;
      ASSERT_TRUE(EncodeText(ApplyLineCommand(Decoded, Command), TEncoding::Utf8, Expected));
      TUtf8LineRewriter Rewriter(Command, Widest);
      bool Changed = false;
      ASSERT_NO_THROW(Changed = Rewriter.Rewrite(Text))
          << "command " << int{Command} << " on " << Text;
      EXPECT_EQ(Changed, Expected != Text) << "command " << int{Command} << " on " << Text;
      EXPECT_EQ(Changed ? Rewriter.Result() : Text, Expected)
          << "command " << int{Command} << " on " << Text;
    }
  }
}

TEST(Utf8Lines, WidthIsTheDecodedLineWidth) {
  std::mt19937 Random(8);
  for (int Round = 0; Round < 20000; ++Round) {
    std::string Line = RandomText(Random);
    std::erase_if(Line, [](char C) { return C == '\r' || C == '\n'; });
    String Decoded;
    ASSERT_EQ(DecodeText(Line, TEncoding::Utf8, Decoded), NoError);
    EXPECT_EQ(Utf8LineWidth(Line), LineWidth(Decoded)) << Line;
  }
}

// One rewriter serves block after block, padding each against the widest
// line of the whole text rather than its own.
TEST(Utf8Lines, ServesBlockAfterBlock) {
  std::mt19937 Random(2026);
  constexpr int32_t Widest = 40;
  const String WidestLine = LineOfWidth(Widest) + u"\n";
  for (uint8_t Command = lcSpaces; Command <= lcPadTabs; ++Command) {
    TUtf8LineRewriter Rewriter(Command, Widest);
    for (int Round = 0; Round < 2000; ++Round) {
      const std::string Block = RandomText(Random) + "\n";
      uint64_t Lines = 0;
      if (Utf8WidestTrimmedLine(Block, Lines) > Widest) continue;
      String Decoded;
      ASSERT_EQ(DecodeText(Block, TEncoding::Utf8, Decoded), NoError);
      String Rewritten = ApplyLineCommand(WidestLine + Decoded, Command);
      Rewritten.erase(0, Rewritten.find(u'\n') + 1);
      std::string Expected;
      ASSERT_TRUE(EncodeText(Rewritten, TEncoding::Utf8, Expected));
      const bool Changed = Rewriter.Rewrite(Block);
      EXPECT_EQ(Changed ? Rewriter.Result() : Block, Expected)
          << "command " << int{Command} << " on " << Block;
    }
  }
}

}  // namespace
}  // namespace quillet
