#include "plugin/PluginLibrary2.h"

#include "TemplateList/StringRecordList.h"
#include "plugin/PluginLibrary.h"

namespace quillet {

namespace {

int32_t LengthOf(StringView S) {
  return static_cast<int32_t>(S.size());
}

}  // namespace

void WriteBackLines(THostEditor& Host, StringView NewText) {
  TCommonStringRecordList OldLines;
  TCommonStringRecordList NewLines;
  OldLines.SetText(GetSelectedText(Host));
  NewLines.SetText(NewText);

  PositionPair Start = GetSelectionStart(Host, pkTextLine);
  const TCaretDirection Direction = GetCaretDirection(Host);
  int32_t SelectionLength = LengthOf(NewText);

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
    // Within the new text a lone CR is never followed by a line of its own
    // that starts with LF, but the line before the selection may end in one.
    if (I == 0 && P.Column == 0 && P.Line > 0 && New.front() == u'\n' &&
        GetCaretPosition(Host, pkTextLine).Line == P.Line) {
      // The line before the selection ended in a lone CR and took our LF:
      // what follows moved up a line, and the new text now starts inside a
      // CR LF break, where no selection can start.
      Joined = 1;
      Start = {0, P.Line};
      SelectionLength -= 1;
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

  SetCaretPosition(Host, pkTextLine, Start);
  SelectCharacters(Host, SelectionLength);
  RestoreCaretDirection(Host, Direction);
}

}  // namespace quillet
