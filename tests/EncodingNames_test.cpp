// The names that --encoding takes, and UTF-16 of either byte order, which
// only a byte-order mark can settle.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "tools/TextEncoding.h"

namespace quillet {
namespace {

TEST(EncodingNames, EveryNameInAnyCase) {
  struct TCase {
    const char* Name;
    std::optional<TEncoding> Expected;
  };
  const TCase Cases[] = {
      {"auto", TEncoding::Auto},
      {"AUTO", TEncoding::Auto},
      {"utf-8", TEncoding::Utf8},
      {"UTF-8", TEncoding::Utf8},
      {"utf8", TEncoding::Utf8},
      {"Utf8", TEncoding::Utf8},
      {"utf-16", TEncoding::Utf16},
      {"UTF-16", TEncoding::Utf16},
      {"utf-16le", TEncoding::Utf16LE},
      {"UTF-16LE", TEncoding::Utf16LE},
      {"utf-16be", TEncoding::Utf16BE},
      {"Utf-16Be", TEncoding::Utf16BE},
      {"cp932", TEncoding::Cp932},
      {"CP932", TEncoding::Cp932},
      {"sjis", TEncoding::Cp932},
      {"SJIS", TEncoding::Cp932},
      {"shift_jis", TEncoding::Cp932},
      {"Shift_JIS", TEncoding::Cp932},
      {"shift-jis", TEncoding::Cp932},
      {"SHIFT-JIS", TEncoding::Cp932},
      {"windows-31j", TEncoding::Cp932},
      {"Windows-31J", TEncoding::Cp932},
      {"ms932", TEncoding::Cp932},
      {"MS932", TEncoding::Cp932},
      // Not names: near misses, other encodings, padding, nothing.
      {"", std::nullopt},
      {"utf", std::nullopt},
      {"utf-16l", std::nullopt},
      {"utf_8", std::nullopt},
      {"latin1", std::nullopt},
      {"euc-jp", std::nullopt},
      {" utf-8", std::nullopt},
      {"utf-8 ", std::nullopt},
      {"cp9320", std::nullopt},
      {"sjis\xC4\xB1", std::nullopt},
  };
  for (const TCase& Case : Cases) {
    EXPECT_EQ(ParseEncodingName(Case.Name), Case.Expected) << "'" << Case.Name << "'";
  }
}

TEST(EncodingNames, EachNameOnceAndEachEncodingsNamesTogether) {
  std::set<std::string> Seen;
  std::set<TEncoding> Done;
  for (size_t I = 0; I < std::size(EncodingNames); ++I) {
    const TEncodingName& Known = EncodingNames[I];
    EXPECT_TRUE(Seen.insert(std::string(Known.Name)).second) << Known.Name;
    EXPECT_EQ(ParseEncodingName(Known.Name), Known.Encoding) << Known.Name;
    // The help lists an encoding's names on one line: they must follow one another.
    if (I == 0 || EncodingNames[I - 1].Encoding != Known.Encoding) {
      EXPECT_TRUE(Done.insert(Known.Encoding).second) << Known.Name;
    }
  }
  EXPECT_EQ(Done.size(), 6u);
}

TEST(EncodingNames, Utf16TakesEitherMarkAndNoOther) {
  struct TCase {
    const char* Name;
    std::string Bytes;
    TEncoding Expected;
    size_t Length;
  };
  const TCase Cases[] = {
      {"little-endian mark",
       std::string("\xFF\xFE"
                   "a\0",
                   4),
       TEncoding::Utf16LE, 2},
      {"big-endian mark",
       std::string("\xFE\xFF"
                   "\0a",
                   4),
       TEncoding::Utf16BE, 2},
      {"UTF-8 mark",
       "\xEF\xBB\xBF"
       "a",
       TEncoding::Utf16, 0},
      {"no mark", std::string("a\0", 2), TEncoding::Utf16, 0},
      {"half a mark", "\xFF", TEncoding::Utf16, 0},
      {"empty", "", TEncoding::Utf16, 0},
  };
  for (const TCase& Case : Cases) {
    const TByteOrderMark Mark = FindByteOrderMark(Case.Bytes, TEncoding::Utf16);
    EXPECT_EQ(Mark.Encoding, Case.Expected) << Case.Name;
    EXPECT_EQ(Mark.Length, Case.Length) << Case.Name;
  }
  // The encodings of one byte order still take their own mark alone.
  EXPECT_EQ(FindByteOrderMark("\xFE\xFF", TEncoding::Utf16LE).Length, 0u);
  EXPECT_EQ(FindByteOrderMark("\xFF\xFE", TEncoding::Utf16BE).Length, 0u);
}

TEST(EncodingNames, Utf16DecodesByItsMark) {
  const TDecodedText Little = DecodeInput(std::string("\xFF\xFE"
                                                      "a\0\n\0",
                                                      6),
                                          TEncoding::Utf16);
  EXPECT_EQ(Little.Encoding, TEncoding::Utf16LE);
  EXPECT_EQ(Little.BomLength, 2u);
  EXPECT_EQ(Little.ErrorOffset, NoError);
  EXPECT_EQ(Little.Text, u"a\n");
  const TDecodedText Big = DecodeInput(std::string("\xFE\xFF"
                                                   "\0b",
                                                   4),
                                       TEncoding::Utf16);
  EXPECT_EQ(Big.Encoding, TEncoding::Utf16BE);
  EXPECT_EQ(Big.Text, u"b");
  const TDecodedText Unmarked = DecodeInput(std::string("a\0", 2), TEncoding::Utf16);
  EXPECT_EQ(Unmarked.ErrorOffset, 0u);
  EXPECT_STREQ(EncodingName(TEncoding::Utf16), "UTF-16");
}

}  // namespace
}  // namespace quillet
