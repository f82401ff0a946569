// One input of the command-line filter taken through decode, transform and
// encode a block of whole lines at a time (see tools/LineBlocks.h), giving
// byte for byte what the same steps give on the whole text at once. The
// line commands rewrite UTF-8 blocks without decoding them
// (tools/Utf8Lines.h), and the passes that need no decoding work on two
// blocks at a time, on two threads.
//
// Every transform works on each line alone, except that commands 8 and 9 pad
// against the widest line of the whole text: a first pass (Check) measures
// it, and the blocks are then padded against that width. The character-class
// conversions look at one character at a time, or at a kana and its sound
// mark, never across a line break.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "StringUnit/LineBreaks.h"
#include "tools/FileIO.h"
#include "tools/LineBlocks.h"
#include "tools/TextEncoding.h"

namespace quillet {

// What the filter does to a text: one line command of the menu or one
// character-class conversion.
struct TTransform {
  bool IsConversion = false;
  uint8_t Id = 0;  // the line command, or the TCharClassConversion kind
};

// The transform of a whole text at once, which the block-wise passes
// reproduce.
String ApplyTransform(const TTransform& Transform, StringView Text);

// Where the output of a pass goes, one block at a time, in input order.
class TBlockSink {
 public:
  virtual ~TBlockSink() = default;
  // Output stands for the input bytes Original, which start at Offset in the
  // input (the byte-order mark comes as a block of its own); unless Changed,
  // Output is Original. 0 or errno.
  virtual int Put(uint64_t Offset, std::string_view Original, std::string_view Output,
                  bool Changed) = 0;
  // Forgets everything put so far: the pass starts again from offset 0.
  virtual void Discard() = 0;
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
  // BlockSize: the bytes read at a time, which a block holds at least.
  TBlockFilter(TInput& Input, const TTransform& Transform, TEncoding Requested, size_t BlockSize);

  // Reads the byte-order mark, refusing one that contradicts the requested
  // encoding, or its absence when that is UTF-16 of either byte order, and with auto and no mark looks at where the zero bytes of the
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

  // Decodes, transforms and encodes every block, and hands each to Sink
  // (none: a dry run). With StopAtChange, stops at the first block that
  // changes. Commands 8 and 9 run Check first when it has not run; the
  // others check as they go, and an input that proves not to be UTF-8 is
  // checked as Check does and run again after Sink->Discard().
  TFilterResult Run(TBlockSink* Sink, bool StopAtChange);

  // The encoding in use: Auto is resolved by Start, and between UTF-8 and
  // CP932 by a complete Check.
  TEncoding Encoding() const { return Encoding_; }
  // Where the byte at Offset of the input lies, in the encoding in use; the
  // bytes before it must decode.
  int Locate(uint64_t Offset, TTextPosition& Position);
  // Offset of the first CP932 character that would be written back in
  // another byte form; NoError when there is none, or none found yet. Known
  // after a complete Check, or a complete Run without StopAtChange.
  uint64_t RoundTripLoss() const { return LossOffset_; }

 private:
  bool Pads() const;
  TFilterResult CheckOnce();
  // The check of an input that needs no decoding: UTF-8, or an encoding
  // other than CP932 that is only validated.
  TFilterResult CheckBytes();
  uint64_t FindMiddleBreak();
  void PreparePadding();
  TFilterResult RunOnce(TBlockSink* Sink, bool StopAtChange);
  // RunOnce for a line command on UTF-8 input (tools/Utf8Lines.h).
  TFilterResult RunUtf8(TLineBlockReader& Blocks, TBlockSink* Sink, bool StopAtChange);
  // Text becomes Prefix and the characters of Block, the block at Offset;
  // notes the first round-trip loss.
  TFilterResult Decode(std::string_view Block, uint64_t Offset, StringView Prefix, String& Text);
  // The first of an invalid byte at Invalid (NoError: none) and a refused NUL
  // in Block, the block at Offset.
  TFilterResult FirstFault(std::string_view Block, uint64_t Offset, size_t Invalid) const;
  // Whether a byte above ASCII comes before End (after the mark).
  bool HoldsNonAscii(uint64_t End, int& Error);
  // What an input read with auto and without a mark is when AsUtf8, the
  // first invalid UTF-8 byte, has been found: the result of checking it as
  // CP932, or AsUtf8 with a note.
  TFilterResult NotUtf8(TFilterResult AsUtf8);
  // Result, the outcome of a complete check; records what it found.
  TFilterResult Checked(const TFilterResult& Result);
  // Whether the input has more UTF-8 characters than stray bytes.
  bool MostlyUtf8(int& Error);

  TInput& Input_;
  const TTransform Transform_;
  const TEncoding Requested_;
  const size_t BlockSize_;
  TEncoding Encoding_;
  std::string Bom_;
  bool Guessed_ = false;     // unmarked auto input, taken as UTF-8 until proven otherwise
  bool RefusesNul_ = false;  // unmarked auto input: a NUL byte or unit makes it binary
  bool Checked_ = false;  // a complete Check has run: LossOffset_ and Longest_ hold
  uint64_t LossOffset_ = NoError;
  // Commands 8 and 9, after Check: the width of the widest trimmed line, the
  // number of lines and of units (of bytes for UTF-8), a line Longest_ wide
  // with its break, and the bytes to read at a time for the padded blocks.
  int32_t Longest_ = 0;
  uint64_t Lines_ = 0;
  uint64_t Units_ = 0;
  String WidestLine_;
  size_t PadReadSize_ = 0;
};

}  // namespace quillet
