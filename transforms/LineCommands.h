// The nine line rewrites of the command menu behind one entry.
//
// ApplyLineCommand is the line engine (transforms/LineEngine.h) over UTF-16
// text held whole; transforms/LiteralLineCommands.h keeps the literal
// sequences that define its results.
#pragma once

#include <cstddef>
#include <cstdint>

#include "StringUnit/LineBreaks.h"

namespace quillet {

// The tab width of the plug-in, for every tab expansion and every tab stop.
constexpr int32_t TabWidth = 4;
// What an indent consists of: space, full-width space, tab.
inline constexpr StringView IndentChars = u" \u3000\t";
// What is cut from a line end: the blanks and the breaks.
inline constexpr StringView LineEndChars = u" \u3000\t\r\n";

enum TLineCommand : uint8_t {
  lcSpaces = 1,     // indent to half-width spaces
  lcFullWidth = 2,  // indent to full-width spaces
  lcTabs = 3,       // indent to tabs
  lcDouble = 4,     // double the indent
  lcHalve = 5,      // halve the indent
  lcUnindent = 6,   // remove the indent
  lcTrim = 7,       // remove blanks at line ends
  lcPad = 8,        // pad line ends with spaces to the widest line
  lcPadTabs = 9,    // pad line ends with tabs beyond the widest line
};

// The new text for the whole of Text, rewritten line by line. Any other
// CommandId, and the empty text, give "". Commands 1 to 7 keep every line and
// its break.
String ApplyLineCommand(StringView Text, uint8_t CommandId);
// The same with tab stops every Tabs columns (1 to 64, the nearest of these
// for other values); ApplyLineCommand(Text, CommandId) is Tabs 4.
String ApplyLineCommand(StringView Text, uint8_t CommandId, int32_t Tabs);

// What ApplyLineCommand makes of a line's indent, the whole leading run of
// IndentChars, by command 1 to 6; appended to Out. The rest of the line
// stays as it is.
void AppendNewIndent(StringView Indent, uint8_t CommandId, String& Out);

// Width of a line: display width of the line without its break, tabs
// expanded. For lines of fewer than 2^31 columns.
int32_t LineWidth(StringView Line);
// What commands 8 and 9 put before the break of a trimmed line Width columns
// wide when the widest trimmed line of the text is Longest columns wide:
// Count spaces (command 8) or tabs (command 9).
struct TPadding {
  size_t Count;
  char16_t Unit;
};
TPadding LinePadding(uint8_t CommandId, int32_t Width, int32_t Longest);

}  // namespace quillet
