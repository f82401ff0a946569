// The host editor behind its window handle: every message is one SendMessageW
// to the editor window that the export was called with.
#pragma once

#include <windows.h>

#include "plugin/HostMessages.h"

namespace quillet {

class TWin32Host final : public THostEditor {
 public:
  explicit TWin32Host(HWND Editor) : editor_(Editor) {}

  HWND Editor() const { return editor_; }
  // The editor's answer, unchanged; pointers travel in WParam and LParam.
  intptr_t Send(uint32_t Msg, uintptr_t WParam, intptr_t LParam) override;

 private:
  HWND editor_;
};

// Views of the same UTF-16 text in the Windows API's character type.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");
inline const wchar_t* WideText(const char16_t* Text) {
  return reinterpret_cast<const wchar_t*>(Text);
}

}  // namespace quillet
