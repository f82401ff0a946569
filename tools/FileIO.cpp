#include "tools/FileIO.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace quillet {

namespace {

constexpr size_t ReadChunk = size_t{1} << 20;

// Closes the descriptor on every path.
class TFd {
 public:
  explicit TFd(int Fd) : Fd_(Fd) {}
  ~TFd() {
    if (Fd_ >= 0) close(Fd_);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return Fd_; }
  // Closes now, so that a late write error is seen; 0 or errno.
  int Close() {
    const int Result = close(Fd_) == 0 ? 0 : errno;
    Fd_ = -1;
    return Result;
  }

 private:
  int Fd_;
};

std::string ResolvedPath(const std::string& Path) {
  std::unique_ptr<char, decltype(&free)> Real(realpath(Path.c_str(), nullptr), &free);
  return Real ? std::string(Real.get()) : Path;
}

std::string FolderOf(const std::string& Path) {
  const size_t Slash = Path.rfind('/');
  if (Slash == std::string::npos) return ".";
  return Slash == 0 ? "/" : Path.substr(0, Slash);
}

// The new name must be on disk too for the rename to survive a crash.
void SyncFolder(const std::string& Folder) {
  TFd Dir(open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (Dir.Get() >= 0) fsync(Dir.Get());
}

int WriteTemporary(int Fd, const struct stat& Old, std::string_view Bytes) {
  // Owner first: changing it may clear the set-id bits that fchmod then sets.
  if (fchown(Fd, Old.st_uid, Old.st_gid) != 0) {
    // Not allowed for others' files: the file then belongs to the caller.
  }
  if (fchmod(Fd, Old.st_mode & 07777) != 0) return errno;
  if (const int Error = WriteAll(Fd, Bytes)) return Error;
  return fsync(Fd) == 0 ? 0 : errno;
}

}  // namespace

int ReadAll(int Fd, std::string& Bytes) {
  struct stat Info;
  const bool Regular = fstat(Fd, &Info) == 0 && S_ISREG(Info.st_mode);
  size_t Used = Bytes.size();
  // One byte beyond a regular file's size lets the first reads meet its end.
  Bytes.resize(Used + (Regular ? static_cast<size_t>(Info.st_size) + 1 : ReadChunk));
  for (;;) {
    if (Used == Bytes.size()) Bytes.resize(std::max(Bytes.size() * 2, ReadChunk));
    const ssize_t Count = read(Fd, Bytes.data() + Used, Bytes.size() - Used);
    if (Count == 0) break;
    if (Count < 0) {
      if (errno == EINTR) continue;
      const int Error = errno;
      Bytes.resize(Used);
      return Error;
    }
    Used += static_cast<size_t>(Count);
  }
  Bytes.resize(Used);
  return 0;
}

int ReadWholeFile(const std::string& Path, std::string& Bytes) {
  TFd File(open(Path.c_str(), O_RDONLY | O_CLOEXEC));
  if (File.Get() < 0) return errno;
  struct stat Info;
  if (fstat(File.Get(), &Info) != 0) return errno;
  if (S_ISDIR(Info.st_mode)) return EISDIR;
  return ReadAll(File.Get(), Bytes);
}

int WriteAll(int Fd, std::string_view Bytes) {
  while (!Bytes.empty()) {
    const ssize_t Count = write(Fd, Bytes.data(), Bytes.size());
    if (Count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    Bytes.remove_prefix(static_cast<size_t>(Count));
  }
  return 0;
}

int ReplaceFileContents(const std::string& Path, std::string_view Bytes) {
  const std::string Target = ResolvedPath(Path);
  struct stat Old;
  if (stat(Target.c_str(), &Old) != 0) return errno;
  const std::string Folder = FolderOf(Target);
  std::string Temporary = Folder + "/.quillet-XXXXXX";
  TFd File(mkostemp(Temporary.data(), O_CLOEXEC));
  if (File.Get() < 0) return errno;
  int Error = WriteTemporary(File.Get(), Old, Bytes);
  if (const int CloseError = File.Close(); Error == 0) Error = CloseError;
  if (Error == 0 && rename(Temporary.c_str(), Target.c_str()) != 0) Error = errno;
  if (Error != 0) {
    unlink(Temporary.c_str());
    return Error;
  }
  SyncFolder(Folder);
  return 0;
}

}  // namespace quillet
