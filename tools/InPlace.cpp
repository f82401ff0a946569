#include "tools/InPlace.h"

#include <acl/libacl.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <stdio.h>
#include <sys/acl.h>
#include <sys/random.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <array>
#include <vector>

#include "tools/Messages.h"

namespace quillet {

namespace {

// Symbolic links followed on one path at most, as the kernel allows.
constexpr int MaxLinks = 40;

// --- Signals ------------------------------------------------------------------

constexpr std::array<int, 4> CleanupSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The named temporary file that a signal must remove, if any.
volatile sig_atomic_t CleanupArmed = 0;
int CleanupFolder = -1;
char CleanupName[64];

extern "C" void OnCleanupSignal(int Signal) {
  if (CleanupArmed) unlinkat(CleanupFolder, CleanupName, 0);
  // The handler was reset to the default action on entry, and the signal is
  // blocked until the handler returns: then it ends the process.
  raise(Signal);
}

sigset_t CleanupSet() {
  sigset_t Set;
  sigemptyset(&Set);
  for (const int Signal : CleanupSignals) sigaddset(&Set, Signal);
  return Set;
}

// The cleanup signals held back while it lives.
class TSignalBlock {
 public:
  TSignalBlock() {
    const sigset_t Set = CleanupSet();
    pthread_sigmask(SIG_BLOCK, &Set, &Old_);
  }
  ~TSignalBlock() { pthread_sigmask(SIG_SETMASK, &Old_, nullptr); }
  TSignalBlock(const TSignalBlock&) = delete;
  TSignalBlock& operator=(const TSignalBlock&) = delete;

  // A cleanup signal came meanwhile: the process ends when it is let through.
  static bool Pending() {
    sigset_t Set;
    sigpending(&Set);
    for (const int Signal : CleanupSignals) {
      if (sigismember(&Set, Signal) == 1) return true;
    }
    return false;
  }

