// The nine line rewrites.
//
// ApplyLineCommand gives exactly the text that the line list, SplitIndent,
// ExpandTabs, ReplaceMulti and the trimming routines produce when applied one
// line at a time, but reaches it without building any of their intermediate
// strings: it walks the lines of the input as ranges, works out what each
// command's sequence of rewrites amounts to (a count of spaces, a doubled
// run, a trimmed range...), reserves the result once and writes it directly.
// transforms/LiteralLineCommands.h keeps the literal sequences, which define
// the results; tests/LineCommandsFast_test.cpp holds the two sides equal.
#include "transforms/LineCommands.h"

#include <algorithm>
#include <array>
#include <bit>

#include "StringUnit/Simd.h"

#include "StringUnit/AnsiCodePage.h"
#include "StringUnit/Columns.h"

namespace quillet {

namespace {

constexpr char16_t Space = u' ';
constexpr char16_t FullWidthSpace = u'\u3000';
constexpr char16_t Tab = u'\t';
constexpr char16_t CR = u'\r';
constexpr char16_t LF = u'\n';

// --- Lines as ranges of the input ---------------------------------------------

using TUnit = const char16_t*;

// Without short-circuit branches, which indents of mixed blanks would
// mispredict.
bool IsBlank(char16_t C) {
  return (C == Space) | (C == Tab) | (C == FullWidthSpace);
}

// Just after the last tab in From .. Last, or From when there is none.
TUnit AfterLastTab(TUnit From, TUnit Last) {
  TUnit P = Last;
#ifdef QUILLET_SSE2
  const __m128i Tabs = _mm_set1_epi16(static_cast<short>(Tab));
  for (; P - From >= 8; P -= 8) {
    const __m128i Units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P - 8));
    const auto Mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi16(Units, Tabs)));
    if (Mask != 0) return P - 8 + (31 - std::countl_zero(Mask)) / 2 + 1;
  }
#endif
  while (P != From && P[-1] != Tab) --P;
  return P;
}

// One item of the line list, in place: Begin .. ContentEnd is the line
// without its break, ContentEnd .. End the break (empty on a last line that
// has none). The content holds no CR and no LF.
struct TLine {
  TUnit Begin;
  TUnit ContentEnd;
  TUnit End;
};

// The items that setting the line list's Text to Text would make, in order:
// the break at each position is CR LF, else CR, else LF, and no empty item
// follows a final break.
class TLineWalker {
 public:
  explicit TLineWalker(StringView Text)
      : FText(Text), FNext(Text.data()), FLast(Text.data() + Text.size()) {}

  bool Next(TLine& Line) {
    if (FNext == FLast) return false;
    Line.Begin = FNext;
    FinishLine(FNext, Line);
    return true;
  }
  // Where the next line begins (the end of the text after the last).
  TUnit Position() const { return FNext; }
  TUnit Last() const { return FLast; }
  // Completes Line, whose Begin is set, knowing that no break lies before
  // From; the walk goes on after it.
  void FinishLine(TUnit From, TLine& Line) {
    TUnit P = FText.data() + FindLineBreak(FText, static_cast<size_t>(From - FText.data()));
    Line.ContentEnd = P;
    if (P != FLast) P += (*P == CR && P + 1 != FLast && P[1] == LF) ? 2 : 1;
    Line.End = FNext = P;
  }

 private:
  StringView FText;
  TUnit FNext;
  TUnit FLast;
};

// End of the run of IndentChars from Begin on: SplitIndent's cut when Begin
// starts a line. Blanks are neither CR nor LF, so the run ends at the line's
// break at the latest, and Last (the end of the text) bounds it.
TUnit IndentEnd(TUnit Begin, TUnit Last) {
  TUnit P = Begin;
  while (P != Last && IsBlank(*P)) ++P;
  return P;
}

// Start of the trailing blanks of the content: TrimLineEnd keeps Begin up to
// here, then the break. (The run of LineEndChars at the end of a line is its
// break and these blanks, since the content holds no CR or LF.)
TUnit TrimmedEnd(const TLine& Line) {
  TUnit P = Line.ContentEnd;
  while (P != Line.Begin && IsBlank(P[-1])) --P;
  return P;
}

