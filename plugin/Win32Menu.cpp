#include "plugin/Win32Menu.h"

#include <stdexcept>

#include "plugin/Win32Host.h"

namespace quillet {

namespace {

void Require(bool Done) {
  if (!Done) throw std::runtime_error("メニューを作成できませんでした");
}

}  // namespace

TMenuHandle BuildPopupMenu(std::span<const TMenuEntry> Entries) {
  TMenuHandle Menu(CreatePopupMenu());
  Require(Menu != nullptr);
  for (const TMenuEntry& Entry : Entries) {
    switch (Entry.Kind) {
      case TMenuEntryKind::Item:
        Require(AppendMenuW(Menu.get(), MF_STRING, Entry.Id, WideText(Entry.Label)));
        break;
      case TMenuEntryKind::Submenu: {
        TMenuHandle Submenu = BuildPopupMenu(Entry.Children);
        Require(AppendMenuW(Menu.get(), MF_POPUP, reinterpret_cast<UINT_PTR>(Submenu.get()),
                            WideText(Entry.Label)));
        Submenu.release();  // the parent menu owns it now
        break;
      }
      case TMenuEntryKind::Separator:
        Require(AppendMenuW(Menu.get(), MF_SEPARATOR, 0, nullptr));
        break;
    }
  }
  return Menu;
}

intptr_t TWin32Menu::TrackCommandMenu(std::span<const TMenuEntry> Entries) {
  const TMenuHandle Menu = BuildPopupMenu(Entries);
  POINT Cursor{0, 0};
  GetCursorPos(&Cursor);  // without a cursor the menu opens at the screen's corner
  return TrackPopupMenu(Menu.get(), TPM_RETURNCMD, Cursor.x, Cursor.y, 0, owner_, nullptr);
}

}  // namespace quillet
