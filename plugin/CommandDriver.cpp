#include "plugin/CommandDriver.h"

#include <algorithm>

#include "plugin/PluginLibrary.h"
#include "plugin/PluginLibrary2.h"
#include "transforms/LineCommands.h"

namespace quillet {

namespace {

constexpr TMenuEntry Item(const char16_t* Label, uint8_t Id) {
  return {TMenuEntryKind::Item, Label, Id, {}};
}
constexpr TMenuEntry Separator() {
  return {TMenuEntryKind::Separator, nullptr, 0, {}};
}

constexpr TMenuEntry IndentKindMenu[] = {
    Item(u"半角スペース", lcSpaces),
    Item(u"全角スペース", lcFullWidth),
    Item(u"タブ", lcTabs),
};
constexpr TMenuEntry IndentDepthMenu[] = {
    Item(u"x2", lcDouble),
    Item(u"1/2", lcHalve),
};
constexpr TMenuEntry PaddingMenu[] = {
    Item(u"スペース", lcPad),
    Item(u"+1タブ", lcPadTabs),
};
constexpr TMenuEntry MainMenu[] = {
    {TMenuEntryKind::Submenu, u"インデント種類変更", 0, IndentKindMenu},
    {TMenuEntryKind::Submenu, u"インデント数変更", 0, IndentDepthMenu},
    Separator(),
    Item(u"インデント削除", lcUnindent),
    Separator(),
    Item(u"行末空白削除", lcTrim),
    {TMenuEntryKind::Submenu, u"行末空白埋め", 0, PaddingMenu},
    Separator(),
    Item(u"キャンセル", 0),
};

int32_t LineLength(THostEditor& Host, int32_t Line) {
  return static_cast<int32_t>(GetLineText(Host, Line).size());
}

// Everything between switching redraw off and on again.
void RunCommandMenu(THostEditor& Host, TPluginUI& UI) {
  PositionPair Start = GetSelectionStart(Host, pkTextLine);
  const TViewRecord View = GetViewRecord(Host);
  const bool NoSelection = !QueryHasSelection(Host);

  // Only the low byte carries the identifier; anything outside the menu's
  // commands is no command.
  const auto Id = static_cast<uint8_t>(UI.TrackCommandMenu(CommandMenu()) & 0xFF);
  if (Id >= lcSpaces && Id <= lcPadTabs) {
    if (NoSelection)
      RunCommand(Host, hcSelectLine);
    else
      SelectWholeLines(Host);
    const int32_t LengthBefore = LineLength(Host, Start.Line);
    const String Selected = GetSelectedText(Host);
    WriteBackLines(Host, ApplyLineCommand(Selected, Id), Selected);

    if (NoSelection) {
      RunCommand(Host, hcCancelSelection);
      if (Id == lcUnindent) {
        // The caret keeps its place in the text after the removed indent, or
        // goes to the line's start when it stood inside the indent.
        const int32_t Removed = LengthBefore - LineLength(Host, Start.Line);
        Start.Column = std::max(0, Start.Column - Removed);
      }
      SetCaretPosition(Host, pkTextLine, Start);
    }
  }
  SetViewRecord(Host, View);
}

}  // namespace

std::span<const TMenuEntry> CommandMenu() {
  return MainMenu;
}

void OnCommand(THostEditor& Host, TPluginUI& UI) {
  SetRedraw(Host, false);
  try {
    RunCommandMenu(Host, UI);
  } catch (...) {
    // However the run ends, the editor draws again; the failure goes on.
    SetRedraw(Host, true);
    throw;
  }
  SetRedraw(Host, true);
}

}  // namespace quillet
