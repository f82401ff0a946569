// UTF-8 validation against decoding on texts long enough to be checked in
// halves, with one byte spoiled anywhere, the middle included.
#include <gtest/gtest.h>

#include <random>

#include "tools/TextEncoding.h"

namespace quillet {
namespace {

TEST(TextEncoding, ValidationFindsWhatDecodingFinds) {
  static const char* const Pieces[] = {"a",
                                       " ",
                                       "\n",
                                       "\xC2\xA9",
                                       "\xE3\x81\x82",
                                       "\xED\x9F\xBF",
                                       "\xF0\x9F\x98\x80",
                                       "0123456789abcdef"};
  static const uint8_t Spoilers[] = {0x80, 0xBF, 0xC0, 0xC2, 0xE0, 0xED, 0xF4, 0xF5, 0xFF, 'a'};
  std::mt19937 Random(20261208);
  for (int Round = 0; Round < 3000; ++Round) {
    std::string Text;
    for (size_t N = Random() % 400; N > 0; --N) Text += Pieces[Random() % std::size(Pieces)];
    if (!Text.empty() && Round % 4 != 0) {
      const size_t At = Round % 2 ? Text.size() / 2 + Random() % 5 - 2 : Random() % Text.size();
      Text[std::min(At, Text.size() - 1)] =
          static_cast<char>(Spoilers[Random() % std::size(Spoilers)]);
    }
    String Ignored;
    EXPECT_EQ(ValidateText(Text, TEncoding::Utf8), DecodeText(Text, TEncoding::Utf8, Ignored))
        << "round " << Round;
  }
}

}  // namespace
}  // namespace quillet
