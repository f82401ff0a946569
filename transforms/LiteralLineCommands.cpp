// The literal sequences of the nine line commands.
// Tested by tests/LineCommands_test.cpp; the engine is held to them by
// tests/LineEngine_test.cpp and fuzz/fuzz_line_engine.cpp.
#include "transforms/LiteralLineCommands.h"

#include "StringUnit/Columns.h"
#include "StringUnit/Matching.h"

namespace quillet {

namespace {

// Commands 1 to 3 first turn an indent into half-width spaces only.
String ToHalfWidthSpaces(StringView Indent, int32_t TabWidth) {
  return ReplaceMulti(ExpandTabs(Indent, TabWidth), {u"\u3000"}, {u"  "}, false, true);
}

bool IsSelected(int32_t Index, const std::vector<TLineRange>& Lines) {
  if (Lines.empty()) return true;
  const auto Line = static_cast<uint64_t>(Index) + 1;
  for (const TLineRange& Range : Lines) {
    if (Range.First <= Line && Line <= Range.Last) return true;
  }
  return false;
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

String NewIndent(StringView Indent, uint8_t CommandId, int32_t TabWidth) {
  switch (CommandId) {
    case lcSpaces:
      return ToHalfWidthSpaces(Indent, TabWidth);
    case lcFullWidth:
      return ReplaceMulti(ToHalfWidthSpaces(Indent, TabWidth), {u"  "}, {u"\u3000"}, false, true);
    case lcTabs:
      return ReplaceMulti(ToHalfWidthSpaces(Indent, TabWidth), {RepeatString(u" ", TabWidth)},
                          {u"\t"}, false, true);
    case lcDouble:
      return ReplaceMulti(Indent, {u" ", u"\u3000", u"\t"}, {u"  ", u"\u3000\u3000", u"\t\t"},
                          false, true);
    case lcHalve:
      return ReplaceMulti(Indent, {u"  ", u"\u3000\u3000", u"\t\t"}, {u" ", u"\u3000", u"\t"},
                          false, true);
    default:
      return String(Indent);
  }
}

int32_t LiteralLineWidth(StringView Line, int32_t TabWidth) {
  return DisplayWidth(CopyWithoutLineBreak(ExpandTabs(Line, TabWidth)));
}

TLongestLine FindLongestLine(const TRecordList& List, int32_t TabWidth) {
  TLongestLine Longest{-1, 0};
  for (int32_t I = 0; I < List.Count(); ++I) {
    const int32_t Width = LiteralLineWidth(List.Items(I), TabWidth);
    if (Width > Longest.Width) Longest = {I, Width};
  }
  return Longest;
}

int32_t RoundUpToMultiple(int32_t Value, int32_t Step) {
  if (Value % Step == 0) return Value;
  return (Value / Step + 1) * Step;
}

String PadWithSpaces(StringView Line, int32_t Target, int32_t TabWidth) {
  const int32_t Pad = Target - LiteralLineWidth(Line, TabWidth);
  return InsertBeforeLineBreak(Line, Pad > 0 ? String(static_cast<size_t>(Pad), u' ') : String());
}

String PadWithTabs(StringView Line, int32_t Target, int32_t TabWidth) {
  const int32_t Stop = RoundUpToMultiple(Target, TabWidth);
  const int32_t Width = LiteralLineWidth(Line, TabWidth);
  // The first tab only reaches the next stop after Width.
  const int32_t Tabs = Width % TabWidth == 0
                           ? (Stop - Width) / TabWidth
                           : (Stop - RoundUpToMultiple(Width, TabWidth)) / TabWidth + 1;
  return InsertBeforeLineBreak(Line,
                               Tabs > 0 ? String(static_cast<size_t>(Tabs), u'\t') : String());
}

String ApplyLineCommandLiterally(StringView Text, uint8_t CommandId, int32_t TabWidth) {
  return ApplyLineCommandLiterally(Text, CommandId, TabWidth, {});
}

String ApplyLineCommandLiterally(StringView Text, uint8_t CommandId, int32_t TabWidth,
                                 const std::vector<TLineRange>& Lines) {
  TCommonStringRecordList List;
  List.SetText(Text);
  String Result;
  if (CommandId >= lcSpaces && CommandId <= lcUnindent) {
    for (int32_t I = 0; I < List.Count(); ++I) {
      if (!IsSelected(I, Lines)) continue;
      const String Line = List.Items(I);
      if (CommandId == lcUnindent) {
        List.SetItems(I, TrimLeftChars(Line, IndentChars));
      } else {
        auto [Indent, Rest] = SplitIndent(Line);
        List.SetItems(I, NewIndent(Indent, CommandId, TabWidth) + Rest);
      }
    }
    Result = List.Text();
  } else if (CommandId == lcTrim) {
    for (int32_t I = 0; I < List.Count(); ++I) {
      Result += IsSelected(I, Lines) ? TrimLineEnd(List.Items(I)) : List.Items(I);
    }
  } else if (CommandId == lcPad || CommandId == lcPadTabs) {
    TCommonStringRecordList Selected;
    for (int32_t I = 0; I < List.Count(); ++I) {
      if (!IsSelected(I, Lines)) continue;
      List.SetItems(I, TrimLineEnd(List.Items(I)));
      Selected.Add(List.Items(I));
    }
    const int32_t Longest = FindLongestLine(Selected, TabWidth).Width;
    for (int32_t I = 0; I < List.Count(); ++I) {
      const String& Line = List.Items(I);
      if (!IsSelected(I, Lines)) {
        Result += Line;
      } else if (CommandId == lcPad) {
        Result += PadWithSpaces(Line, Longest, TabWidth);
      } else {
        Result += PadWithTabs(Line, Longest + TabWidth, TabWidth);
      }
    }
  }
  return Result;
}

}  // namespace quillet
