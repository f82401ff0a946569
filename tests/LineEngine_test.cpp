// The line engine in every encoding against the literal sequences
// (transforms/LiteralLineCommands.h): on random texts cut into chunks in
// every way (short texts) or many (longer ones), with every tab width kind
// and line selections, its output decodes to the literal result, keeps every
// unit outside the rewritten indents and line ends as it was, and reports
// exactly the lines whose units change. Then the column rules of the byte
// encodings against decoding, and lines longer than any chunk.
#include "transforms/LineEngine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "StringUnit/AnsiCodePage.h"
#include "StringUnit/Columns.h"
#include "tools/TextEncoding.h"
#include "transforms/LiteralLineCommands.h"

// Allocations of the whole program, so that a test can see that feeding
// the engine allocates nothing.
namespace {
std::atomic<uint64_t> Allocations{0};
}  // namespace

// Every form that allocates or frees without an alignment of its own, so
// that each allocation is freed by its own kind (the library's stable_sort
// uses the nothrow form).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(size_t Size) {
  ++Allocations;
  if (void* P = std::malloc(Size == 0 ? 1 : Size)) return P;
  throw std::bad_alloc();
}
void* operator new[](size_t Size) {
  return operator new(Size);
}
void* operator new(size_t Size, const std::nothrow_t&) noexcept {
  ++Allocations;
  return std::malloc(Size == 0 ? 1 : Size);
}
void* operator new[](size_t Size, const std::nothrow_t& Tag) noexcept {
  return operator new(Size, Tag);
}
void operator delete(void* P) noexcept {
  std::free(P);
}
void operator delete[](void* P) noexcept {
  std::free(P);
}
void operator delete(void* P, size_t) noexcept {
  std::free(P);
}
void operator delete[](void* P, size_t) noexcept {
  std::free(P);
}
void operator delete(void* P, const std::nothrow_t&) noexcept {
  std::free(P);
}
void operator delete[](void* P, const std::nothrow_t&) noexcept {
  std::free(P);
}

