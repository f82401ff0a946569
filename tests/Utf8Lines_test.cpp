// The UTF-8 line rewrite against decoding, ApplyLineCommand and encoding, on
// random texts of blanks, breaks and characters whose bytes resemble the
// full-width space's (U+3001, U+2000, U+0080) or the stand-in letter.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "tools/TextEncoding.h"
#include "tools/Utf8Lines.h"
#include "transforms/LineCommands.h"

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
                                       "\xF0\x9F\x98\x80",
                                       "\xE3\x80\x80\xE3\x80\x80"};
  std::string Text;
  for (size_t N = Random() % 40; N > 0; --N) Text += Pieces[Random() % std::size(Pieces)];
  return Text;
}

TEST(Utf8Lines, GivesTheBytesOfTheDecodedRewrite) {
  std::mt19937 Random(20261208);
  // One rewriter per command, reused as the filter reuses it block after block.
  std::vector<TUtf8LineRewriter> Rewriters;
  for (uint8_t Command = lcSpaces; Command <= lcTrim; ++Command) Rewriters.emplace_back(Command);
  for (int Round = 0; Round < 20000; ++Round) {
    const std::string Text = RandomText(Random);
    String Decoded;
    ASSERT_EQ(DecodeText(Text, TEncoding::Utf8, Decoded), NoError);
    for (uint8_t Command = lcSpaces; Command <= lcTrim; ++Command) {
      std::string Expected;
      ASSERT_TRUE(EncodeText(ApplyLineCommand(Decoded, Command), TEncoding::Utf8, Expected));
      TUtf8LineRewriter& Rewriter = Rewriters[Command - lcSpaces];
      bool Changed = false;
      ASSERT_NO_THROW(Changed = Rewriter.Rewrite(Text))
          << "command " << int{Command} << " on " << Text;
      EXPECT_EQ(Changed, Expected != Text) << "command " << int{Command} << " on " << Text;
      EXPECT_EQ(Changed ? Rewriter.Result() : Text, Expected)
          << "command " << int{Command} << " on " << Text;
    }
  }
}

}  // namespace
}  // namespace quillet
