#include "tools/EditorConfig.h"

#include <editorconfig/editorconfig.h>
#include <limits.h>
#include <unistd.h>

#include <charconv>
#include <memory>
#include <string_view>

#include "tools/Messages.h"

namespace quillet {

namespace {

constexpr int MaxTabWidth = 64;

// The handle, destroyed on every path.
struct THandleDeleter {
  void operator()(editorconfig_handle Handle) const { editorconfig_handle_destroy(Handle); }
};
using THandle = std::unique_ptr<std::remove_pointer_t<editorconfig_handle>, THandleDeleter>;

std::string AbsolutePath(const std::string& Path) {
  if (Path.starts_with('/')) return Path;
  char Folder[PATH_MAX];
  if (!getcwd(Folder, sizeof Folder)) return Path;
  return std::string(Folder) + "/" + Path;
}

// A decimal number, or -1.
int Number(std::string_view Text) {
  int Value = -1;
  const auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
  return Error == std::errc() && End == Text.data() + Text.size() ? Value : -1;
}

}  // namespace

TEditorConfigTabWidth FindEditorConfigTabWidth(const std::string& Path) {
  TEditorConfigTabWidth Result;
  const THandle Handle(editorconfig_handle_init());
  if (!Handle) return {0, _("out of memory")};
  if (const int Error = editorconfig_parse(AbsolutePath(Path).c_str(), Handle.get()); Error != 0) {
    const char* File = editorconfig_handle_get_err_file(Handle.get());
    Result.Problem = Error > 0 ? Format(_("%1$s:%2$s: cannot be parsed"),
                                        {File ? File : ".editorconfig", std::to_string(Error)})
                               : editorconfig_get_error_msg(Error);
    return Result;
  }
  // The library already gives tab_width from a numeric indent_size.
  std::string_view TabWidth;
  std::string_view IndentSize;
  for (int I = 0, Count = editorconfig_handle_get_name_value_count(Handle.get()); I < Count; ++I) {
    const char* Name = nullptr;
    const char* Value = nullptr;
    editorconfig_handle_get_name_value(Handle.get(), I, &Name, &Value);
    if (std::string_view(Name) == "tab_width") TabWidth = Value;
    if (std::string_view(Name) == "indent_size") IndentSize = Value;
  }
  std::string_view Given = TabWidth;
  std::string_view Key = "tab_width";
  if (Given.empty() && Number(IndentSize) >= 0) {
    Given = IndentSize;
    Key = "indent_size";
  }
  if (Given.empty()) return Result;
  const int Width = Number(Given);
  if (Width < 1 || Width > MaxTabWidth) {
    Result.Problem = Format(_(".editorconfig gives %1$s = %2$s, not a tab width from 1 to 64"),
                            {Key, Given});
    return Result;
  }
  Result.Width = Width;
  return Result;
}

}  // namespace quillet
