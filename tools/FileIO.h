// File input and output for the command-line filter. Every function returns
// 0 or the errno value of the failure, so that callers can name the file in
// their message.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace quillet {

// All of Bytes to Fd, retrying short writes.
int WriteAll(int Fd, std::string_view Bytes);

// A file descriptor, closed when it goes.
class TFd {
 public:
  TFd() = default;
  explicit TFd(int Fd) : Fd_(Fd) {}
  ~TFd() { Reset(); }
  TFd(TFd&& Other) noexcept : Fd_(Other.Release()) {}
  TFd& operator=(TFd&& Other) noexcept {
    if (this != &Other) Reset(Other.Release());
    return *this;
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;

  int Get() const { return Fd_; }
  bool Valid() const { return Fd_ >= 0; }
  int Release() {
    const int Fd = Fd_;
    Fd_ = -1;
    return Fd;
  }
  void Reset(int Fd = -1);

 private:
  int Fd_ = -1;
};

// Device and inode: what names one file whatever path leads to it.
struct TFileId {
  dev_t Device = 0;
  ino_t Inode = 0;
  static TFileId Of(const struct stat& Info) { return {Info.st_dev, Info.st_ino}; }
  bool operator==(const TFileId&) const = default;
};

// An unnamed file for scratch data in $TMPDIR (or /tmp), gone when closed.
int OpenScratchFile(TFd& File);

// An input that can be read at any offset, as often as needed, from several
// threads at once.
// - A regular file is read in place, and only up to the size that it had
//   when it was opened: what is appended to it meanwhile (its own output,
//   say) is not read.
// - Anything else (a pipe, a terminal, a device) is read as far as the
//   readers ask, and what has been read is kept in a scratch file, so that
//   memory does not grow with the input.
class TInput {
 public:
  TInput() = default;
  TInput(const TInput&) = delete;
  TInput& operator=(const TInput&) = delete;

  // The file at Path; EISDIR for a directory.
  int OpenFile(const std::string& Path);
  // Standard input, from its current offset when it is a regular file. It
  // stays open.
  int OpenStdin();
  // Fd, an open regular file.
  int Adopt(TFd Fd);

  // Reads up to Size bytes from Offset (counted from where the input starts)
  // into Into and sets Count to their number, 0 at the end of the input.
  int ReadAt(uint64_t Offset, char* Into, size_t Size, size_t& Count);
  // The bytes of a regular file as it was opened; of anything else, the
  // bytes read from it so far.
  uint64_t Size() const;
  // The input is a regular file read in place; Status() is the file as it
  // was opened.
  bool IsRegular() const { return !Spooled_; }
  const struct stat& Status() const { return Opened_; }
  int Fd() const { return Fd_; }

  // Whether a regular file has changed since it was opened, so that passes
  // over it may have read different texts: its size, modification time or
  // status-change time differ. Other inputs never change.
  bool Changed() const;

 private:
  int Start(int Fd);
  // Reads the source into the scratch file until it holds Until bytes or the
  // source ends. Called with Lock_ held.
  int Pull(uint64_t Until);

  TFd Owned_;
  int Fd_ = -1;
  off_t Base_ = 0;           // where the input starts in a regular file
  struct stat Opened_ = {};  // the input as it was when opened
  bool Spooled_ = false;
  // A spooled input: the scratch file, the bytes it holds, the source's end.
  mutable std::mutex Lock_;
  TFd Scratch_;
  uint64_t Held_ = 0;
  bool SourceEnded_ = false;
  std::string PullBuffer_;
};

}  // namespace quillet
