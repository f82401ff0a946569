// The nine line rewrites: the line engine's UTF-16 instance over a whole
// text, its result reserved once.
#include "transforms/LineCommands.h"

#include <algorithm>
#include <array>
#include <limits>

#include "StringUnit/Simd.h"
#include "transforms/LineEngine.h"

namespace quillet {

namespace {

using TEngine = TLineEngine<TUtf16Text>;

// Appends the engine's output to a string; the input is at hand for the
// blanks that it reads again.
class TAppendSink final : public TLineSink<char16_t> {
 public:
  TAppendSink(String& Out, StringView Input) : FOut(Out), FInput(Input) {}
  void Put(const char16_t* Units, size_t Count) override { FOut.append(Units, Count); }
  void PutInput(uint64_t Offset, uint64_t Count) override {
    FOut.append(FInput.substr(static_cast<size_t>(Offset), static_cast<size_t>(Count)));
  }

 private:
  String& FOut;
  StringView FInput;
};

constexpr char16_t Space = u' ';
constexpr char16_t FullWidthSpace = u'\u3000';
constexpr char16_t Tab = u'\t';

// Weights for GrowthBound: what each space, tab and full-width space of an
// indent can add to its length at most, with tab stops every 4 columns. An
// indent of k blanks, of which sp spaces, tb tabs and fw full-width spaces,
// comes to S <= sp + 2 fw + 4 tb half-width spaces. Command 1 writes
// S <= k + fw + 3 tb units; command 2 writes ceil(S / 2) <= ceil(sp / 2) +
// fw + 2 tb <= k + tb; command 3 writes S div 4 + S mod 4 <= k + fw, since
// S mod 4 comes from the blanks after the last tab stop and the full-width
// spaces, each adding 1 at most; command 4 writes 2 k.
using TWeights = std::array<uint16_t, 3>;
constexpr TWeights SpacesWeights{0, TabWidth - 1, 1};
constexpr TWeights FullWidthWeights{0, 1, 0};
constexpr TWeights TabsWeights{0, 0, 1};
constexpr TWeights DoubleWeights{1, 1, 1};

// What commands 1 to 4 reserve for their result, never less than it needs:
// the length of Text plus, for every space, tab and full-width space anywhere
// in it, its weight. Counted eight units at a time where the processor allows.
// The weights are template arguments, so that a blank of weight 0 costs no
// comparison.
template <TWeights Weights>
size_t GrowthBound(StringView Text) {
  size_t Bound = Text.size();
  size_t I = 0;
#ifdef QUILLET_SSE2
  const __m128i Spaces = _mm_set1_epi16(static_cast<short>(Space));
  const __m128i Tabs = _mm_set1_epi16(static_cast<short>(Tab));
  const __m128i Ideographic = _mm_set1_epi16(static_cast<short>(FullWidthSpace));
  const __m128i SpaceWeight = _mm_set1_epi16(static_cast<short>(Weights[0]));
  const __m128i TabWeight = _mm_set1_epi16(static_cast<short>(Weights[1]));
  const __m128i IdeographicWeight = _mm_set1_epi16(static_cast<short>(Weights[2]));
  // Sixteen-bit lane sums, emptied before they can overflow.
  constexpr size_t BlocksPerSum = 4096;
  while (Text.size() - I >= 8) {
    __m128i Sums = _mm_setzero_si128();
    for (size_t Block = 0; Block < BlocksPerSum && Text.size() - I >= 8; ++Block, I += 8) {
      const __m128i Units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Text.data() + I));
      if constexpr (Weights[0] != 0) {
        Sums = _mm_add_epi16(Sums, _mm_and_si128(_mm_cmpeq_epi16(Units, Spaces), SpaceWeight));
      }
      if constexpr (Weights[1] != 0) {
        Sums = _mm_add_epi16(Sums, _mm_and_si128(_mm_cmpeq_epi16(Units, Tabs), TabWeight));
      }
      if constexpr (Weights[2] != 0) {
        Sums = _mm_add_epi16(Sums,
                             _mm_and_si128(_mm_cmpeq_epi16(Units, Ideographic), IdeographicWeight));
      }
    }
    alignas(16) uint16_t Lanes[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(Lanes), Sums);
    for (uint16_t Lane : Lanes) Bound += Lane;
  }
#endif
  for (; I < Text.size(); ++I) {
    const char16_t C = Text[I];
    Bound += C == Space ? Weights[0] : C == Tab ? Weights[1] : C == FullWidthSpace ? Weights[2] : 0;
  }
  return Bound;
}

