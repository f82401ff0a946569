#include "bench/BenchTexts.h"

namespace quillet::bench {

namespace {

// A run of one script: hiragana, katakana, kanji, an ASCII word, or
// punctuation and half-width katakana.
void AppendWord(TDraw& Draw, String& Out) {
  const uint32_t Kind = Draw.Below(10);
  const uint32_t Length = 1 + Draw.Below(6);
  for (uint32_t I = 0; I < Length; ++I) {
    if (Kind < 4) {
      Out.push_back(Draw.Between(u'\u3041', u'\u3093'));
    } else if (Kind < 6) {
      Out.push_back(Draw.Between(u'\u4E00', u'\u9FA5'));
    } else if (Kind < 7) {
      Out.push_back(Draw.Between(u'\u30A1', u'\u30F6'));
    } else if (Kind < 9) {
      Out.push_back(Draw.Between(u'a', u'z'));
    } else {
      Out.push_back(Draw.Chance(50) ? Draw.Between(u'\uFF66', u'\uFF9D') : u'\u3001');
    }
  }
}

void AppendLine(TDraw& Draw, String& Out) {
  const uint32_t Shape = Draw.Below(100);
  if (Shape < 4) return;  // empty line
  if (Shape < 7) return AppendBlanks(Draw, Out, 1 + Draw.Below(8));
  if (Draw.Chance(80)) AppendBlanks(Draw, Out, 1 + Draw.Below(12));
  const uint32_t Words = 1 + Draw.Below(6);
  for (uint32_t W = 0; W < Words; ++W) {
    if (W > 0 && Draw.Chance(30)) Out.push_back(Draw.Chance(70) ? u' ' : u'\u3000');
    AppendWord(Draw, Out);
  }
  if (Draw.Chance(30)) AppendBlanks(Draw, Out, 1 + Draw.Below(4));
}

}  // namespace

String MixedText(int32_t Lines, uint32_t Seed) {
  TDraw Draw(Seed);
  String Out;
  Out.reserve(static_cast<size_t>(Lines) * 40);
  for (int32_t I = 0; I < Lines; ++I) {
    AppendLine(Draw, Out);
    if (I + 1 < Lines) Out += Draw.Chance(90) ? u"\r\n" : u"\n";
  }
  return Out;
}

String ShapeText(TShape Shape, int32_t Units) {
  const auto N = static_cast<size_t>(Units);
  switch (Shape) {
    case TShape::TabLine:
      return String(N, u'\t');
    case TShape::FullWidthLine:
      return String(N, u'\u3000');
    case TShape::EmptyLines:
      return String(N, u'\n');
    case TShape::LongIndent: {
      static constexpr char16_t Cycle[] = {u' ', u'\u3000', u'\t', u' ', u' '};
      String Out;
      Out.reserve(N + 1);
      for (size_t I = 0; I < N; ++I) Out.push_back(Cycle[I % std::size(Cycle)]);
      Out.push_back(u'x');
      return Out;
    }
    case TShape::OneCharLines: {
      String Out;
      Out.reserve(N);
      for (size_t I = 0; I + 1 < N; I += 2) Out += u"a\n";
      return Out;
    }
  }
  return String();
}

std::string_view ShapeName(TShape Shape) {
  switch (Shape) {
    case TShape::TabLine:
      return "TabLine";
    case TShape::FullWidthLine:
      return "FullWidthLine";
    case TShape::EmptyLines:
      return "EmptyLines";
    case TShape::LongIndent:
      return "LongIndent";
    case TShape::OneCharLines:
      return "OneCharLines";
  }
  return "?";
}

}  // namespace quillet::bench