 private:
  sigset_t Old_;
};

// Called with the cleanup signals blocked.
void Arm(int Folder, const std::string& Name) {
  CleanupFolder = Folder;
  const size_t Length = std::min(Name.size(), sizeof CleanupName - 1);
  std::copy_n(Name.data(), Length, CleanupName);
  CleanupName[Length] = '\0';
  CleanupArmed = 1;
}

void Disarm() {
  CleanupArmed = 0;
}

// --- Finding the file ---------------------------------------------------------

bool OnPseudoFileSystem(int Fd) {
  struct statfs Info;
  return fstatfs(Fd, &Info) == 0 &&
         (Info.f_type == PROC_SUPER_MAGIC || Info.f_type == SYSFS_MAGIC);
}

std::string NodeKind(mode_t Mode) {
  if (S_ISFIFO(Mode)) return _("it is a FIFO");
  if (S_ISCHR(Mode)) return _("it is a character device");
  if (S_ISBLK(Mode)) return _("it is a block device");
  if (S_ISSOCK(Mode)) return _("it is a socket");
  return _("it is not a regular file");
}

// The components of Path onto Pending, so that the first comes off last; a
// trailing slash asks for a folder.
void PushComponents(std::string_view Path, std::vector<std::string>& Pending) {
  if (Path.ends_with('/')) Pending.emplace_back(".");
  std::vector<std::string> Parts;
  for (size_t Begin = 0; Begin < Path.size();) {
    size_t End = Path.find('/', Begin);
    if (End == std::string_view::npos) End = Path.size();
    if (End > Begin) Parts.emplace_back(Path.substr(Begin, End - Begin));
    Begin = End + 1;
  }
  Pending.insert(Pending.end(), Parts.rbegin(), Parts.rend());
}

int OpenRoot(std::string_view Path, TFd& Folder) {
  Folder.Reset(open(Path.starts_with('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  return Folder.Valid() ? 0 : errno;
}

int ReadLink(int Link, std::string& Target) {
  for (size_t Size = 256;; Size *= 2) {
    Target.resize(Size);
    const ssize_t Length = readlinkat(Link, "", Target.data(), Size);
    if (Length < 0) return errno;
    if (static_cast<size_t>(Length) < Size) {
      Target.resize(static_cast<size_t>(Length));
      return 0;
    }
  }
}

TFileProblem NotRewritten(std::string Why) {
  return {0, Format(_("%1$s; only regular files are rewritten in place"), {Why})};
}

// A file left as it was, and why.
TFileProblem Refusal(const std::string& Why, int Error = 0) {
  if (Error == 0) return {0, Format(_("%1$s; it was left as it is"), {Why})};
  return {Error, Format(_("%1$s: %2$s; it was left as it is"), {Why, strerror(Error)})};
}

// --- Extended attributes --------------------------------------------------------

constexpr char CapabilityAttribute[] = "security.capability";

bool IsAclAttribute(std::string_view Name) {
  return Name == "system.posix_acl_access" || Name == "system.posix_acl_default";
}

// The names of Fd's extended attributes; none where the file system has none.
int ListAttributes(int Fd, std::vector<std::string>& Names) {
  Names.clear();
  std::string List;
  for (;;) {
    const ssize_t Size = flistxattr(Fd, nullptr, 0);
    if (Size < 0) return errno == ENOTSUP ? 0 : errno;
    List.resize(static_cast<size_t>(Size));
    const ssize_t Got = flistxattr(Fd, List.data(), List.size());
    if (Got >= 0) {
      List.resize(static_cast<size_t>(Got));
      break;
    }
    if (errno != ERANGE) return errno;
  }
  for (size_t Begin = 0; Begin < List.size();) {
    const size_t End = List.find('\0', Begin);
    Names.emplace_back(List.substr(Begin, End - Begin));
    Begin = End == std::string::npos ? List.size() : End + 1;
  }
  return 0;
}

int GetAttribute(int Fd, const std::string& Name, std::string& Value) {
  for (;;) {
    const ssize_t Size = fgetxattr(Fd, Name.c_str(), nullptr, 0);
    if (Size < 0) return errno;
    Value.resize(static_cast<size_t>(Size));
    const ssize_t Got = fgetxattr(Fd, Name.c_str(), Value.data(), Value.size());
    if (Got >= 0) {
      Value.resize(static_cast<size_t>(Got));
      return 0;
    }
    if (errno != ERANGE) return errno;
  }
}

std::string ModeText(mode_t Mode) {
  char Text[8];
  snprintf(Text, sizeof Text, "%04o", static_cast<unsigned>(Mode & 07777));
  return Text;
}

// What a mode loses on the way from Old to New, in words.
std::string ModeLoss(mode_t Old, mode_t New) {
  std::string Loss;
  const auto Note = [&Loss](const char* What) {
    Loss = Loss.empty() ? What : Format(_("%1$s, %2$s"), {Loss, What});
  };
  if ((Old & S_ISUID) && !(New & S_ISUID)) Note(_("set-user-id"));
  if ((Old & S_ISGID) && !(New & S_ISGID)) Note(_("set-group-id"));
  if ((Old & S_ISVTX) && !(New & S_ISVTX)) Note(_("sticky"));
  if (Loss.empty()) Loss = Format(_("it would be %1$s"), {ModeText(New)});
  return Format(_("its mode %1$s cannot be kept (%2$s)"), {ModeText(Old), Loss});
}

std::string OwnerText(const struct stat& Info) {
  return Format(_("its owner and group (user %1$s, group %2$s) cannot be kept"),
                {std::to_string(Info.st_uid), std::to_string(Info.st_gid)});
}


std::string TemporaryName() {
  static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char Random[8];
  if (getrandom(Random, sizeof Random, GRND_NONBLOCK) != sizeof Random) {
    static unsigned Counter = 0;
    const unsigned Seed = static_cast<unsigned>(getpid()) * 2654435761u + ++Counter * 40503u;
    for (size_t I = 0; I < sizeof Random; ++I) Random[I] = static_cast<unsigned char>(Seed >> (I * 4));
  }
  std::string Name = ".quillet-";
  for (const unsigned char Byte : Random) Name += Letters[Byte % (sizeof Letters - 1)];
  return Name;
}

}  // namespace

void RemoveTemporaryFilesOnSignals() {
  for (const int Signal : CleanupSignals) {
    struct sigaction Old;
    if (sigaction(Signal, nullptr, &Old) != 0 || Old.sa_handler == SIG_IGN) continue;
    struct sigaction Action = {};
    Action.sa_handler = OnCleanupSignal;
    Action.sa_mask = CleanupSet();
    Action.sa_flags = SA_RESETHAND;
    sigaction(Signal, &Action, nullptr);
  }
}

TFileProblem TRewriteTarget::Open(const std::string& Path) {
  if (Path.empty()) return {ENOENT, ""};
  TFd Folder;
  if (const int Error = OpenRoot(Path, Folder)) return {Error, ""};
  std::vector<std::string> Pending;
  PushComponents(Path, Pending);
  if (Pending.empty()) return {EISDIR, ""};
  int Links = 0;
  TFd Node;
  struct stat Info;
  for (;;) {
    if (OnPseudoFileSystem(Folder.Get())) return NotRewritten(_("it is under /proc or /sys"));
    const std::string Name = std::move(Pending.back());
    Pending.pop_back();
    Node.Reset(openat(Folder.Get(), Name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!Node.Valid() || fstat(Node.Get(), &Info) != 0) return {errno, ""};
    if (S_ISLNK(Info.st_mode)) {
      if (++Links > MaxLinks) return {ELOOP, ""};
      std::string Target;
      if (const int Error = ReadLink(Node.Get(), Target)) return {Error, ""};
      if (Target.empty()) return {ENOENT, ""};
      if (Target.starts_with('/')) {
        if (const int Error = OpenRoot(Target, Folder)) return {Error, ""};
      }
      PushComponents(Target, Pending);
      if (Pending.empty()) return {EISDIR, ""};  // a link to "/"
      continue;
    }
    if (Pending.empty()) {
      Name_ = Name;
      break;
    }
    if (!S_ISDIR(Info.st_mode)) return {ENOTDIR, ""};
    Folder = std::move(Node);
  }
  if (S_ISDIR(Info.st_mode)) return {EISDIR, ""};
  if (!S_ISREG(Info.st_mode)) return NotRewritten(NodeKind(Info.st_mode));
  if (OnPseudoFileSystem(Node.Get())) return NotRewritten(_("it is under /proc or /sys"));
  if (Info.st_nlink > 1) {
    return Refusal(Format(_("it has %1$s hard links, and rewriting it would leave the old text "
                            "under the other names"),
                          {std::to_string(Info.st_nlink)}));
  }
  // Opened from the entry that was found, and checked to be that file: a
  // FIFO put there meanwhile does not block the open, and is refused.
  TFd File(openat(Folder.Get(), Name_.c_str(),
                  O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!File.Valid()) return {errno, ""};
  struct stat Opened;
  if (fstat(File.Get(), &Opened) != 0) return {errno, ""};
  if (!(TFileId::Of(Opened) == TFileId::Of(Info)) || !S_ISREG(Opened.st_mode)) {
    return Refusal(_("it was replaced while it was being opened"));
  }
  const int Flags = fcntl(File.Get(), F_GETFL);
  if (Flags < 0 || fcntl(File.Get(), F_SETFL, Flags & ~O_NONBLOCK) != 0) return {errno, ""};
  Folder_ = std::move(Folder);
  File_ = std::move(File);
  Status_ = Opened;
  return {};
}

int TFileReplacement::Begin() {
  File_.Reset(openat(Target_.Folder(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
  if (File_.Valid()) return 0;
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
  // No unnamed files here: a named one, which a signal removes.
  TSignalBlock Block;
  for (int Try = 0; Try < 100; ++Try) {
    std::string Name = TemporaryName();
    File_.Reset(openat(Target_.Folder(), Name.c_str(),
                       O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (File_.Valid()) {
      TempName_ = std::move(Name);
      Arm(Target_.Folder(), TempName_);
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int TFileReplacement::Write(std::string_view Bytes) {
  return WriteAll(File_.Get(), Bytes);
}

TFileProblem TFileReplacement::CopyAttributes() {
  struct stat Old;
  struct stat New;
  if (fstat(Input_, &Old) != 0 || fstat(File_.Get(), &New) != 0) return {errno, ""};

  // Extended attributes first, while the new file is still the caller's own
  // and writable: setting one needs that.
  std::vector<std::string> Names;
  if (const int Error = ListAttributes(Input_, Names)) {
    return Refusal(_("its extended attributes cannot be read"), Error);
  }
  std::string Value;
  std::string Capability;  // which a change of owner drops, to be set again
  for (const std::string& Name : Names) {
    if (IsAclAttribute(Name)) continue;
    if (const int Error = GetAttribute(Input_, Name, Value)) {
      return Refusal(Format(_("its extended attribute %1$s cannot be read"), {Name}), Error);
    }
    if (fsetxattr(File_.Get(), Name.c_str(), Value.data(), Value.size(), 0) != 0) {
      return Refusal(Format(_("its extended attribute %1$s cannot be kept"), {Name}), errno);
    }
    if (Name == CapabilityAttribute) Capability = Value;
  }
  // Attributes that the new file got from its folder and the old one lacks.
  std::vector<std::string> Extra;
  if (ListAttributes(File_.Get(), Extra) == 0) {
    for (const std::string& Name : Extra) {
      if (!IsAclAttribute(Name) && std::find(Names.begin(), Names.end(), Name) == Names.end()) {
        fremovexattr(File_.Get(), Name.c_str());
      }
    }
  }

  // Owner before mode: changing it clears the set-id bits that fchmod then
  // sets.
  if (New.st_uid != Old.st_uid || New.st_gid != Old.st_gid) {
    if (fchown(File_.Get(), Old.st_uid, Old.st_gid) != 0) return Refusal(OwnerText(Old), errno);
    if (!Capability.empty() && fsetxattr(File_.Get(), CapabilityAttribute, Capability.data(),
                                         Capability.size(), 0) != 0) {
      return Refusal(Format(_("its extended attribute %1$s cannot be kept"), {CapabilityAttribute}),
                     errno);
    }
  }
  if (fchmod(File_.Get(), Old.st_mode & 07777) != 0) {
    return Refusal(ModeLoss(Old.st_mode, New.st_mode), errno);
  }
  if (acl_t Acl = acl_get_fd(Input_)) {
    const int Set = acl_set_fd(File_.Get(), Acl);
    const int Error = errno;
    const bool Extended = acl_equiv_mode(Acl, nullptr) != 0;
    acl_free(Acl);
    // An ACL that says no more than the mode is kept by the mode alone.
    if (Set != 0 && (Extended || (Error != ENOTSUP && Error != ENOSYS))) {
      return Refusal(_("its ACL cannot be kept"), Error);
    }
  } else if (errno != ENOTSUP && errno != ENOSYS) {
    return Refusal(_("its ACL cannot be read"), errno);
  }

  // The kernel drops what the caller may not set (a set-group-id bit for a
  // group of others, say) without failing: what came through is checked.
  if (fstat(File_.Get(), &New) != 0) return {errno, ""};
  if (New.st_uid != Old.st_uid || New.st_gid != Old.st_gid) return Refusal(OwnerText(Old));
  if ((New.st_mode & 07777) != (Old.st_mode & 07777)) {
    return Refusal(ModeLoss(Old.st_mode, New.st_mode));
  }
  return {};
}

TFileProblem TFileReplacement::Exchange() {
  const int Folder = Target_.Folder();
  const std::string& Name = Target_.Name();
  TSignalBlock Block;
  if (TempName_.empty()) {
    // The unnamed file gets a name next to the old one.
    const std::string ByFd = "/proc/self/fd/" + std::to_string(File_.Get());
    for (int Try = 0;; ++Try) {
      std::string Temp = TemporaryName();
      if (linkat(File_.Get(), "", Folder, Temp.c_str(), AT_EMPTY_PATH) == 0 ||
          (errno != EEXIST &&
           linkat(AT_FDCWD, ByFd.c_str(), Folder, Temp.c_str(), AT_SYMLINK_FOLLOW) == 0)) {
        TempName_ = std::move(Temp);
        Arm(Folder, TempName_);
        break;
      }
      if (errno != EEXIST || Try == 100) return {errno, ""};
    }
  }
  if (TSignalBlock::Pending()) return {EINTR, ""};
  if (renameat2(Folder, TempName_.c_str(), Folder, Name.c_str(), RENAME_EXCHANGE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return {errno, ""};
    // No exchange on this file system: the name is checked, then replaced.
    struct stat Now;
    struct stat In;
    if (fstatat(Folder, Name.c_str(), &Now, AT_SYMLINK_NOFOLLOW) != 0 || fstat(Input_, &In) != 0 ||
        !(TFileId::Of(Now) == TFileId::Of(In)) || In.st_nlink != 1) {
      return Refusal(_("it was replaced by another file while it was being rewritten"));
    }
    if (renameat(Folder, TempName_.c_str(), Folder, Name.c_str()) != 0) return {errno, ""};
  } else {
    // What the exchange took away must be the file that was read, with no
    // other name; else the exchange is undone.
    struct stat Away;
    struct stat In;
    const bool Ours = fstatat(Folder, TempName_.c_str(), &Away, AT_SYMLINK_NOFOLLOW) == 0 &&
                      fstat(Input_, &In) == 0 && TFileId::Of(Away) == TFileId::Of(In) &&
                      In.st_nlink == 1;
    if (!Ours) {
      if (renameat2(Folder, TempName_.c_str(), Folder, Name.c_str(), RENAME_EXCHANGE) != 0) {
        // The new text stays under the temporary name, where the other file now
        // is too: neither is removed.
        const int Error = errno;
        Disarm();
        const std::string Temp = std::move(TempName_);
        TempName_.clear();
        File_.Reset();
        return {Error, Format(_("it was replaced by another file while it was being rewritten, "
                                "and the exchange could not be undone: that file is now %1$s "
                                "(%2$s)"),
                              {Temp, strerror(Error)})};
      }
      return Refusal(_("it was replaced by another file while it was being rewritten"));
    }
    unlinkat(Folder, TempName_.c_str(), 0);
  }
  Disarm();
  TempName_.clear();
  return {};
}

TFileProblem TFileReplacement::Commit() {
  if (fsync(File_.Get()) != 0) return {errno, ""};
  if (TFileProblem Problem = CopyAttributes()) return Problem;
  if (TFileProblem Problem = Exchange()) return Problem;
  File_.Reset();
  // The new name must be on disk too for the replacement to survive a crash.
  TFd Folder(openat(Target_.Folder(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (Folder.Valid()) fsync(Folder.Get());
  return {};
}

void TFileReplacement::Discard() {
  File_.Reset();
  if (TempName_.empty()) return;
  TSignalBlock Block;
  unlinkat(Target_.Folder(), TempName_.c_str(), 0);
  Disarm();
  TempName_.clear();
}

}  // namespace quillet
