#include "transforms/LineCommands.h"

#include "StringUnit/Columns.h"
#include "StringUnit/Matching.h"

namespace quillet {

namespace {

constexpr char16_t Space = u' ';
constexpr char16_t FullWidthSpace = u'\u3000';
constexpr char16_t Tab = u'\t';

// Commands 1 to 3 first turn an indent into half-width spaces only.
String ToHalfWidthSpaces(StringView Indent) {
  static const StringList Old{String(1, FullWidthSpace)};
  static const StringList New{String(2, Space)};
  return ReplaceMulti(ExpandTabs(Indent, TabWidth), Old, New, false, true);
}

String ToFullWidthSpaces(StringView Indent) {
  static const StringList Old{String(2, Space)};
  static const StringList New{String(1, FullWidthSpace)};
  return ReplaceMulti(ToHalfWidthSpaces(Indent), Old, New, false, true);
}

String ToTabs(StringView Indent) {
  static const StringList Old{RepeatString(u" ", TabWidth)};
  static const StringList New{String(1, Tab)};
  return ReplaceMulti(ToHalfWidthSpaces(Indent), Old, New, false, true);
}

String DoubleIndent(StringView Indent) {
  static const StringList Old{String(1, Space), String(1, FullWidthSpace), String(1, Tab)};
  static const StringList New{String(2, Space), String(2, FullWidthSpace), String(2, Tab)};
  return ReplaceMulti(Indent, Old, New, false, true);
}

String HalveIndent(StringView Indent) {
  static const StringList Old{String(2, Space), String(2, FullWidthSpace), String(2, Tab)};
  static const StringList New{String(1, Space), String(1, FullWidthSpace), String(1, Tab)};
  return ReplaceMulti(Indent, Old, New, false, true);
}

// The line rewritten by command 1 to 6; the same string when nothing changes.
const String& RewriteLine(const String& Line, uint8_t CommandId, String& Scratch) {
  const int32_t IndentLength = CountLeadingChars(Line, IndentChars);
  if (IndentLength == 0) return Line;
  const StringView View(Line);
  if (CommandId == lcUnindent) {
    Scratch.assign(View.substr(IndentLength));
  } else {
    Scratch = NewIndent(View.substr(0, IndentLength), CommandId);
    Scratch.append(View.substr(IndentLength));
  }
  return Scratch;
}

}  // namespace

std::pair<String, String> SplitIndent(StringView Line) {
  const auto N = static_cast<size_t>(CountLeadingChars(Line, IndentChars));
  return {String(Line.substr(0, N)), String(Line.substr(N))};
}

String TrimLineEnd(StringView Line) {
  String Result = TrimRightChars(Line, LineEndChars);
  Result.append(LineBreakString(GetLineBreakKind(Line)));
  return Result;
}

String NewIndent(StringView Indent, uint8_t CommandId) {
  switch (CommandId) {
    case lcSpaces:
      return ToHalfWidthSpaces(Indent);
    case lcFullWidth:
      return ToFullWidthSpaces(Indent);
    case lcTabs:
      return ToTabs(Indent);
    case lcDouble:
      return DoubleIndent(Indent);
    case lcHalve:
      return HalveIndent(Indent);
    default:
      return String(Indent);
  }
}

int32_t LineWidth(StringView Line) {
  return DisplayWidth(CopyWithoutLineBreak(ExpandTabs(Line, TabWidth)));
}

TLongestLine FindLongestLine(const TRecordList& List) {
  TLongestLine Longest{-1, 0};
  for (int32_t I = 0; I < List.Count(); ++I) {
    const int32_t Width = LineWidth(List.Items(I));
    if (Width > Longest.Width) Longest = {I, Width};
  }
  return Longest;
}

int32_t RoundUpToMultiple(int32_t Value, int32_t Step) {
  if (Value % Step == 0) return Value;
  return (Value / Step + 1) * Step;
}

String PadWithSpaces(StringView Line, int32_t Target) {
  const int32_t Pad = Target - LineWidth(Line);
  return InsertBeforeLineBreak(Line, Pad > 0 ? String(Pad, Space) : String());
}

String PadWithTabs(StringView Line, int32_t Target) {
  const int32_t Stop = RoundUpToMultiple(Target, TabWidth);
  const int32_t Width = LineWidth(Line);
  // The first tab reaches the next stop after Width, each further one a whole
  // TabWidth.
  const int32_t Tabs = Width % TabWidth == 0
                           ? (Stop - Width) / TabWidth
                           : (Stop - RoundUpToMultiple(Width, TabWidth)) / TabWidth + 1;
  return InsertBeforeLineBreak(Line, Tabs > 0 ? String(Tabs, Tab) : String());
}

String ApplyLineCommand(StringView Text, uint8_t CommandId) {
  TCommonStringRecordList Lines;
  Lines.SetText(Text);
  const int32_t Count = Lines.Count();
  String Result;

  switch (CommandId) {
    case lcSpaces:
    case lcFullWidth:
    case lcTabs:
    case lcDouble:
    case lcHalve:
    case lcUnindent: {
      String Scratch;
      for (int32_t I = 0; I < Count; ++I) {
        const String& Line = Lines.Items(I);
        const String& NewLine = RewriteLine(Line, CommandId, Scratch);
        if (&NewLine != &Line) Lines.SetItems(I, std::move(Scratch));
      }
      Result = Lines.Text();
      break;
    }
    case lcTrim:
      Result.reserve(Text.size());
      for (int32_t I = 0; I < Count; ++I) Result += TrimLineEnd(Lines.Items(I));
      break;
    case lcPad:
    case lcPadTabs: {
      for (int32_t I = 0; I < Count; ++I) Lines.SetItems(I, TrimLineEnd(Lines.Items(I)));
      const int32_t Longest = FindLongestLine(Lines).Width;
      for (int32_t I = 0; I < Count; ++I) {
        const String& Line = Lines.Items(I);
        Result += CommandId == lcPad ? PadWithSpaces(Line, Longest)
                                     : PadWithTabs(Line, Longest + TabWidth);
      }
      break;
    }
    default:
      break;
  }
  return Result;
}

}  // namespace quillet
