// The line engine: the nine line commands over a stream of code units, in
// any of the encodings below, written once for all of them.
//
// The input comes in chunks cut anywhere (inside a character, between CR and
// LF, inside an indent or a run of blanks); the engine keeps what it needs
// across chunks in memory that does not grow with the length of a line: an
// indent is counted, not stored, the text after it streams, and a run of
// blanks inside a line is remembered by where it started in the input. The
// output goes to a sink. A line command rewrites only the units of a line's
// indent and of the blanks at its end, and inserts the padding; every other
// unit is put out as it came in.
//
// Offsets count code units (bytes for the byte encodings) from the start of
// the input given to the engine. Lines are numbered from 1. Lines are split
// as the line list splits a text: at CR LF, else CR, else LF, each line
// keeping its break, no empty line after a final break.
//
// Columns: a tab runs to the next multiple of the tab width, counted in
// bytes of code page 932 (the AnsiByteCount of each UTF-16 unit, a character
// beyond U+FFFF being two units of one byte each); the width of a line is its
// display width (one column for U+0020 to U+007F, U+203E and U+FF61 to
// U+FF9F, two for every other UTF-16 unit) with its tabs so expanded. Widths
// are 64-bit.
//
// The byte encodings are taken as valid (the filter checks them before);
// other bytes never make the engine fail or read outside what it is given,
// and give the same output however the input is cut into chunks. UTF-16
// bytes of odd length end in a byte of no unit, taken as a character that is
// no blank.
//
// A caller, the command-line filter for example, picks the engine of the
// input's encoding and gives it what follows the byte-order mark. For
// commands 8 and 9 it first runs a measuring pass over the whole input and
// gives its Widest() to the rewriting pass. The rewriting pass puts the new
// text to a TLineSink: Put hands over units to write, PutInput asks for a
// stretch of the input to be written again as it was (a file or a spooled
// pipe can be read there again). Changed() then says whether anything
// changed, and with Report the sink hears of each line that did. A part of
// a text that starts at a line start can go through engines of its own,
// told the number of its first line (TLineEngineSettings::FirstLine).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The steps that every line takes, inlined into the engine's loop over a
// chunk.
#if defined(__GNUC__)
#define QUILLET_LINE_STEP __attribute__((always_inline)) inline
#elif defined(_MSC_VER)
#define QUILLET_LINE_STEP __forceinline
#else
#define QUILLET_LINE_STEP inline
#endif

// The processor's population count, asked of the compiler for one function
// at a time: where it can be, the loops that count bits are built with it
// and without, and the processor says which runs.
#if defined(__linux__) && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && \
    !defined(QUILLET_NO_SIMD) && !defined(QUILLET_NO_POPCOUNT)
#define QUILLET_POPCOUNT_CHOICE 1
#define QUILLET_POPCOUNT_TARGET __attribute__((target("popcnt")))
#else
#define QUILLET_POPCOUNT_TARGET
#endif

namespace quillet {

// The encodings, each naming its code unit. TUtf16Text is UTF-16 in the
// machine's byte order, as the plug-in holds text; the others are bytes.
struct TUtf16Text {
  using TUnit = char16_t;
};
struct TUtf8Bytes {
  using TUnit = char;
};
struct TUtf16LEBytes {
  using TUnit = char;
};
struct TUtf16BEBytes {
  using TUnit = char;
};
// Code page 932: a lead byte (0x81-0x9F, 0xE0-0xFC) and the byte after it
// are one character when that byte is 0x40 or above; every other byte is a
// character of its own. Characters with two byte forms keep theirs.
struct TCp932Bytes {
  using TUnit = char;
};

// Lines First to Last, 1-based, both included.
struct TLineRange {
  uint64_t First;
  uint64_t Last;
};

struct TLineEngineSettings {
  // 1 to 9 (TLineCommand); any other value rewrites nothing.
  uint8_t Command = 0;
  // 1 to 64; values outside are taken as the nearest of these.
  int32_t TabWidth = 4;
  // The lines to rewrite, in any order, overlapping or not; empty: every
  // line. The others pass through unchanged and are not measured.
  std::vector<TLineRange> Lines;
  // Commands 8 and 9: the width of the widest selected line without its
  // trailing blanks, from a measuring pass over the same input.
  uint64_t Widest = 0;
  // Whether the sink hears of every line that changes (LineChanged).
  bool Report = false;
  // The number of the input's first line: a pass over a part of a text that
  // starts at a line start numbers, selects and reports its lines as in the
  // whole text (a measuring pass over parts gives the greatest of their
  // widest widths).
  uint64_t FirstLine = 1;
};

// What changes in a line; several may.
enum TLineChangeKind : uint8_t {
  lkIndent = 1,          // the indent is rewritten (commands 1 to 6)
  lkTrailingBlanks = 2,  // blanks at the line end are removed (commands 7 to 9)
  lkPadding = 4,         // padding is added before the break (commands 8 and 9)
};

struct TLineChange {
  uint64_t Line;    // 1-based
  uint64_t Offset;  // of the line's first unit
  uint8_t Kinds;    // TLineChangeKind bits, never 0

