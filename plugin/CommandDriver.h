// The command menu and the flow of one command.
#pragma once

#include <cstdint>
#include <span>

#include "plugin/HostMessages.h"

namespace quillet {

enum class TMenuEntryKind : uint8_t { Item, Submenu, Separator };

struct TMenuEntry {
  TMenuEntryKind Kind;
  const char16_t* Label;  // null for a separator
  uint8_t Id;             // 0: no command
  std::span<const TMenuEntry> Children;
};

// The rows of the popup menu, in order, submenus with their items.
std::span<const TMenuEntry> CommandMenu();

// What the driver needs from the window system, so it runs without one.
class TPluginUI {
 public:
  virtual ~TPluginUI() = default;
  // Shows the command menu at the mouse cursor, owned by the editor window,
  // and returns the popup's result; 0 when dismissed.
  virtual intptr_t TrackCommandMenu(std::span<const TMenuEntry> Menu) = 0;
};

// Shows the menu and runs the chosen command on the selected lines (the
// caret's line without a selection). Redraw is switched back on however the
// run ends; a failure passes on to the caller.
void OnCommand(THostEditor& Host, TPluginUI& UI);

}  // namespace quillet
