// Tab widths from nested .editorconfig files, through the EditorConfig core
// library.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "tools/EditorConfig.h"

namespace quillet {
namespace {

TEST(EditorConfig, TabWidthOfNestedFiles) {
  char Template[] = "/tmp/quillet-editorconfig-XXXXXX";
  ASSERT_NE(mkdtemp(Template), nullptr);
  const std::string Top = Template;
  const auto Write = [&Top](const std::string& Name, const std::string& Text) {
    std::ofstream(Top + "/" + Name) << Text;
  };
  for (const char* Folder : {"/a", "/a/b", "/a/b/c", "/bad", "/wide", "/none"}) {
    ASSERT_EQ(mkdir((Top + Folder).c_str(), 0755), 0);
  }
  Write(".editorconfig", "root = true\n[*]\nindent_size = 3\n[*.py]\nindent_size = 2\n");
  Write("a/.editorconfig", "[*.txt]\ntab_width = 8\n[*.md]\nindent_style = tab\nindent_size = tab\n");
  Write("a/b/.editorconfig", "[*.txt]\nindent_size = 5\n[sub/*]\ntab_width = 1\n");
  Write("a/b/c/.editorconfig", "root = true\n[*.txt]\nindent_size = tab\n");
  Write("bad/.editorconfig", "[*.txt]\ntab_width = eight\n");
  Write("wide/.editorconfig", "[*]\ntab_width = 65\n");
  Write("none/.editorconfig", "root = true\n[*.c]\nindent_size = 7\n");
  struct TCase {
    std::string Path;
    int Width;
    const char* Problem;
  };
  const std::vector<TCase> Cases = {
      {"/x.c", 3, ""},           // indent_size of the top file
      {"/x.py", 2, ""},          // a later section of the same file
      {"/a/x.txt", 8, ""},       // tab_width nearer the file
      {"/a/x.md", 0, ""},        // indent_size = tab overrides the number above
      {"/a/b/x.txt", 8, ""},     // tab_width above wins over indent_size below
      {"/a/b/sub/x.txt", 1, ""}, // a section with a folder
      {"/a/b/c/x.txt", 0, ""},   // root stops the search; tab gives no number
      {"/none/x.txt", 0, ""},    // no section for the file
      {"/bad/x.txt", 0, "tab_width = eight"},
      {"/wide/x.txt", 0, "tab_width = 65"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Path);
    const TEditorConfigTabWidth Found = FindEditorConfigTabWidth(Top + Case.Path);
    EXPECT_EQ(Found.Width, Case.Width);
    if (*Case.Problem) {
      EXPECT_NE(Found.Problem.find(Case.Problem), std::string::npos) << Found.Problem;
    } else {
      EXPECT_EQ(Found.Problem, "");
    }
  }
  ASSERT_EQ(system(("rm -rf '" + Top + "'").c_str()), 0);
}

}  // namespace
}  // namespace quillet
