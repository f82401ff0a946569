#include "StringUnit/CharClass.h"

#include <gtest/gtest.h>

#include "StringUnit/Matching.h"

#include <map>
#include <vector>

namespace quillet {
namespace {

// The expectations below are built from code points, apart from the tables
// under test, so that a wrong character in a table literal shows up.

String CodeRun(char16_t First, char16_t Last) {
  String S;
  for (char32_t C = First; C <= Last; ++C) S.push_back(static_cast<char16_t>(C));
  return S;
}

const String HalfLower = CodeRun(0x61, 0x7A), HalfUpper = CodeRun(0x41, 0x5A);
const String FullLower = CodeRun(0xFF41, 0xFF5A), FullUpper = CodeRun(0xFF21, 0xFF3A);
const String HalfNumbers = CodeRun(0x30, 0x39) + u"\x2D\x2B\x2F\x2E";
const String FullNumbers = CodeRun(0xFF10, 0xFF19) + u"\xFF0D\xFF0B\xFF0F\xFF0E";

constexpr char16_t SymbolPairs[30][2] = {
    {0x21, 0xFF01}, {0x3F, 0xFF1F}, {0x24, 0xFF04}, {0x5C, 0xFFE5}, {0x25, 0xFF05}, {0x26, 0xFF06},
    {0x23, 0xFF03}, {0x27, 0x2019}, {0x22, 0x201D}, {0x5F, 0xFF3F}, {0x28, 0xFF08}, {0x29, 0xFF09},
    {0x5B, 0xFF3B}, {0x5D, 0xFF3D}, {0x3C, 0xFF1C}, {0x3E, 0xFF1E}, {0x7B, 0xFF5B}, {0x7D, 0xFF5D},
    {0x2D, 0xFF0D}, {0x2B, 0xFF0B}, {0x2F, 0xFF0F}, {0x2A, 0xFF0A}, {0x3D, 0xFF1D}, {0x2E, 0xFF0E},
    {0x2C, 0xFF0C}, {0x3B, 0xFF1B}, {0x3A, 0xFF1A}, {0x40, 0xFF20}, {0x7C, 0xFF5C}, {0x20, 0x3000},
};

// Hiragana of the 46 plain letters (a-row to n) and the 9 small ones; the
// katakana of any of them lies 0x60 above.
constexpr char16_t PlainHiragana[46] = {
    0x3042, 0x3044, 0x3046, 0x3048, 0x304A, 0x304B, 0x304D, 0x304F, 0x3051, 0x3053, 0x3055, 0x3057,
    0x3059, 0x305B, 0x305D, 0x305F, 0x3061, 0x3064, 0x3066, 0x3068, 0x306A, 0x306B, 0x306C, 0x306D,
    0x306E, 0x306F, 0x3072, 0x3075, 0x3078, 0x307B, 0x307E, 0x307F, 0x3080, 0x3081, 0x3082, 0x3084,
    0x3086, 0x3088, 0x3089, 0x308A, 0x308B, 0x308C, 0x308D, 0x308F, 0x3092, 0x3093};
constexpr char16_t SmallHiragana[9] = {0x3041, 0x3043, 0x3045, 0x3047, 0x3049,
                                       0x3083, 0x3085, 0x3087, 0x3063};
// Semi-voiced mark, long vowel mark, middle dot, comma, full stop, brackets.
constexpr char16_t HalfSigns[7] = {0xFF9F, 0xFF70, 0xFF65, 0xFF64, 0xFF61, 0xFF62, 0xFF63};
constexpr char16_t FullSigns[7] = {0x309C, 0x30FC, 0x30FB, 0x3001, 0x3002, 0x300C, 0x300D};

struct TKana {
  String Half;
  char16_t Katakana, Hiragana;
};

// The 87 kana entries in table order, derived from the code charts.
std::vector<TKana> ExpectedKana() {
  const String PlainHalf = CodeRun(0xFF71, 0xFF9C) + u"\xFF66\xFF9D";
  const String SmallHalf = CodeRun(0xFF67, 0xFF6F);
  std::vector<TKana> Kana;
  const auto Voiced = [&](int First, int Last, char16_t Mark, int Step) {
    for (int J = First; J <= Last; ++J) {
      const char16_t Hira = PlainHiragana[J] + Step;
      Kana.push_back({String{PlainHalf[J], Mark}, static_cast<char16_t>(Hira + 0x60), Hira});
    }
  };
  Voiced(5, 19, 0xFF9E, 1);   // ka- to to-row
  Voiced(25, 29, 0xFF9E, 1);  // ha-row
  Voiced(25, 29, 0xFF9F, 2);  // ha-row, semi-voiced
  for (int J = 0; J < 46; ++J) {
    Kana.push_back({String(1, PlainHalf[J]), char16_t(PlainHiragana[J] + 0x60), PlainHiragana[J]});
  }
  for (int J = 0; J < 9; ++J) {
    Kana.push_back({String(1, SmallHalf[J]), char16_t(SmallHiragana[J] + 0x60), SmallHiragana[J]});
  }
  for (int J = 0; J < 7; ++J) Kana.push_back({String(1, HalfSigns[J]), FullSigns[J], FullSigns[J]});
  return Kana;
}

const std::vector<TKana> Kana = ExpectedKana();

// The single-character mapping of one kind: From[i] -> To[i].
using TCharMapping = std::map<char16_t, char16_t>;

TCharMapping Mapping(StringView From, StringView To) {
  TCharMapping M;
  for (size_t I = 0; I < From.size(); ++I) M[From[I]] = To[I];
  return M;
}

String SymbolColumn(int Column) {
  String S;
  for (const auto& Pair : SymbolPairs) S.push_back(Pair[Column]);
  return S;
}

String KanaColumn(char16_t TKana::*Column) {
  String S;
  for (const TKana& K : Kana) S.push_back(K.*Column);
  return S;
}

String Converted(String Text, int Kind) {
  ConvertCharClass(Text, static_cast<TCharClassConversion>(Kind));
  return Text;
}

// One character of every class; changed by every kind 0 to 11.
const String Mixed = u"aＡzｚ09０９!？\\￥ ｶﾞﾊﾟｶｱﾟｰガパアがぱあ゜ー「ｰヴ";

TEST(CharClass, TablesHoldTheExpectedEntries) {
  EXPECT_EQ(LowerLetters, HalfLower + FullLower);
  EXPECT_EQ(UpperLetters, HalfUpper + FullUpper);
  EXPECT_EQ(HalfWidthLetters, HalfUpper + HalfLower);
  EXPECT_EQ(FullWidthLetters, FullUpper + FullLower);
  EXPECT_EQ(HalfWidthNumbers, HalfNumbers);
  EXPECT_EQ(FullWidthNumbers, FullNumbers);
  EXPECT_EQ(HalfWidthSymbols, SymbolColumn(0));
  EXPECT_EQ(FullWidthSymbols, SymbolColumn(1));
  ASSERT_EQ(Kana.size(), 87u);
  for (size_t I = 0; I < Kana.size(); ++I) {
    SCOPED_TRACE(I + 1);
    EXPECT_EQ(HalfWidthKanaStrings[I], Kana[I].Half);
    EXPECT_EQ(FullWidthKatakanaChars[I], Kana[I].Katakana);
    EXPECT_EQ(HiraganaChars[I], Kana[I].Hiragana);
  }
  EXPECT_EQ(CharsToStrings(u"アイ"), (StringList{u"ア", u"イ"}));
  EXPECT_TRUE(CharsToStrings(u"").empty());
}

TEST(CharClass, TranslateCharsScansEveryEntry) {
  const struct {
    String Text, From, To, Expected;
  } Cases[] = {
      // clang-format off
      {u"abc", u"ab", u"bc", u"ccc"},  // a -> b, then the next entry takes b on to c
      {u"abc", u"ba", u"cb", u"bcc"},  // an earlier entry does not see what a later one wrote
      {u"ab", u"ab", u"ba", u"aa"},    // a -> b -> a
      {u"aba", u"aa", u"bc", u"bbb"},  // the second a-entry meets b
      {u"xaz", u"a", u"A", u"xAz"},    {u"aa", u"a", u"", u"aa"},
      {u"aa", u"", u"", u"aa"},        {u"", u"a", u"b", u""},
      {u"aa", u"ab", u"b", u"aa"},
      // clang-format on
  };
  for (const auto& C : Cases) {
    String Text = C.Text;
    TranslateChars(Text, C.From, C.To);
    EXPECT_EQ(Text, C.Expected) << testing::PrintToString(C.Text + u"/" + C.From + u"/" + C.To);
  }
}

// Kinds that translate one character at a time: every code unit either maps
// as its expected table says or stays, and the result equals TranslateChars
// over the library's tables.
TEST(CharClass, EveryCodeUnitOfTheTranslatingKinds) {
  const String Hira = KanaColumn(&TKana::Hiragana), Kata = KanaColumn(&TKana::Katakana);
  const struct {
    int Kind;
    TCharMapping Expected;
    StringView From, To;
  } Kinds[] = {
      {0, Mapping(HalfLower + FullLower, HalfUpper + FullUpper), LowerLetters, UpperLetters},
      {1, Mapping(HalfUpper + FullUpper, HalfLower + FullLower), UpperLetters, LowerLetters},
      {2, Mapping(HalfUpper + HalfLower, FullUpper + FullLower), HalfWidthLetters,
       FullWidthLetters},
      {3, Mapping(FullUpper + FullLower, HalfUpper + HalfLower), FullWidthLetters,
       HalfWidthLetters},
      {4, Mapping(SymbolColumn(0), SymbolColumn(1)), HalfWidthSymbols, FullWidthSymbols},
      {5, Mapping(SymbolColumn(1), SymbolColumn(0)), FullWidthSymbols, HalfWidthSymbols},
      {6, Mapping(HalfNumbers, FullNumbers), HalfWidthNumbers, FullWidthNumbers},
      {7, Mapping(FullNumbers, HalfNumbers), FullWidthNumbers, HalfWidthNumbers},
      {11, Mapping(Hira, Kata), HiraganaChars, FullWidthKatakanaChars},
  };
  const String Every = CodeRun(0, 0xFFFF);
  for (const auto& K : Kinds) {
    SCOPED_TRACE(K.Kind);
    const String Out = Converted(Every, K.Kind);
    ASSERT_EQ(Out.size(), Every.size());
    int32_t Changed = 0, Wrong = 0;
    for (size_t C = 0; C < Every.size(); ++C) {
      const auto Hit = K.Expected.find(Every[C]);
      const char16_t Want = Hit == K.Expected.end() ? Every[C] : Hit->second;
      Changed += Out[C] != Every[C];
      if (Out[C] != Want && ++Wrong <= 5) ADD_FAILURE() << std::hex << C << " -> " << int{Out[C]};
    }
    EXPECT_EQ(Wrong, 0);
    EXPECT_GT(Changed, 0);
    String Reference = Every;
    TranslateChars(Reference, K.From, K.To);
    EXPECT_TRUE(Reference == Out);
  }
}

// The katakana kinds over every code unit, each unit standing alone between
// separators that belong to no table.
TEST(CharClass, EveryCodeUnitOfTheKatakanaKinds) {
  std::map<char16_t, String> ToFull, ToHalf, ToHira;
  for (const TKana& K : Kana) {
    if (K.Half.size() == 1) ToFull[K.Half[0]] = String(1, K.Katakana);
    if (K.Half.size() == 1) ToHira[K.Half[0]] = String(1, K.Hiragana);
    ToHalf[K.Katakana] = K.Half;
    ToHira[K.Katakana] = String(1, K.Hiragana);
  }
  const struct {
    int Kind;
    const std::map<char16_t, String>& Expected;
  } Kinds[] = {{8, ToFull}, {9, ToHalf}, {10, ToHira}};
  for (const auto& K : Kinds) {
    String Text, Expected;
    for (char32_t C = 0; C <= 0xFFFF; ++C) {
      const char16_t Unit = static_cast<char16_t>(C);
      Text += {Unit, u'x'};
      const auto Hit = K.Expected.find(Unit);
      Expected += (Hit == K.Expected.end() ? String(1, Unit) : Hit->second) + u"x";
    }
    EXPECT_TRUE(Converted(Text, K.Kind) == Expected) << K.Kind;
  }
}

TEST(CharClass, EveryEntryConvertsAndBack) {
  // Separators in no table: ^ and ~.
  const struct {
    int There, Back;
    StringView From, To;
  } Pairs[] = {
      {0, 1, LowerLetters, UpperLetters},
      {2, 3, HalfWidthLetters, FullWidthLetters},
      {4, 5, HalfWidthSymbols, FullWidthSymbols},
      {6, 7, HalfWidthNumbers, FullWidthNumbers},
      {11, 10, HiraganaChars, FullWidthKatakanaChars},
  };
  for (const auto& P : Pairs) {
    for (size_t I = 0; I < P.From.size(); ++I) {
      const String From = u"~" + String(1, P.From[I]) + u"^", To = u"~" + String(1, P.To[I]) + u"^";
      EXPECT_EQ(Converted(From, P.There), To) << P.There << " entry " << I + 1;
      EXPECT_EQ(Converted(To, P.Back), From) << P.Back << " entry " << I + 1;
    }
  }
  for (size_t I = 0; I < HalfWidthKanaStrings.size(); ++I) {
    SCOPED_TRACE(I + 1);
    const String Half(HalfWidthKanaStrings[I]), Kata(1, FullWidthKatakanaChars[I]),
        Hira(1, HiraganaChars[I]);
    EXPECT_EQ(Converted(u"~" + Half + u"^", 8), u"~" + Kata + u"^");
    EXPECT_EQ(Converted(u"~" + Kata + u"^", 9), u"~" + Half + u"^");
    EXPECT_EQ(Converted(Half + Half, 10), Hira + Hira);
    EXPECT_EQ(Converted(Kata, 10), Hira);
    EXPECT_EQ(Converted(Half, 9), Half);  // already half-width
    if (Hira != Kata) {                   // the shared signs are katakana too
      EXPECT_EQ(Converted(Hira, 8) + Converted(Hira, 9), Hira + Hira);
    }
  }
  String AllHalf;
  for (StringView S : HalfWidthKanaStrings) AllHalf += S;
  ASSERT_EQ(AllHalf.size(), 87u + 25u);
  EXPECT_EQ(Converted(AllHalf, 8), FullWidthKatakanaChars);
  EXPECT_EQ(Converted(String(FullWidthKatakanaChars), 9), AllHalf);
  EXPECT_EQ(Converted(AllHalf, 10), HiraganaChars);
}

TEST(CharClass, EdgeCases) {
  const struct {
    int Kind;
    String Text, Expected;
  } Cases[] = {
      // clang-format off
      {0, u"aｚ1ア!ä", u"AＺ1ア!ä"},         {1, u"AＺ1ア!Ä", u"aｚ1ア!Ä"},
      {4, u"\\'\" ", u"￥’”\u3000"},          {5, u"￥’”\u3000", u"\\'\" "},
      {4, u"\uFF3C\uFF07\uFF02^`~", u"\uFF3C\uFF07\uFF02^`~"},
      {5, u"\uFF3C\uFF07\uFF02^`~", u"\uFF3C\uFF07\uFF02^`~"},
      {4, u"-+/.09", u"－＋／．09"},          {6, u"-+/.09", u"－＋／．０９"},
      {5, u"－＋／．０９", u"-+/.０９"},       {7, u"－＋／．０９", u"-+/.09"},
      {2, u"a1!", u"ａ1!"},                   {3, u"ａ１！", u"a１！"},
      {8, u"ｶﾞ", u"ガ"},   {8, u"ﾊﾟ", u"パ"},   {8, u"ﾟ", u"゜"},   {8, u"ﾞ", u"ﾞ"},
      {8, u"ｳﾞ", u"ウﾞ"},  {8, u"ﾞｶ", u"ﾞカ"},  {8, u"ｶﾟ", u"カ゜"}, {8, u"ﾊﾞﾟ", u"バ゜"},
      {8, u"ｶﾞｶ", u"ガカ"}, {8, u"ｶｶﾞ", u"カガ"}, {8, u"ガかｧ", u"ガかァ"},
      {9, u"ガ", u"ｶﾞ"},   {9, u"ヴ", u"ヴ"},   {9, u"パ゜", u"ﾊﾟﾟ"}, {9, u"ヵヶヮヰヱ゛", u"ヵヶヮヰヱ゛"},
      {10, u"ｶﾞ", u"が"},  {10, u"カ", u"か"},  {10, u"ー「", u"ー「"}, {10, u"ヴ", u"ヴ"},
      {10, u"ｰﾞ", u"ーﾞ"}, {10, u"ﾊﾟｯ", u"ぱっ"},
      {11, u"が", u"ガ"},  {11, u"ゐゑゎ", u"ゐゑゎ"}, {11, u"゜ー", u"゜ー"}, {11, u"ｶ", u"ｶ"},
      // clang-format on
  };
  for (const auto& C : Cases) {
    EXPECT_EQ(Converted(C.Text, C.Kind), C.Expected)
        << C.Kind << " " << testing::PrintToString(C.Text);
  }
}

TEST(CharClass, Lengths) {
  const struct {
    String Text;
    int32_t Pairs, Voiced;  // half-width voiced pairs, full-width voiced katakana
  } Texts[] = {{Mixed, 2, 2}, {u"ｶﾞｷﾞｸﾞﾎﾟﾎﾞﾞﾞｳﾞ", 5, 0}, {u"ヴガギグゲゴ", 0, 5}, {u"abc", 0, 0}};
  for (const auto& T : Texts) {
    const int32_t Length = static_cast<int32_t>(T.Text.size());
    for (int Kind = 0; Kind <= 11; ++Kind) {
      const int32_t Delta = Kind == 8 || Kind == 10 ? -T.Pairs : Kind == 9 ? T.Voiced : 0;
      EXPECT_EQ(static_cast<int32_t>(Converted(T.Text, Kind).size()), Length + Delta)
          << Kind << " " << testing::PrintToString(T.Text);
    }
  }
}

TEST(CharClass, OtherKindsEmptyTextAndCopies) {
  for (int Kind = 0; Kind <= 255; ++Kind) {
    EXPECT_EQ(Converted(u"", Kind), u"") << Kind;
    if (Kind >= 12) {
      EXPECT_EQ(Converted(Mixed, Kind), Mixed) << Kind;
    }
  }
  for (int Kind = 0; Kind <= 11; ++Kind) {
    String Text = Mixed;
    const String Copy = Text;
    ConvertCharClass(Text, static_cast<TCharClassConversion>(Kind));
    EXPECT_NE(Text, Mixed) << Kind;
    EXPECT_EQ(Copy, Mixed) << Kind;
  }
  EXPECT_EQ(FoldToUpperCase(Mixed), Converted(Mixed, ccUpperCase));
  EXPECT_EQ(FoldToUpperCase(u"aｚ\u3000ｶﾞ"), u"AＺ\u3000ｶﾞ");
  EXPECT_EQ(FoldToUpperCase(u""), u"");
}

// CountOccurrences folds with a table of its own: it must agree with the
// upper-case conversion on every code unit.
TEST(CharClass, CountOccurrencesFoldsAsUpperCase) {
  for (uint32_t U = 0; U < 0x10000; ++U) {
    const String C(1, static_cast<char16_t>(U));
    const String Upper = FoldToUpperCase(C);
    ASSERT_EQ(CountOccurrences(C, Upper, false, true), 1) << U;
    ASSERT_EQ(CountOccurrences(Upper, C, false, true), 1) << U;
    if (Upper != C) {
      ASSERT_EQ(CountOccurrences(C, Upper, false, false), 0) << U;
    }
  }
}

}  // namespace
}  // namespace quillet