  bool operator==(const TLineChange&) const = default;
};

// Where a rewriting pass puts its output, in order.
template <typename TUnit>
class TLineSink {
 public:
  virtual ~TLineSink() = default;
  // Count units: new ones, or units of the chunk being fed; valid only
  // during the call.
  virtual void Put(const TUnit* Units, size_t Count) = 0;
  // The input units [Offset, Offset + Count), as they came in: units of
  // earlier chunks that the engine no longer holds (a long run of blanks
  // that proved not to end its line).
  virtual void PutInput(uint64_t Offset, uint64_t Count) = 0;
  // A line whose units change, when its end is reached (its units may still
  // be on their way to Put). Only with TLineEngineSettings::Report.
  virtual void LineChanged(const TLineChange& Change) { static_cast<void>(Change); }
};

// Units of padding that commands 8 and 9 put before the break of a line
// Width columns wide, when the widest line is Widest columns wide: spaces up
// to Widest (command 8), or tabs up to the first tab stop at least TabWidth
// beyond it (command 9). 0 for other commands.
uint64_t PaddingCount(uint8_t Command, uint64_t Width, uint64_t Widest, uint32_t TabWidth);

// One pass of a line command over one input.
//
// A measuring pass (no sink) finds the width of the widest selected line
// without its trailing blanks, which commands 8 and 9 pad against: the
// filter runs one over the input first and gives its Widest() to the
// rewriting pass in TLineEngineSettings::Widest. A rewriting pass puts the
// new text to its sink.
//
// Feed the input in chunks of any size, then call Finish once. Whatever the
// sink throws passes through; the engine is then of no further use.
template <typename TEncoding>
class TLineEngine {
 public:
  using TUnit = typename TEncoding::TUnit;

  // A measuring pass.
  explicit TLineEngine(const TLineEngineSettings& Settings);
  // A rewriting pass; Sink must outlive the engine's last call.
  TLineEngine(const TLineEngineSettings& Settings, TLineSink<TUnit>& Sink);
  TLineEngine(const TLineEngine&) = delete;
  TLineEngine& operator=(const TLineEngine&) = delete;

  void Feed(const TUnit* Units, size_t Count);
  // The end of the input: completes the last line.
  void Finish();

  // After Finish. The widest selected line without its trailing blanks (in
  // a rewriting pass of command 8 or 9 too, before padding).
  uint64_t Widest() const { return FWidest; }
  // Some line's units changed (a rewriting pass).
  bool Changed() const { return FChanged; }
  // Lines of the input, selected or not.
  uint64_t Lines() const { return FLine - FLineBefore; }

  // Width of Units, taken as one line without its break.
  static uint64_t Width(const TUnit* Units, size_t Count, int32_t TabWidth);

  // Units of a run of blanks held across chunks, so that the common short
  // runs are never read again from the input.
  static constexpr size_t WindowUnits = 1024 / sizeof(TUnit);

