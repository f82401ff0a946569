// Inputs of the benchmarks: a realistic selection and the pathological shapes.
//
// Every text is a pure function of its arguments (fixed seeds), so that runs
// on different days and machines measure the same input.
#pragma once

#include <cstdint>
#include <string_view>

#include "StringUnit/LineBreaks.h"
#include "bench/WriteBackText.h"  // ShortLines

namespace quillet::bench {

// Lines of Japanese text as an editor holds them: indents mixing spaces, tabs
// and full-width spaces, hiragana, katakana, kanji and ASCII words, trailing
// blanks on some lines, a few blank and empty lines, CR LF breaks with a few
// LF ones, and a last line without a break. Same Seed, same text.
String MixedText(int32_t Lines, uint32_t Seed = 20260);

// The shapes that punish anything worse than linear, each about Units code
// units long.
enum class TShape : uint8_t {
  TabLine,        // one line of tabs
  FullWidthLine,  // one line of full-width spaces
  EmptyLines,     // LF only: Units empty lines
  LongIndent,     // one line: an indent of spaces, full-width spaces and tabs, then "x"
  OneCharLines,   // "a" LF, repeated
};
String ShapeText(TShape Shape, int32_t Units);
std::string_view ShapeName(TShape Shape);

}  // namespace quillet::bench
