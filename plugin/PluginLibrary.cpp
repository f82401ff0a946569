#include "plugin/PluginLibrary.h"

namespace quillet {

TCaretDirection GetCaretDirection(THostEditor& Host) {
  const PositionPair Start = GetSelectionStart(Host, pkEditor);
  const PositionPair End = GetSelectionEnd(Host, pkEditor);
  const PositionPair Caret = GetCaretPosition(Host, pkEditor);
  if (Caret == Start) return 0;
  return Caret == End ? 1 : 0;
}

void RestoreCaretDirection(THostEditor& Host, TCaretDirection Direction) {
  const PositionPair Start = GetSelectionStart(Host, pkEditor);
  const PositionPair End = GetSelectionEnd(Host, pkEditor);
  if (Direction == 0)
    SelectRange(Host, End, Start);
  else
    SelectRange(Host, Start, End);
}

void SelectRange(THostEditor& Host, PositionPair Anchor, PositionPair Caret) {
  if (Anchor == Caret)
    SetCaretPosition(Host, pkEditor, Anchor);
  else
    SetSelection(Host, Anchor, Caret);
}

void SelectWholeLines(THostEditor& Host) {
  PositionPair Start = GetSelectionStart(Host, pkTextLine);
  PositionPair End = GetSelectionEnd(Host, pkTextLine);
  const TCaretDirection Direction = GetCaretDirection(Host);

  // Everything after works on lines counted from the start: one outside the
  // text would make it work on other lines than the selected ones.
  if (Start.Line < 0) throw EHostError(BadSelectionMessage);
  Start.Column = 0;
  // A selection that already ends at the start of a later line keeps that
  // line outside.
  if (End.Column != 0 || End.Line == Start.Line) {
    const int32_t LineCount = GetLineCount(Host, pkTextLine);
    if (Start.Line >= LineCount) throw EHostError(BadSelectionMessage);
    if (End.Line == LineCount - 1)
      End.Column = static_cast<int32_t>(GetLineText(Host, End.Line).size());
    else
      End = {0, End.Line + 1};
  }

  Start = TextLineToEditorPosition(Host, Start);
  End = TextLineToEditorPosition(Host, End);
  SetSelection(Host, Start, End);
  RestoreCaretDirection(Host, Direction);
}

}  // namespace quillet
