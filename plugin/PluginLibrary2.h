// Line-by-line write-back.
#pragma once

#include <optional>

#include "plugin/HostMessages.h"

namespace quillet {

// Puts NewText in place of the selected text, rewriting only the lines that
// differ, then selects the new text with the caret at the end where it was.
// Raises EHostError, before changing anything, when the editor reports the
// selection's start before its text, or when the selected text reads
// otherwise than Source, the text NewText was made from, where that is given.
void WriteBackLines(THostEditor& Host, StringView NewText,
                    std::optional<StringView> Source = std::nullopt);

}  // namespace quillet
