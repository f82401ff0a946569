// Replacing a file when something else changes its folder between the
// reading and the replacement: the replacement goes through only when the
// entry still holds the file that was read, and nothing is left behind.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tools/InPlace.h"

namespace quillet {
namespace {

class InPlace : public ::testing::Test {
 public:
  void SetUp() override {
    char Template[] = "/tmp/quillet-inplace-XXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    Folder_ = Template;
  }
  void TearDown() override { ASSERT_EQ(system(("rm -rf '" + Folder_ + "'").c_str()), 0); }

  std::string Path(const std::string& Name) const { return Folder_ + "/" + Name; }

  static void Write(const std::string& Path, const std::string& Text) {
    std::ofstream(Path, std::ios::binary) << Text;
  }
  static std::string Read(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::stringstream Text;
    Text << In.rdbuf();
    return Text.str();
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> Found;
    DIR* Dir = opendir(Folder_.c_str());
    while (dirent* Entry = readdir(Dir)) {
      const std::string Name = Entry->d_name;
      if (Name != "." && Name != "..") Found.push_back(Name);
    }
    closedir(Dir);
    std::sort(Found.begin(), Found.end());
    return Found;
  }

  std::string Folder_;
};

TEST_F(InPlace, ReplacesOnlyTheFileThatWasRead) {
  struct TCase {
    const char* Name;
    // What happens between the reading and the replacement.
    std::function<void(InPlace&)> Meanwhile;
    bool Replaced;                    // the new text goes in
    std::vector<std::string> After;   // the folder's names afterwards
    std::string TextAfter;            // what "file" reads then
  };
  const std::vector<TCase> Cases = {
      {"nothing", [](InPlace&) {}, true, {"file"}, "new"},
      {"another file renamed over it",
       [](InPlace& T) {
         Write(T.Path("other"), "other");
         ASSERT_EQ(rename(T.Path("other").c_str(), T.Path("file").c_str()), 0);
       },
       false, {"file"}, "other"},
      {"a link put in its place",
       [](InPlace& T) {
         Write(T.Path("elsewhere"), "elsewhere");
         ASSERT_EQ(unlink(T.Path("file").c_str()), 0);
         ASSERT_EQ(symlink("elsewhere", T.Path("file").c_str()), 0);
       },
       false, {"elsewhere", "file"}, "elsewhere"},
      {"a second name given to it",
       [](InPlace& T) { ASSERT_EQ(link(T.Path("file").c_str(), T.Path("second").c_str()), 0); },
       false, {"file", "second"}, "old"},
      {"removed",
       [](InPlace& T) { ASSERT_EQ(unlink(T.Path("file").c_str()), 0); },
       false, {}, ""},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    ASSERT_EQ(system(("rm -rf '" + Folder_ + "'/* '" + Folder_ + "'/.[!.]*").c_str()), 0);
    Write(Path("file"), "old");
    TRewriteTarget Target;
    const TFileProblem Opened = Target.Open(Path("file"));
    ASSERT_FALSE(Opened) << Opened.Message;
    const TFd File = Target.TakeFile();
    {
      TFileReplacement Replacement(Target, File.Get());
      ASSERT_EQ(Replacement.Begin(), 0);
      ASSERT_EQ(Replacement.Write("new"), 0);
      Case.Meanwhile(*this);
      const TFileProblem Problem = Replacement.Commit();
      EXPECT_EQ(static_cast<bool>(Problem), !Case.Replaced) << Problem.Message;
      if (!Case.Replaced && Problem.Error == 0) {
        EXPECT_NE(Problem.Message.find("left as it is"), std::string::npos) << Problem.Message;
      }
    }
    EXPECT_EQ(Names(), Case.After);
    if (!Case.After.empty()) {
      EXPECT_EQ(Read(Path("file")), Case.TextAfter);
    }
  }
}

TEST_F(InPlace, FindsFilesThroughLinksAndRefusesTheRest) {
  ASSERT_EQ(mkdir(Path("sub").c_str(), 0755), 0);
  Write(Path("sub/real"), "x");
  ASSERT_EQ(symlink("sub/real", Path("link").c_str()), 0);
  ASSERT_EQ(symlink("../link", Path("sub/up").c_str()), 0);
  ASSERT_EQ(symlink("loop", Path("loop").c_str()), 0);
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0644), 0);
  ASSERT_EQ(symlink("/", Path("root").c_str()), 0);
  struct TCase {
    std::string Path;
    int Error;            // of the problem; 0 for a message
    const char* Message;  // part of it; empty: no problem
    const char* Name;     // the entry found
  };
  const std::vector<TCase> Cases = {
      {Path("link"), 0, "", "real"},
      {Path("sub/up"), 0, "", "real"},
      {Path("sub/./real"), 0, "", "real"},
      {Path("sub/../sub/real"), 0, "", "real"},
      {Path("sub/real/"), ENOTDIR, "", ""},
      {Path("sub"), EISDIR, "", ""},
      {Path("sub/"), EISDIR, "", ""},
      {Path("root"), EISDIR, "", ""},
      {Path("missing"), ENOENT, "", ""},
      {Path("missing/file"), ENOENT, "", ""},
      {Path("loop"), ELOOP, "", ""},
      {Path("fifo"), 0, "a FIFO", ""},
      {"/proc/self/status", 0, "/proc or /sys", ""},
      {"", ENOENT, "", ""},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Path);
    TRewriteTarget Target;
    const TFileProblem Problem = Target.Open(Case.Path);
    EXPECT_EQ(Problem.Error, Case.Error);
    if (*Case.Message) {
      EXPECT_NE(Problem.Message.find(Case.Message), std::string::npos) << Problem.Message;
    } else {
      EXPECT_EQ(Problem.Message, "");
    }
    if (!Problem) {
      EXPECT_EQ(Target.Name(), Case.Name);
      EXPECT_TRUE(S_ISREG(Target.Status().st_mode));
    }
  }
}

}  // namespace
}  // namespace quillet