 private:
  static constexpr size_t StageUnits = 8192 / sizeof(TUnit);
  // The walks over every line (MeasureLines, PadLines, TrimLines) take
  // steps of 64 bytes; a line as long as LongLine units without a break is
  // left to ScanContent, which then does not read its units twice.
  static constexpr size_t StepUnits = 64 / sizeof(TUnit);
  static constexpr size_t LongLine = 4096;
  static constexpr size_t MaxCharUnits = 4;

  // What is done with the current line.
  enum TPhase : uint8_t {
    phPass,     // copied up to its break (not selected, or no rewrite)
    phIndent,   // commands 1 to 6: in the indent
    phRest,     // commands 1 to 6: after the indent, copied
    phContent,  // commands 7 to 9, measuring: up to the break, blanks held back
  };
  // The display width of a line so far and its code page 932 column, tabs
  // expanded.
  struct TColumns {
    uint64_t Width = 0;
    uint64_t Column = 0;
  };

  // The indent of the current line (commands 1 to 6): the half-width
  // spaces it comes to, its code page 932 column (modulo the tab width
  // unless that is a power of two), its blanks by kind, and what tells
  // whether it has the form the command gives.
  struct TIndent {
    uint64_t Spaces = 0;
    uint64_t Blanks = 0;
    uint64_t Tabs = 0;
    uint64_t FullWidth = 0;
    uint64_t SpacesAfterTab = 0;  // spaces since the last tab
    uint32_t Column = 0;
    uint8_t Last = 0;      // kind of the last blank
    uint8_t Unpaired = 0;  // command 5: the blank waiting for its pair
    bool Halved = false;   // command 5 wrote one blank of a pair
  };
  // The blanks held back in the current line (commands 7 to 9, measuring):
  // they start at Offset and run to where the engine is; their width, count
  // and kinds; and, while they fit, their units before the current run.
  struct THeld {
    uint64_t Offset = 0;
    uint64_t Width = 0;
    uint64_t Blanks = 0;
    uint8_t Kinds = 0;  // a bit per blank kind
    bool WindowFull = false;
    size_t Windowed = 0;
  };


  void Run(const TUnit* Begin, const TUnit* End, uint64_t Offset);
  QUILLET_LINE_STEP void OpenLine(const TUnit* P);
  QUILLET_LINE_STEP const TUnit* CopyToBreak(const TUnit* P, const TUnit* End);
  QUILLET_LINE_STEP const TUnit* EndLine(const TUnit* Break, const TUnit* End);
  QUILLET_LINE_STEP void CloseLine();
  template <bool PowerOfTwo>
  QUILLET_LINE_STEP const TUnit* CountIndent(const TUnit* P, const TUnit* End, const TUnit* Limit,
                                             TIndent& Indent) const;
  template <uint8_t Command, bool PowerOfTwo = false>
  const TUnit* ScanIndent(const TUnit* P, const TUnit* End);
  QUILLET_LINE_STEP void EndIndent(const TUnit* P);
  QUILLET_LINE_STEP const TUnit* ScanContent(const TUnit* P, const TUnit* End);
  const TUnit* MeasureLines(const TUnit* P, const TUnit* End);
  const TUnit* PadLines(const TUnit* P, const TUnit* End);
  const TUnit* TrimLines(const TUnit* P, const TUnit* End);
  template <bool Popcount>
  QUILLET_LINE_STEP const TUnit* MeasureLinesBy(const TUnit* P, const TUnit* End);
  template <bool Popcount>
  QUILLET_LINE_STEP const TUnit* PadLinesBy(const TUnit* P, const TUnit* End);
  QUILLET_POPCOUNT_TARGET const TUnit* MeasureLinesByPopcount(const TUnit* P, const TUnit* End);
  QUILLET_POPCOUNT_TARGET const TUnit* PadLinesByPopcount(const TUnit* P, const TUnit* End);
  QUILLET_LINE_STEP const TUnit* PadLine(const TUnit* Line, const TUnit* Blanks, const TUnit* Break,
                                         const TUnit* End, uint64_t Width);
  QUILLET_LINE_STEP const TUnit* WholeLine(const TUnit* P, const TUnit* Break, const TUnit* End);
  template <bool Measure>
  void CountBlanks(const TUnit* From, const TUnit* To, THeld& Held);
  QUILLET_LINE_STEP void AddBlank(uint8_t Kind, uint64_t FullWidthColumns, uint64_t& Column,
                                  uint64_t& Width) const;
  QUILLET_LINE_STEP void MeasureStart(const TUnit* P, const TUnit* End, const TUnit* Limit,
                                      uint64_t& Width) const;
  QUILLET_LINE_STEP void KeepHeldBlanks(const TUnit* P);
  QUILLET_LINE_STEP void EndContent(uint64_t Width, bool Blanks, const THeld& Held,
                                    const TUnit* HeldHere, const TUnit* Break);
  uint64_t OffsetOf(const TUnit* P) const { return FOffset + static_cast<uint64_t>(P - FBegin); }
  QUILLET_LINE_STEP bool Selects(uint64_t Line);

