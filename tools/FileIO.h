// File input and output for the command-line filter. Every function returns
// 0 or the errno value of the failure, so that callers can name the file in
// their message.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillet {

// Appends everything readable from Fd to Bytes, in large reads.
int ReadAll(int Fd, std::string& Bytes);
// All of Bytes to Fd, retrying short writes.
int WriteAll(int Fd, std::string_view Bytes);

// An input that can be read at any offset, as often as needed: a regular
// file is read in place, in pieces; anything else (a pipe, a terminal) is read
// to its end when it is opened and held in memory.
class TInput {
 public:
  TInput() = default;
  ~TInput();
  TInput(const TInput&) = delete;
  TInput& operator=(const TInput&) = delete;

  // The file at Path; EISDIR for a directory.
  int OpenFile(const std::string& Path);
  // Standard input, from its current offset when it is a regular file. It
  // stays open.
  int OpenStdin();

  // Reads up to Size bytes from Offset (counted from where the input starts)
  // into Into and sets Count to their number, 0 at the end of the input.
  // Readers on several threads may call it at once.
  int ReadAt(uint64_t Offset, char* Into, size_t Size, size_t& Count);
  // The bytes of the input as it was opened.
  uint64_t Size() const;

  // Whether a file read in place has changed since it was opened, so that
  // passes over it may have read different texts: its size, modification
  // time or status-change time differ, or Path, when given, names another
  // file now. An input held in memory never changes.
  bool Changed(const std::string* Path = nullptr) const;

 private:
  int Adopt(int Fd, bool Owned);

  int Fd_ = -1;
  bool Owned_ = false;
  bool InMemory_ = false;
  off_t Base_ = 0;           // where the input starts in a regular file
  struct stat Opened_ = {};  // a regular file as it was when opened
  std::string Memory_;
};

// A new content for the file at Path (following symbolic links), written to a
// temporary file in the same folder and renamed over the old file by Commit,
// so that the file changes at once or not at all. A replacement that is not
// committed, or whose Commit fails, leaves the file as it was and removes its
// temporary file.
class TFileReplacement {
 public:
  explicit TFileReplacement(const std::string& Path) : Path_(Path) {}
  ~TFileReplacement() { Discard(); }
  TFileReplacement(const TFileReplacement&) = delete;
  TFileReplacement& operator=(const TFileReplacement&) = delete;

  // Creates the temporary file with the old file's permissions (and owner,
  // where allowed).
  int Begin();
  bool Begun() const { return Fd_ >= 0; }
  // Appends Bytes to the new content; needs Begin.
  int Write(std::string_view Bytes);
  // Syncs the new content and puts it in place of the old.
  int Commit();
  // Drops the new content; nothing when there is none.
  void Discard();

 private:
  std::string Path_;
  std::string Target_;     // Path with its links resolved
  std::string Temporary_;  // the temporary file's path, once created
  int Fd_ = -1;
};

}  // namespace quillet
