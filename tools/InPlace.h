// Rewriting a file in place without trusting its path twice.
//
// The path is looked up once, one component at a time: every folder on the
// way is opened, every symbolic link read and followed by hand, so that the
// file found is a directory entry (a folder handle and a name) and not a
// path. The file is opened from that entry, and everything after works from
// the open file and the folder handle: the new content goes into an unnamed
// file in the same folder, takes over the old file's owner, group, mode,
// ACL and extended attributes, and is then swapped with the old file's
// entry in one step (renameat2 with RENAME_EXCHANGE). What the swap took
// away must be the file that was read; anything else is swapped back. A
// symbolic link or folder exchanged on the path meanwhile cannot redirect the
// write.
//
// Only regular files are rewritten, and only those with one name: a second
// hard link would keep the old text.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "tools/FileIO.h"

namespace quillet {

// Why a step failed: an errno value (0 for none), and when it is not plain
// failure to read or write, a message that says what would have been lost
// or why the file is not rewritten.
struct TFileProblem {
  int Error = 0;
  std::string Message;
  explicit operator bool() const { return Error != 0 || !Message.empty(); }
};

// The regular file that a path leads to, opened once.
class TRewriteTarget {
 public:
  TRewriteTarget() = default;
  TRewriteTarget(const TRewriteTarget&) = delete;
  TRewriteTarget& operator=(const TRewriteTarget&) = delete;

  // Finds and opens the file; symbolic links on the way, the last one
  // included, are followed. Refuses directories, anything but a regular
  // file, files under /proc or /sys, and files with more than one hard link.
  TFileProblem Open(const std::string& Path);

  // The file opened for reading; taken by the input that reads it.
  TFd TakeFile() { return std::move(File_); }
  int Folder() const { return Folder_.Get(); }
  const std::string& Name() const { return Name_; }
  // The file as it was found.
  const struct stat& Status() const { return Status_; }

 private:
  TFd Folder_;
  std::string Name_;
  TFd File_;
  struct stat Status_ = {};
};

// A new content for the file of a TRewriteTarget, which must outlive it. A
// replacement that is not committed, or whose Commit fails, leaves the file
// as it was and leaves no file behind.
class TFileReplacement {
 public:
  // Input: the open file that was read (the target's, taken).
  TFileReplacement(const TRewriteTarget& Target, int Input) : Target_(Target), Input_(Input) {}
  ~TFileReplacement() { Discard(); }
  TFileReplacement(const TFileReplacement&) = delete;
  TFileReplacement& operator=(const TFileReplacement&) = delete;

  // Creates the new file, unnamed, in the target's folder.
  int Begin();
  bool Begun() const { return File_.Valid(); }
  // Appends Bytes to the new content; needs Begin.
  int Write(std::string_view Bytes);
  // Syncs the new content, gives it the old file's owner, group, mode, ACL
  // and extended attributes, and puts it in place of the old file.
  TFileProblem Commit();
  // Drops the new content; nothing when there is none.
  void Discard();

 private:
  TFileProblem CopyAttributes();
  TFileProblem Exchange();

  const TRewriteTarget& Target_;
  const int Input_;
  TFd File_;
  std::string TempName_;  // the new file's name in the folder; empty while unnamed
};

// From now on SIGINT, SIGTERM, SIGHUP and SIGQUIT remove a named temporary
// file of a replacement before they end the process as they would have.
void RemoveTemporaryFilesOnSignals();

}  // namespace quillet
