// Validation against decoding: UTF-8 on texts long enough to be checked in
// halves, with one byte spoiled anywhere, the middle included; CP932 on
// runs of lead bytes across the 64-byte steps of its check.
#include <gtest/gtest.h>

#include <random>
#include <vector>

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

// Every sequence of up to three bytes that starts with a byte other than
// ASCII, and four-byte ones from the bytes at the edges of the ranges, at
// each place in a run of ASCII that puts it across a sixteen-byte step or
// at the end.
TEST(TextEncoding, ValidationOfEveryShortSequence) {
  static const uint8_t Edges[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0,
                                  0xBF, 0xC0, 0xC1, 0xC2, 0xE0, 0xF0, 0xFF};
  std::vector<std::string> Sequences;
  for (int First = 0x80; First < 0x100; ++First) {
    for (int Second = 0; Second < 0x100; ++Second) {
      Sequences.push_back({static_cast<char>(First), static_cast<char>(Second)});
      if (First < 0xE0) continue;
      for (int Third = 0x70; Third < 0xD0; ++Third) {
        Sequences.push_back(
            {static_cast<char>(First), static_cast<char>(Second), static_cast<char>(Third)});
      }
    }
  }
  for (int First = 0xF0; First < 0x100; ++First) {
    for (const uint8_t Second : Edges) {
      for (const uint8_t Third : Edges) {
        for (const uint8_t Fourth : Edges) {
          Sequences.push_back({static_cast<char>(First), static_cast<char>(Second),
                               static_cast<char>(Third), static_cast<char>(Fourth)});
        }
      }
    }
  }
  String Ignored;
  size_t Places = 0;
  for (const std::string& Sequence : Sequences) {
    const size_t Expected = DecodeText(Sequence, TEncoding::Utf8, Ignored);
    for (const size_t Before : {13, 14, 15, 30}) {
      const size_t After = ++Places % 3 == 0 ? 0 : 20;
      const std::string Text = std::string(Before, 'a') + Sequence + std::string(After, 'b');
      const size_t Found = ValidateText(Text, TEncoding::Utf8);
      ASSERT_EQ(Found == NoError, Expected == NoError)
          << "bytes " << std::hex << static_cast<int>(static_cast<uint8_t>(Sequence[0])) << " "
          << static_cast<int>(static_cast<uint8_t>(Sequence[1])) << " at " << std::dec << Before;
      if (Found != NoError) {
        ASSERT_EQ(Found, Before + Expected);
      }
    }
  }
}

// CP932 texts from pieces that make long runs of lead-byte values (81 81,
// 88 9F, E0 E0), pairs that are no character, bytes that are none alone, a
// lead byte at the very end: ValidateText names the byte that DecodeText
// stops at, wherever a 64-byte step cuts the text.
TEST(TextEncoding, Cp932ValidationFindsWhatDecodingFinds) {
  static const char* const Pieces[] = {"a", " ", "\n", "\xB1", "\xDF", "\x81\x40", "\x81\x81",
                                       "\x88\x9F", "\x9F\xFC", "\xE0\xE0", "\xFC\x4B",
                                       "\x82\xA0", "\x87\x40", "\xED\x40", "0123456789abcdef"};
  static const char* const Spoilers[] = {"\x80", "\xA0", "\xFD", "\xFF", "\x81", "\x85\x40",
                                         "\x81\x0A", "\x81\x7F", "\xEA\xFC"};
  std::mt19937 Random(20261209);
  String Ignored;
  for (int Round = 0; Round < 4000; ++Round) {
    std::string Text;
    for (size_t N = Random() % 120; N > 0; --N) Text += Pieces[Random() % std::size(Pieces)];
    if (Round % 3 != 0) {
      const size_t At = Text.empty() ? 0 : Random() % (Text.size() + 1);
      Text.insert(At, Spoilers[Random() % std::size(Spoilers)]);
    }
    ASSERT_EQ(ValidateText(Text, TEncoding::Cp932), DecodeText(Text, TEncoding::Cp932, Ignored))
        << "round " << Round;
  }
  // Every pair of bytes from 0x80 up, after an odd and an even run of lead
  // bytes, put across the end of a step and at the end of the text.
  for (int First = 0x80; First < 0x100; ++First) {
    for (int Second = 0; Second < 0x100; ++Second) {
      const std::string Pair = {static_cast<char>(First), static_cast<char>(Second)};
      for (const std::string& Before : {std::string(62, 'a'), std::string(59, 'a') + "\x81\x81\x81",
                                        std::string(60, 'a') + "\x88\x9F\xE0"}) {
        for (const size_t After : {0, 70}) {
          const std::string Text = Before + Pair + std::string(After, 'b');
          ASSERT_EQ(ValidateText(Text, TEncoding::Cp932),
                    DecodeText(Text, TEncoding::Cp932, Ignored))
              << std::hex << First << " " << Second << " after " << std::dec << Before.size();
        }
      }
    }
  }
}

}  // namespace
}  // namespace quillet
