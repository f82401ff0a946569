// The nine line commands as the literal sequences of line-list and string
// routines that define them: slow and plain. ApplyLineCommand and the line
// engine give the same results by other means; the tests and the fuzz
// targets hold them to these.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "StringUnit/LineBreaks.h"
#include "TemplateList/StringRecordList.h"
#include "transforms/LineCommands.h"
#include "transforms/LineEngine.h"

namespace quillet {

// The leading run of IndentChars, and everything after it.
std::pair<String, String> SplitIndent(StringView Line);

// Line without its trailing blanks, ending in the break it had.
String TrimLineEnd(StringView Line);

// The rewrite of an indent alone by command 1 to 5 (the indent itself for
// any other command): tab expansion and multi-pattern replacement, with tab
// stops every TabWidth columns.
String NewIndent(StringView Indent, uint8_t CommandId, int32_t TabWidth = quillet::TabWidth);

struct TLongestLine {
  int32_t Index;  // first widest line, or -1 when no line is wider than 0
  int32_t Width;  // in columns
};

// Width of a line: the display width of the line with its tabs expanded,
// without its break.
int32_t LiteralLineWidth(StringView Line, int32_t TabWidth = quillet::TabWidth);
TLongestLine FindLongestLine(const TRecordList& List, int32_t TabWidth = quillet::TabWidth);
// Line with spaces inserted before its break up to Target columns.
String PadWithSpaces(StringView Line, int32_t Target, int32_t TabWidth = quillet::TabWidth);
// Line with tabs inserted before its break up to the tab stop at or after
// Target.
String PadWithTabs(StringView Line, int32_t Target, int32_t TabWidth = quillet::TabWidth);
// Smallest multiple of Step (>= 1) that is not below Value.
int32_t RoundUpToMultiple(int32_t Value, int32_t Step);

// What ApplyLineCommand gives: the text set into a line list, every line
// rewritten by the command's sequence, the lines joined. "" for any other
// CommandId.
String ApplyLineCommandLiterally(StringView Text, uint8_t CommandId,
                                 int32_t TabWidth = quillet::TabWidth);
// The same for the selected Lines only (every line when empty), as if each
// were handed to ApplyLineCommand; commands 8 and 9 pad against the widest
// of all selected lines. The other lines stay as they are.
String ApplyLineCommandLiterally(StringView Text, uint8_t CommandId, int32_t TabWidth,
                                 const std::vector<TLineRange>& Lines);

}  // namespace quillet
