// An encoded input cut into blocks of whole lines, so that each block can be
// decoded, rewritten and encoded on its own and give exactly the bytes that
// it gives inside the whole text.
//
// A block ends just after a line break: after LF, or after a CR that is not
// followed by LF. A CR at the end of what has been read ends no block until
// the next unit is seen: "a CR" followed by "LF b" is one line ending in CR LF.
// The break units, bytes 0x0D and 0x0A in UTF-8 and CP932 and the code units
// U+000D and U+000A in UTF-16, are part of no other character (UTF-8
// sequences continue with 0x80 to 0xBF, CP932 trail bytes are 0x40 or above,
// surrogates are U+D800 to U+DFFF), so a block also never ends inside a
// character, a surrogate pair or a voiced kana pair. Invalid bytes decode to
// the same error inside a block as in the whole input: no decoder looks past
// a break unit to judge the bytes before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/FileIO.h"
#include "tools/TextEncoding.h"

namespace quillet {

// Length of the longest prefix of Bytes that ends just after a line break
// whose last unit lies at From or later; 0 when there is none. Bytes starts
// at a unit boundary of Encoding (a resolved encoding, never Auto), and From
// lies on one. AtEnd says that nothing follows Bytes: all of it is then whole
// lines, the last perhaps without a break.
size_t FindLinesEnd(std::string_view Bytes, size_t From, TEncoding Encoding, bool AtEnd);

// Length of the longest prefix of Bytes (more than a few characters of
// Encoding, starting at a character) that ends where a character ends and
// another, complete or not, follows; with KeepPairs, also not just before a
// sound mark (U+FF9E, U+FF9F), which the character-class conversions join
// to the kana before it. 0 when there is none. Bytes need not be valid.
size_t FindCharacterCut(std::string_view Bytes, TEncoding Encoding, bool KeepPairs);

// The blocks of an input from a start offset (just after the byte-order
// mark) to its end. A block holds about ReadSize bytes: it ends after the
// last line break in what was read, or, in a line longer than that, where a
// character ends (FindCharacterCut; IsPartial then), so that memory stays
// bounded whatever the line lengths.
class TLineBlockReader {
 public:
  // Reads from Start to the end of the input, or to Stop, which must lie
  // just after a line break.
  TLineBlockReader(TInput& Input, uint64_t Start, TEncoding Encoding, size_t ReadSize,
                   uint64_t Stop = UINT64_MAX, bool KeepPairs = false);

  // The next block, valid until the next call; empty at the end of the input.
  int Next(std::string_view& Block);
  // The same, the block's bytes handed to Owner, where they stay valid after
  // the next call, until Owner is handed another block: Owner and the reader
  // swap buffers, and no block is copied.
  int NextInto(std::string& Owner, std::string_view& Block);
  // Offset in the input of the block that Next gave last.
  uint64_t Offset() const { return Offset_; }
  // The block that Next gave last is all of the input from the start offset.
  bool IsWhole() const { return Offset_ == Start_ && AtEnd_ && Begin_ == Size_; }
  // The block that Next gave last ends inside a line.
  bool IsPartial() const { return Partial_; }

 private:
  // Reads up to ReadSize more bytes after those held; sets AtEnd_ when none
  // come.
  int ReadMore();

  TInput& Input_;
  const uint64_t Start_;
  const TEncoding Encoding_;
  const size_t ReadSize_;
  const uint64_t Stop_;
  const bool KeepPairs_;
  bool Partial_ = false;
  uint64_t Offset_;     // input offset of Buffer_[0], where the last block starts
  std::string Buffer_;  // the last block is [0, Begin_), read ahead [Begin_, Size_)
  size_t Begin_ = 0;
  size_t Size_ = 0;
  bool AtEnd_ = false;
};

}  // namespace quillet