// The result, appended to a string that the caller reserved for it. Short
// pieces are gathered in a small buffer that stays in the first-level cache
// and goes into the string a few thousand units at a time, so that a line
// costs no call into the string; long pieces go into the string directly.
// Copies of adjacent input ranges are merged, so that runs of unchanged lines
// cost one copy.
class TOutput {
 public:
  explicit TOutput(String& Result) : FResult(Result) {}
  TOutput(const TOutput&) = delete;
  TOutput& operator=(const TOutput&) = delete;

  void Copy(TUnit From, TUnit To) {
    if (From != FPendingEnd) {
      CopyPending();
      FPendingBegin = From;
    }
    FPendingEnd = To;
  }
  void Fill(size_t Count, char16_t C) {
    CopyPending();
    if (!MakeRoom(Count)) return static_cast<void>(FResult.append(Count, C));
    char16_t* To = FStage + FStaged;
    FStaged += Count;
#ifdef QUILLET_SSE2
    // Eight units a store; the stage has room for the units of the last
    // store that lie past Count, and what follows writes over them.
    const __m128i Units = _mm_set1_epi16(static_cast<short>(C));
    for (char16_t* const End = To + Count; To < End; To += 8) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(To), Units);
    }
#else
    std::fill_n(To, Count, C);
#endif
  }
  // At most this many units may be written directly.
  static constexpr size_t DirectLimit = 2048;

  // Room for Count <= DirectLimit units to be written directly from the
  // returned position; Commit takes the end of what was written.
  char16_t* Direct(size_t Count) {
    CopyPending();
    MakeRoom(Count);
    return FStage + FStaged;
  }
  void Commit(char16_t* End) {
    FStaged = static_cast<size_t>(End - FStage);
  }
  // Puts everything written into the string.
  void Finish() {
    CopyPending();
    Drain();
  }

 private:
  static constexpr size_t StageSize = 2 * DirectLimit;

  // True when Count units fit into the stage, drained first if need be;
  // false when they are too many for it (the stage is then empty).
  bool MakeRoom(size_t Count) {
    if (Count <= StageSize - FStaged) return true;
    Drain();
    return Count <= StageSize;
  }
  void Drain() {
    FResult.append(FStage, FStaged);
    FStaged = 0;
  }
  void CopyPending() {
    const auto Count = static_cast<size_t>(FPendingEnd - FPendingBegin);
    if (MakeRoom(Count)) {
      std::copy(FPendingBegin, FPendingEnd, FStage + FStaged);
      FStaged += Count;
    } else {
      FResult.append(FPendingBegin, Count);
    }
    FPendingBegin = FPendingEnd = nullptr;
  }

  String& FResult;
  TUnit FPendingBegin = nullptr;
  TUnit FPendingEnd = nullptr;
  size_t FStaged = 0;
  char16_t FStage[StageSize + 8];  // 8: the overhang of the last store of a fill
};

// --- Commands 1 to 7 --------------------------------------------------------------

// AnsiByteCount of the full-width space, found by the same rule (2 when the
// conversion takes two bytes or more, else 1) without building the table of
// every code unit, which the indent commands never need.
uint32_t IdeographicSpaceBytes() {
  static const uint32_t Bytes = ToAnsiString(StringView(&FullWidthSpace, 1)).size() >= 2 ? 2 : 1;
  return Bytes;
}

// Commands 1 to 3. ToHalfWidthSpaces turns an indent into a run of spaces:
// ExpandTabs puts each tab's spaces at its ANSI byte column (a full-width
// space taking IdeographicBytes there), then every full-width space becomes
// two spaces. Commands 2 and 3 then pair (group by TabWidth) those spaces
// from the left, the remainder staying spaces at the end.
class TSpacesRewrite {
 public:
  explicit TSpacesRewrite(uint8_t Command)
      : FCommand(Command), FIdeographicBytes(IdeographicSpaceBytes()) {}