namespace quillet {

void PrintTo(const TLineChange& C, std::ostream* Out) {
  *Out << "{line " << C.Line << ", offset " << C.Offset << ", kinds " << int{C.Kinds} << "}";
}

namespace {

// --- The encodings under test ---------------------------------------------------

// UTF-16 text as the plug-in holds it.
struct TNativeCase {
  using TEngineEncoding = TUtf16Text;
  using TUnits = String;
  static constexpr bool Cp932 = false;
  static constexpr bool LoneSurrogates = true;
  static TUnits Encode(StringView Text) { return String(Text); }
  static bool Decode(const TUnits& Units, String& Text) {
    Text = Units;
    return true;
  }
};

template <typename TEngine, TEncoding Encoding>
struct TByteCase {
  using TEngineEncoding = TEngine;
  using TUnits = std::string;
  static constexpr bool Cp932 = Encoding == TEncoding::Cp932;
  static constexpr bool LoneSurrogates = Encoding != TEncoding::Utf8 && !Cp932;
  static TUnits Encode(StringView Text) {
    std::string Bytes;
    EXPECT_TRUE(EncodeText(Text, Encoding, Bytes));
    return Bytes;
  }
  static bool Decode(const TUnits& Units, String& Text) {
    Text.clear();
    return DecodeText(Units, Encoding, Text) == NoError;
  }
};

using TUtf8Case = TByteCase<TUtf8Bytes, TEncoding::Utf8>;
using TUtf16LECase = TByteCase<TUtf16LEBytes, TEncoding::Utf16LE>;
using TUtf16BECase = TByteCase<TUtf16BEBytes, TEncoding::Utf16BE>;
using TCp932Case = TByteCase<TCp932Bytes, TEncoding::Cp932>;

// --- Random texts -------------------------------------------------------------------

// A piece of text: its characters, and its code page 932 bytes when it has
// some (the first of its forms).
struct TPiece {
  StringView Text;
  std::string_view Cp932;
};

// Blanks, breaks, and what surrounds them: narrow and wide characters,
// control characters, characters whose code page 932 bytes hold values of
// lead bytes, 0x40 (the second byte of U+3000) or 0x5C.
const TPiece CommonPieces[] = {
    {u" ", " "},
    {u" ", " "},
    {u"\u3000", "\x81\x40"},
    {u"\u3000", "\x81\x40"},
    {u"\t", "\t"},
    {u"\t", "\t"},
    {u"\r", "\r"},
    {u"\n", "\n"},
    {u"\r\n", "\r\n"},
    {u"a", "a"},
    {u"~", "~"},
    {u"@", "@"},
    {u"\u3042", "\x82\xA0"},
    {u"\u6F22", "\x8A\xBF"},
    {u"\uFF76", "\xB6"},
    {u"\uFF61", "\xA1"},
    {u"\u2460", "\x87\x40"},
    {u"\u0001", "\x01"},
    {u"\uFF1D", "\x81\x81"},
    {u"\u4E9C", "\x88\x9F"},
    {u"\u30A1", "\x83\x40"},
    {u"\u8868", "\x95\x5C"},
    {u"\u3001", "\x81\x41"},  // a byte from the full-width space
};
// Characters that code page 932 lacks, or that take two UTF-16 units.
const TPiece UnicodePieces[] = {
    {u"\u00E9", ""}, {u"\u203E", ""}, {u"\U0001F600", ""}, {u"\u0080", ""}, {u"\uE000", ""},
    {u"\uFFFF", ""}, {u"\u2F00", ""},
};
const TPiece SurrogatePieces[] = {{u"\xD800", ""}, {u"\xDC00", ""}};
// Code page 932 characters with more than one byte form: the engine keeps
// the form it is given.
const TPiece Cp932Forms[] = {
    {u"\u2160", "\x87\x54"}, {u"\u2160", "\xFA\x4A"}, {u"\u2170", "\xFA\x40"},
    {u"\u2170", "\xEE\xEF"}, {u"\uFFE2", "\x81\xCA"}, {u"\uFFE2", "\xFA\x54"},
    {u"\uFFE2", "\xEE\xF9"}, {u"\u2235", "\x87\x9A"}, {u"\u2235", "\xFA\x5B"},
};

// A text as pieces, for the encoding of TCase.
template <typename TCase>
std::vector<TPiece> RandomPieces(std::mt19937& Rng, size_t MaxPieces) {
  std::vector<TPiece> Alphabet(std::begin(CommonPieces), std::end(CommonPieces));
  if (TCase::Cp932) {
    Alphabet.insert(Alphabet.end(), std::begin(Cp932Forms), std::end(Cp932Forms));
  } else {
    Alphabet.insert(Alphabet.end(), std::begin(UnicodePieces), std::end(UnicodePieces));
  }
  if (TCase::LoneSurrogates) {
    Alphabet.insert(Alphabet.end(), std::begin(SurrogatePieces), std::end(SurrogatePieces));
  }
  // Often only blanks and breaks, so that indents and line ends are long.
  const size_t Choices = Rng() % 3 == 0 ? 9 : Alphabet.size();
  std::vector<TPiece> Pieces(Rng() % (MaxPieces + 1));
  for (TPiece& Piece : Pieces) Piece = Alphabet[Rng() % Choices];
  return Pieces;
}

template <typename TCase>
typename TCase::TUnits UnitsOf(const TPiece& Piece) {
  if constexpr (TCase::Cp932) {
    return std::string(Piece.Cp932);
  } else {
    return TCase::Encode(Piece.Text);
  }
}

bool IsBlank(StringView Text) {
  return Text == u" " || Text == u"\t" || Text == u"\u3000";
}
bool IsBreak(StringView Text) {
  return Text == u"\r" || Text == u"\n" || Text == u"\r\n";
}

// One line as pieces: its indent, its content, its trailing blanks and its
// break, in order, each a range of pieces.
struct TLine {
  size_t Begin, IndentEnd, BlanksBegin, BreakBegin, End;
};

// The lines the line list makes of Pieces: a CR piece followed by an LF
// piece is one CR LF break.
std::vector<TLine> SplitLines(const std::vector<TPiece>& Pieces) {
  std::vector<TLine> Lines;
  for (size_t Begin = 0; Begin < Pieces.size();) {
    size_t Break = Begin;
    while (Break < Pieces.size() && !IsBreak(Pieces[Break].Text)) ++Break;
    size_t End = std::min(Break + 1, Pieces.size());
    if (End < Pieces.size() && Pieces[Break].Text == u"\r" && Pieces[End].Text == u"\n") ++End;
    size_t IndentEnd = Begin;
    while (IndentEnd < Break && IsBlank(Pieces[IndentEnd].Text)) ++IndentEnd;
    size_t Blanks = Break;
    while (Blanks > Begin && IsBlank(Pieces[Blanks - 1].Text)) --Blanks;
    Lines.push_back({Begin, IndentEnd, Blanks, Break, End});
    Begin = End;
  }
  return Lines;
}

String TextOf(const std::vector<TPiece>& Pieces, size_t From, size_t To) {
  String Text;
  for (size_t I = From; I < To; ++I) Text += Pieces[I].Text;
  return Text;
}

bool IsSelected(uint64_t Line, const std::vector<TLineRange>& Ranges) {
  if (Ranges.empty()) return true;
  for (const TLineRange& Range : Ranges) {
    if (Range.First <= Line && Line <= Range.Last) return true;
  }
  return false;
}

// What the engine must give for Pieces: each selected line's units with
// its indent or its line end replaced by the blanks that the literal
// sequences put there, every other unit as it was; and which lines change.
template <typename TCase>
struct TExpected {
  typename TCase::TUnits Units;
  std::vector<TLineChange> Changes;
  uint64_t Widest = 0;
};

template <typename TCase>
TExpected<TCase> Expect(const std::vector<TPiece>& Pieces, uint8_t Command, int32_t Tabs,
                        const std::vector<TLineRange>& Ranges) {
  using TUnits = typename TCase::TUnits;
  const std::vector<TLine> Lines = SplitLines(Pieces);
  TExpected<TCase> Result;
  // The widest selected line, trimmed, as FindLongestLine measures it.
  TCommonStringRecordList Trimmed;
  for (size_t I = 0; I < Lines.size(); ++I) {
    if (IsSelected(I + 1, Ranges)) {
      Trimmed.Add(TrimLineEnd(TextOf(Pieces, Lines[I].Begin, Lines[I].End)));
    }
  }
  Result.Widest = static_cast<uint64_t>(FindLongestLine(Trimmed, Tabs).Width);
  const auto Widest = static_cast<int32_t>(Result.Widest);
  uint64_t Offset = 0;
  for (size_t I = 0; I < Lines.size(); ++I) {
    const TLine& L = Lines[I];
    TUnits Old;
    for (size_t K = L.Begin; K < L.End; ++K) Old += UnitsOf<TCase>(Pieces[K]);
    TUnits New;
    uint8_t Kinds = 0;
    const auto Part = [&Pieces](size_t From, size_t To) {
      TUnits Units;
      for (size_t K = From; K < To; ++K) Units += UnitsOf<TCase>(Pieces[K]);
      return Units;
    };
    if (!IsSelected(I + 1, Ranges)) {
      New = Old;
    } else if (Command <= lcUnindent) {
      const String Indent = TextOf(Pieces, L.Begin, L.IndentEnd);
      const String NewIndentText =
          Command == lcUnindent ? String() : NewIndent(Indent, Command, Tabs);
      New = TCase::Encode(NewIndentText) + Part(L.IndentEnd, L.End);
      if (NewIndentText != Indent) Kinds |= lkIndent;
    } else {
      const String Blanks = TextOf(Pieces, L.BlanksBegin, L.BreakBegin);
      const String Kept = TextOf(Pieces, L.Begin, L.BlanksBegin);
      String Padding;
      if (Command == lcPad) {
        Padding = PadWithSpaces(Kept, Widest, Tabs).substr(Kept.size());
      } else if (Command == lcPadTabs) {
        Padding = PadWithTabs(Kept, Widest + Tabs, Tabs).substr(Kept.size());
      }
      New = Part(L.Begin, L.BlanksBegin) + TCase::Encode(Padding) + Part(L.BreakBegin, L.End);
      if (Blanks != Padding) {
        if (!Blanks.empty()) Kinds |= lkTrailingBlanks;
        if (!Padding.empty()) Kinds |= lkPadding;
      }
    }
    // A line changes exactly when its units do, and then in what the
    // literal diff of its old and new text shows.
    EXPECT_EQ(Kinds != 0, New != Old) << "line " << I + 1;
    if (Kinds != 0) Result.Changes.push_back({I + 1, Offset, Kinds});
    Result.Units += New;
    Offset += Old.size();
  }
  return Result;
}

// --- Running the engine -------------------------------------------------------------

template <typename TUnit>
class TCollectingSink final : public TLineSink<TUnit> {
 public:
  explicit TCollectingSink(const std::basic_string<TUnit>& Input) : FInput(Input) {}
  void Put(const TUnit* Units, size_t Count) override { Output.append(Units, Count); }
  void PutInput(uint64_t Offset, uint64_t Count) override {
    ASSERT_LE(Offset + Count, FInput.size());
    Output.append(FInput, Offset, Count);
    ++Rereads;
  }
  void LineChanged(const TLineChange& Change) override { Changes.push_back(Change); }

