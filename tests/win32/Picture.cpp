// The test host's picture mode: the plug-in's popup menu, opened by OnCommand
// on a selection, held with a submenu open and its first item highlighted,
// is copied from the screen, cropped to the menu, into a bitmap file.
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <vector>

#include "tests/win32/TestHost.h"

namespace quillet::wintest {

namespace {

// Pixels around the menus that the picture keeps.
constexpr LONG Margin = 6;

BOOL CALLBACK AddMenuWindow(HWND Window, LPARAM Param) {
  wchar_t Class[16] = {};
  GetClassNameW(Window, Class, 16);
  RECT Rect;
  if (IsWindowVisible(Window) && std::wcscmp(Class, L"#32768") == 0 && GetWindowRect(Window, &Rect))
    reinterpret_cast<std::vector<RECT>*>(Param)->push_back(Rect);
  return TRUE;
}

// The screen rectangle holding every popup menu of this thread, with a
// margin, inside the screen; empty when no menu is shown.
RECT MenusOnScreen() {
  std::vector<RECT> Menus;
  EnumThreadWindows(GetCurrentThreadId(), AddMenuWindow, reinterpret_cast<LPARAM>(&Menus));
  RECT All{0, 0, 0, 0};
  for (const RECT& Menu : Menus) UnionRect(&All, &All, &Menu);
  if (IsRectEmpty(&All)) return All;
  InflateRect(&All, Margin, Margin);
  const RECT Screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  IntersectRect(&All, &All, &Screen);
  return All;
}

// Copies Area of the screen into a 24-bit bottom-up bitmap file at Path.
bool SaveScreenArea(const RECT& Area, const std::wstring& Path) {
  const LONG Width = Area.right - Area.left, Height = Area.bottom - Area.top;
  HDC Screen = GetDC(nullptr);
  HDC Memory = CreateCompatibleDC(Screen);
  BITMAPINFO Info{};
  Info.bmiHeader.biSize = sizeof Info.bmiHeader;
  Info.bmiHeader.biWidth = Width;
  Info.bmiHeader.biHeight = Height;  // bottom-up, as the file stores it
  Info.bmiHeader.biPlanes = 1;
  Info.bmiHeader.biBitCount = 24;
  Info.bmiHeader.biCompression = BI_RGB;
  void* Bits = nullptr;
  HBITMAP Bitmap = CreateDIBSection(Screen, &Info, DIB_RGB_COLORS, &Bits, nullptr, 0);
  bool Copied = false;
  if (Bitmap) {
    HGDIOBJ Old = SelectObject(Memory, Bitmap);
    Copied = BitBlt(Memory, 0, 0, Width, Height, Screen, Area.left, Area.top, SRCCOPY) != FALSE;
    GdiFlush();
    SelectObject(Memory, Old);
  }
  bool Saved = false;
  if (Copied) {
    const DWORD Stride = (static_cast<DWORD>(Width) * 3 + 3) & ~3u;
    const DWORD Size = Stride * static_cast<DWORD>(Height);
    BITMAPFILEHEADER File{};
    File.bfType = 0x4D42;  // "BM"
    File.bfOffBits = sizeof File + sizeof Info.bmiHeader;
    File.bfSize = File.bfOffBits + Size;
    Info.bmiHeader.biSizeImage = Size;
    std::ofstream Out(Path.c_str(), std::ios::binary);
    Out.write(reinterpret_cast<const char*>(&File), sizeof File);
    Out.write(reinterpret_cast<const char*>(&Info.bmiHeader), sizeof Info.bmiHeader);
    Out.write(static_cast<const char*>(Bits), Size);
    Saved = Out.good();
  }
  if (Bitmap) DeleteObject(Bitmap);
  DeleteDC(Memory);
  ReleaseDC(nullptr, Screen);
  return Saved;
}

}  // namespace

int RunPicture(const TPlugin& Plugin, THostWindow& Window, const std::wstring& PicturePath) {
  const std::u16string Document = u"\tいろはにほへと\r\n  ちりぬるを\r\n";
  testing::TSimEditor Sim(Document);
  Sim.Select(0, static_cast<int32_t>(Document.size()));
  Window.Attach(&Sim);
  RECT Area{0, 0, 0, 0};
  bool Saved = false;
  // Through the first submenu to its first item, where the walk is held.
  Window.ExpectMenu(1, false, POINT{80, 100}, [&] {
    Area = MenusOnScreen();
    Saved = !IsRectEmpty(&Area) && SaveScreenArea(Area, PicturePath);
  });
  Plugin.OnCommand(Window.Handle());
  Window.Attach(nullptr);
  const bool Unchanged = Sim.Document() == Document;
  const size_t Submenus = Window.LastMenu().SubmenusOpened.size();
  std::printf("menu picture: %ldx%ld at (%ld,%ld), %zu submenu(s) open; %s\n",
              Area.right - Area.left, Area.bottom - Area.top, Area.left, Area.top, Submenus,
              Saved && Unchanged && Submenus == 1 ? "saved" : "FAILED");
  return Saved && Unchanged && Submenus == 1 ? 0 : 1;
}

}  // namespace quillet::wintest