  // Writes the new indent of the line that starts at Begin; returns the end
  // of the old one.
  TUnit Write(TUnit Begin, TUnit Last, TOutput& Out) const {
    size_t Spaces = 0;
    const TUnit End = Scan(Begin, Last, Spaces);
    switch (FCommand) {
      case lcFullWidth:
        Out.Fill(Spaces / 2, FullWidthSpace);
        Out.Fill(Spaces % 2, Space);
        break;
      case lcTabs:
        Out.Fill(Spaces / TabWidth, Tab);
        Out.Fill(Spaces % TabWidth, Space);
        break;
      default:
        Out.Fill(Spaces, Space);
    }
    return End;
  }

 private:
  // The end of the indent, and in Spaces the half-width spaces it comes to.
  // Only the column modulo TabWidth matters, so it may wrap.
  TUnit Scan(TUnit Begin, TUnit Last, size_t& Spaces) const {
    uint32_t Column = 0;
    TUnit P = Begin;
    // Branch-free per blank: a space is 1 space and 1 column, a tab fills
    // to the next stop, a full-width space is 2 spaces and its bytes.
    for (; P != Last; ++P) {
      const uint32_t IsSpace = *P == Space;
      const uint32_t IsTab = *P == Tab;
      const uint32_t IsIdeographic = *P == FullWidthSpace;
      if ((IsSpace | IsTab | IsIdeographic) == 0) break;
      const uint32_t Fill = IsTab * (TabWidth - Column % TabWidth);
      Spaces += IsSpace + Fill + 2 * IsIdeographic;
      Column += IsSpace + Fill + FIdeographicBytes * IsIdeographic;
    }
    return P;
  }

  uint8_t FCommand;
  uint32_t FIdeographicBytes;
};

// Command 4: every blank of the indent written twice, in place, a chunk at a
// time as the indent is read.
class TDoubleRewrite {
 public:
  TUnit Write(TUnit Begin, TUnit Last, TOutput& Out) const {
    constexpr size_t Chunk = TOutput::DirectLimit / 2;
    for (TUnit P = Begin;;) {
      const TUnit Stop = P + std::min<size_t>(Last - P, Chunk);
      char16_t* To = Out.Direct(2 * static_cast<size_t>(Stop - P));
      for (; P != Stop && IsBlank(*P); ++P, To += 2) To[0] = To[1] = *P;
      Out.Commit(To);
      if (P != Stop || P == Last) return P;
    }
  }
};

// Command 5: scanning from the left, two equal blanks become one; the
// patterns start with different blanks, so at most one matches anywhere. A
// run of k equal blanks thus keeps k / 2 rounded up. A chunk at a time as the
// indent is read; a pair may reach one unit past a chunk's end.
class THalveRewrite {
 public:
  TUnit Write(TUnit Begin, TUnit Last, TOutput& Out) const {
    for (TUnit P = Begin;;) {
      const TUnit Stop = P + std::min<size_t>(Last - P, TOutput::DirectLimit);
      char16_t* To = Out.Direct(static_cast<size_t>(Stop - P));
      for (; P < Stop && IsBlank(*P); ++To) {
        *To = *P;
        P += P + 1 != Last && P[1] == *P ? 2 : 1;
      }
      Out.Commit(To);
      if (P < Stop || P == Last) return P;
    }
  }
};

// Command 6: the indent goes.
class TRemoveRewrite {
 public:
  TUnit Write(TUnit Begin, TUnit Last, TOutput&) const { return IndentEnd(Begin, Last); }
};

// Weights for GrowthBound: what each space, tab and full-width space of an
// indent can add to its length at most. An indent of k blanks, of which sp
// spaces, tb tabs and fw full-width spaces, comes to S <= sp + 2 fw + 4 tb
// half-width spaces. Command 1 writes S <= k + fw + 3 tb units; command 2
// writes ceil(S / 2) <= ceil(sp / 2) + fw + 2 tb <= k + tb; command 3 writes
// S div 4 + S mod 4 <= k + fw, since S mod 4 comes from the blanks after the
// last tab stop and the full-width spaces, each adding 1 at most; command 4
// writes 2 k.
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

