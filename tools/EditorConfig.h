// The tab width that EditorConfig files give a file: the `tab_width` of its
// section, or else its `indent_size` when that is a number, from the
// `.editorconfig` files of its folder and the folders above it, read by the
// EditorConfig core library.
#pragma once

#include <string>

namespace quillet {

struct TEditorConfigTabWidth {
  int Width = 0;        // 1 to 64; 0 when no file gives one
  std::string Problem;  // why the files cannot be used; Width is then 0
};

// Path: the file as named on the command line (relative to the current
// folder or absolute). Widths outside 1 to 64 are a problem.
TEditorConfigTabWidth FindEditorConfigTabWidth(const std::string& Path);

}  // namespace quillet
