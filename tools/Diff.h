// A unified diff of what a pass changes in one input, written as the pass
// goes, in bounded memory.
//
// Lines are what patch takes them to be: the bytes up to and including each
// LF (a CR LF line ends in CR LF, a lone CR is part of its line), in the
// input's own encoding, so that `patch -p0` applied where the filter ran
// gives the bytes that -i gives. A pass keeps every line break where it was,
// so line N of the result stands for line N of the input. Hunks have three
// lines of context; hunks closer than that are one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "tools/BlockFilter.h"
#include "tools/FileIO.h"

namespace quillet {

// Bytes kept in memory up to a size, and beyond it in a scratch file.
class TSpill {
 public:
  int Append(std::string_view Bytes);
  // The bytes from the start, to Fd, or to the end of To; 0 or errno.
  int CopyTo(int Fd) const;
  int AppendTo(TSpill& To) const;
  void Clear();
  uint64_t Size() const { return Size_; }

 private:
  static constexpr size_t MemoryLimit = size_t{4} << 20;
  // Hands the bytes to Take a piece at a time; its first error stops it.
  int Read(const std::function<int(std::string_view)>& Take) const;
  std::string Memory_;
  TFd File_;
  uint64_t Size_ = 0;
};

class TDiffWriter final : public TByteSink {
 public:
  // The old text is Input, from its start (the byte-order mark included);
  // Label names the file in the --- and +++ lines; the diff goes to Out.
  TDiffWriter(TInput& Input, std::string Label, int Out);

  // The new text, in order.
  int Write(std::string_view Bytes) override;
  // After the pass: the last line and hunk.
  int Finish();
  // Some line differs.
  bool Differs() const { return Differs_; }

 private:
  struct TRange {
    uint64_t Offset = 0;
    uint64_t Size = 0;
  };

  int EndLine(bool AtEnd);
  // The old line that starts at Offset: up to its LF, or the input's end.
  int OldLine(uint64_t Offset, TRange& Line);
  int AppendOld(TSpill& To, char Prefix, TRange Line);
  int AppendNew(TSpill& To, std::string_view Line);
  int FlushRun();
  int CloseHunk();
  int ReadInput(uint64_t Offset, char* Into, size_t Size, size_t& Count);

  TInput& Input_;
  const std::string Label_;
  const int Out_;
  bool Differs_ = false;
  bool Headed_ = false;  // the --- and +++ lines are out

  // The line being received: where the old one starts, the new bytes so
  // far, and whether they match the old ones so far.
  uint64_t OldStart_ = 0;
  std::string NewLine_;
  bool Same_ = true;
  std::string Compare_;
  uint64_t LineNumber_ = 1;

  // The hunk being built: its first line and its lines so far, then the
  // changed lines not yet in it (their old bytes, a range of the input, and
  // their new ones), and the unchanged lines after the last change.
  bool InHunk_ = false;
  uint64_t HunkFirst_ = 0;
  uint64_t HunkOld_ = 0;  // its lines on each side
  uint64_t HunkNew_ = 0;
  TSpill Body_;
  TRange RunOld_;
  uint64_t RunLines_ = 0;     // old lines of the run
  uint64_t RunNewLines_ = 0;  // and new: one fewer when the last line became nothing
  TSpill RunNew_;
  TRange Unchanged_[7];
  size_t UnchangedCount_ = 0;
};

}  // namespace quillet