// Every line of Text rewritten into one result reserved once for Bound
// units, the most that it can need. RewriteLine(Lines, Out) takes the next
// line from Lines and writes what it becomes.
template <typename TRewriteLine>
String RewriteLines(StringView Text, size_t Bound, TRewriteLine RewriteLine) {
  String Result;
  Result.reserve(Bound);
  TOutput Out(Result);
  for (TLineWalker Lines(Text); Lines.Position() != Lines.Last();) RewriteLine(Lines, Out);
  Out.Finish();
  return Result;
}

// Commands 1 to 6: each line's new indent, then the rest of the line as it
// was. The indent is read before the line's break is looked for, so that no
// unit is read twice however long the indent is.
template <typename TRewrite>
String RewriteIndents(StringView Text, size_t Bound, const TRewrite& Rewrite) {
  return RewriteLines(Text, Bound, [&Rewrite](TLineWalker& Lines, TOutput& Out) {
    TLine Line;
    Line.Begin = Lines.Position();
    const TUnit Indent = Rewrite.Write(Line.Begin, Lines.Last(), Out);
    Lines.FinishLine(Indent, Line);
    Out.Copy(Indent, Line.End);
  });
}

// The rewrite of Text, a whole indent, as RewriteIndents writes it.
template <typename TRewrite>
void AppendIndent(StringView Text, const TRewrite& Rewrite, String& Result) {
  TOutput Out(Result);
  Rewrite.Write(Text.data(), Text.data() + Text.size(), Out);
  Out.Finish();
}

String TrimLineEnds(StringView Text) {
  return RewriteLines(Text, Text.size(), [](TLineWalker& Lines, TOutput& Out) {
    TLine Line;
    Lines.Next(Line);
    Out.Copy(Line.Begin, TrimmedEnd(Line));
    Out.Copy(Line.ContentEnd, Line.End);
  });
}

// --- Commands 8 and 9 ------------------------------------------------------------

// DisplayWidth of ExpandTabs(Begin .. End): the display width with every
// tab counted as the wide character it is, corrected by each tab's expansion
// into spaces of one column. A tab's expansion depends on the ANSI byte
// column before it, so bytes are counted only up to the last tab.
int32_t ExpandedWidth(TUnit Begin, TUnit End, uint32_t IdeographicBytes) {
  int32_t Width = DisplayWidth(StringView(Begin, End - Begin));
  const TUnit AfterTabs = AfterLastTab(Begin, End);
  uint32_t Column = 0;
  for (TUnit P = Begin; P != AfterTabs; ++P) {
    const char16_t C = *P;
    if (C == Tab) {
      const uint32_t Fill = TabWidth - Column % TabWidth;
      Column += Fill;
      Width += static_cast<int32_t>(Fill) - 2;
    } else {
      Column += C == Space            ? 1
                : C == FullWidthSpace ? IdeographicBytes
                                      : static_cast<uint32_t>(AnsiByteCount(C));
    }
  }
  return Width;
}

// Smallest multiple of Step (>= 1) that is not below Value.
int32_t RoundUpToMultiple(int32_t Value, int32_t Step) {
  if (Value % Step == 0) return Value;
  return (Value / Step + 1) * Step;
}

// Tabs that PadWithTabs inserts into a line of Width columns to reach Target.
int32_t PaddingTabs(int32_t Width, int32_t Target) {
  const int32_t Stop = RoundUpToMultiple(Target, TabWidth);
  // The first tab reaches the next stop after Width, each further one a whole
  // TabWidth.
  return Width % TabWidth == 0 ? (Stop - Width) / TabWidth
                               : (Stop - RoundUpToMultiple(Width, TabWidth)) / TabWidth + 1;
}

