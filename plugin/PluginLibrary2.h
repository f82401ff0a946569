// Line-by-line write-back.
#pragma once

#include "plugin/HostMessages.h"

namespace quillet {

// Puts NewText in place of the selected text, rewriting only the lines that
// differ, then selects the new text with the caret at the end where it was.
// Raises EHostError, before changing anything, when the editor reports the
// selection's start before its text.
void WriteBackLines(THostEditor& Host, StringView NewText);

}  // namespace quillet
