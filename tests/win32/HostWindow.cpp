#include "tests/win32/HostWindow.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "tests/win32/Check.h"

namespace quillet::wintest {

namespace {

constexpr wchar_t WindowClass[] = L"QuilletTestEditor";
constexpr UINT_PTR TickTimer = 1;
constexpr UINT TickMilliseconds = 10;
constexpr ULONGLONG AnswerTimeout = 10000;
constexpr int MaxMenuKeys = 40;
// How long a menu held on an item stands still before it is shown.
constexpr ULONGLONG HoldMilliseconds = 500;
constexpr UINT FirstHostMessage = 2049;
constexpr UINT LastHostMessage = 2100;

std::u16string ToU16(const std::wstring& Text) {
  return {Text.begin(), Text.end()};
}

std::wstring ClassName(HWND Window) {
  wchar_t Name[64] = {};
  GetClassNameW(Window, Name, 64);
  return Name;
}

std::wstring WindowText(HWND Window) {
  std::wstring Text(static_cast<size_t>(GetWindowTextLengthW(Window)) + 1, L'\0');
  Text.resize(
      static_cast<size_t>(GetWindowTextW(Window, Text.data(), static_cast<int>(Text.size()))));
  return Text;
}

struct TWindowSearch {
  const wchar_t* Class;
  HWND Found;
};

BOOL CALLBACK MatchWindow(HWND Window, LPARAM Param) {
  auto& Search = *reinterpret_cast<TWindowSearch*>(Param);
  if (!IsWindowVisible(Window) || ClassName(Window) != Search.Class) return TRUE;
  Search.Found = Window;
  return FALSE;
}

// The first visible top-level window of this thread with the class Class.
HWND FindThreadWindow(const wchar_t* Class) {
  TWindowSearch Search{Class, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), MatchWindow, reinterpret_cast<LPARAM>(&Search));
  return Search.Found;
}

// Collects the buttons, the icon and the text of a message box.
BOOL CALLBACK ReadBoxChild(HWND Child, LPARAM Param) {
  auto& Seen = *reinterpret_cast<TBoxSession*>(Param);
  const std::wstring Class = ClassName(Child);
  if (Class == L"Button" && IsWindowVisible(Child)) {
    Seen.Buttons.push_back(GetDlgCtrlID(Child));
  } else if (Class == L"Static") {
    if ((GetWindowLongW(Child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
      Seen.Icon = reinterpret_cast<HICON>(SendMessageW(Child, STM_GETICON, 0, 0));
    else if (const std::wstring Text = WindowText(Child); !Text.empty())
      Seen.Text = ToU16(Text);
  }
  return TRUE;
}

std::vector<TMenuRow> ReadMenu(HMENU Menu) {
  std::vector<TMenuRow> Rows;
  const int Count = GetMenuItemCount(Menu);
  for (int Index = 0; Index < Count; ++Index) {
    MENUITEMINFOW Info{};
    Info.cbSize = sizeof Info;
    Info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_STRING;
    if (!GetMenuItemInfoW(Menu, static_cast<UINT>(Index), TRUE, &Info)) break;
    std::wstring Label(Info.cch + 1, L'\0');
    if (Info.cch > 0) {
      Info.dwTypeData = Label.data();
      Info.cch = static_cast<UINT>(Label.size());
      GetMenuItemInfoW(Menu, static_cast<UINT>(Index), TRUE, &Info);
    }
    Label.resize(Label.find(L'\0'));
    TMenuRow Row{TMenuRow::Item, ToU16(Label),  Info.wID, Info.fType,
                 Info.fState,    Info.hSubMenu, {}};
    if (Info.fType & MFT_SEPARATOR) {
      Row.Kind = TMenuRow::Separator;
    } else if (Info.hSubMenu) {
      Row.Kind = TMenuRow::Submenu;
      Row.Children = ReadMenu(Info.hSubMenu);
    }
    Rows.push_back(std::move(Row));
  }
  return Rows;
}

int HighlightedIndex(HMENU Menu) {
  const int Count = GetMenuItemCount(Menu);
  for (int Index = 0; Index < Count; ++Index)
    if (GetMenuState(Menu, static_cast<UINT>(Index), MF_BYPOSITION) & MF_HILITE) return Index;
  return -1;
}

bool KeyPending() {
  MSG Message;
  return PeekMessageW(&Message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE) != FALSE;
}

}  // namespace

std::optional<std::vector<int>> FindMenuPath(const std::vector<TMenuRow>& Rows, UINT Command) {
  for (size_t Index = 0; Index < Rows.size(); ++Index) {
    const TMenuRow& Row = Rows[Index];
    std::optional<std::vector<int>> Path;
    if (Row.Kind == TMenuRow::Item && Row.Id == Command)
      Path.emplace();
    else if (Row.Kind == TMenuRow::Submenu)
      Path = FindMenuPath(Row.Children, Command);
    if (Path) {
      Path->insert(Path->begin(), static_cast<int>(Index));
      return Path;
    }
  }
  return std::nullopt;
}

THostWindow::THostWindow() {
  WNDCLASSEXW Class{};
  Class.cbSize = sizeof Class;
  Class.lpfnWndProc = WindowProc;
  Class.hInstance = GetModuleHandleW(nullptr);
  Class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  Class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  Class.lpszClassName = WindowClass;
  RegisterClassExW(&Class);
  window_ = CreateWindowExW(0, WindowClass, L"Quillet test editor", WS_OVERLAPPEDWINDOW, 20, 20,
                            480, 360, nullptr, nullptr, Class.hInstance, this);
  if (!window_) throw std::runtime_error("cannot create the editor window");
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
  SetForegroundWindow(window_);
  SetTimer(window_, TickTimer, TickMilliseconds, nullptr);
  Settle();
}

// The window system maps and activates windows asynchronously, and a popup
// menu opened while focus changes are still on their way is cancelled by
// them (Wine's X11 driver in a display without a window manager does this
// after the window first appears, after the pointer first enters it, and
// after a message box closed). Puts the pointer inside the window, then pumps
// messages until the window has been the active foreground window for a
// while (a few seconds at most).
void THostWindow::Settle() {
  RECT Client;
  GetClientRect(window_, &Client);
  POINT Centre{Client.right / 2, Client.bottom / 2};
  ClientToScreen(window_, &Centre);
  SetCursorPos(Centre.x, Centre.y);
  const ULONGLONG Deadline = GetTickCount64() + 3000;
  ULONGLONG ActiveSince = 0;
  while (GetTickCount64() < Deadline) {
    MSG Message;
    while (PeekMessageW(&Message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&Message);
      DispatchMessageW(&Message);
    }
    const bool Active = GetForegroundWindow() == window_ && GetActiveWindow() == window_;
    if (!Active) {
      SetForegroundWindow(window_);
      ActiveSince = 0;
    } else if (ActiveSince == 0) {
      ActiveSince = GetTickCount64();
    } else if (GetTickCount64() - ActiveSince >= 200) {
      return;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

THostWindow::~THostWindow() {
  KillTimer(window_, TickTimer);
  DestroyWindow(window_);
  UnregisterClassW(WindowClass, GetModuleHandleW(nullptr));
}

void THostWindow::ExpectMenu(UINT Command, bool Dismiss, POINT Cursor,
                             std::function<void()> AtItem) {
  if (boxSeen_) {
    // The focus changes of a message box can reach the window late and
    // cancel the next menu.
    boxSeen_ = false;
    Settle();
  }
  MoveCursor(Cursor);
  menuArmed_ = true;
  menuDeadline_ = GetTickCount64() + AnswerTimeout;
  wantedCommand_ = Command;
  dismiss_ = Dismiss;
  atItem_ = std::move(AtItem);
  heldSince_ = 0;
  menu_ = {};
}

void THostWindow::ExpectBox(int Button) {
  boxArmed_ = true;
  boxDeadline_ = GetTickCount64() + AnswerTimeout;
  button_ = Button;
  box_ = {};
}

LRESULT CALLBACK THostWindow::WindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
  if (Msg == WM_NCCREATE) {
    const auto* Create = reinterpret_cast<const CREATESTRUCTW*>(LParam);
    SetWindowLongPtrW(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(Create->lpCreateParams));
  }
  auto* Self = reinterpret_cast<THostWindow*>(GetWindowLongPtrW(Window, GWLP_USERDATA));
  if (!Self) return DefWindowProcW(Window, Msg, WParam, LParam);
  if (Msg >= FirstHostMessage && Msg <= LastHostMessage)
    return Self->HostMessage(Msg, WParam, LParam);
  switch (Msg) {
    case WM_ENTERMENULOOP:
      Self->inMenuLoop_ = true;
      Self->menu_ = {};
      Self->menu_.Opened = true;
      Self->answeredMenu_ = false;
      Self->openSubmenus_.clear();
      return 0;
    case WM_INITMENUPOPUP: {
      const auto Menu = reinterpret_cast<HMENU>(WParam);
      if (!Self->menu_.Root) {
        Self->menu_.Root = Menu;
        Self->menu_.Rows = ReadMenu(Menu);
      } else {
        Self->menu_.SubmenusOpened.push_back(Menu);
        Self->openSubmenus_.push_back(Menu);
      }
      return 0;
    }
    case WM_UNINITMENUPOPUP: {
      auto& Open = Self->openSubmenus_;
      Open.erase(std::remove(Open.begin(), Open.end(), reinterpret_cast<HMENU>(WParam)),
                 Open.end());
      return 0;
    }
    case WM_MENUSELECT:
    case WM_ENTERIDLE:
      // The user answers as soon as the menu shows its new state; the timer
      // only starts and watches.
      if (Self->inMenuLoop_ && Self->menuArmed_) Self->StepMenu();
      return Msg == WM_ENTERIDLE ? DefWindowProcW(Window, Msg, WParam, LParam) : 0;
    case WM_EXITMENULOOP:
      Self->inMenuLoop_ = false;
      Self->menuArmed_ = false;
      return 0;
    case WM_TIMER:
      if (WParam == TickTimer) Self->OnTick();
      return 0;
    default:
      return DefWindowProcW(Window, Msg, WParam, LParam);
  }
}

LRESULT THostWindow::HostMessage(UINT Msg, WPARAM WParam, LPARAM LParam) {
  if (Intercept)
    if (const std::optional<LRESULT> Answer = Intercept(Msg, WParam, LParam)) return *Answer;
  if (!sim_) return 0;
  try {
    return sim_->Send(Msg, WParam, static_cast<intptr_t>(LParam));
  } catch (const std::exception& Failure) {
    // Nothing may unwind through SendMessageW.
    Check(false, std::string("the simulated editor failed: ") + Failure.what());
    return 0;
  }
}

void THostWindow::Mishap(const char* What) {
  ++mishaps_;
  Check(false, What);
}

void THostWindow::PressKey(UINT Key) {
  const auto Scan = static_cast<LPARAM>(MapVirtualKeyW(Key, MAPVK_VK_TO_VSC));
  PostMessageW(window_, WM_KEYDOWN, Key, 1 | (Scan << 16));
  ++menu_.Keys;
}

void THostWindow::OnTick() {
  if (inMenuLoop_) {
    if (menuArmed_) {
      StepMenu();
    } else {
      Mishap("a popup menu opened that nobody expected");
      EndMenu();
    }
    return;
  }
  if (FindThreadWindow(L"#32768")) {
    Mishap("a popup menu opened without notifying its owner window");
    EndMenu();
    return;
  }
  if (const HWND Box = FindThreadWindow(L"#32770"); Box && Box != answered_) AnswerBox(Box);
}

// One key at a time, each chosen from what the menu shows, so that a stray
// mouse event that moves the highlight only costs more keys: close a submenu
// that is not on the way with Left, move down until the wanted entry is
// highlighted, open its submenu with Right, press Enter on the item itself.
void THostWindow::StepMenu() {
  // Keys posted from the menu's own notifications keep the queue busy, so
  // that the timer may not get its turn to stop a user lost in the menu.
  if (GetTickCount64() > menuDeadline_ || menu_.Keys > MaxMenuKeys) {
    Mishap("the popup menu could not be answered");
    menuArmed_ = false;
    EndMenu();
    return;
  }
  if (!menu_.Window) {
    // Nothing is pressed before the popup is on the screen.
    const HWND Popup = FindThreadWindow(L"#32768");
    RECT Rect;
    if (!Popup || !GetWindowRect(Popup, &Rect)) return;
    menu_.Window = Rect;
  }
  if (!menu_.Root || answeredMenu_ || KeyPending()) return;
  if (dismiss_) {
    PressKey(VK_ESCAPE);  // again while a submenu is open
    return;
  }
  const std::optional<std::vector<int>> Path = FindMenuPath(menu_.Rows, wantedCommand_);
  if (!Path) {
    Mishap("the wanted command is not in the menu");
    dismiss_ = true;
    PressKey(VK_ESCAPE);
    return;
  }
  // Where the user stands: the deepest open menu, which must lie on the path.
  size_t Level = 0;
  HMENU Current = menu_.Root;
  const std::vector<TMenuRow>* Rows = &menu_.Rows;
  for (const HMENU Open : openSubmenus_) {
    const TMenuRow* Next =
        Level + 1 < Path->size() ? &(*Rows)[static_cast<size_t>((*Path)[Level])] : nullptr;
    if (!Next || Next->Handle != Open) {
      PressKey(VK_LEFT);
      return;
    }
    Current = Open;
    Rows = &Next->Children;
    ++Level;
  }
  if (HighlightedIndex(Current) != (*Path)[Level]) {
    PressKey(VK_DOWN);
  } else if (Level + 1 < Path->size()) {
    PressKey(VK_RIGHT);
  } else if (atItem_) {
    // Held on the item: the menu paints meanwhile, then is shown and closed.
    if (heldSince_ == 0) heldSince_ = GetTickCount64();
    if (GetTickCount64() - heldSince_ < HoldMilliseconds) return;
    const std::function<void()> Show = std::move(atItem_);
    atItem_ = nullptr;
    Show();
    dismiss_ = true;
    PressKey(VK_ESCAPE);
  } else {
    PressKey(VK_RETURN);
    answeredMenu_ = true;
  }
}

// Moves the mouse cursor to Cursor and waits until the window system agrees:
// a pointer motion still on its way would otherwise reach the next menu and
// take its highlight away, or move the cursor back.
void THostWindow::MoveCursor(POINT Cursor) {
  const ULONGLONG Deadline = GetTickCount64() + 2000;
  int Steady = 0;
  while (Steady < 3 && GetTickCount64() < Deadline) {
    POINT Now{};
    GetCursorPos(&Now);
    if (Now.x == Cursor.x && Now.y == Cursor.y) {
      ++Steady;
    } else {
      Steady = 0;
      SetCursorPos(Cursor.x, Cursor.y);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    MSG Message;
    while (PeekMessageW(&Message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&Message);
      DispatchMessageW(&Message);
    }
  }
}

void THostWindow::AnswerBox(HWND Box) {
  answered_ = Box;
  boxSeen_ = true;
  if (!boxArmed_) Mishap("a message box opened that nobody expected");
  const bool Late = GetTickCount64() > boxDeadline_;
  boxArmed_ = false;
  box_ = {};
  box_.Opened = true;
  box_.Caption = ToU16(WindowText(Box));
  box_.Owner = GetWindow(Box, GW_OWNER);
  EnumChildWindows(Box, ReadBoxChild, reinterpret_cast<LPARAM>(&box_));
  std::sort(box_.Buttons.begin(), box_.Buttons.end());
  if (Late) Mishap("the message box opened too late");
  HWND Button = GetDlgItem(Box, button_);
  if (!Button || !IsWindowVisible(Button)) {
    Mishap("the message box lacks the button to press");
    Button = box_.Buttons.empty() ? nullptr : GetDlgItem(Box, box_.Buttons.front());
  }
  if (Button) PostMessageW(Button, BM_CLICK, 0, 0);
}

}  // namespace quillet::wintest
