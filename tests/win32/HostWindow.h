// A real top-level window standing in for the host editor. Its window
// procedure answers the host messages from a simulated editor, and plays the
// user: it reads the popup menu or the message box that the plug-in opened on
// this window and answers it with keys and clicks. It acts on the menu
// notifications the window receives as the owner, and on a 10 ms timer,
// which keeps running inside the modal loops of menus and message boxes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "testing/SimEditor.h"

namespace quillet::wintest {

// One entry of a popup menu as the window system holds it.
struct TMenuRow {
  enum TKind { Item, Submenu, Separator } Kind;
  std::u16string Label;
  UINT Id;
  UINT Type;     // MFT_* flags
  UINT State;    // MFS_* flags
  HMENU Handle;  // the submenu, for a submenu
  std::vector<TMenuRow> Children;
};

// What was seen of one popup menu, from opening to closing.
struct TMenuSession {
  bool Opened = false;
  std::vector<TMenuRow> Rows;  // read when the menu opened
  HMENU Root = nullptr;
  std::vector<HMENU> SubmenusOpened;  // in the order they opened
  std::optional<RECT> Window;         // the popup's screen rectangle
  int Keys = 0;                       // keys pressed
};

// What was seen of one message box.
struct TBoxSession {
  bool Opened = false;
  std::u16string Text;
  std::u16string Caption;
  HWND Owner = nullptr;
  std::vector<int> Buttons;  // control identifiers of the visible buttons, ascending
  HICON Icon = nullptr;
};

class THostWindow {
 public:
  // Creates and shows the window; raises std::runtime_error on failure.
  THostWindow();
  ~THostWindow();
  THostWindow(const THostWindow&) = delete;
  THostWindow& operator=(const THostWindow&) = delete;

  HWND Handle() const { return window_; }

  // The editor that answers host messages 2049..2100; none: every answer 0.
  void Attach(testing::TSimEditor* Sim) { sim_ = Sim; }
  // Consulted before the editor: an answer it gives is returned instead.
  std::function<std::optional<LRESULT>(UINT Msg, WPARAM, LPARAM)> Intercept;

  // The user's answer to the next popup menu: with the mouse cursor moved
  // to Cursor, walk to the item with identifier Command (the first one,
  // searching submenus) with the arrow keys and press Enter; or press Escape
  // when Dismiss is set. With AtItem, the walk stops on the item instead:
  // once the menu has stood still for a moment, its submenu open and the
  // item highlighted, AtItem is called and the menu dismissed.
  void ExpectMenu(UINT Command, bool Dismiss, POINT Cursor, std::function<void()> AtItem = nullptr);
  // The user's answer to the next message box: click the button Button.
  // A menu and a box can be expected at the same time: the menu comes first.
  void ExpectBox(int Button);

  const TMenuSession& LastMenu() const { return menu_; }
  const TBoxSession& LastBox() const { return box_; }
  // Menus and boxes that opened while none was expected, or were not
  // answered in time (both were then closed by force).
  int Mishaps() const { return mishaps_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam);
  void Settle();
  LRESULT HostMessage(UINT Msg, WPARAM WParam, LPARAM LParam);
  void OnTick();
  void StepMenu();
  void MoveCursor(POINT Cursor);
  void AnswerBox(HWND Box);
  void PressKey(UINT Key);
  void Mishap(const char* What);

  HWND window_ = nullptr;
  testing::TSimEditor* sim_ = nullptr;

  // Menu plan and state: the wanted command, the submenus open now (in
  // opening order), and whether Enter has been pressed.
  bool menuArmed_ = false;
  ULONGLONG menuDeadline_ = 0;
  UINT wantedCommand_ = 0;
  bool dismiss_ = false;
  bool inMenuLoop_ = false;
  std::vector<HMENU> openSubmenus_;
  bool answeredMenu_ = false;
  std::function<void()> atItem_;
  ULONGLONG heldSince_ = 0;
  TMenuSession menu_;
  // Box plan.
  bool boxArmed_ = false;
  ULONGLONG boxDeadline_ = 0;
  int button_ = 0;
  HWND answered_ = nullptr;
  bool boxSeen_ = false;  // a box was shown since the window last settled
  TBoxSession box_;
  int mishaps_ = 0;
};

// Indexes, one per menu level, of the first item with identifier Command.
std::optional<std::vector<int>> FindMenuPath(const std::vector<TMenuRow>& Rows, UINT Command);

}  // namespace quillet::wintest