  std::basic_string<TUnit> Output;
  std::vector<TLineChange> Changes;
  int Rereads = 0;

 private:
  const std::basic_string<TUnit>& FInput;
};

// Feeds Input in chunks that end at the given Cuts.
template <typename TEngine, typename TUnits>
void FeedCut(TEngine& Engine, const TUnits& Input, const std::vector<size_t>& Cuts) {
  size_t From = 0;
  for (size_t Cut : Cuts) {
    Engine.Feed(Input.data() + From, Cut - From);
    From = Cut;
  }
  Engine.Feed(Input.data() + From, Input.size() - From);
  Engine.Finish();
}

// Ways to cut Size units: every one for short inputs, else the whole, one
// unit at a time, and random ones.
std::vector<std::vector<size_t>> Cuttings(std::mt19937& Rng, size_t Size) {
  std::vector<std::vector<size_t>> All;
  if (Size <= 9) {
    for (uint32_t Mask = 0; Mask < (1u << (Size > 0 ? Size - 1 : 0)); ++Mask) {
      std::vector<size_t> Cuts;
      for (size_t I = 1; I < Size; ++I) {
        if (Mask >> (I - 1) & 1) Cuts.push_back(I);
      }
      All.push_back(Cuts);
    }
    return All;
  }
  All.push_back({});
  std::vector<size_t> Each;
  for (size_t I = 1; I < Size; ++I) Each.push_back(I);
  All.push_back(Each);
  for (int K = 0; K < 4; ++K) {
    std::vector<size_t> Cuts;
    for (size_t At = 1 + Rng() % 7; At < Size; At += 1 + Rng() % (K == 0 ? 3 : 40)) {
      Cuts.push_back(At);
    }
    All.push_back(Cuts);
  }
  return All;
}

std::vector<TLineRange> RandomRanges(std::mt19937& Rng) {
  std::vector<TLineRange> Ranges;
  if (Rng() % 2 == 0) return Ranges;
  for (uint32_t N = 1 + Rng() % 3; N > 0; --N) {
    const uint64_t First = 1 + Rng() % 8;
    Ranges.push_back({First, First + Rng() % 4});
  }
  return Ranges;
}

template <typename TCase>
class LineEngine : public ::testing::Test {};

using TCases = ::testing::Types<TNativeCase, TUtf8Case, TUtf16LECase, TUtf16BECase, TCp932Case>;
class TCaseNames {
 public:
  template <typename T>
  static std::string GetName(int) {
    if (std::is_same_v<T, TNativeCase>) return "Utf16Text";
    if (std::is_same_v<T, TUtf8Case>) return "Utf8";
    if (std::is_same_v<T, TUtf16LECase>) return "Utf16LE";
    if (std::is_same_v<T, TUtf16BECase>) return "Utf16BE";
    return "Cp932";
  }
};
TYPED_TEST_SUITE(LineEngine, TCases, TCaseNames);

constexpr int32_t TabWidths[] = {1, 2, 3, 4, 8, 64};

// Every command over every line of a long text, cut anywhere, commands 8
// and 9 after a measuring pass: the lines are taken 64 bytes and the
// blanks 8 units at a time where the encoding allows, a CR LF, a character,
// an indent or a run of trailing blanks may fall across a step or a cut,
// and the widest, the number of lines and the new text are the literal ones.
TYPED_TEST(LineEngine, RewritesEveryLineOfLongTexts) {
  using TCase = TypeParam;
  using TEngine = TLineEngine<typename TCase::TEngineEncoding>;
  std::mt19937 Rng(20261210);
  for (int Round = 0; Round < 540; ++Round) {
    const std::vector<TPiece> Pieces = RandomPieces<TCase>(Rng, 300 + Rng() % 300);
    typename TCase::TUnits Input;
    for (const TPiece& Piece : Pieces) Input += UnitsOf<TCase>(Piece);
    TLineEngineSettings Settings;
    Settings.Command = static_cast<uint8_t>(1 + Round % 9);
    Settings.TabWidth = TabWidths[Rng() % std::size(TabWidths)];
    // Told and not told of the lines that change.
    Settings.Report = Round / 9 % 2 == 0;
    const bool Pads = Settings.Command >= 8;
    const TExpected<TCase> Expected = Expect<TCase>(Pieces, Settings.Command, Settings.TabWidth, {});
    for (const std::vector<size_t>& Cuts : Cuttings(Rng, Input.size())) {
      if (Pads) {
        TEngine Measure(Settings);
        FeedCut(Measure, Input, Cuts);
        ASSERT_EQ(Measure.Widest(), Expected.Widest) << "round " << Round;
        ASSERT_EQ(Measure.Lines(), SplitLines(Pieces).size()) << "round " << Round;
        Settings.Widest = Expected.Widest;
      }
      TCollectingSink<typename TEngine::TUnit> Sink(Input);
      TEngine Engine(Settings, Sink);
      FeedCut(Engine, Input, Cuts);
      ASSERT_EQ(Sink.Output, Expected.Units) << "round " << Round << ", cuts "
                                             << testing::PrintToString(Cuts);
      if (Settings.Report) {
        ASSERT_EQ(Sink.Changes, Expected.Changes) << "round " << Round;
      }
      ASSERT_EQ(Engine.Changed(), !Expected.Changes.empty()) << "round " << Round;
    }
  }
}

// Indents and line ends whose blanks meet the edges of a row of lanes or of
// a step: every number of blanks up to 40 before a space, a tab or a
// full-width space, then a letter or U+3001 (a byte off a full-width
// space), as many blanks again at the line's end; lines that start at
// several offsets, one of them at the end of the text. The new text and the
// lines that change are the literal ones.
TYPED_TEST(LineEngine, BlanksAtTheEdgesOfRowsAndSteps) {
  using TCase = TypeParam;
  using TEngine = TLineEngine<typename TCase::TEngineEncoding>;
  const TPiece Space{u" ", " "};
  const TPiece Tab{u"\t", "\t"};
  const TPiece FullWidth{u"\u3000", "\x81\x40"};
  const TPiece Letter{u"a", "a"};
  const TPiece NearMiss{u"\u3001", "\x81\x41"};
  const TPiece Break{u"\n", "\n"};
  const TPiece Cycle[] = {Space, FullWidth, Space, Tab, FullWidth};
  for (const size_t Shift : {0, 1, 5, 13}) {
    for (size_t Lead = 0; Lead <= 40; ++Lead) {
      for (const TPiece& Last : {Space, Tab, FullWidth}) {
        for (const TPiece& After : {Letter, NearMiss}) {
          std::vector<TPiece> Pieces(Shift, Letter);
          if (Shift != 0) Pieces.push_back(Break);
          for (int Copy = 0; Copy < 2; ++Copy) {
            if (Copy != 0) Pieces.push_back(Break);
            for (size_t I = 0; I < Lead; ++I) Pieces.push_back(Cycle[I % std::size(Cycle)]);
            Pieces.push_back(Last);
            Pieces.push_back(After);
            for (size_t I = 0; I < Lead; ++I) Pieces.push_back(Cycle[I % std::size(Cycle)]);
            Pieces.push_back(Last);
          }
          typename TCase::TUnits Input;
          for (const TPiece& Piece : Pieces) Input += UnitsOf<TCase>(Piece);
          for (uint8_t Command = 1; Command <= 9; ++Command) {
            for (const int32_t Tabs : {3, 4}) {
              const std::string Where =
                  "shift " + std::to_string(Shift) + ", lead " + std::to_string(Lead) +
                  ", command " + std::to_string(Command) + ", tab width " + std::to_string(Tabs);
              const TExpected<TCase> Expected = Expect<TCase>(Pieces, Command, Tabs, {});
              TLineEngineSettings Settings;
              Settings.Command = Command;
              Settings.TabWidth = Tabs;
              Settings.Report = true;
              if (Command >= 8) {
                TEngine Measure(Settings);
                Measure.Feed(Input.data(), Input.size());
                Measure.Finish();
                ASSERT_EQ(Measure.Widest(), Expected.Widest) << Where;
                Settings.Widest = Expected.Widest;
              }
              TCollectingSink<typename TEngine::TUnit> Sink(Input);
              TEngine Engine(Settings, Sink);
              Engine.Feed(Input.data(), Input.size());
              Engine.Finish();
              ASSERT_EQ(Sink.Output, Expected.Units) << Where;
              ASSERT_EQ(Sink.Changes, Expected.Changes) << Where;
            }
          }
        }
      }
    }
  }
}

TYPED_TEST(LineEngine, MatchesTheLiteralSequencesInEveryCutting) {
  using TCase = TypeParam;
  using TEngine = TLineEngine<typename TCase::TEngineEncoding>;
  std::mt19937 Rng(20261209);
  for (int Round = 0; Round < 2500; ++Round) {
    const std::vector<TPiece> Pieces = RandomPieces<TCase>(Rng, Round % 10 == 0 ? 120 : 9);
    typename TCase::TUnits Input;
    for (const TPiece& Piece : Pieces) Input += UnitsOf<TCase>(Piece);
    String Text;
    ASSERT_TRUE(TCase::Decode(Input, Text));
    TLineEngineSettings Settings;
    Settings.Command = static_cast<uint8_t>(1 + Rng() % 9);
    Settings.TabWidth = TabWidths[Rng() % std::size(TabWidths)];
    Settings.Lines = RandomRanges(Rng);
    Settings.Report = true;
    const TExpected<TCase> Expected =
        Expect<TCase>(Pieces, Settings.Command, Settings.TabWidth, Settings.Lines);
    const String Literal =
        ApplyLineCommandLiterally(Text, Settings.Command, Settings.TabWidth, Settings.Lines);
    String Decoded;
    ASSERT_TRUE(TCase::Decode(Expected.Units, Decoded));
    ASSERT_EQ(Decoded, Literal) << "the expected units are those of the literal result";
    const std::string Where = "command " + std::to_string(Settings.Command) + ", tabs " +
                              std::to_string(Settings.TabWidth) + ", round " +
                              std::to_string(Round) + ", " + testing::PrintToString(Text);
    for (const std::vector<size_t>& Cuts : Cuttings(Rng, Input.size())) {
      TEngine Measure(Settings);
      FeedCut(Measure, Input, Cuts);
      ASSERT_EQ(Measure.Widest(), Expected.Widest) << Where;
      ASSERT_EQ(Measure.Lines(), SplitLines(Pieces).size()) << Where;
      Settings.Widest = Measure.Widest();
      TCollectingSink<typename TEngine::TUnit> Sink(Input);
      TEngine Engine(Settings, Sink);
      FeedCut(Engine, Input, Cuts);
      ASSERT_EQ(Sink.Output, Expected.Units) << Where << ", cuts " << testing::PrintToString(Cuts);
      ASSERT_EQ(Sink.Changes, Expected.Changes) << Where;
      ASSERT_EQ(Engine.Changed(), !Expected.Changes.empty()) << Where;
      // Short runs of blanks are kept, not read again.
      ASSERT_EQ(Sink.Rereads, 0) << Where;
    }
  }
}

// Lines outside the selection and lines that no command changes come back
// as they were: the split and the join lose nothing.
TYPED_TEST(LineEngine, GivesTheInputBackWhereNothingChanges) {
  using TCase = TypeParam;
  using TEngine = TLineEngine<typename TCase::TEngineEncoding>;
  std::mt19937 Rng(77);
  for (int Round = 0; Round < 300; ++Round) {
    const std::vector<TPiece> Pieces = RandomPieces<TCase>(Rng, 60);
    typename TCase::TUnits Input;
    for (const TPiece& Piece : Pieces) Input += UnitsOf<TCase>(Piece);
    for (uint8_t Command = 0; Command <= 10; ++Command) {
      TLineEngineSettings Settings;
      Settings.Command = Command;
      Settings.Lines = {{1000, 2000}};
      if (Command == 0 || Command == 10) Settings.Lines.clear();
      TCollectingSink<typename TEngine::TUnit> Sink(Input);
      TEngine Engine(Settings, Sink);
      Engine.Feed(Input.data(), Input.size());
      Engine.Finish();
      ASSERT_EQ(Sink.Output, Input) << "command " << int{Command};
      ASSERT_FALSE(Engine.Changed());
    }
  }
}

// Two parts of a text, cut at a line start, each through engines of their
// own (the second told its first line's number), give what the whole text
// gives: the outputs joined, the reports joined (offsets from each part's
// start), the widest line the wider of the two.
TYPED_TEST(LineEngine, PartsGiveWhatTheWholeGives) {
  using TCase = TypeParam;
  using TEngine = TLineEngine<typename TCase::TEngineEncoding>;
  using TUnits = typename TCase::TUnits;
  std::mt19937 Rng(4242);
  for (int Round = 0; Round < 400; ++Round) {
    const std::vector<TPiece> Pieces = RandomPieces<TCase>(Rng, 40);
    const std::vector<TLine> Lines = SplitLines(Pieces);
    const size_t Cut = Lines.empty() ? 0 : Rng() % (Lines.size() + 1);
    TUnits Input;
    TUnits First;
    for (size_t I = 0; I < Pieces.size(); ++I) {
      if (Cut < Lines.size() && I == Lines[Cut].Begin) First = Input;
      Input += UnitsOf<TCase>(Pieces[I]);
    }
    if (Cut >= Lines.size()) First = Input;
    const TUnits Second = Input.substr(First.size());
    TLineEngineSettings Settings;
    Settings.Command = static_cast<uint8_t>(1 + Rng() % 9);
    Settings.TabWidth = TabWidths[Rng() % std::size(TabWidths)];
    Settings.Lines = RandomRanges(Rng);
    Settings.Report = true;
    const auto Run = [&Settings](const TUnits& Part, uint64_t FirstLine, uint64_t Widest,
                                 TCollectingSink<typename TEngine::TUnit>& Sink) {
      TLineEngineSettings Own = Settings;
      Own.FirstLine = FirstLine;
      Own.Widest = Widest;
      TEngine Measure(Own);
      Measure.Feed(Part.data(), Part.size());
      Measure.Finish();
      TEngine Engine(Own, Sink);
      Engine.Feed(Part.data(), Part.size());
      Engine.Finish();
      return std::pair{Measure.Widest(), Engine.Lines()};
    };
    TCollectingSink<typename TEngine::TUnit> Whole(Input);
    const uint64_t Widest = Run(Input, 1, 0, Whole).first;
    Whole.Output.clear();
    Whole.Changes.clear();
    Run(Input, 1, Widest, Whole);
    TCollectingSink<typename TEngine::TUnit> A(First);
    TCollectingSink<typename TEngine::TUnit> B(Second);
    const auto [WidestA, LinesA] = Run(First, 1, Widest, A);
    const uint64_t WidestB = Run(Second, LinesA + 1, Widest, B).first;
    ASSERT_EQ(LinesA, std::min(Cut, Lines.size()));
    ASSERT_EQ(std::max(WidestA, WidestB), Widest);
    ASSERT_EQ(A.Output + B.Output, Whole.Output);
    std::vector<TLineChange> Joined = A.Changes;
    for (TLineChange Change : B.Changes) {
      Change.Offset += First.size();
      Joined.push_back(Change);
    }
    ASSERT_EQ(Joined, Whole.Changes);
  }
}

// --- Column rules of the byte encodings -------------------------------------------

// The width of a character and its code page 932 column (seen through the
// tab after it) as the engine takes them from its bytes, against those of
// its decoded UTF-16 units.
template <typename TEngine>
void ExpectColumnsOf(const std::string& Bytes, StringView Units) {
  const uint64_t Width = TEngine::Width(Bytes.data(), Bytes.size(), 64);
  ASSERT_EQ(Width, static_cast<uint64_t>(DisplayWidth(Units))) << testing::PrintToString(Units);
  uint64_t Column = 0;
  for (char16_t C : Units) Column += static_cast<uint64_t>(AnsiByteCount(C));
  const std::string WithTab = Bytes + '\t';
  ASSERT_EQ(TEngine::Width(WithTab.data(), WithTab.size(), 64), Width + 64 - Column)
      << testing::PrintToString(Units);
}

// Code page 932 by bytes: every character that the code page has, one byte
// or two, is as many columns as bytes, two for a control character, and as
// many code page 932 bytes as it has, as its decoded unit says.
TEST(LineEngineColumns, Cp932ByBytesAgreesWithDecodingEveryCharacter) {
  int Characters = 0;
  for (int First = 0; First < 0x100; ++First) {
    for (int Second = -1; Second < 0x100; ++Second) {
      std::string Bytes(1, static_cast<char>(First));
      if (Second >= 0) Bytes.push_back(static_cast<char>(Second));
      String Units;
      if (DecodeText(Bytes, TEncoding::Cp932, Units) != NoError || Units.size() != 1) continue;
      if (Units[0] == u'\t') continue;  // not a character with a width of its own
      ExpectColumnsOf<TLineEngine<TCp932Bytes>>(Bytes, Units);
      ++Characters;
    }
  }
  // 128 ASCII, 63 half-width katakana, and the double-byte characters.
  EXPECT_GT(Characters, 9000);
}

// UTF-8 by bytes: every character of the basic plane and some beyond it, on
// its own and in lines long enough for the sixteen-byte steps.
TEST(LineEngineColumns, Utf8ByBytesAgreesWithDecoding) {
  String Line;
  for (char32_t C = 0; C < 0x110000; C += C < 0x10000 ? 1 : 0x1111) {
    if ((C >= 0xD800 && C <= 0xDFFF) || C == u'\t') continue;
    String Units;
    if (C < 0x10000) {
      Units.push_back(static_cast<char16_t>(C));
    } else {
      Units.push_back(static_cast<char16_t>(0xD800 + ((C - 0x10000) >> 10)));
      Units.push_back(static_cast<char16_t>(0xDC00 + ((C - 0x10000) & 0x3FF)));
    }
    std::string Bytes;
    ASSERT_TRUE(EncodeText(Units, TEncoding::Utf8, Bytes));
    ExpectColumnsOf<TLineEngine<TUtf8Bytes>>(Bytes, Units);
    if (C != u'\r' && C != u'\n' && C != u'\t') Line += Units;
    if (Line.size() >= 37) {
      std::string LineBytes;
      ASSERT_TRUE(EncodeText(Line, TEncoding::Utf8, LineBytes));
      ASSERT_EQ(TLineEngine<TUtf8Bytes>::Width(LineBytes.data(), LineBytes.size(), 4),
                static_cast<uint64_t>(LiteralLineWidth(Line)))
          << testing::PrintToString(Line);
      Line.clear();
    }
  }
}

// --- Lines longer than any chunk ---------------------------------------------------

// Counts what the sink gets without keeping it; the blanks that the engine
// reads again must be the very ones held back.
template <typename TUnit>
class TCountingSink final : public TLineSink<TUnit> {
 public:
  void Put(const TUnit* Units, size_t Count) override {
    Units_ += Count;
    for (size_t I = 0; I < Count; ++I) Tabs += Units[I] == TUnit{'\t'};
  }
  void PutInput(uint64_t Offset, uint64_t Count) override {
    Reread.push_back({Offset, Count});
    Units_ += Count;
  }
  uint64_t Units_ = 0;
  uint64_t Tabs = 0;
  std::vector<TLineRange> Reread;  // offset and count
};

// A chunk of a pattern repeated, about 64 KiB of it.
template <typename TUnits>
TUnits Repeated(const TUnits& Pattern) {
  TUnits Chunk;
  while (Chunk.size() * sizeof(Chunk[0]) < 65536) Chunk += Pattern;
  return Chunk;
}

// Feeds Chunk Times times, each in two parts cut inside a blank: what a
// file of one enormous line feeds.
template <typename TEngine, typename TUnits>
void FeedRepeated(TEngine& Engine, const TUnits& Chunk, uint64_t Times) {
  constexpr size_t Cut = 7;
  for (uint64_t I = 0; I < Times; ++I) {
    Engine.Feed(Chunk.data(), Cut);
    Engine.Feed(Chunk.data() + Cut, Chunk.size() - Cut);
  }
}

TYPED_TEST(LineEngine, LongLinesTakeNoMemory) {
  using TCase = TypeParam;
  using TEngine = TLineEngine<typename TCase::TEngineEncoding>;
  using TUnits = typename TCase::TUnits;
  const TUnits Blanks = TCase::Encode(u" \u3000\t");
  const TUnits Letter = TCase::Encode(u"x");
  const TUnits Break = TCase::Encode(u"\n");
  // 100 MB of blanks, between letters: inside the line for command 7, at its
  // end for 8, the indent for 1.
  const TUnits Chunk = Repeated(Blanks);
  const uint64_t Times = (100 << 20) / (Chunk.size() * sizeof(Chunk[0]));
  const uint64_t Total = Times * Chunk.size();
  for (const uint8_t Command : {lcSpaces, lcTrim, lcPad}) {
    TLineEngineSettings Settings;
    Settings.Command = Command;
    TCountingSink<typename TEngine::TUnit> Sink;
    Sink.Reread.reserve(4);
    TEngine Engine(Settings, Sink);
    const uint64_t Before = Allocations;
    if (Command != lcSpaces) Engine.Feed(Letter.data(), Letter.size());
    FeedRepeated(Engine, Chunk, Times);
    if (Command == lcTrim) Engine.Feed(Letter.data(), Letter.size());
    Engine.Feed(Break.data(), Break.size());
    Engine.Finish();
    EXPECT_EQ(Allocations, Before) << "command " << int{Command};
    if (Command == lcTrim) {
      // The blanks come back as they were, read again from the input.
      ASSERT_EQ(Sink.Reread.size(), 1u);
      EXPECT_EQ(Sink.Reread[0].First, Letter.size());
      EXPECT_LE(Total - Sink.Reread[0].Last, 65536u);
      EXPECT_EQ(Sink.Units_, Total + 2 * Letter.size() + Break.size());
    } else {
      EXPECT_TRUE(Sink.Reread.empty());
    }
    if (Command == lcPad) {
      EXPECT_EQ(Sink.Units_, Letter.size() + Break.size());
    }
    if (Command == lcSpaces) {
      // Each group of blanks: 1 + 2 + 1 columns, one tab stop of 4.
      const uint64_t Spaces = Total / Blanks.size() * 4;
      EXPECT_EQ(Sink.Units_, Spaces * TCase::Encode(u" ").size() + Break.size());
    }
  }
}

// Lines that the measuring pass only counts, 64 bytes at a time, may be
// followed in their step by the start of a wider one, whose control bytes
// there count towards its bound: a line of 200 columns, lines up to offset
// 295, then one of 14 tabs (112 columns at tab width 8) and 98 letters,
// which starts 40 bytes into a step whose other line is short, and a line
// that takes the step where it ends past the last whole one.
TYPED_TEST(LineEngine, MeasuresALineThatStartsAfterCountedLines) {
  using TCase = TypeParam;
  using TEngine = TLineEngine<typename TCase::TEngineEncoding>;
  const String Lines[] = {String(200, u'a'), String(54, u'c'), String(39, u'b'),
                          String(14, u'\t') + String(98, u'a'), String(70, u'd')};
  String Text;
  TCommonStringRecordList Records;
  for (const String& Line : Lines) {
    Text += Line + u"\n";
    Records.Add(Line);
  }
  const auto Input = TCase::Encode(Text);
  TLineEngineSettings Settings;
  Settings.Command = lcPad;
  Settings.TabWidth = 8;
  TEngine Measure(Settings);
  Measure.Feed(Input.data(), Input.size());
  Measure.Finish();
  EXPECT_EQ(Measure.Widest(), static_cast<uint64_t>(FindLongestLine(Records, 8).Width));
  EXPECT_EQ(Measure.Widest(), 210u);
  EXPECT_EQ(Measure.Lines(), std::size(Lines));
}

// A line more than 2^31 columns wide: 2^25 + 1 tabs of 64 columns, then a
// letter, fed in chunks. Command 9 pads the short line to one tab stop past
// it and the wide line with the tab that reaches that stop.
TYPED_TEST(LineEngine, WidthsBeyondThirtyOneBits) {
  using TCase = TypeParam;
  using TEngine = TLineEngine<typename TCase::TEngineEncoding>;
  using TUnits = typename TCase::TUnits;
  const TUnits Tab = TCase::Encode(u"\t");
  const TUnits Short = TCase::Encode(u"ab\n");
  const TUnits End = TCase::Encode(u"x\n");
  TLineEngineSettings Settings;
  Settings.Command = lcPadTabs;
  Settings.TabWidth = 64;
  const TUnits Chunk = Repeated(Tab);
  const uint64_t Tabs = (uint64_t{1} << 31) / 64 / (Chunk.size() / Tab.size()) + 1;
  const auto FeedAll = [&](TEngine& Engine) {
    Engine.Feed(Short.data(), Short.size());
    FeedRepeated(Engine, Chunk, Tabs);
    Engine.Feed(End.data(), End.size());
    Engine.Finish();
  };
  TEngine Measure(Settings);
  FeedAll(Measure);
  const uint64_t Widest = Tabs * (Chunk.size() / Tab.size()) * 64 + 1;
  ASSERT_GT(Widest, uint64_t{1} << 31);
  ASSERT_EQ(Measure.Widest(), Widest);
  Settings.Widest = Widest;
  TCountingSink<typename TEngine::TUnit> Sink;
  TEngine Engine(Settings, Sink);
  FeedAll(Engine);
  // The stop is the second past the wide line, which is one column past a
  // stop: the short line (2 columns) takes every tab stop to it, the wide
  // one 2; the wide line's own tabs come back from the input.
  const uint64_t Stops = Widest / 64 + 2;
  ASSERT_EQ(Sink.Reread.size(), 1u);
  const uint64_t Reread = Sink.Reread[0].Last / Tab.size();
  EXPECT_EQ(Reread, Widest / 64);
  EXPECT_EQ(Sink.Tabs + Reread, Stops + 2 + Widest / 64);
  EXPECT_EQ(PaddingCount(lcPadTabs, 2, Widest, 64), Stops);
  EXPECT_EQ(PaddingCount(lcPadTabs, Widest, Widest, 64), 2u);
  EXPECT_EQ(PaddingCount(lcPad, 2, Widest, 64), Widest - 2);
}

}  // namespace
}  // namespace quillet
