#include "tools/FileIO.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>

namespace quillet {

namespace {

constexpr size_t PullChunk = size_t{1} << 20;

std::string ScratchFolder() {
  const char* Folder = getenv("TMPDIR");
  return Folder && Folder[0] == '/' ? Folder : "/tmp";
}

}  // namespace

void TFd::Reset(int Fd) {
  if (Fd_ >= 0) close(Fd_);
  Fd_ = Fd;
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

int OpenScratchFile(TFd& File) {
  const std::string Folder = ScratchFolder();
  File.Reset(open(Folder.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600));
  if (File.Valid()) return 0;
  // A file system without unnamed files: a named one, unlinked at once.
  std::string Name = Folder + "/.quillet-XXXXXX";
  File.Reset(mkostemp(Name.data(), O_CLOEXEC));
  if (!File.Valid()) return errno;
  unlink(Name.c_str());
  return 0;
}

int TInput::OpenFile(const std::string& Path) {
  TFd File(open(Path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
  if (!File.Valid()) return errno;
  Owned_ = std::move(File);
  return Start(Owned_.Get());
}

int TInput::OpenStdin() {
  return Start(STDIN_FILENO);
}

int TInput::Adopt(TFd Fd) {
  Owned_ = std::move(Fd);
  return Start(Owned_.Get());
}

int TInput::Start(int Fd) {
  Fd_ = Fd;
  if (fstat(Fd, &Opened_) != 0) return errno;
  if (S_ISDIR(Opened_.st_mode)) return EISDIR;
  if (S_ISREG(Opened_.st_mode)) {
    Base_ = lseek(Fd, 0, SEEK_CUR);
    if (Base_ >= 0) return 0;
    Base_ = 0;
  }
  Spooled_ = true;
  return OpenScratchFile(Scratch_);
}

int TInput::Pull(uint64_t Until) {
  if (PullBuffer_.empty()) PullBuffer_.resize(PullChunk);
  while (Held_ < Until && !SourceEnded_) {
    const ssize_t Count = read(Fd_, PullBuffer_.data(), PullBuffer_.size());
    if (Count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (Count == 0) {
      SourceEnded_ = true;
      break;
    }
    for (size_t Done = 0; Done < static_cast<size_t>(Count);) {
      const ssize_t Written = pwrite(Scratch_.Get(), PullBuffer_.data() + Done,
                                     static_cast<size_t>(Count) - Done,
                                     static_cast<off_t>(Held_ + Done));
      if (Written < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      Done += static_cast<size_t>(Written);
    }
    Held_ += static_cast<uint64_t>(Count);
  }
  return 0;
}

int TInput::ReadAt(uint64_t Offset, char* Into, size_t Size, size_t& Count) {
  Count = 0;
  int From = Fd_;
  uint64_t End = 0;
  off_t Base = Base_;
  if (Spooled_) {
    std::lock_guard<std::mutex> Hold(Lock_);
    if (const int Error = Pull(Offset + Size)) return Error;
    From = Scratch_.Get();
    End = Held_;
    Base = 0;
  } else {
    End = this->Size();
  }
  if (Offset >= End) return 0;
  Size = static_cast<size_t>(std::min<uint64_t>(Size, End - Offset));
  for (;;) {
    const ssize_t Read = pread(From, Into, Size, Base + static_cast<off_t>(Offset));
    if (Read >= 0) {
      Count = static_cast<size_t>(Read);
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

uint64_t TInput::Size() const {
  if (Spooled_) {
    std::lock_guard<std::mutex> Hold(Lock_);
    return Held_;
  }
  return Opened_.st_size > Base_ ? static_cast<uint64_t>(Opened_.st_size - Base_) : 0;
}

bool TInput::Changed() const {
  if (Spooled_ || Fd_ < 0) return false;
  const auto Same = [](const timespec& A, const timespec& B) {
    return A.tv_sec == B.tv_sec && A.tv_nsec == B.tv_nsec;
  };
  struct stat Now;
  return fstat(Fd_, &Now) != 0 || Now.st_size != Opened_.st_size ||
         !Same(Now.st_mtim, Opened_.st_mtim) || !Same(Now.st_ctim, Opened_.st_ctim);
}

}  // namespace quillet