  // Output: units of the current run are copied in merged ranges, new units
  // gathered in the stage.
  QUILLET_LINE_STEP void Copy(const TUnit* From, const TUnit* To);
  void Write(const TUnit* Units, size_t Count);
  QUILLET_LINE_STEP TUnit* Room(size_t Count);
  void WriteBlank(uint8_t Kind, uint64_t Count);
  QUILLET_LINE_STEP void FillBlanks(TUnit* To, uint8_t Kind, size_t Count);
  QUILLET_LINE_STEP uint64_t Padding(uint64_t Width) const;
  void FlushCopy();
  void Drain();

  // Settings.
  TLineSink<TUnit>* FSink;
  uint8_t FCommand;
  uint32_t FTabWidth;
  bool FReport;
  bool FMeasures;  // line widths are needed: a measuring pass, or padding
  bool FPowerOfTwo;  // the tab width is one
  TPhase FSelectedPhase;  // what is done with a selected line
  uint32_t FFullWidthColumns;  // code page 932 bytes of U+3000
  // The units of each blank kind (and some after them, to copy in one go).
  TUnit FBlankUnits[4][MaxCharUnits] = {};
  uint64_t FWidestIn;
  uint64_t FPaddingStop;  // command 9: the tab stop it pads to, by number
  std::vector<TLineRange> FRanges;  // sorted by First
  size_t FNextRange = 0;

  // Where the engine is.
  uint64_t FFed = 0;              // units fed so far
  const TUnit* FBegin = nullptr;  // the run being worked on, from offset FOffset
  uint64_t FOffset = 0;
  TUnit FCarry[MaxCharUnits] = {};  // a character cut by the end of a chunk
  size_t FCarried = 0;
  bool FAll;  // every line is selected
  uint64_t FLineBefore = 0;  // the number of the line before the input's first
  uint64_t FLine = 0;        // the current line, or the last one when none is open
  // Where the current line starts: in the current run, or before it at
  // FLineOffset (FLineBegin then null).
  const TUnit* FLineBegin = nullptr;
  uint64_t FLineOffset = 0;
  bool FLineOpen = false;
  bool FAfterCR = false;  // the last unit was a CR that ended a line
  TPhase FPhase = phPass;
  uint8_t FKinds = 0;  // what changes in the current line
  bool FChanged = false;
  uint64_t FWidest = 0;

  TIndent FIndent;
  TColumns FColumns;  // of the content up to the blanks held back
  THeld FHeld;
  TUnit FWindow[WindowUnits];

  // Output.
  const TUnit* FCopyBegin = nullptr;
  const TUnit* FCopyEnd = nullptr;
  size_t FStaged = 0;
  TUnit FStage[StageUnits + 16];  // 16: the overhang of a fill's last store
};

extern template class TLineEngine<TUtf16Text>;
extern template class TLineEngine<TUtf8Bytes>;
extern template class TLineEngine<TUtf16LEBytes>;
extern template class TLineEngine<TUtf16BEBytes>;
extern template class TLineEngine<TCp932Bytes>;

}  // namespace quillet
