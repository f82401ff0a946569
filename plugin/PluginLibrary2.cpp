#include "plugin/PluginLibrary2.h"

#include <algorithm>

#include "TemplateList/StringRecordList.h"
#include "plugin/PluginLibrary.h"

namespace quillet {

namespace {

int32_t LengthOf(StringView S) {
  return static_cast<int32_t>(S.size());
}

// Where the new text ends up in the editor: it starts at Start and is Length
// units long.
struct TWrittenRange {
  PositionPair Start;
  int32_t Length;
};

// Whether rewriting the common lines one by one would leave a new line that
// ends in a lone CR right before an old line that starts with LF. The editor
// would read the two as one line, and every later line would be looked for a
// line too low. The new text is split afresh, so its lines pair with the old
// ones only as long as no such join occurs.
bool RewriteWouldJoinLines(const TRecordList& OldLines, const TRecordList& NewLines) {
  const int32_t Common = std::min(OldLines.Count(), NewLines.Count());
  for (int32_t I = 0; I + 1 < OldLines.Count() && I < Common; ++I) {
    const String& New = NewLines.Items(I);
    if (GetLineBreakKind(New) == lbCR && OldLines.Items(I + 1).front() == u'\n' &&
        OldLines.Items(I) != New)
      return true;
  }
  return false;
}

// Whether the new text, written from column 0 of a line after the first and
// starting with LF, was taken by a lone CR ending the line before: the caret,
// just behind what was written, then stands a line higher than it would.
bool JoinedLineBefore(THostEditor& Host, PositionPair Start, StringView Written,
                      int32_t CaretLineUnlessJoined) {
  return Start.Column == 0 && Start.Line > 0 && !Written.empty() && Written.front() == u'\n' &&
         GetCaretPosition(Host, pkTextLine).Line == CaretLineUnlessJoined - 1;
}

// The new text then starts inside a CR LF break, where no selection can start:
// the selection leaves out its first unit.
void SkipJoinedBreak(TWrittenRange& Written) {
  Written = {{0, Written.Start.Line}, Written.Length - 1};
}

// Rewrites only the lines that differ, then inserts or deletes the surplus
// in one replacement.
void RewriteLineByLine(THostEditor& Host, const TRecordList& OldLines, const TRecordList& NewLines,
                       TWrittenRange& Written) {
  const PositionPair Start = Written.Start;
  // 1 once the first line has been joined to the line before the selection:
  // the lines after it have then moved up by one.
  int32_t Joined = 0;
  const int32_t Common = std::min(OldLines.Count(), NewLines.Count());
  for (int32_t I = 0; I < Common; ++I) {
    const String& Old = OldLines.Items(I);
    const String& New = NewLines.Items(I);
    const PositionPair P{I == 0 ? Start.Column : 0, Start.Line + I - Joined};
    if (Old == New) {
      SetCaretPosition(Host, pkTextLine, {0, P.Line + 1});
      continue;
    }
    SetCaretPosition(Host, pkTextLine, P);
    if (GetLineBreakKind(Old) == lbCRLF && GetLineBreakKind(New) == lbCRLF) {
      // Only the content changes; the break stays in place.
      SelectCharacters(Host, LengthOf(Old) - 2);
      ReplaceSelection(Host, StringView(New).substr(0, New.size() - 2));
      SetCaretPosition(Host, pkTextLine, {0, P.Line + 1});
      continue;
    }
    SelectCharacters(Host, LengthOf(Old));
    ReplaceSelection(Host, New);
    if (I == 0 && JoinedLineBefore(Host, P, New, P.Line + 1)) {
      // What follows moved up a line.
      Joined = 1;
      SkipJoinedBreak(Written);
    }
  }

  if (NewLines.Count() > Common) {
    String Surplus;
    for (int32_t I = Common; I < NewLines.Count(); ++I) Surplus += NewLines.Items(I);
    ReplaceSelection(Host, Surplus);
  } else if (OldLines.Count() > Common) {
    int32_t Surplus = 0;
    for (int32_t I = Common; I < OldLines.Count(); ++I) Surplus += LengthOf(OldLines.Items(I));
    // With no common line the caret may stand at either end of the restored
    // selection; the deletion must start at the first old line.
    if (Common == 0) SetCaretPosition(Host, pkTextLine, Start);
    SelectCharacters(Host, Surplus);
    ReplaceSelection(Host, u"");
  }
}

}  // namespace

void WriteBackLines(THostEditor& Host, StringView NewText, std::optional<StringView> Source) {
  TCommonStringRecordList OldLines;
  TCommonStringRecordList NewLines;
  const String OldText = GetSelectedText(Host);
  // Lines of another text than the one rewritten would be replaced or
  // deleted by what was made for other lines.
  if (Source && OldText != *Source) throw EHostError(ChangedSelectionMessage);
  OldLines.SetText(OldText);
  NewLines.SetText(NewText);

  TWrittenRange Written{GetSelectionStart(Host, pkTextLine), LengthOf(NewText)};
  // The rewrites address lines by number from the start: one before the
  // text would send them all to its first line.
  if (Written.Start.Line < 0 || Written.Start.Column < 0) throw EHostError(BadSelectionMessage);
  const TCaretDirection Direction = GetCaretDirection(Host);

  if (RewriteWouldJoinLines(OldLines, NewLines)) {
    // The lines cannot be addressed one by one: replace the old text whole.
    SetCaretPosition(Host, pkTextLine, Written.Start);
    SelectCharacters(Host, LengthOf(OldText));
    ReplaceSelection(Host, NewText);
    const int32_t Breaks = NewLines.Count() - (GetLineBreakKind(NewText) == lbNone ? 1 : 0);
    if (JoinedLineBefore(Host, Written.Start, NewText, Written.Start.Line + Breaks))
      SkipJoinedBreak(Written);
  } else {
    RewriteLineByLine(Host, OldLines, NewLines, Written);
  }

  SetCaretPosition(Host, pkTextLine, Written.Start);
  SelectCharacters(Host, Written.Length);
  RestoreCaretDirection(Host, Direction);
}

}  // namespace quillet
