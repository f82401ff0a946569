// ApplyLineCommand on arbitrary text and command identifiers.
//
// Input: one byte for the identifier (mostly 0..10, sometimes 240..255), one
// for the text mode (FuzzSupport.h), then the text.
//
// Properties:
// - identifiers outside 1..9 and the empty text give the empty text;
// - commands 1 to 7 rewrite every line of the input's line list on its own:
//   each line alone gives what the line's reference rewrite says (so the
//   line keeps its break and stays one line), and the whole text gives those
//   lines joined. Counting happens on the input's lines, since the output may
//   join a lone CR with an LF that starts the next rewritten line;
// - commands 8 and 9 give each trimmed line padded before its break, with
//   the number of spaces or tabs that the widest line asks for;
// - every command but 4 and 5 is idempotent, 4 then 5 gives the text back,
//   and commands 1 to 3 depend on the columns of an indent alone.
#include "fuzz/FuzzSupport.h"
#include "transforms/LineCommands.h"
#include "transforms/LiteralLineCommands.h"

namespace quillet::fuzz {
namespace {

constexpr size_t MaxInputSize = 4096;

bool IsBlank(char16_t C) {
  return C == u' ' || C == u'\u3000' || C == u'\t';
}

size_t LeadingBlanks(StringView Line) {
  size_t N = 0;
  while (N < Line.size() && IsBlank(Line[N])) ++N;
  return N;
}

// A space takes 1 column, a full-width space 2 (its two bytes in code page
// 932), a tab runs to the next multiple of TabWidth.
int32_t IndentColumns(StringView Indent) {
  int32_t Columns = 0;
  for (const char16_t C : Indent)
    Columns = C == u'\t' ? (Columns / TabWidth + 1) * TabWidth : Columns + (C == u' ' ? 1 : 2);
  return Columns;
}

// Commands 1 to 5 on an indent alone, from the commands' descriptions.
String ReferenceIndent(StringView Indent, uint8_t Id) {
  const int32_t Columns = IndentColumns(Indent);
  String Result;
  switch (Id) {
    case lcSpaces:
      return String(Columns, u' ');
    case lcFullWidth:
      return String(Columns / 2, u'\u3000') + String(Columns % 2, u' ');
    case lcTabs:
      return String(Columns / TabWidth, u'\t') + String(Columns % TabWidth, u' ');
    case lcDouble:
      for (const char16_t C : Indent) Result.append(2, C);
      return Result;
    default:  // halve: a pair of equal blanks becomes one, scanning from the left
      for (size_t I = 0; I < Indent.size(); ++I) {
        Result.push_back(Indent[I]);
        if (I + 1 < Indent.size() && Indent[I + 1] == Indent[I]) ++I;
      }
      return Result;
  }
}

// Commands 1 to 7 on one line of the line list.
String ReferenceLine(StringView Line, uint8_t Id) {
  const size_t Indent = LeadingBlanks(Line);
  if (Id <= lcHalve)
    return ReferenceIndent(Line.substr(0, Indent), Id) + String(Line.substr(Indent));
  if (Id == lcUnindent) return String(Line.substr(Indent));
  const size_t Break = BreakLength(Line);
  StringView Body = Line.substr(0, Line.size() - Break);
  while (!Body.empty() && IsBlank(Body.back())) Body.remove_suffix(1);
  return String(Body) + String(Line.substr(Line.size() - Break));
}

void CheckLineByLine(StringView Text, const std::vector<String>& Lines, uint8_t Id,
                     StringView Result) {
  String Joined;
  for (const String& Line : Lines) {
    const String One = ApplyLineCommand(Line, Id);
    ExpectEqual("a line is rewritten as its reference says", Line, ReferenceLine(Line, Id), One);
    const StringView Body = StringView(One).substr(0, One.size() - BreakLength(One));
    Expect(
        GetLineBreakKind(One) == GetLineBreakKind(Line) && Body.find_first_of(u"\r\n") == Body.npos,
        "a rewritten line is one line with its old break", Line);
    Joined += One;
  }
  ExpectEqual("the whole text is its lines rewritten one by one", Text, Joined, Result);
}

// Commands 8 and 9: every line trimmed, then padded before its break.
void CheckPadding(StringView Text, const std::vector<String>& Lines, uint8_t Id,
                  StringView Result) {
  std::vector<String> Trimmed;
  int32_t Widest = 0;
  for (const String& Line : Lines) {
    Trimmed.push_back(ReferenceLine(Line, lcTrim));
    Widest = std::max(Widest, LineWidth(Trimmed.back()));
  }
  const int32_t TabStop = RoundUpToMultiple(Widest + TabWidth, TabWidth);
  String Expected;
  for (const String& Line : Trimmed) {
    const size_t Break = BreakLength(Line);
    const int32_t Width = LineWidth(Line);
    Expected.append(Line, 0, Line.size() - Break);
    if (Id == lcPad)
      Expected.append(Widest - Width, u' ');
    else
      Expected.append(TabStop / TabWidth - Width / TabWidth, u'\t');
    Expected.append(Line, Line.size() - Break);
  }
  ExpectEqual("every trimmed line is padded to the widest", Text, Expected, Result);
}

void CheckCommand(StringView Text, uint8_t Id) {
  const String Result = ApplyLineCommand(Text, Id);
  if (Id < lcSpaces || Id > lcPadTabs || Text.empty()) {
    ExpectEqual("no command, or no text, gives the empty text", Text, u"", Result);
    return;
  }
  const std::vector<String> Lines = SplitLines(Text);
  if (Id <= lcTrim)
    CheckLineByLine(Text, Lines, Id, Result);
  else
    CheckPadding(Text, Lines, Id, Result);

  if (Id == lcDouble) {
    ExpectEqual("halving the doubled indent gives the text back", Text, Text,
                ApplyLineCommand(Result, lcHalve));
  } else if (Id != lcHalve) {
    ExpectEqual("a second run changes nothing", Text, Result, ApplyLineCommand(Result, Id));
  }
  if (Id <= lcTabs) {
    // Each conversion keeps the columns of every indent.
    for (uint8_t Other = lcSpaces; Other <= lcTabs; ++Other) {
      ExpectEqual("a conversion after another sees the same columns", Text,
                  ApplyLineCommand(Text, Other), ApplyLineCommand(Result, Other));
    }
  }
}

}  // namespace
}  // namespace quillet::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace quillet::fuzz;
  if (Size > MaxInputSize) return 0;
  TFuzzInput Input(Data, Size);
  const uint8_t Choice = Input.Byte();
  const uint8_t Id = Choice < 0xF0 ? Choice % 11 : Choice;
  const bool Raw = Input.Flag();
  CheckCommand(Input.Text(Raw), Id);
  return 0;
}
