// One input of the command-line filter taken through its passes a block at
// a time (tools/LineBlocks.h), so that memory stays bounded whatever the
// input's size and line lengths: the check (the encoding decided and
// validated, and for commands 8 and 9 the widest line measured), then the
// run. The line commands go through the line engine (transforms/
// LineEngine.h) in the input's own encoding, and every byte that a command
// does not rewrite is copied as it was. The character-class conversions
// decode, convert and encode each block: they look at one character at a
// time, or at a kana and its sound mark, which a block never parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <vector>

#include "StringUnit/LineBreaks.h"
#include "tools/FileIO.h"
#include "tools/LineBlocks.h"
#include "tools/TextEncoding.h"
#include "transforms/LineEngine.h"

namespace quillet {

// What the filter does to a text: one line command of the menu or one
// character-class conversion.
struct TTransform {
  bool IsConversion = false;
  uint8_t Id = 0;  // the line command, or the TCharClassConversion kind
};

// Where the output of a pass goes, in order. The byte-order mark comes first.
class TByteSink {
 public:
  virtual ~TByteSink() = default;
  // 0 or errno.
  virtual int Write(std::string_view Bytes) = 0;
  // Forgets everything written so far: the pass starts again from the start.
  virtual void Discard() {}
};

// What changes in a line: TLineChangeKind bits of the line commands, or
// lkCharacters for the character-class conversions.
constexpr uint8_t lkCharacters = 8;

// Hears of each line that a pass changes, in order.
class TChangeReport {
 public:
  virtual ~TChangeReport() = default;
  // Line: 1-based; Kinds: what changes there.
  virtual void LineChanged(uint64_t Line, uint8_t Kinds) = 0;
};

// How a pass treats the text.
struct TFilterSettings {
  TTransform Transform;
  TEncoding Requested = TEncoding::Auto;
  size_t BlockSize = size_t{1} << 20;  // the bytes read at a time
  int32_t TabWidth = 4;
  std::vector<TLineRange> Lines;  // the lines rewritten; empty: every line
};

enum class TFilterOutcome : uint8_t {
  Done,
  ReadError,    // Error: reading the input failed
  WriteError,   // Error: the sink failed
  Invalid,      // Offset: the first byte that decodes to no character
  Binary,       // Offset: a NUL in an input read with auto and without a mark
  MarkConflict, // Mark: the input's byte-order mark is not the requested encoding's
  MissingMark,  // UTF-16 of either byte order was asked for, and no UTF-16 mark starts the input
  Unencodable,  // a character of the result has no form in the encoding
};

// Why an input read with auto and without a mark is taken to be invalid in
// the encoding that it is.
enum class TGuessNote : uint8_t {
  None,
  Utf8Before,    // invalid UTF-8 after UTF-8 characters: not read as CP932
  MostlyUtf8,    // invalid UTF-8, mostly UTF-8, and invalid CP932 too
  NotUtf8Either, // invalid CP932, and not UTF-8 either
};

struct TFilterResult {
  TFilterOutcome Outcome = TFilterOutcome::Done;
  int Error = 0;
  uint64_t Offset = 0;
  bool Changed = false;  // some block's text changed
  TEncoding Mark = TEncoding::Auto;
  TGuessNote Note = TGuessNote::None;
};

// Where an offset lies in a text: its line and the character of the line
// that starts there, both from 1.
struct TTextPosition {
  uint64_t Line = 1;
  uint64_t Column = 1;
};

class TBlockFilter {
 public:
  TBlockFilter(TInput& Input, const TFilterSettings& Settings);

  // Reads the byte-order mark, refusing one that contradicts the requested
  // encoding, and with auto and no mark looks at where the zero bytes of the
  // start lie: none, text in a byte encoding; UTF-16 text, UTF-16 of that
  // byte order; else binary data, refused. Needed before the passes.
  TFilterResult Start();

  // A pass that writes nothing: every byte decodes, and for commands 8 and 9
  // the widest line is measured. With auto and no mark, no NUL may occur
  // anywhere, and the pass decides between UTF-8 and CP932: valid UTF-8 is
  // UTF-8, and so is input whose first invalid UTF-8 byte comes after some
  // UTF-8 character; any other is CP932, and if it is invalid CP932 too, it
  // is reported as UTF-8 when it is mostly UTF-8.
  TFilterResult Check();

  // Transforms the input and writes the result to Sink (none: nothing is
  // written), each changed line to Report (none: not asked). With
  // StopAtChange, stops at the first change. Commands 8 and 9 run Check
  // first when it has not run; the others check as they go, and an input
  // that proves not to be UTF-8 is checked as Check does and run again after
  // Sink->Discard(). Changed tells whether the result differs from the
  // input.
  TFilterResult Run(TByteSink* Sink, TChangeReport* Report, bool StopAtChange = false);

  // The encoding in use: Auto is resolved by Start, and between UTF-8 and
  // CP932 by a complete Check.
  TEncoding Encoding() const { return Encoding_; }
  // Where the byte at Offset of the input lies, in the encoding in use; the
  // bytes before it must decode.
  int Locate(uint64_t Offset, TTextPosition& Position);
  // Offset of the first CP932 character that a character-class conversion
  // would write back in another byte form; NoError when there is none, or
  // none found yet. Known after a complete Check, or a complete Run without
  // StopAtChange. The line commands copy every byte they do not rewrite, so
  // for them there is none.
  uint64_t RoundTripLoss() const { return LossOffset_; }

 private:
  bool Pads() const;
  TFilterResult CheckOnce();
  // The check of bytes alone (every encoding, every transform but a
  // character-class conversion of CP932, which needs the characters).
  TFilterResult CheckBytes();
  uint64_t FindMiddleBreak();
  TFilterResult RunLines(TByteSink* Sink, TChangeReport* Report, bool StopAtChange);
  TFilterResult RunConversion(TByteSink* Sink, TChangeReport* Report, bool StopAtChange);
  // Text becomes the characters of Block, the block at Offset; notes the
  // first round-trip loss.
  TFilterResult Decode(std::string_view Block, uint64_t Offset, String& Text);
  // The first of an invalid byte at Invalid (NoError: none) and a refused NUL
  // in Block, the block at Offset.
  TFilterResult FirstFault(std::string_view Block, uint64_t Offset, size_t Invalid) const;
  // Whether a byte above ASCII comes before End (after the mark).
  bool HoldsNonAscii(uint64_t End, int& Error);
  // Whether the input has more UTF-8 characters than stray bytes.
  bool MostlyUtf8(int& Error);
  // What an input read with auto and without a mark is when AsUtf8, the
  // first invalid UTF-8 byte, has been found: the result of checking it as
  // CP932, or AsUtf8 with a note.
  TFilterResult NotUtf8(TFilterResult AsUtf8);
  // Result, the outcome of a complete check; records what it found.
  TFilterResult Checked(const TFilterResult& Result);

  TInput& Input_;
  const TFilterSettings Settings_;
  TEncoding Encoding_;
  std::string Bom_;
  bool Guessed_ = false;     // unmarked auto input, taken as UTF-8 until proven otherwise
  bool RefusesNul_ = false;  // unmarked auto input: a NUL byte or unit makes it binary
  bool Checked_ = false;     // a complete Check has run: LossOffset_ and Widest_ hold
  uint64_t LossOffset_ = NoError;
  uint64_t Widest_ = 0;  // commands 8 and 9, after Check: the widest selected trimmed line
};

}  // namespace quillet
