// What every fuzz target shares: reading options and strings out of the
// fuzzer's bytes, reporting a broken property, and the few reference routines
// that more than one target compares the library against.
//
// A target defines LLVMFuzzerTestOneInput. Built with libFuzzer it is driven
// by the fuzzer; built without, ReplayMain.cpp feeds it the files of its
// corpus, so that the same checks run as an ordinary test.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "StringUnit/LineBreaks.h"

namespace quillet::fuzz {

// The blanks and breaks that the transforms and the line list react to,
// ASCII and full-width letters for the case folds, NUL and lone surrogates,
// a wide character and a half-width katakana. Alphabet text picks its units
// from here.
inline constexpr char16_t Alphabet[16] = {
    u' ', u'\u3000', u'\t', u'\r',     u'\n',     u'a',      u'b',      u'A',
    u'B', u'\uFF41', u'\0', u'\xD800', u'\xDC00', u'\uFF76', u'\u3042', u'\uFF21',
};

// Reads the fuzzer's bytes front to back. Every read succeeds: once the
// bytes are used up, a byte reads as 0 and a string as empty, so that every
// input, however short, is one complete call.
class TFuzzInput {
 public:
  TFuzzInput(const uint8_t* Data, size_t Size) : Data_(Data), Size_(Size) {}

  size_t Left() const { return Size_ - Pos_; }
  uint8_t Byte() { return Pos_ < Size_ ? Data_[Pos_++] : 0; }
  bool Flag() { return (Byte() & 1) != 0; }
  // Two bytes, the low one first.
  uint16_t Word() {
    const uint16_t Low = Byte();
    return static_cast<uint16_t>(Low | Byte() << 8);
  }
  // A value in 0 .. Count - 1, from one byte; Count >= 1.
  int32_t Choose(int32_t Count) { return Byte() % Count; }

  // At most MaxUnits units. Raw: two bytes per unit, the low one first, so
  // that every code unit occurs, NUL and lone surrogates included; an odd
  // last byte is dropped. Alphabet: one byte per unit, its low four bits
  // choosing from Alphabet, so that short inputs are dense in blanks and
  // breaks.
  String Text(bool Raw, size_t MaxUnits = SIZE_MAX) {
    String Result;
    const size_t Units = std::min(MaxUnits, Raw ? Left() / 2 : Left());
    Result.reserve(Units);
    for (size_t I = 0; I < Units; ++I)
      Result.push_back(Raw ? static_cast<char16_t>(Word()) : Alphabet[Byte() & 15]);
    return Result;
  }
  // A short string: a length byte (0 .. MaxUnits) and then its units.
  String ShortText(bool Raw, size_t MaxUnits) { return Text(Raw, Byte() % (MaxUnits + 1)); }
  // The next N bytes (fewer at the end of the input) as an input of their
  // own, so that options can precede a text they depend on.
  TFuzzInput Take(size_t N) {
    N = std::min(N, Left());
    const TFuzzInput Part(Data_ + Pos_, N);
    Pos_ += N;
    return Part;
  }
  // Everything not read yet.
  std::string_view Rest() {
    const std::string_view Result(reinterpret_cast<const char*>(Data_) + Pos_, Size_ - Pos_);
    Pos_ = Size_;
    return Result;
  }

 private:
  const uint8_t* Data_;
  size_t Size_;
  size_t Pos_ = 0;
};

// Prints the broken property with its input, expected and actual values to
// stderr and aborts, so that libFuzzer keeps the input and a replay fails.
[[noreturn]] void Fail(std::string_view Property, StringView Input, StringView Expected,
                       StringView Actual);
// Fail unless Expected == Actual.
inline void ExpectEqual(std::string_view Property, StringView Input, StringView Expected,
                        StringView Actual) {
  if (Expected != Actual) Fail(Property, Input, Expected, Actual);
}
inline void Expect(bool Holds, std::string_view Property, StringView Input) {
  if (!Holds) Fail(Property, Input, u"", u"");
}
// The decimal digits of Value, for Expected and Actual of counts.
String Number(int64_t Value);

// The lines of Text as the line list should make them: split at CR LF, CR
// and LF (tried in that order), each line keeping its break, no empty line.
std::vector<String> SplitLines(StringView Text);

// Units of a line's break at its end: 2 for CR LF, 1 for CR or LF, else 0.
size_t BreakLength(StringView Line);

}  // namespace quillet::fuzz
