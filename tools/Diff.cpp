#include "tools/Diff.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace quillet {

namespace {

constexpr size_t Context = 3;
constexpr size_t ReadChunk = size_t{64} << 10;
constexpr std::string_view NoNewline = "\n\\ No newline at end of file\n";

}  // namespace

int TSpill::Append(std::string_view Bytes) {
  Size_ += Bytes.size();
  if (!File_.Valid() && Memory_.size() + Bytes.size() <= MemoryLimit) {
    Memory_.append(Bytes);
    return 0;
  }
  if (!File_.Valid()) {
    if (const int Error = OpenScratchFile(File_)) return Error;
    if (const int Error = WriteAll(File_.Get(), Memory_)) return Error;
    Memory_.clear();
    Memory_.shrink_to_fit();
  }
  return WriteAll(File_.Get(), Bytes);
}

int TSpill::Read(const std::function<int(std::string_view)>& Take) const {
  if (!File_.Valid()) return Take(Memory_);
  std::string Buffer(ReadChunk, '\0');
  for (uint64_t Offset = 0; Offset < Size_;) {
    const ssize_t Count = pread(File_.Get(), Buffer.data(), Buffer.size(), static_cast<off_t>(Offset));
    if (Count < 0 && errno == EINTR) continue;
    if (Count <= 0) return Count < 0 ? errno : EIO;
    if (const int Error = Take(std::string_view(Buffer.data(), static_cast<size_t>(Count)))) {
      return Error;
    }
    Offset += static_cast<uint64_t>(Count);
  }
  return 0;
}

int TSpill::CopyTo(int Fd) const {
  return Read([Fd](std::string_view Bytes) { return WriteAll(Fd, Bytes); });
}

int TSpill::AppendTo(TSpill& To) const {
  return Read([&To](std::string_view Bytes) { return To.Append(Bytes); });
}

void TSpill::Clear() {
  Memory_.clear();
  File_.Reset();
  Size_ = 0;
}

TDiffWriter::TDiffWriter(TInput& Input, std::string Label, int Out)
    : Input_(Input), Label_(std::move(Label)), Out_(Out) {}

int TDiffWriter::ReadInput(uint64_t Offset, char* Into, size_t Size, size_t& Count) {
  return Input_.ReadAt(Offset, Into, Size, Count);
}

int TDiffWriter::Write(std::string_view Bytes) {
  while (!Bytes.empty()) {
    const size_t Lf = Bytes.find('\n');
    const size_t Take = Lf == std::string_view::npos ? Bytes.size() : Lf + 1;
    const std::string_view Piece = Bytes.substr(0, Take);
    // Compared with the old bytes at the same place while they match.
    for (size_t Done = 0; Same_ && Done < Piece.size();) {
      if (Compare_.size() < ReadChunk) Compare_.resize(ReadChunk);
      size_t Count = 0;
      const size_t Want = std::min(Piece.size() - Done, ReadChunk);
      if (const int Error = ReadInput(OldStart_ + NewLine_.size() + Done, Compare_.data(), Want, Count)) {
        return Error;
      }
      Same_ = Count == Want && std::memcmp(Compare_.data(), Piece.data() + Done, Count) == 0;
      Done += Count;
    }
    NewLine_.append(Piece);
    Bytes.remove_prefix(Take);
    if (Lf != std::string_view::npos) {
      if (const int Error = EndLine(false)) return Error;
    }
  }
  return 0;
}

int TDiffWriter::OldLine(uint64_t Offset, TRange& Line) {
  Line = {Offset, 0};
  if (Compare_.size() < ReadChunk) Compare_.resize(ReadChunk);
  for (;;) {
    size_t Count = 0;
    if (const int Error = ReadInput(Offset + Line.Size, Compare_.data(), ReadChunk, Count)) return Error;
    if (Count == 0) return 0;
    const void* Lf = std::memchr(Compare_.data(), '\n', Count);
    if (Lf) {
      Line.Size += static_cast<uint64_t>(static_cast<const char*>(Lf) - Compare_.data()) + 1;
      return 0;
    }
    Line.Size += Count;
  }
}

int TDiffWriter::AppendOld(TSpill& To, char Prefix, TRange Line) {
  // A range may hold several lines (a run of changed ones): each gets the
  // prefix.
  bool LineStart = true;
  char Last = '\n';
  std::string Buffer(static_cast<size_t>(std::min<uint64_t>(Line.Size, ReadChunk)), '\0');
  for (uint64_t Done = 0; Done < Line.Size;) {
    size_t Count = 0;
    const auto Want = static_cast<size_t>(std::min<uint64_t>(Buffer.size(), Line.Size - Done));
    if (const int Error = ReadInput(Line.Offset + Done, Buffer.data(), Want, Count)) return Error;
    if (Count == 0) return EIO;  // the input shrank
    std::string_view Read(Buffer.data(), Count);
    while (!Read.empty()) {
      if (LineStart) {
        if (const int Error = To.Append(std::string_view(&Prefix, 1))) return Error;
      }
      const size_t Lf = Read.find('\n');
      const size_t Take = Lf == std::string_view::npos ? Read.size() : Lf + 1;
      if (const int Error = To.Append(Read.substr(0, Take))) return Error;
      LineStart = Lf != std::string_view::npos;
      Last = Read[Take - 1];
      Read.remove_prefix(Take);
    }
    Done += Count;
  }
  return Last == '\n' ? 0 : To.Append(NoNewline);
}

