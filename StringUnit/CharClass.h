// Conversion of characters between Japanese character classes: Latin letter
// case, half- and full-width Latin letters, symbols and digits, and katakana
// between half- and full-width forms and to and from hiragana.
//
// Most kinds translate one character at a time through two parallel tables:
// entry i of one table stands for entry i of the other, and a character found
// in no table passes unchanged. A voiced half-width katakana is two characters
// (base letter and sound mark) against one full-width character, so the
// katakana kinds go through ReplaceMulti with the 25 voiced pairs first in the
// table: a base letter followed by its mark converts as one unit.
//
// The tables are constants; nothing here keeps state or fails.
#pragma once

#include <array>
#include <cstdint>

#include "StringUnit/StringTypes.h"

namespace quillet {

// One byte. Values 12 to 255 convert nothing.
enum TCharClassConversion : uint8_t {
  ccUpperCase = 0,      // half- and full-width Latin letters to upper case
  ccLowerCase,          // ... to lower case
  ccFullWidthLetters,   // half-width Latin letters to full-width
  ccHalfWidthLetters,   // full-width Latin letters to half-width
  ccFullWidthSymbols,   // the 30 symbols (space included) to full-width
  ccHalfWidthSymbols,   // ... to half-width
  ccFullWidthNumbers,   // 0-9 - + / . to full-width
  ccHalfWidthNumbers,   // ... to half-width
  ccFullWidthKatakana,  // half-width katakana to full-width; shortens by 1 per voiced pair
  ccHalfWidthKatakana,  // full-width katakana to half-width; lengthens by 1 per voiced letter
  ccHiragana,           // half- and full-width katakana to hiragana
  ccKatakana = 11,      // hiragana to full-width katakana
};

// Letter tables: two runs of 26 consecutive code points each.
inline constexpr StringView LowerLetters =
    u"abcdefghijklmnopqrstuvwxyz"
    u"ａｂｃｄｅｆｇｈｉｊｋｌｍｎｏｐｑｒｓｔｕｖｗｘｙｚ";
inline constexpr StringView UpperLetters =
    u"ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    u"ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱＲＳＴＵＶＷＸＹＺ";
inline constexpr StringView HalfWidthLetters =
    u"ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    u"abcdefghijklmnopqrstuvwxyz";
inline constexpr StringView FullWidthLetters =
    u"ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱＲＳＴＵＶＷＸＹＺ"
    u"ａｂｃｄｅｆｇｈｉｊｋｌｍｎｏｐｑｒｓｔｕｖｗｘｙｚ";

// Digits, then - + / . (which the symbol tables hold as well).
inline constexpr StringView HalfWidthNumbers = u"0123456789-+/.";
inline constexpr StringView FullWidthNumbers = u"０１２３４５６７８９－＋／．";

// The backslash pairs with the full-width yen sign, the apostrophe and the
// quotation mark with the right quotation marks, the space with the
// ideographic space (the last entry).
inline constexpr StringView HalfWidthSymbols = u"!?$\\%&#'\"_()[]<>{}-+/*=.,;:@| ";
inline constexpr StringView FullWidthSymbols =
    u"！？＄￥％＆＃’”＿（）［］＜＞｛｝－＋／＊＝．，；：＠｜"
    u"\u3000";

inline constexpr int32_t KanaCount = 87;
inline constexpr int32_t VoicedKanaCount = 25;  // the two-character entries, first in the table

// Half-width katakana, one or two characters per entry. The voiced pairs
// (base letter + U+FF9E, or + U+FF9F for the p-row) come before every single
// character so that ReplaceMulti takes a pair before its base letter alone.
// U+FF9E by itself is no entry; U+FF9F by itself is.
inline constexpr std::array<StringView, KanaCount> HalfWidthKanaStrings = {
    // clang-format off
    // voiced: ka- to to-row
    u"ｶﾞ", u"ｷﾞ", u"ｸﾞ", u"ｹﾞ", u"ｺﾞ", u"ｻﾞ", u"ｼﾞ", u"ｽﾞ", u"ｾﾞ", u"ｿﾞ",
    u"ﾀﾞ", u"ﾁﾞ", u"ﾂﾞ", u"ﾃﾞ", u"ﾄﾞ",
    // voiced and semi-voiced: ha-row
    u"ﾊﾞ", u"ﾋﾞ", u"ﾌﾞ", u"ﾍﾞ", u"ﾎﾞ", u"ﾊﾟ", u"ﾋﾟ", u"ﾌﾟ", u"ﾍﾟ", u"ﾎﾟ",
    // plain letters
    u"ｱ", u"ｲ", u"ｳ", u"ｴ", u"ｵ", u"ｶ", u"ｷ", u"ｸ", u"ｹ", u"ｺ",
    u"ｻ", u"ｼ", u"ｽ", u"ｾ", u"ｿ", u"ﾀ", u"ﾁ", u"ﾂ", u"ﾃ", u"ﾄ",
    u"ﾅ", u"ﾆ", u"ﾇ", u"ﾈ", u"ﾉ", u"ﾊ", u"ﾋ", u"ﾌ", u"ﾍ", u"ﾎ",
    u"ﾏ", u"ﾐ", u"ﾑ", u"ﾒ", u"ﾓ", u"ﾔ", u"ﾕ", u"ﾖ",
    u"ﾗ", u"ﾘ", u"ﾙ", u"ﾚ", u"ﾛ", u"ﾜ", u"ｦ", u"ﾝ",
    // small letters
    u"ｧ", u"ｨ", u"ｩ", u"ｪ", u"ｫ", u"ｬ", u"ｭ", u"ｮ", u"ｯ",
    // semi-voiced mark, long vowel mark, middle dot, comma, full stop, brackets
    u"ﾟ", u"ｰ", u"･", u"､", u"｡", u"｢", u"｣",
    // clang-format on
};

// Entry i is the full-width form of HalfWidthKanaStrings[i].
inline constexpr StringView FullWidthKatakanaChars =
    u"ガギグゲゴザジズゼゾダヂヅデド"
    u"バビブベボ"
    u"パピプペポ"
    u"アイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワヲン"
    u"ァィゥェォャュョッ"
    u"゜ー・、。「」";

// Entry i is the hiragana of FullWidthKatakanaChars[i]; the last seven
// (sound mark, long vowel mark and punctuation) are shared by both.
inline constexpr StringView HiraganaChars =
    u"がぎぐげござじずぜぞだぢづでど"
    u"ばびぶべぼ"
    u"ぱぴぷぺぽ"
    u"あいうえおかきくけこさしすせそたちつてとなにぬねのはひふへほまみむめもやゆよらりるれろわをん"
    u"ぁぃぅぇぉゃゅょっ"
    u"゜ー・、。「」";

static_assert(LowerLetters.size() == 52 && UpperLetters.size() == 52 &&
              HalfWidthLetters.size() == 52 && FullWidthLetters.size() == 52);
static_assert(HalfWidthNumbers.size() == 14 && FullWidthNumbers.size() == 14);
static_assert(HalfWidthSymbols.size() == 30 && FullWidthSymbols.size() == 30);
static_assert(FullWidthKatakanaChars.size() == KanaCount && HiraganaChars.size() == KanaCount);

// Replaces the characters of Text through the parallel tables FromChars and
// ToChars. Each character is taken through the entries of FromChars in order,
// and every entry equal to the character as it stands at that moment rewrites
// it with its ToChars partner; the scan does not stop at a hit, so a later
// entry can act on what an earlier one wrote. Nothing changes when FromChars
// is empty or the two tables differ in length. The length of Text is kept.
void TranslateChars(String& Text, StringView FromChars, StringView ToChars);

// One single-character string per character of Chars, in order.
StringList CharsToStrings(StringView Chars);

// Converts Text by one kind; kinds 12 to 255 leave it unchanged.
void ConvertCharClass(String& Text, TCharClassConversion Kind);

// Text with its half- and full-width lower-case Latin letters in upper case
// (ccUpperCase on a copy); the same length as Text.
String FoldToUpperCase(StringView Text);

}  // namespace quillet
