// Tests for plugin/: whole-line selection, write-back and the command driver,
// run against the simulated editor.
#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "plugin/CommandDriver.h"
#include "plugin/PluginLibrary.h"
#include "plugin/PluginLibrary2.h"
#include "testing/SimEditor.h"
#include "TemplateList/StringRecordList.h"
#include "transforms/LineCommands.h"

namespace quillet {
namespace {

using testing::TSimEditor;

// Picks a fixed answer from the menu and remembers what it was shown.
class TScriptedUI : public TPluginUI {
 public:
  explicit TScriptedUI(intptr_t Choice) : Choice_(Choice) {}
  intptr_t TrackCommandMenu(std::span<const TMenuEntry> Menu) override {
    ++Shown;
    Entries = Menu.size();
    return Choice_;
  }
  int Shown = 0;
  size_t Entries = 0;

 private:
  intptr_t Choice_;
};

int32_t CountOf(const TSimEditor& Sim, const std::string& Name) {
  const auto Names = Sim.MessageNames();
  return static_cast<int32_t>(std::count(Names.begin(), Names.end(), Name));
}

std::u16string TenLines() {
  std::u16string Text;
  for (char16_t I = 0; I < 10; ++I) Text += u"line" + std::u16string(1, u'0' + I) + u"\r\n";
  Text.resize(Text.size() - 2);  // the last line has no break
  return Text;
}

TEST(OnCommand, DismissedMenuOnlyReads) {
  // 0x100 dismisses too: only the low byte is the identifier.
  for (intptr_t Choice : {0, 0x100}) {
    TSimEditor Sim(u"ab\r\n  cd\r\nef", 3);
    Sim.Select(1, 7);
    Sim.ClearLog();
    TScriptedUI UI(Choice);
    OnCommand(Sim, UI);
    EXPECT_EQ(Sim.MessageNames(), (std::vector<std::string>{
                                      "MsgSetRedraw", "MsgGetSelectionStart", "MsgGetViewRecord",
                                      "MsgQueryHasSelection", "MsgSetViewRecord", "MsgSetRedraw"}));
    EXPECT_EQ(Sim.Document(), u"ab\r\n  cd\r\nef");
    EXPECT_EQ(Sim.Anchor(), 1);
    EXPECT_EQ(Sim.Caret(), 7);
    EXPECT_TRUE(Sim.Redraw());
    EXPECT_EQ(UI.Shown, 1);
    EXPECT_EQ(UI.Entries, 9u);
  }
}

TEST(CommandMenu, RowsAndIdentifiers) {
  std::u16string Flat;
  for (const TMenuEntry& Row : CommandMenu()) {
    Flat += Row.Kind == TMenuEntryKind::Separator ? u"-" : Row.Label;
    Flat += u'0' + Row.Id;
    for (const TMenuEntry& Sub : Row.Children)
      Flat += u"[" + std::u16string(Sub.Label) + char16_t(u'0' + Sub.Id) + u"]";
    Flat += u'|';
  }
  EXPECT_EQ(Flat,
            u"インデント種類変更0[半角スペース1][全角スペース2][タブ3]|"
            u"インデント数変更0[x24][1/25]|-0|インデント削除6|-0|行末空白削除7|"
            u"行末空白埋め0[スペース8][+1タブ9]|-0|キャンセル0|");
}

struct WholeLineRow {
  const char* Name;
  PositionPair Anchor, Caret;                  // text-line terms, before
  PositionPair ExpectedAnchor, ExpectedCaret;  // after
};

TEST(SelectWholeLines, Widening) {
  const WholeLineRow Rows[] = {
      {"caret only", {2, 3}, {2, 3}, {0, 4}, {0, 3}},
      {"ends at column 0 of a later line", {1, 2}, {0, 5}, {0, 2}, {0, 5}},
      {"backward", {3, 5}, {1, 2}, {0, 6}, {0, 2}},
      {"inside one line", {1, 4}, {3, 4}, {0, 4}, {0, 5}},
      {"empty at column 0", {0, 4}, {0, 4}, {0, 5}, {0, 4}},
      {"on the last line", {1, 9}, {2, 9}, {0, 9}, {5, 9}},
      {"last line backward", {4, 9}, {1, 8}, {5, 9}, {0, 8}},
      {"to column 0 of the last line", {1, 8}, {0, 9}, {0, 8}, {0, 9}},
  };
  for (int32_t Wrap : {0, 3}) {
    for (const WholeLineRow& Row : Rows) {
      TSimEditor Sim(TenLines(), Wrap);
      Sim.SelectPositions(Row.Anchor, Row.Caret);
      SelectWholeLines(Sim);
      EXPECT_EQ(Sim.Anchor(), Sim.OffsetAt(Row.ExpectedAnchor.Line, Row.ExpectedAnchor.Column))
          << Row.Name << " wrap " << Wrap;
      EXPECT_EQ(Sim.Caret(), Sim.OffsetAt(Row.ExpectedCaret.Line, Row.ExpectedCaret.Column))
          << Row.Name << " wrap " << Wrap;
    }
  }
}

TEST(GetCaretDirection, CaretAtNeitherEndCountsAsStart) {
  // An editor that reports a caret outside its own selection.
  struct TOddEditor : TSimEditor {
    using TSimEditor::TSimEditor;
    intptr_t Send(uint32_t Msg, uintptr_t W, intptr_t L) override {
      const intptr_t Result = TSimEditor::Send(Msg, W, L);
      if (Msg == MsgGetCaretPosition) reinterpret_cast<PositionPair*>(L)->Line = 7;
      return Result;
    }
  } Sim(TenLines());
  Sim.Select(0, 12);
  EXPECT_EQ(GetCaretDirection(Sim), 0);
  Sim.Select(12, 0);
  EXPECT_EQ(GetCaretDirection(Sim), 0);
}

struct WriteBackRow {
  const char* Name;
  std::u16string Old, New;
  int32_t Replacements;  // MsgReplaceSelection messages expected
};

TEST(WriteBackLines, RewritesOnlyWhatChanged) {
  const std::u16string Before = u"head\r\n", After = u"tail";
  const WriteBackRow Rows[] = {
      {"identical", u"a\r\nb\r\n", u"a\r\nb\r\n", 0},
      {"one CR LF line", u"a\r\n  b\r\nc\r\n", u"a\r\nb\r\nc\r\n", 1},
      {"CR and LF lines", u"  a\r  b\nc\n", u"a\rb\nc\n", 2},
      {"more lines", u"a\r\n", u"a\r\nb\r\nc\n", 1},
      {"fewer lines", u"a\r\nb\r\nc\n", u"a\r\n", 1},
      {"old empty", u"", u"x\r\ny\r\n", 1},
      {"new empty", u"  \r\n\t\n", u"", 1},
      {"break kind differs", u"a  \r\n", u"a\n", 1},
      // "a\r" and the trimmed "\n" read back as one line: the lines no longer
      // pair up and all are rewritten.
      {"lone CR meets LF", u"a\r  \nb\r\n  x\r\nend\r\n", u"a\r\nb\r\nx\r\nend\r\n", 5},
      // Written line by line, "\r" would meet the old "\n" after it and move
      // the lines below: the text is replaced whole.
      {"join inside", u"\r \n\r \n\n\r\r", u"\r\n\r\n\n\r\r", 1},
  };
  for (int Direction : {0, 1}) {
    for (const WriteBackRow& Row : Rows) {
      TSimEditor Sim(Before + Row.Old + After, 4);
      const int32_t Start = static_cast<int32_t>(Before.size());
      const int32_t End = Start + static_cast<int32_t>(Row.Old.size());
      Direction ? Sim.Select(Start, End) : Sim.Select(End, Start);
      Sim.ClearLog();
      WriteBackLines(Sim, Row.New);
      EXPECT_EQ(Sim.Document(), Before + Row.New + After) << Row.Name << "\n" << Sim.LogText();
      EXPECT_EQ(CountOf(Sim, "MsgReplaceSelection"), Row.Replacements) << Row.Name;
      const int32_t NewEnd = Start + static_cast<int32_t>(Row.New.size());
      EXPECT_EQ(Sim.SelectionStart(), Start) << Row.Name;
      EXPECT_EQ(Sim.SelectionEnd(), NewEnd) << Row.Name;
      // An empty old selection has its caret at the start.
      const bool CaretAtEnd = Direction && !Row.Old.empty();
      if (NewEnd > Start) {
        EXPECT_EQ(Sim.Caret(), CaretAtEnd ? NewEnd : Start) << Row.Name;
      }
    }
  }
}

TEST(WriteBackLines, CrLfBreakStaysInPlace) {
  TSimEditor Sim(u"x\r\n  a\r\ny", 0);
  Sim.Select(3, 8);
  Sim.ClearLog();
  WriteBackLines(Sim, u"a\r\n");
  std::vector<std::string> Replaced;
  for (const auto& Message : Sim.Log())
    if (Message.Msg == MsgReplaceSelection) Replaced.push_back(Message.Detail);
  EXPECT_EQ(Replaced, std::vector<std::string>{"\"a\""});
}

struct CaretRow {
  uint8_t Command;
  PositionPair Caret;
  int32_t ExpectedColumn;
};

TEST(OnCommand, WithoutSelectionCaretFollowsTheText) {
  const CaretRow Rows[] = {
      {6, {6, 1}, 2},                  // four units of indent removed before the caret
      {6, {2, 1}, 0},                  // caret inside the removed indent: start of the line
      {6, {0, 0}, 0}, {1, {6, 1}, 6},  // other commands put the caret back unchanged
      {4, {5, 1}, 5}, {8, {1, 2}, 1},
  };
  for (const CaretRow& Row : Rows) {
    TSimEditor Sim(u"ab\r\n \t  xyz\r\ncd", 2);
    Sim.SelectPositions(Row.Caret, Row.Caret);
    TScriptedUI UI(Row.Command);
    OnCommand(Sim, UI);
    EXPECT_FALSE(Sim.HasSelection());
    EXPECT_EQ(Sim.Caret(), Sim.OffsetAt(Row.Caret.Line, Row.ExpectedColumn))
        << "command " << int(Row.Command) << "\n"
        << Sim.LogText();
    EXPECT_EQ(CountOf(Sim, "MsgRunCommand"), 2);
  }
}

TEST(OnCommand, FailureLeavesRedrawOnAndTextOutsideIntact) {
  const std::u16string Document = u"keep\r\n  a\r\n\tb\r\nkeep too";
  TSimEditor Probe(Document, 3);
  Probe.Select(7, 12);
  TScriptedUI UI(lcTabs);
  Probe.ClearLog();
  OnCommand(Probe, UI);
  const int32_t Messages = Probe.MessageCount();
  ASSERT_GT(Messages, 10);
  // Every message but the last (the final redraw itself) may fail.
  for (int32_t N = 1; N < Messages; ++N) {
    TSimEditor Sim(Document, 3);
    Sim.Select(7, 12);
    Sim.ClearLog();
    Sim.Faults().ThrowAtMessage = N;
    EXPECT_THROW(OnCommand(Sim, UI), std::runtime_error) << "message " << N;
    EXPECT_TRUE(Sim.Redraw()) << "message " << N;
    EXPECT_EQ(Sim.Document().substr(0, 6), u"keep\r\n");
    EXPECT_TRUE(Sim.Document().ends_with(u"keep too"));
  }
}

// An editor that lies about its selection: a start outside the text, or a
// selected text that reads differently the second time. The command is
// refused before anything changes.
class TLyingEditor final : public THostEditor {
 public:
  TLyingEditor(TSimEditor& Sim, std::optional<PositionPair> Start, bool ChangeSecondText)
      : sim_(Sim), start_(Start), changeSecondText_(ChangeSecondText) {}
  intptr_t Send(uint32_t Msg, uintptr_t WParam, intptr_t LParam) override {
    if (Msg == MsgGetSelectionStart && start_ && LParam != 0) {
      *reinterpret_cast<PositionPair*>(LParam) = *start_;
      return 1;
    }
    // The second exchange of two calls each, when the one before was a read.
    if (Msg == MsgGetSelectedText && changeSecondText_ && ++selectedTextCalls_ == 3)
      sim_.SetDocument(sim_.Document() + u"\n");
    return sim_.Send(Msg, WParam, LParam);
  }