int TDiffWriter::AppendNew(TSpill& To, std::string_view Line) {
  if (const int Error = To.Append("+")) return Error;
  if (const int Error = To.Append(Line)) return Error;
  return !Line.empty() && Line.back() == '\n' ? 0 : To.Append(NoNewline);
}

int TDiffWriter::EndLine(bool AtEnd) {
  TRange Old;
  if (const int Error = OldLine(OldStart_, Old)) return Error;
  // At the end, an old last line of blanks alone may have become nothing:
  // then there is no new line for it.
  const bool NewMissing = AtEnd && NewLine_.empty();
  if (NewMissing && Old.Size == 0) return 0;
  const bool Unchanged = !NewMissing && Same_ && Old.Size == NewLine_.size();
  const uint64_t Number = LineNumber_++;
  OldStart_ = Old.Offset + Old.Size;
  Same_ = true;
  if (Unchanged) {
    NewLine_.clear();
    if (RunLines_ > 0) {
      if (const int Error = FlushRun()) return Error;
    }
    // Kept for context: the last few before a change, or after one the
    // lines that may still join the next change into this hunk.
    const size_t Keep = InHunk_ ? 2 * Context + 1 : Context;
    if (UnchangedCount_ == Keep) {
      std::move(Unchanged_ + 1, Unchanged_ + UnchangedCount_, Unchanged_);
      --UnchangedCount_;
    }
    Unchanged_[UnchangedCount_++] = Old;
    if (InHunk_ && UnchangedCount_ == 2 * Context + 1) return CloseHunk();
    return 0;
  }
  Differs_ = true;
  if (!InHunk_) {
    InHunk_ = true;
    HunkFirst_ = Number - UnchangedCount_;
    HunkOld_ = HunkNew_ = 0;
  }
  for (size_t I = 0; I < UnchangedCount_; ++I) {
    if (const int Error = AppendOld(Body_, ' ', Unchanged_[I])) return Error;
    ++HunkOld_;
    ++HunkNew_;
  }
  UnchangedCount_ = 0;
  if (RunLines_ == 0) RunOld_ = {Old.Offset, 0};
  RunOld_.Size += Old.Size;
  ++RunLines_;
  if (NewMissing) return 0;
  ++RunNewLines_;
  const int Error = AppendNew(RunNew_, NewLine_);
  NewLine_.clear();
  return Error;
}

int TDiffWriter::FlushRun() {
  if (const int Error = AppendOld(Body_, '-', RunOld_)) return Error;
  HunkOld_ += RunLines_;
  HunkNew_ += RunNewLines_;
  RunNewLines_ = 0;
  if (const int Error = RunNew_.AppendTo(Body_)) return Error;
  RunNew_.Clear();
  RunLines_ = 0;
  return 0;
}

int TDiffWriter::CloseHunk() {
  if (RunLines_ > 0) {
    if (const int Error = FlushRun()) return Error;
  }
  // The first unchanged lines after the last change end the hunk; the last
  // ones may open the next.
  const size_t Trailing = std::min(UnchangedCount_, Context);
  for (size_t I = 0; I < Trailing; ++I) {
    if (const int Error = AppendOld(Body_, ' ', Unchanged_[I])) return Error;
    ++HunkOld_;
    ++HunkNew_;
  }
  const size_t Left = UnchangedCount_ - Trailing;
  const size_t Kept = std::min(Left, Context);
  std::move(Unchanged_ + UnchangedCount_ - Kept, Unchanged_ + UnchangedCount_, Unchanged_);
  UnchangedCount_ = Kept;
  std::string Header;
  if (!Headed_) {
    Header = "--- " + Label_ + "\n+++ " + Label_ + "\n";
    Headed_ = true;
  }
  // A side without lines names the line before them.
  const auto Range = [this](uint64_t Lines) {
    return std::to_string(Lines == 0 ? HunkFirst_ - 1 : HunkFirst_) + "," + std::to_string(Lines);
  };
  Header += "@@ -" + Range(HunkOld_) + " +" + Range(HunkNew_) + " @@\n";
  if (const int Error = WriteAll(Out_, Header)) return Error;
  if (const int Error = Body_.CopyTo(Out_)) return Error;
  Body_.Clear();
  InHunk_ = false;
  return 0;
}

int TDiffWriter::Finish() {
  if (const int Error = EndLine(true)) return Error;
  return InHunk_ ? CloseHunk() : 0;
}

}  // namespace quillet
