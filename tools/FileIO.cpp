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

// Owner first: changing it may clear the set-id bits that fchmod then sets.
int CopyOwnerAndMode(int Fd, const struct stat& Old) {
  if (fchown(Fd, Old.st_uid, Old.st_gid) != 0) {
    // Not allowed for others' files: the file then belongs to the caller.
  }
  return fchmod(Fd, Old.st_mode & 07777) == 0 ? 0 : errno;
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

TInput::~TInput() {
  if (Owned_ && Fd_ >= 0) close(Fd_);
}

int TInput::OpenFile(const std::string& Path) {
  const int Fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) return errno;
  return Adopt(Fd, true);
}

int TInput::OpenStdin() {
  return Adopt(STDIN_FILENO, false);
}

int TInput::Adopt(int Fd, bool Owned) {
  Fd_ = Fd;
  Owned_ = Owned;
  struct stat Info;
  if (fstat(Fd, &Info) != 0) return errno;
  if (S_ISDIR(Info.st_mode)) return EISDIR;
  if (S_ISREG(Info.st_mode)) {
    Base_ = lseek(Fd, 0, SEEK_CUR);
    if (Base_ >= 0) {
      Opened_ = Info;
      return 0;
    }
    Base_ = 0;
  }
  InMemory_ = true;
  return ReadAll(Fd, Memory_);
}

int TInput::ReadAt(uint64_t Offset, char* Into, size_t Size, size_t& Count) {
  Count = 0;
  if (InMemory_) {
    if (Offset < Memory_.size()) Count = Memory_.copy(Into, Size, Offset);
    return 0;
  }
  for (;;) {
    const ssize_t Read = pread(Fd_, Into, Size, Base_ + static_cast<off_t>(Offset));
    if (Read >= 0) {
      Count = static_cast<size_t>(Read);
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

uint64_t TInput::Size() const {
  if (InMemory_) return Memory_.size();
  return Opened_.st_size > Base_ ? static_cast<uint64_t>(Opened_.st_size - Base_) : 0;
}

bool TInput::Changed(const std::string* Path) const {
  if (InMemory_ || Fd_ < 0) return false;
  const auto Same = [](const timespec& A, const timespec& B) {
    return A.tv_sec == B.tv_sec && A.tv_nsec == B.tv_nsec;
  };
  struct stat Now;
  if (fstat(Fd_, &Now) != 0 || Now.st_size != Opened_.st_size ||
      !Same(Now.st_mtim, Opened_.st_mtim) || !Same(Now.st_ctim, Opened_.st_ctim)) {
    return true;
  }
  struct stat Named;
  return Path && (stat(Path->c_str(), &Named) != 0 || Named.st_dev != Opened_.st_dev ||
                  Named.st_ino != Opened_.st_ino);
}

int TFileReplacement::Begin() {
  Target_ = ResolvedPath(Path_);
  struct stat Old;
  if (stat(Target_.c_str(), &Old) != 0) return errno;
  std::string Temporary = FolderOf(Target_) + "/.quillet-XXXXXX";
  Fd_ = mkostemp(Temporary.data(), O_CLOEXEC);
  if (Fd_ < 0) return errno;
  Temporary_ = std::move(Temporary);
  return CopyOwnerAndMode(Fd_, Old);
}

int TFileReplacement::Write(std::string_view Bytes) {
  return WriteAll(Fd_, Bytes);
}

int TFileReplacement::Commit() {
  int Error = fsync(Fd_) == 0 ? 0 : errno;
  const int CloseError = close(Fd_) == 0 ? 0 : errno;
  Fd_ = -1;
  if (Error == 0) Error = CloseError;
  if (Error == 0 && rename(Temporary_.c_str(), Target_.c_str()) != 0) Error = errno;
  if (Error != 0) {
    Discard();
    return Error;
  }
  Temporary_.clear();
  SyncFolder(FolderOf(Target_));
  return 0;
}

void TFileReplacement::Discard() {
  if (Fd_ >= 0) close(Fd_);
  Fd_ = -1;
  if (!Temporary_.empty()) unlink(Temporary_.c_str());
  Temporary_.clear();
}

}  // namespace quillet