 private:
  TSimEditor& sim_;
  std::optional<PositionPair> start_;
  bool changeSecondText_;
  int selectedTextCalls_ = 0;
};

TEST(OnCommand, RefusesASelectionOutsideTheTextOrChangingUnderIt) {
  struct TRow {
    const char* Name;
    std::optional<PositionPair> Start;
    bool ChangeSecondText;
  };
  const TRow Rows[] = {
      {"start before the text", PositionPair{0, -3}, false},
      {"start past the last line", PositionPair{4, 50}, false},
      {"selected text changed between reads", std::nullopt, true},
  };
  const std::u16string Document = u"keep\r\n  a\r\n\tb\r\nkeep too";
  for (const TRow& Row : Rows) {
    TSimEditor Sim(Document);
    Sim.Select(7, 12);
    TLyingEditor Host(Sim, Row.Start, Row.ChangeSecondText);
    TScriptedUI UI(lcTabs);
    EXPECT_THROW(OnCommand(Host, UI), EHostError) << Row.Name;
    EXPECT_TRUE(Sim.Document().starts_with(Document)) << Row.Name;
    EXPECT_TRUE(Sim.Redraw()) << Row.Name;
  }
}

// A random document over the characters that matter to the commands.
std::u16string RandomDocument(std::mt19937& Rng) {
  static const std::u16string_view Pieces[] = {
      u" ",  u"  ", u"\u3000", u"\t",           u"a",    u"xy",        u"\u3042", u"\r\n",  u"\r\n",
      u"\r", u"\n", u"\n\r",   u"\xD83D\xDE00", u"    ", u"\t\u3000 ", u"\r \n",  u"\r\t\n"};
  std::uniform_int_distribution<size_t> Count(0, 30), Pick(0, std::size(Pieces) - 1);
  std::u16string Text;
  for (size_t I = Count(Rng); I > 0; --I) Text += Pieces[Pick(Rng)];
  return Text;
}

TEST(OnCommand, RandomDocumentsChangeOnlyTheWidenedLines) {
  std::mt19937 Rng(3081);
  int WholeReplacements = 0;
  for (int Case = 0; Case < 6000; ++Case) {
    const std::u16string Document = RandomDocument(Rng);
    const auto Size = static_cast<int32_t>(Document.size());
    std::uniform_int_distribution<int32_t> Offset(0, Size);
    const int32_t Wrap = Case % 2 ? 0 : 1 + Case % 5;
    const uint8_t Command = 1 + Case % 9;
    TSimEditor Sim(Document, Wrap);
    int32_t Anchor = Offset(Rng), Caret = Case % 4 == 0 ? Anchor : Offset(Rng);
    // Keep both ends off the middle of a CR LF break.
    for (int32_t* End : {&Anchor, &Caret})
      if (*End > 0 && *End < Size && Document[*End - 1] == u'\r' && Document[*End] == u'\n') --*End;
    Sim.Select(Anchor, Caret);
    const bool Forward = Sim.Caret() > Sim.Anchor();
    const bool HadSelection = Sim.HasSelection();
    const auto [First, Last] = Sim.WholeLineRange();
    const std::u16string NewLines = ApplyLineCommand(Document.substr(First, Last - First), Command);
    const std::u16string Expected = Document.substr(0, First) + NewLines + Document.substr(Last);
    Sim.SetView({{17, 4}});
    Sim.SetViewRows(0);
    TScriptedUI UI(Command);
    OnCommand(Sim, UI);

    const std::string Where = "case " + std::to_string(Case) + "\n" + Sim.LogText();
    ASSERT_EQ(Sim.Document(), Expected) << Where;
    EXPECT_EQ(testing::TextProtocolBreach(Sim.Log()), "") << Where;
    EXPECT_TRUE(Sim.Redraw()) << Where;
    EXPECT_EQ(Sim.View().Value[0], 17);
    EXPECT_EQ(Sim.View().Value[1], 4);
    if (HadSelection) {
      // The LF of a first line that joined a lone CR before the selection
      // stays outside it.
      const bool JoinedBefore = First > 0 && Document[First - 1] == u'\r' &&
                                NewLines.starts_with(u"\n") &&
                                !Document.substr(First).starts_with(u"\n");
      const int32_t NewEnd = First + static_cast<int32_t>(NewLines.size());
      EXPECT_EQ(Sim.SelectionStart(), First + (JoinedBefore ? 1 : 0)) << Where;
      EXPECT_EQ(Sim.SelectionEnd(), NewEnd) << Where;
      if (Sim.HasSelection()) {
        EXPECT_EQ(Sim.Caret() == NewEnd, Forward) << Where;
      }
    } else {
      EXPECT_FALSE(Sim.HasSelection()) << Where;
    }
    // Each replacement rewrites a line that changed, or the surplus; where a
    // rewritten line ending in a lone CR would meet an old line starting with
    // LF, one replacement takes the whole text.
    int32_t ChangedLines = 0;
    bool Whole = false;
    {
      TCommonStringRecordList Old, New;
      Old.SetText(Document.substr(First, Last - First));
      New.SetText(NewLines);
      for (int32_t I = 0; I < std::min(Old.Count(), New.Count()); ++I) {
        const bool Changed = Old.Items(I) != New.Items(I);
        ChangedLines += Changed;
        Whole |= Changed && New.Items(I).back() == u'\r' && I + 1 < Old.Count() &&
                 Old.Items(I + 1).front() == u'\n';
      }
      ChangedLines += Old.Count() != New.Count();
    }
    EXPECT_EQ(CountOf(Sim, "MsgReplaceSelection"), Whole ? 1 : ChangedLines) << Where;
    WholeReplacements += Whole;
  }
  EXPECT_GT(WholeReplacements, 0);  // the generator reaches the join case
}

// The text messages of a run, a call with a buffer marked.
std::vector<std::string> TextCalls(const TSimEditor& Sim) {
  std::vector<std::string> Calls;
  for (const testing::TLoggedMessage& M : Sim.Log())
    if (M.Msg == MsgGetSelectedText || M.Msg == MsgGetLineText)
      Calls.push_back(M.Call() + (M.LParam != 0 ? " [buffer]" : ""));
  return Calls;
}

// Without a selection on an empty line, host command 4136 leaves an empty
// selection: a length of 0 still gets its second call, size 0 with a buffer.
// A negative length gets none and reads as empty.
TEST(HostText, SecondCallForAnEmptyText) {
  const std::string Line0 = "MsgGetLineText line 0 size 0", Line1 = "MsgGetLineText line 1 size 0";
  const std::string Selected = "MsgGetSelectedText size 0";
  const std::string Fetched = Selected + " -> \"\" [buffer]";
  struct Row {
    const char* Name;
    std::u16string Document;
    int32_t Caret;
    uint8_t Command;
    bool NegativeSelection;  // the editor answers -1 for the selection's length
    std::vector<std::string> Expected;
  };
  const Row Rows[] = {
      {"empty last line, unindent",
       u"a\r\n",
       3,
       lcUnindent,
       false,
       {Line1, Line1 + " [buffer]", Selected, Fetched, Selected, Fetched, Line1,
        Line1 + " [buffer]"}},
      {"empty document, trim",
       u"",
       0,
       lcTrim,
       false,
       {Line0, Line0 + " [buffer]", Selected, Fetched, Selected, Fetched}},
      {"negative length", u"", 0, lcTabs, true, {Line0, Line0 + " [buffer]", Selected, Selected}},
  };
  for (const Row& R : Rows) {
    TSimEditor Sim(R.Document);
    Sim.Select(R.Caret, R.Caret);
    Sim.Faults().TextMessage = MsgGetSelectedText;
    Sim.Faults().LieAboutLength = R.NegativeSelection;
    Sim.Faults().ReportedLength = -1;
    Sim.ClearLog();
    TScriptedUI UI(R.Command);
    OnCommand(Sim, UI);
    EXPECT_EQ(TextCalls(Sim), R.Expected) << R.Name << "\n" << Sim.LogText();
    EXPECT_EQ(Sim.Document(), R.Document) << R.Name;
    EXPECT_EQ(testing::TextProtocolBreach(Sim.Log()), "") << R.Name;
  }
}

TEST(HostText, DefendsAgainstLyingEditors) {
  struct Row {
    const char* Name;
    bool Lie;
    intptr_t Reported, WriteLimit;
    bool OmitTerminator;
    std::u16string Expected, ExpectedLine;  // selection, and line 0 "abc"
  };
  const std::u16string Text = u"abc\r\nde";
  const Row Rows[] = {
      {"honest", false, 0, -1, false, Text, u"abc"},
      {"negative length", true, -1, -1, false, u"", u""},
      {"shorter length", true, 2, -1, false, u"ab", u"ab"},
      {"writes less", false, 0, 2, false, u"ab", u"ab"},
      {"no terminator", false, 0, -1, true, Text, u"abc"},
      {"longer, no terminator", true, 9, -1, true, Text, u"abc"},
      {"writes nothing", false, 0, 0, true, u"", u""},
  };
  for (const Row& R : Rows) {
    TSimEditor Sim(Text);
    Sim.Select(0, static_cast<int32_t>(Text.size()));
    Sim.Faults().LieAboutLength = R.Lie;
    Sim.Faults().ReportedLength = R.Reported;
    Sim.Faults().WriteLimit = R.WriteLimit;
    Sim.Faults().OmitTerminator = R.OmitTerminator;
    EXPECT_EQ(GetSelectedText(Sim), R.Expected) << R.Name;
    EXPECT_EQ(GetLineText(Sim, 0), R.ExpectedLine) << R.Name;
  }
  TSimEditor Sim(Text);
  Sim.Faults().LieAboutLength = true;
  Sim.Faults().ReportedLength = intptr_t{1} << 30;
  EXPECT_THROW(GetSelectedText(Sim), EHostError);
}

}  // namespace
}  // namespace quillet
