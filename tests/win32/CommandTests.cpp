// OnCommand end to end: the real popup menu is read and answered with keys,
// and the document afterwards is compared with ApplyLineCommand applied to
// the widened lines, everything outside them untouched.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "plugin/CommandDriver.h"
#include "plugin/HostMessages.h"
#include "testing/SimEditor.h"
#include "tests/win32/Check.h"
#include "tests/win32/CommandRun.h"
#include "tests/win32/TestHost.h"
#include "transforms/LineCommands.h"

namespace quillet::wintest {

namespace {

using testing::TSimEditor;

// The menu as the user must see it: submenus marked ">", separators "---".
constexpr std::u16string_view ExpectedMenu =
    u"インデント種類変更 >\n"
    u"  半角スペース = 1\n"
    u"  全角スペース = 2\n"
    u"  タブ = 3\n"
    u"インデント数変更 >\n"
    u"  x2 = 4\n"
    u"  1/2 = 5\n"
    u"---\n"
    u"インデント削除 = 6\n"
    u"---\n"
    u"行末空白削除 = 7\n"
    u"行末空白埋め >\n"
    u"  スペース = 8\n"
    u"  +1タブ = 9\n"
    u"---\n"
    u"キャンセル = 0\n";

std::u16string DescribeMenu(const std::vector<TMenuRow>& Rows, std::u16string_view Indent = u"") {
  std::u16string Text;
  for (const TMenuRow& Row : Rows) {
    Text += Indent;
    // Items and submenus carry no flags: plain enabled strings.
    const bool Plain = Row.Type == MFT_STRING && (Row.State & ~UINT{MFS_HILITE}) == 0;
    switch (Row.Kind) {
      case TMenuRow::Separator:
        Text += Row.Type == MFT_SEPARATOR ? u"---" : u"--- (with other flags)";
        break;
      case TMenuRow::Submenu:
        Text += Row.Label + u" >";
        break;
      case TMenuRow::Item:
        Text += Row.Label + u" = ";
        for (char C : std::to_string(Row.Id)) Text += static_cast<char16_t>(C);
        break;
    }
    if (Row.Kind != TMenuRow::Separator && !Plain) Text += u" (with flags)";
    Text += u"\n";
    if (Row.Kind == TMenuRow::Submenu)
      Text += DescribeMenu(Row.Children, std::u16string(Indent) + u"  ");
  }
  return Text;
}

const std::u16string Documents[] = {
    // Mixed breaks, full-width text and blanks, an empty line, no final break.
    u"\t\u3000こんにちは  \r\n"
    u"  two spaces\n"
    u"\u3000\u3000全角インデント\u3000\r"
    u"        eight\t\r\n"
    u"\r\n"
    u"\t \u3000mixed\t\n"
    u"last\t ",
    // Ends with a break: its last line is empty.
    u"a\r\n\tb \r\n",
    // One line.
    u"    x\u3000 ",
    // Nothing.
    u"",
};

struct TSetup {
  const char* Name;
  int Document;
  PositionPair Anchor;  // {column, text line}
  PositionPair Caret;
  bool AlsoWrapped;  // run again with soft-wrapped editor positions
};

const TSetup Setups[] = {
    {"inside one line", 0, {3, 1}, {6, 1}, false},
    {"forwards across lines", 0, {4, 1}, {2, 3}, true},
    {"backwards across lines", 0, {2, 3}, {4, 1}, true},
    {"ending at column 0 of a later line", 0, {2, 1}, {0, 4}, false},
    {"reaching the last line", 0, {1, 5}, {2, 6}, false},
    {"whole text, backwards", 0, {6, 6}, {0, 0}, false},
    {"no selection, caret inside an indent", 0, {1, 2}, {1, 2}, true},
    {"no selection, caret after an indent", 0, {10, 3}, {10, 3}, true},
    {"no selection, caret on the last line", 0, {3, 6}, {3, 6}, false},
    {"no selection, empty line", 0, {0, 4}, {0, 4}, false},
    {"ending at column 0 of the empty last line", 1, {0, 0}, {0, 2}, false},
    {"no selection, empty last line", 1, {0, 2}, {0, 2}, false},
    {"backwards inside the only line", 2, {3, 0}, {1, 0}, false},
    {"no selection, the only line", 2, {2, 0}, {2, 0}, false},
    {"no selection, empty document", 3, {0, 0}, {0, 0}, false},
};

constexpr int32_t WrapWidth = 3;

struct TOutcome {
  std::u16string Document;
  int32_t Anchor;
  int32_t Caret;
};

int32_t LineOf(const std::vector<int32_t>& Starts, int32_t Offset) {
  return static_cast<int32_t>(std::upper_bound(Starts.begin(), Starts.end(), Offset) -
                              Starts.begin()) -
         1;
}

// What the editor must hold after command Command. With a selection: its
// lines, from the start of the first to the start of the line after the
// last (the text's end on the last line; not past a selection ending at
// column 0 of a later line), rewritten and selected, caret at the end where
// it was. Without: the line the editor's own command 4136 selects,
// rewritten, and the caret back at its text-line position, moved left by
// what command 6 removed from its line.
TOutcome Expect(const std::u16string& Document, int32_t Wrap, int32_t Anchor, int32_t Caret,
                uint8_t Command) {
  TSimEditor Probe(Document, Wrap);
  const std::vector<int32_t>& Starts = Probe.LineStarts();
  if (Anchor != Caret) {
    const int32_t Start = std::min(Anchor, Caret), End = std::max(Anchor, Caret);
    const int32_t First = LineOf(Starts, Start), Last = LineOf(Starts, End);
    const int32_t From = Starts[First];
    int32_t To = static_cast<int32_t>(Document.size());
    if (End == Starts[Last] && Last != First)
      To = End;
    else if (Last + 1 < static_cast<int32_t>(Starts.size()))
      To = Starts[Last + 1];
    auto [After, NewEnd] = Rewrite(Document, From, To, Command);
    const bool CaretAtEnd = Caret == End;
    return {std::move(After), CaretAtEnd ? From : NewEnd, CaretAtEnd ? NewEnd : From};
  }
  const PositionPair Position = Probe.OffsetToPosition(Caret, pkTextLine);
  Probe.Select(Caret, Caret);
  Probe.Send(MsgRunCommand, hcSelectLine, 0);
  std::u16string After =
      Rewrite(Document, Probe.SelectionStart(), Probe.SelectionEnd(), Command).first;
  TSimEditor Result(After, Wrap);
  PositionPair Back = Position;
  if (Command == lcUnindent)
    Back.Column -= static_cast<int32_t>(Probe.LineText(Position.Line).size() -
                                        Result.LineText(Position.Line).size());
  const int32_t At = Result.PositionToOffset(Back, pkTextLine);
  return {std::move(After), At, At};
}

// The popup as read while it was open, and gone afterwards.
void CheckMenu(const TMenuSession& Menu, POINT Cursor, UINT Command) {
  Check(Menu.Opened, "the popup menu opened");
  if (!Menu.Opened) return;
  CheckEqual(DescribeMenu(Menu.Rows), ExpectedMenu, "the popup menu's entries");
  Check(Menu.Window && Menu.Window->left == Cursor.x && Menu.Window->top == Cursor.y,
        "the popup's top left corner stands at the cursor");
  Check(!IsMenu(Menu.Root), "the menu is destroyed");
  for (const TMenuRow& Row : Menu.Rows)
    if (Row.Kind == TMenuRow::Submenu) Check(!IsMenu(Row.Handle), "the submenus are destroyed");
  // The submenu the user went through is the one that opened.
  const auto Path = FindMenuPath(Menu.Rows, Command);
  if (Path && Path->size() > 1 && Command != 0)
    Check(!Menu.SubmenusOpened.empty() &&
              Menu.SubmenusOpened.front() == Menu.Rows[static_cast<size_t>(Path->front())].Handle,
          "the submenu opened on the way");
}

void TestCommand(const TPlugin& Plugin, THostWindow& Window, const TSetup& Setup, int32_t Wrap,
                 uint8_t Command, POINT Cursor) {
  TCase Case(std::string(Setup.Name) + (Wrap ? ", wrapped" : "") + ", command " +
             std::to_string(Command));
  const std::u16string& Document = Documents[Setup.Document];
  TSimEditor Sim(Document, Wrap);
  TRun Run{Sim, Sim.OffsetAt(Setup.Anchor.Line, Setup.Anchor.Column),
           Sim.OffsetAt(Setup.Caret.Line, Setup.Caret.Column), Cursor};
  RunOnCommand(Plugin, Window, Run, Command, false);

  const TOutcome Expected = Expect(Document, Wrap, Run.Anchor, Run.Caret, Command);
  CheckEqual(Sim.Document(), Expected.Document, "document");
  CheckEqual(Sim.Anchor(), Expected.Anchor, "anchor");
  CheckEqual(Sim.Caret(), Expected.Caret, "caret");
  CheckEqual(Sim.View().Value[0], SavedView.Value[0], "view record restored");
  CheckEqual(Sim.View().Value[1], SavedView.Value[1], "view record restored");
  CheckFrame(Sim);
  const std::vector<std::string> Names = Sim.MessageNames();
  std::vector<uintptr_t> HostCommands;
  for (const testing::TLoggedMessage& Message : Sim.Log())
    if (Message.Msg == MsgRunCommand) HostCommands.push_back(Message.WParam);
  Check(HostCommands == (Run.Anchor == Run.Caret
                             ? std::vector<uintptr_t>{hcSelectLine, hcCancelSelection}
                             : std::vector<uintptr_t>{}),
        "host commands 4136 and 4187 run exactly when nothing is selected");
  CheckEqual(testing::TextProtocolBreach(Sim.Log()), std::string(), "the two-call text protocol");
  // Host command 4136 on an empty last line, or in an empty document, leaves
  // an empty selection: its text still comes with the second call, size 0.
  TSimEditor Probe(Document, Wrap);
  Probe.Select(Run.Anchor, Run.Caret);
  if (!Probe.HasSelection()) Probe.Send(MsgRunCommand, hcSelectLine, 0);
  const auto EmptyFetches = std::count_if(Sim.Log().begin(), Sim.Log().end(), [](const auto& M) {
    return M.Msg == MsgGetSelectedText && M.WParam == 0 && M.LParam != 0;
  });
  CheckEqual(EmptyFetches > 0, !Probe.HasSelection(),
             "an empty selection's text fetched with size 0 and a buffer");
  CheckMenu(Window.LastMenu(), Cursor, Command);
}

// Escape, or the menu's own "キャンセル": six messages and nothing else.
void TestNoCommand(const TPlugin& Plugin, THostWindow& Window, const TSetup& Setup, bool Dismiss,
                   POINT Cursor) {
  TCase Case(std::string(Setup.Name) + (Dismiss ? ", menu dismissed" : ", キャンセル chosen"));
  const std::u16string& Document = Documents[Setup.Document];
  TSimEditor Sim(Document);
  TRun Run{Sim, Sim.OffsetAt(Setup.Anchor.Line, Setup.Anchor.Column),
           Sim.OffsetAt(Setup.Caret.Line, Setup.Caret.Column), Cursor};
  RunOnCommand(Plugin, Window, Run, 0, Dismiss);
  CheckEqual(Sim.Document(), Document, "document untouched");
  CheckEqual(Sim.Anchor(), Run.Anchor, "anchor untouched");
  CheckEqual(Sim.Caret(), Run.Caret, "caret untouched");
  std::string Names;
  for (const std::string& Name : Sim.MessageNames()) Names += Name + " ";
  CheckEqual(Names,
             "MsgSetRedraw MsgGetSelectionStart MsgGetViewRecord MsgQueryHasSelection "
             "MsgSetViewRecord MsgSetRedraw ",
             "messages");
  CheckFrame(Sim);
  CheckMenu(Window.LastMenu(), Cursor, 0);
  Check(Window.LastMenu().SubmenusOpened.empty(), "no submenu opened");
}

// A failure inside the command (an impossible text length from the editor)
// ends in an error box owned by the editor window, with the failure's text,
// and redraw back on.
void TestFailure(const TPlugin& Plugin, THostWindow& Window) {
  TCase Case("failure inside OnCommand");
  const TSetup& Setup = Setups[1];
  const auto Prepare = [&](TSimEditor& Sim) {
    Sim.Faults().TextMessage = MsgGetSelectedText;
    Sim.Faults().LieAboutLength = true;
    Sim.Faults().ReportedLength = MaxHostTextLength + 1;
    Sim.Select(Sim.OffsetAt(Setup.Anchor.Line, Setup.Anchor.Column),
               Sim.OffsetAt(Setup.Caret.Line, Setup.Caret.Column));
  };
  std::string Expected;
  {
    TSimEditor Twin(Documents[0]);
    Prepare(Twin);
    TFixedChoice Choice(lcTabs);
    try {
      quillet::OnCommand(Twin, Choice);
    } catch (const std::exception& Failure) {
      Expected = Failure.what();
    }
  }
  Check(!Expected.empty(), "the scenario fails in the driver");

  TSimEditor Sim(Documents[0]);
  Prepare(Sim);
  TRun Run{Sim, Sim.Anchor(), Sim.Caret(), {90, 70}};
  Window.ExpectBox(IDOK);
  RunOnCommand(Plugin, Window, Run, lcTabs, false);
  const TBoxSession& Box = Window.LastBox();
  Check(Box.Opened, "an error box opened");
  CheckEqual(Box.Text, FromUtf8(Expected), "the failure's text, from UTF-8");
  CheckEqual(Box.Caption, u"Quillet", "caption");
  Check(Box.Owner == Window.Handle(), "owned by the editor window");
  Check(Box.Buttons == std::vector<int>{IDOK}, "one OK button");
  Check(Box.Icon != nullptr && Box.Icon == LoadIconW(nullptr, IDI_ERROR), "the error icon");
  CheckEqual(Sim.Document(), Documents[0], "document untouched");
  CheckFrame(Sim);
}

}  // namespace

void TestCommands(const TPlugin& Plugin, THostWindow& Window) {
  int Step = 0;
  const auto NextCursor = [&Step] { return POINT{40 + 7 * (Step % 20), 30 + 5 * (Step++ % 16)}; };
  for (const TSetup& Setup : Setups)
    for (const int32_t Wrap : {0, WrapWidth}) {
      if (Wrap != 0 && !Setup.AlsoWrapped) continue;
      for (uint8_t Command = lcSpaces; Command <= lcPadTabs; ++Command)
        TestCommand(Plugin, Window, Setup, Wrap, Command, NextCursor());
    }
  for (const TSetup* Setup : {&Setups[1], &Setups[6]})
    for (const bool Dismiss : {true, false})
      TestNoCommand(Plugin, Window, *Setup, Dismiss, NextCursor());
  TestFailure(Plugin, Window);
}

}  // namespace quillet::wintest