// Every line trimmed, then padded before its break to the widest trimmed
// line (command 8) or with tabs to the tab stop at least TabWidth beyond it
// (command 9). The first pass measures the widest line and, from the sums of
// the widths, the exact length of the result; the second writes it.
String PadLineEnds(StringView Text, uint8_t CommandId) {
  const uint32_t IdeographicBytes = IdeographicSpaceBytes();
  int32_t Longest = 0;
  size_t Lines = 0;
  size_t Kept = 0;
  int64_t WidthSum = 0;
  int64_t StopSum = 0;  // sum of Width / TabWidth
  TLine Line;
  for (TLineWalker Walker(Text); Walker.Next(Line);) {
    const TUnit Trimmed = TrimmedEnd(Line);
    const int32_t Width = ExpandedWidth(Line.Begin, Trimmed, IdeographicBytes);
    Longest = std::max(Longest, Width);
    ++Lines;
    Kept += (Trimmed - Line.Begin) + (Line.End - Line.ContentEnd);
    WidthSum += Width;
    StopSum += Width / TabWidth;
  }
  // Every width is at most Longest, so each line gets Longest - Width spaces
  // or Stop / TabWidth - Width / TabWidth tabs.
  const int32_t Target = CommandId == lcPad ? Longest : Longest + TabWidth;
  const int64_t Padding =
      CommandId == lcPad
          ? static_cast<int64_t>(Lines) * Longest - WidthSum
          : static_cast<int64_t>(Lines) * (RoundUpToMultiple(Target, TabWidth) / TabWidth) -
                StopSum;
  String Result;
  Result.reserve(Kept + static_cast<size_t>(Padding));
  TOutput Out(Result);
  for (TLineWalker Walker(Text); Walker.Next(Line);) {
    const TUnit Trimmed = TrimmedEnd(Line);
    const int32_t Width = ExpandedWidth(Line.Begin, Trimmed, IdeographicBytes);
    Out.Copy(Line.Begin, Trimmed);
    const TPadding Pad = LinePadding(CommandId, Width, Longest);
    Out.Fill(Pad.Count, Pad.Unit);
    Out.Copy(Line.ContentEnd, Line.End);
  }
  Out.Finish();
  return Result;
}

}  // namespace

void AppendNewIndent(StringView Indent, uint8_t CommandId, String& Out) {
  switch (CommandId) {
    case lcSpaces:
    case lcFullWidth:
    case lcTabs:
      return AppendIndent(Indent, TSpacesRewrite(CommandId), Out);
    case lcDouble:
      return AppendIndent(Indent, TDoubleRewrite(), Out);
    case lcHalve:
      return AppendIndent(Indent, THalveRewrite(), Out);
    default:
      return;
  }
}

int32_t LineWidth(StringView Line) {
  const size_t Break = LineBreakString(GetLineBreakKind(Line)).size();
  return ExpandedWidth(Line.data(), Line.data() + Line.size() - Break, IdeographicSpaceBytes());
}

TPadding LinePadding(uint8_t CommandId, int32_t Width, int32_t Longest) {
  if (CommandId == lcPad) return {static_cast<size_t>(std::max(Longest - Width, 0)), Space};
  return {static_cast<size_t>(std::max(PaddingTabs(Width, Longest + TabWidth), 0)), Tab};
}

String ApplyLineCommand(StringView Text, uint8_t CommandId) {
  switch (CommandId) {
    case lcSpaces:
      return RewriteIndents(Text, GrowthBound<SpacesWeights>(Text), TSpacesRewrite(CommandId));
    case lcFullWidth:
      return RewriteIndents(Text, GrowthBound<FullWidthWeights>(Text), TSpacesRewrite(CommandId));
    case lcTabs:
      return RewriteIndents(Text, GrowthBound<TabsWeights>(Text), TSpacesRewrite(CommandId));
    case lcDouble:
      return RewriteIndents(Text, GrowthBound<DoubleWeights>(Text), TDoubleRewrite());
    case lcHalve:
      return RewriteIndents(Text, Text.size(), THalveRewrite());
    case lcUnindent:
      return RewriteIndents(Text, Text.size(), TRemoveRewrite());
    case lcTrim:
      return TrimLineEnds(Text);
    case lcPad:
    case lcPadTabs:
      return PadLineEnds(Text, CommandId);
    default:
      return String();
  }
}

}  // namespace quillet
