// The Windows test host: loads quillet.dll like the host editor does and
// drives it through its exports against a real window (HostWindow.h).
#pragma once

#include <windows.h>

#include <string>

#include "tests/win32/HostWindow.h"

namespace quillet::wintest {

// The exports, typed as a host calling through the documented table sees
// them (see the width rules in plugin/Exports.cpp).
struct TPlugin {
  HMODULE Module = nullptr;
  std::wstring Path;
  void(WINAPI* OnCommand)(HWND Editor) = nullptr;
  INT_PTR(WINAPI* QueryStatus)(HWND Editor, LPARAM Passed) = nullptr;
  void(WINAPI* OnEvents)(HWND Editor, DWORD Flags, DWORD Value) = nullptr;
  INT_PTR(WINAPI* GetMenuTextID)() = nullptr;
  INT_PTR(WINAPI* GetStatusMessageID)() = nullptr;
  INT_PTR(WINAPI* GetBitmapID)() = nullptr;
  LRESULT(WINAPI* PlugInProc)(HWND Editor, UINT Query, WPARAM WParam, LPARAM LParam) = nullptr;
};

// Export directory, string table, bitmap and version resources.
void TestModule(const TPlugin& Plugin);
// OnEvents (expects a freshly loaded library), QueryStatus, the identifier
// getters and every PlugInProc query, the uninstall question included.
void TestQueries(const TPlugin& Plugin, THostWindow& Window);
// OnCommand through the real popup menu, for every command.
void TestCommands(const TPlugin& Plugin, THostWindow& Window);
// OnCommand against an editor that lies, hands over awkward text, reports
// positions outside the text or calls back in; string queries without a buffer.
void TestHostile(const TPlugin& Plugin, THostWindow& Window);
// Runs Command on the whole of a UTF-8 sample file and prints it before and
// after, blanks made visible.
int RunDemo(const TPlugin& Plugin, THostWindow& Window, const std::wstring& SamplePath,
            UINT Command);
// Opens the command menu through OnCommand and holds it with its first
// submenu open, copies it from the screen into a 24-bit bitmap file at
// PicturePath, and dismisses it; 0 when the picture was saved.
int RunPicture(const TPlugin& Plugin, THostWindow& Window, const std::wstring& PicturePath);
// Times OnCommand on the write-back benchmark's text of Lines lines, all
// selected, and checks the result; prints the figures and OK or FAIL.
int RunBench(const TPlugin& Plugin, THostWindow& Window, long Lines);

}  // namespace quillet::wintest
