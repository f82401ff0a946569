// What the OnCommand tests share: one run through the real popup menu, the
// frame every run must keep, the driver's choice made without a menu, and
// the text a command makes of a stretch of the document.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "plugin/CommandDriver.h"
#include "testing/SimEditor.h"
#include "tests/win32/Check.h"
#include "tests/win32/TestHost.h"
#include "transforms/LineCommands.h"

namespace quillet::wintest {

// The view record every run starts from, and must give back.
constexpr TViewRecord SavedView{{7, 3}};

struct TRun {
  testing::TSimEditor& Sim;
  int32_t Anchor;
  int32_t Caret;
  POINT Cursor;
};

// Sets up the editor, shows the menu through OnCommand and picks Command
// (or dismisses the menu).
inline void RunOnCommand(const TPlugin& Plugin, THostWindow& Window, TRun& Run, UINT Command,
                         bool Dismiss) {
  Run.Sim.SetViewRows(2);  // caret moves scroll the view
  Run.Sim.Select(Run.Anchor, Run.Caret);
  Run.Sim.SetView(SavedView);
  Run.Sim.ClearLog();
  Window.Attach(&Run.Sim);
  Window.ExpectMenu(Command, Dismiss, Run.Cursor);
  Plugin.OnCommand(Window.Handle());
  Window.Attach(nullptr);
}

// Redraw switched off first and on last, once each.
inline void CheckFrame(testing::TSimEditor& Sim) {
  Check(Sim.Redraw(), "redraw is on again");
  const std::vector<std::string> Names = Sim.MessageNames();
  const auto& Log = Sim.Log();
  Check(Names.size() >= 3 && Names.front() == "MsgSetRedraw" && Log.front().WParam == 0,
        "redraw switched off first");
  Check(Names.size() >= 3 && Names.back() == "MsgSetRedraw" && Log.back().WParam == 1,
        "redraw switched on last");
  CheckEqual(std::count(Names.begin(), Names.end(), "MsgSetRedraw"), 2l, "redraw switches");
}

// The driver's choice made without a menu, to learn what a failure says.
class TFixedChoice final : public TPluginUI {
 public:
  explicit TFixedChoice(uint8_t Command) : command_(Command) {}
  intptr_t TrackCommandMenu(std::span<const TMenuEntry>) override { return command_; }

 private:
  uint8_t command_;
};

inline std::u16string FromUtf8(const std::string& Text) {
  std::wstring Wide(Text.size(), L'\0');
  Wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, Text.data(),
                                                      static_cast<int>(Text.size()), Wide.data(),
                                                      static_cast<int>(Wide.size()))));
  return {Wide.begin(), Wide.end()};
}

// Document with units From..To-1 rewritten; the rewritten part's new end.
inline std::pair<std::u16string, int32_t> Rewrite(const std::u16string& Document, int32_t From,
                                                  int32_t To, uint8_t Command) {
  const String Lines = ApplyLineCommand(StringView(Document).substr(From, To - From), Command);
  return {Document.substr(0, From) + Lines + Document.substr(To),
          From + static_cast<int32_t>(Lines.size())};
}

}  // namespace quillet::wintest
