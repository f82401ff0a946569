// Whole-line selection and caret direction.
#pragma once

#include "plugin/HostMessages.h"

namespace quillet {

// 1 when the caret stands at the selection's end, 0 otherwise.
using TCaretDirection = int32_t;

TCaretDirection GetCaretDirection(THostEditor& Host);
// Re-sets the current selection with the caret at the end Direction names.
void RestoreCaretDirection(THostEditor& Host, TCaretDirection Direction);
// Editor positions; an empty range just places the caret.
void SelectRange(THostEditor& Host, PositionPair Anchor, PositionPair Caret);
// Widens the selection from column 0 of its first line to column 0 of the
// line after its last (the text's end on the last line), caret kept at its end.
// Raises EHostError, before changing the selection, when the editor reports
// its start on a line before the text or, where the line count is read, past
// it.
void SelectWholeLines(THostEditor& Host);

}  // namespace quillet
