// The selection of the write-back benchmark, in a header so that the Windows
// test host's timing mode (cross-built, without Google Benchmark) times
// OnCommand on the very same text as quillet_bench times the write-back.
#pragma once

#include <cstdint>
#include <random>

#include "StringUnit/LineBreaks.h"
#include "transforms/LineCommands.h"

namespace quillet::bench {

// Uniform enough for test input, and the same with every standard library
// (the std distributions are not).
class TDraw {
 public:
  explicit TDraw(uint32_t Seed) : FEngine(Seed) {}
  uint32_t Below(uint32_t N) { return static_cast<uint32_t>(FEngine() % N); }
  bool Chance(uint32_t Percent) { return Below(100) < Percent; }
  char16_t Between(char16_t Low, char16_t High) {
    return static_cast<char16_t>(Low + Below(High - Low + 1));
  }

 private:
  std::mt19937 FEngine;
};

// Space (half the time), tab or full-width space.
inline char16_t Blank(TDraw& Draw) {
  const uint32_t Pick = Draw.Below(4);
  return Pick < 2 ? u' ' : Pick == 2 ? u'\t' : u'\u3000';
}

inline void AppendBlanks(TDraw& Draw, String& Out, uint32_t Count) {
  for (uint32_t I = 0; I < Count; ++I) Out.push_back(Blank(Draw));
}

// The command the write-back benchmark runs on ShortLines: it rewrites one
// line in ten.
constexpr uint8_t WriteBackCommand = lcTrim;

// Short lines of Japanese text (about six units with the break): an indent of
// blanks on most, then one or two characters; CR LF breaks with one in ten LF,
// none after the last line. Lines 5, 15, 25... end in blanks, which
// WriteBackCommand removes. Same Seed, same text.
inline String ShortLines(int32_t Lines, uint32_t Seed = 20261) {
  TDraw Draw(Seed);
  String Out;
  for (int32_t I = 0; I < Lines; ++I) {
    if (Draw.Chance(70)) AppendBlanks(Draw, Out, 1 + Draw.Below(4));
    Out.push_back(Draw.Between(u'\u3041', u'\u3093'));
    if (Draw.Chance(50)) Out.push_back(Draw.Between(u'\u4E00', u'\u9FA5'));
    if (I % 10 == 5) AppendBlanks(Draw, Out, 1 + Draw.Below(3));
    if (I + 1 < Lines) Out += Draw.Chance(90) ? u"\r\n" : u"\n";
  }
  return Out;
}

}  // namespace quillet::bench
