// Character-class conversion: letters, symbols, digits and kana.
// Tested by tests/CharClass_test.cpp.
#include "StringUnit/CharClass.h"

#include <numeric>
#include <vector>

#include "StringUnit/Matching.h"

namespace quillet {

namespace {

// A translation table holds no character twice; checked at compile time so
// that an edit of a table cannot slip a duplicate in.
constexpr bool AllDistinct(StringView Chars) {
  for (size_t I = 0; I < Chars.size(); ++I) {
    for (size_t J = I + 1; J < Chars.size(); ++J) {
      if (Chars[I] == Chars[J]) return false;
    }
  }
  return true;
}

constexpr bool KanaStringsWellFormed() {
  for (int32_t I = 0; I < KanaCount; ++I) {
    const size_t Expected = I < VoicedKanaCount ? 2 : 1;
    if (HalfWidthKanaStrings[I].size() != Expected) return false;
    for (int32_t J = I + 1; J < KanaCount; ++J) {
      if (HalfWidthKanaStrings[I] == HalfWidthKanaStrings[J]) return false;
    }
  }
  return true;
}

static_assert(AllDistinct(LowerLetters) && AllDistinct(UpperLetters) &&
              AllDistinct(HalfWidthLetters) && AllDistinct(FullWidthLetters));
static_assert(AllDistinct(HalfWidthNumbers) && AllDistinct(FullWidthNumbers));
static_assert(AllDistinct(HalfWidthSymbols) && AllDistinct(FullWidthSymbols));
static_assert(AllDistinct(FullWidthKatakanaChars) && AllDistinct(HiraganaChars));
static_assert(KanaStringsWellFormed());

// Where one character ends after the full scan of TranslateChars.
char16_t TranslateOne(char16_t C, StringView FromChars, StringView ToChars) {
  for (size_t B = 0; B < FromChars.size(); ++B) {
    if (C == FromChars[B]) C = ToChars[B];
  }
  return C;
}

// TranslateChars for one fixed pair of tables as a lookup over every code
// unit. A character outside FromChars never meets an equal entry and stays;
// the image of each FromChars character is worked out by the full scan, so the
// lookup gives exactly the result of the scan for every input.
class TCharMap {
 public:
  TCharMap(StringView FromChars, StringView ToChars) : Image_(0x10000) {
    std::iota(Image_.begin(), Image_.end(), char16_t{0});
    for (const char16_t C : FromChars) Image_[C] = TranslateOne(C, FromChars, ToChars);
  }

  void Apply(String& Text) const {
    for (char16_t& C : Text) C = Image_[C];
  }

 private:
  std::vector<char16_t> Image_;
};

// Built on first use and kept: the tables are constants.
template <const StringView& FromChars, const StringView& ToChars>
const TCharMap& CachedMap() {
  static const TCharMap Map(FromChars, ToChars);
  return Map;
}

const StringList& HalfWidthKanaPatterns() {
  static const StringList Patterns(HalfWidthKanaStrings.begin(), HalfWidthKanaStrings.end());
  return Patterns;
}

const StringList& FullWidthKatakanaPatterns() {
  static const StringList Patterns = CharsToStrings(FullWidthKatakanaChars);
  return Patterns;
}

}  // namespace

void TranslateChars(String& Text, StringView FromChars, StringView ToChars) {
  if (FromChars.empty() || FromChars.size() != ToChars.size()) return;
  for (char16_t& C : Text) C = TranslateOne(C, FromChars, ToChars);
}

StringList CharsToStrings(StringView Chars) {
  StringList Strings;
  Strings.reserve(Chars.size());
  for (const char16_t C : Chars) Strings.emplace_back(1, C);
  return Strings;
}

void ConvertCharClass(String& Text, TCharClassConversion Kind) {
  if (Text.empty()) return;
  switch (Kind) {
    case ccUpperCase:
      CachedMap<LowerLetters, UpperLetters>().Apply(Text);
      break;
    case ccLowerCase:
      CachedMap<UpperLetters, LowerLetters>().Apply(Text);
      break;
    case ccFullWidthLetters:
      CachedMap<HalfWidthLetters, FullWidthLetters>().Apply(Text);
      break;
    case ccHalfWidthLetters:
      CachedMap<FullWidthLetters, HalfWidthLetters>().Apply(Text);
      break;
    case ccFullWidthSymbols:
      CachedMap<HalfWidthSymbols, FullWidthSymbols>().Apply(Text);
      break;
    case ccHalfWidthSymbols:
      CachedMap<FullWidthSymbols, HalfWidthSymbols>().Apply(Text);
      break;
    case ccFullWidthNumbers:
      CachedMap<HalfWidthNumbers, FullWidthNumbers>().Apply(Text);
      break;
    case ccHalfWidthNumbers:
      CachedMap<FullWidthNumbers, HalfWidthNumbers>().Apply(Text);
      break;
    case ccFullWidthKatakana:
      Text = ReplaceMulti(Text, HalfWidthKanaPatterns(), FullWidthKatakanaPatterns(), false, true);
      break;
    case ccHalfWidthKatakana:
      Text = ReplaceMulti(Text, FullWidthKatakanaPatterns(), HalfWidthKanaPatterns(), false, true);
      break;
    case ccHiragana:
      ConvertCharClass(Text, ccFullWidthKatakana);
      CachedMap<FullWidthKatakanaChars, HiraganaChars>().Apply(Text);
      break;
    case ccKatakana:
      CachedMap<HiraganaChars, FullWidthKatakanaChars>().Apply(Text);
      break;
    default:
      break;
  }
}

String FoldToUpperCase(StringView Text) {
  String Folded(Text);
  ConvertCharClass(Folded, ccUpperCase);
  return Folded;
}

}  // namespace quillet