// The most units that the command makes of Text: exact bounds for commands
// 1 to 4 with tab stops every 4 columns, the length of Text for those that
// only remove, and for commands 8 and 9 the padding that each of Lines lines
// can get at most against a widest line Widest columns wide. 0 when there
// is no good bound: the result then grows as it is written.
size_t ResultBound(StringView Text, uint8_t CommandId, uint32_t Tabs, uint64_t Lines,
                   uint64_t Widest) {
  switch (CommandId) {
    case lcSpaces:
      return Tabs == 4 ? GrowthBound<SpacesWeights>(Text) : 0;
    case lcFullWidth:
      return Tabs == 4 ? GrowthBound<FullWidthWeights>(Text) : 0;
    case lcTabs:
      return Tabs == 4 ? GrowthBound<TabsWeights>(Text) : 0;
    case lcDouble:
      return GrowthBound<DoubleWeights>(Text);
    case lcPad:
    case lcPadTabs: {
      const uint64_t PerLine = PaddingCount(CommandId, 0, Widest, Tabs);
      const uint64_t Limit = std::numeric_limits<uint32_t>::max();
      if (PerLine > Limit || Lines > Limit) return 0;
      return Text.size() + static_cast<size_t>(std::min<uint64_t>(PerLine * Lines, Limit));
    }
    default:
      return Text.size();
  }
}

}  // namespace

String ApplyLineCommand(StringView Text, uint8_t CommandId) {
  return ApplyLineCommand(Text, CommandId, TabWidth);
}

String ApplyLineCommand(StringView Text, uint8_t CommandId, int32_t Tabs) {
  if (CommandId < lcSpaces || CommandId > lcPadTabs || Text.empty()) return String();
  TLineEngineSettings Settings;
  Settings.Command = CommandId;
  Settings.TabWidth = std::clamp(Tabs, 1, 64);
  uint64_t Lines = 0;
  if (CommandId == lcPad || CommandId == lcPadTabs) {
    TEngine Measure(Settings);
    Measure.Feed(Text.data(), Text.size());
    Measure.Finish();
    Settings.Widest = Measure.Widest();
    Lines = Measure.Lines();
  }
  String Result;
  Result.reserve(std::min(ResultBound(Text, CommandId, static_cast<uint32_t>(Settings.TabWidth),
                                      Lines, Settings.Widest),
                          Result.max_size()));
  TAppendSink Sink(Result, Text);
  TEngine Engine(Settings, Sink);
  Engine.Feed(Text.data(), Text.size());
  Engine.Finish();
  return Result;
}

void AppendNewIndent(StringView Indent, uint8_t CommandId, String& Out) {
  if (CommandId < lcSpaces || CommandId > lcUnindent) return;
  TLineEngineSettings Settings;
  Settings.Command = CommandId;
  TAppendSink Sink(Out, Indent);
  TEngine Engine(Settings, Sink);
  Engine.Feed(Indent.data(), Indent.size());
  Engine.Finish();
}

int32_t LineWidth(StringView Line) {
  const size_t Break = LineBreakString(GetLineBreakKind(Line)).size();
  return static_cast<int32_t>(TEngine::Width(Line.data(), Line.size() - Break, TabWidth));
}

TPadding LinePadding(uint8_t CommandId, int32_t Width, int32_t Longest) {
  const uint64_t Count =
      PaddingCount(CommandId, static_cast<uint64_t>(std::max(Width, 0)),
                   static_cast<uint64_t>(std::max(Longest, 0)), TabWidth);
  return {static_cast<size_t>(Count), CommandId == lcPad ? Space : Tab};
}

}  // namespace quillet
