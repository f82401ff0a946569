#include "plugin/CommandDriver.h"

#include <algorithm>
#include <array>

#include "plugin/PluginLibrary.h"
#include "plugin/PluginLibrary2.h"
#include "transforms/CommandTable.h"
#include "transforms/LineCommands.h"

namespace quillet {

namespace {

constexpr TMenuEntry Item(const char16_t* Label, uint8_t Id) {
  return {TMenuEntryKind::Item, Label, Id, {}};
}
constexpr TMenuEntry Separator() {
  return {TMenuEntryKind::Separator, nullptr, 0, {}};
}

// One item per row of the command table, in its order; each submenu holds a
// run of them.
constexpr auto CommandItems = [] {
  std::array<TMenuEntry, CommandTable.size()> Items{};
  for (size_t I = 0; I < CommandTable.size(); ++I)
    Items[I] = Item(CommandTable[I].Label.data(), CommandTable[I].Id);
  return Items;
}();

// Lays the menu out from the command table into Menu, when given; returns
// the number of entries. A row without a heading is an item of the menu
// itself, and a run of rows under one heading a submenu; a separator stands
// before each row that starts a group, and before "キャンセル" at the end.
constexpr size_t LayOutMenu(TMenuEntry* Menu) {
  size_t Count = 0;
  const auto Add = [&](const TMenuEntry& Entry) {
    if (Menu) Menu[Count] = Entry;
    ++Count;
  };
  for (size_t I = 0; I < CommandTable.size();) {
    const TCommandInfo& Row = CommandTable[I];
    if (Row.StartsGroup && I > 0) Add(Separator());
    size_t End = I + 1;
    if (!Row.Heading.empty()) {
      while (End < CommandTable.size() && CommandTable[End].Heading == Row.Heading &&
             !CommandTable[End].StartsGroup)
        ++End;
      Add({TMenuEntryKind::Submenu, Row.Heading.data(), 0,
           std::span<const TMenuEntry>(CommandItems.data() + I, End - I)});
    } else {
      Add(CommandItems[I]);
    }
    I = End;
  }
  Add(Separator());
  Add(Item(CancelLabel.data(), 0));
  return Count;
}

constexpr auto MainMenu = [] {
  std::array<TMenuEntry, LayOutMenu(nullptr)> Menu{};
  LayOutMenu(Menu.data());
  return Menu;
}();

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
  if (FindCommand(Id)) {
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
