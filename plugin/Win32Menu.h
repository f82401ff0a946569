// The command menu as a real popup menu, shown at the mouse cursor.
#pragma once

#include <windows.h>

#include <memory>
#include <span>
#include <type_traits>

#include "plugin/CommandDriver.h"

namespace quillet {

struct TMenuDestroyer {
  void operator()(HMENU Menu) const { DestroyMenu(Menu); }
};
// Owns a menu; destroying it destroys the submenus attached to it.
using TMenuHandle = std::unique_ptr<std::remove_pointer_t<HMENU>, TMenuDestroyer>;

// A popup menu holding Entries in order: items with no flags (MF_STRING),
// submenus as MF_POPUP menus of their own, separators as MF_SEPARATOR.
// Raises std::runtime_error when the window system refuses a menu or an
// entry; nothing is left behind then.
TMenuHandle BuildPopupMenu(std::span<const TMenuEntry> Entries);

class TWin32Menu final : public TPluginUI {
 public:
  explicit TWin32Menu(HWND Owner) : owner_(Owner) {}

  // TrackPopupMenu with TPM_RETURNCMD alone, at the cursor, owned by the
  // editor window: the chosen identifier, 0 when dismissed. The menu is
  // destroyed before this returns, however it returns.
  intptr_t TrackCommandMenu(std::span<const TMenuEntry> Menu) override;

 private:
  HWND owner_;
};

}  // namespace quillet
