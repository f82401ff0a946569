// The whole flow of one command, OnCommand, against the simulated editor with
// arbitrary documents, selections, wrap widths and menu choices, with and
// without an editor that misbehaves.
//
// Input: the menu's answer; the wrap width; a fault kind and its parameter;
// anchor and caret (two bytes each); a text-mode byte (FuzzSupport.h); then
// the document.
//
// Properties, every run:
// - nothing outside the widened lines changes: the text before the first
//   and after the last of them stays as it was;
// - redraw is on again, unless the very message that switches it on failed;
// - a failure is the editor's own exception, or EHostError when the editor
//   answered nonsense; never anything else;
// Without faults, in addition:
// - the widened lines become ApplyLineCommand of their old text, as far as
//   the editor hands it over (up to the first NUL), and the view record is
//   given back;
// - a selection ends up covering the new text with the caret at the end
//   where it was; without one, the caret stands where the user had it
//   (after the removed indent for command 6).
// The editor joins a lone CR before the selection with a first new line that
// is a bare LF into one break: the text is right, but the selection then
// starts one unit later and the line numbers after it move up by one.
#include <algorithm>
#include <cstdlib>
#include <tuple>

#include "fuzz/FuzzSupport.h"
#include "plugin/CommandDriver.h"
#include "testing/SimEditor.h"
#include "transforms/CommandTable.h"
#include "transforms/LineCommands.h"

namespace quillet::fuzz {
namespace {

using testing::TSimEditor;
using testing::TSimFaults;

constexpr size_t MaxInputSize = 1024;

class TChoiceUI : public TPluginUI {
 public:
  explicit TChoiceUI(intptr_t Choice) : Choice_(Choice) {}
  intptr_t TrackCommandMenu(std::span<const TMenuEntry>) override { return Choice_; }

 private:
  intptr_t Choice_;
};

// Passes every message on to the simulator and notes the one at which the
// simulator has been told to throw.
class TCountingHost : public THostEditor {
 public:
  TCountingHost(TSimEditor& Sim, int32_t ThrowAt) : Sim_(Sim), ThrowAt_(ThrowAt) {}
  intptr_t Send(uint32_t Msg, uintptr_t WParam, intptr_t LParam) override {
    if (++Count_ == ThrowAt_) ThrewAtRedrawOn_ = Msg == MsgSetRedraw && WParam != 0;
    return Sim_.Send(Msg, WParam, LParam);
  }
  bool ThrewAtRedrawOn() const { return ThrewAtRedrawOn_; }

 private:
  TSimEditor& Sim_;
  int32_t ThrowAt_;
  int32_t Count_ = 0;
  bool ThrewAtRedrawOn_ = false;
};

TSimFaults MakeFaults(uint8_t Kind, uint8_t Parameter, uint8_t Message) {
  TSimFaults Faults;
  constexpr uint32_t TextMessages[] = {0, MsgGetSelectedText, MsgGetLineText};
  Faults.TextMessage = TextMessages[Message % 3];
  switch (Kind % 8) {
    case 4: {
      // Lengths around the real ones, and ones no text can have. Exactly
      // MaxHostTextLength is left out: it is accepted and costs 512 MiB.
      constexpr intptr_t Impossible[] = {-1, INTPTR_MIN, MaxHostTextLength + 1, INTPTR_MAX};
      Faults.LieAboutLength = true;
      Faults.ReportedLength = Parameter < 0xF0 ? Parameter % 40 : Impossible[Parameter % 4];
      break;
    }
    case 5:
      Faults.WriteLimit = Parameter % 32;
      break;
    case 6:
      Faults.OmitTerminator = true;
      Faults.WriteLimit = Parameter < 0x80 ? -1 : Parameter % 32;
      break;
    case 7:
      Faults.ThrowAtMessage = 1 + Parameter;
      break;
  }
  return Faults;
}

bool IsBlank(char16_t C) {
  return C == u' ' || C == u'\u3000' || C == u'\t';
}

struct TRun {
  String Document;
  int32_t First, Last;  // the widened lines
  bool HadSelection, Forward;
  int32_t Anchor, Caret;
  PositionPair Start;  // the selection's start in text lines
  uint8_t Id;          // the command run, 0 for none
};

// Where the caret goes without a selection: back to its column on its line,
// moved left by the indent that command 6 removed, and kept inside the new
// line.
int32_t ExpectedCaret(const TRun& Run, StringView OldLine, StringView NewLine) {
  int32_t Column = Run.Start.Column;
  if (Run.Id == lcUnindent) {
    const auto Removed = static_cast<int32_t>(
        std::find_if_not(OldLine.begin(), OldLine.end(), IsBlank) - OldLine.begin());
    Column = std::max(0, Column - Removed);
  }
  const auto NewBody = static_cast<int32_t>(NewLine.size() - BreakLength(NewLine));
  return Run.First + std::min(Column, NewBody);
}

void CheckFaultlessRun(const TRun& Run, const TSimEditor& Sim) {
  const String& Old = Run.Document;
  Expect(Sim.View().Value[0] == 17 && Sim.View().Value[1] == 4, "the view record is given back",
         Old);
  if (Run.Id == 0) {
    ExpectEqual("no command leaves the text alone", Old, Old, Sim.Document());
    Expect(Sim.Anchor() == Run.Anchor && Sim.Caret() == Run.Caret,
           "no command leaves the selection alone", Old);
    return;
  }
  const StringView Widened = StringView(Old).substr(Run.First, Run.Last - Run.First);
  // The editor hands over the text up to its first NUL only.
  const StringView Handed = Widened.substr(0, Widened.find(u'\0'));
  const String NewLines = ApplyLineCommand(Handed, Run.Id);
  const String Expected = Old.substr(0, Run.First) + NewLines +
                          String(Widened.substr(Handed.size())) + Old.substr(Run.Last);
  ExpectEqual("the widened lines become the command's new text", Old, Expected, Sim.Document());
  const bool JoinedBefore = Run.First > 0 && Old[Run.First - 1] == u'\r' &&
                            NewLines.starts_with(u'\n') && !Widened.starts_with(u'\n');
  const auto NewEnd = static_cast<int32_t>(Run.First + NewLines.size());
  if (Run.HadSelection) {
    ExpectEqual("the selection covers the new text", Old,
                Number(Run.First + (JoinedBefore ? 1 : 0)) + u".." + Number(NewEnd),
                Number(Sim.SelectionStart()) + u".." + Number(Sim.SelectionEnd()));
    Expect(!Sim.HasSelection() || (Sim.Caret() == NewEnd) == Run.Forward,
           "the caret stays at its end of the selection", Old);
  } else {
    Expect(!Sim.HasSelection(), "without a selection none is left", Old);
    if (!JoinedBefore && Handed.size() == Widened.size()) {
      ExpectEqual("the caret goes back to its place on its line", Old,
                  Number(ExpectedCaret(Run, Widened, NewLines)), Number(Sim.Caret()));
    }
  }
}

void RunOnce(TFuzzInput& Input) {
  const uint8_t Choice = Input.Byte();
  // The menu's answer: mostly 0..10; the low byte alone is the identifier.
  const intptr_t Answer = Choice < 0xF0 ? Choice % 11 : (0x300 | (Choice & 0x0F));
  const int32_t Wrap = Input.Choose(6);
  const uint8_t FaultKind = Input.Byte();
  const uint8_t FaultParameter = Input.Byte();
  const TSimFaults Faults = MakeFaults(FaultKind, FaultParameter, Input.Byte());
  const uint16_t AnchorWord = Input.Word();
  const uint16_t CaretWord = Input.Word();
  const bool Raw = Input.Flag();

  TRun Run;
  Run.Document = Input.Text(Raw);
  const auto Size = static_cast<int32_t>(Run.Document.size());
  TSimEditor Sim(Run.Document, Wrap);
  Sim.SetLogging(false);
  Sim.Select(AnchorWord % (Size + 1), CaretWord % (Size + 1));
  Sim.SetView({{17, 4}});
  Sim.SetViewRows(0);
  std::tie(Run.First, Run.Last) = Sim.WholeLineRange();
  Run.Anchor = Sim.Anchor();
  Run.Caret = Sim.Caret();
  Run.HadSelection = Sim.HasSelection();
  Run.Forward = Sim.Caret() > Sim.Anchor();
  Run.Start = Sim.OffsetToPosition(Sim.SelectionStart(), pkTextLine);
  const auto Id = static_cast<uint8_t>(Answer & 0xFF);
  Run.Id = FindCommand(Id) ? Id : 0;
  Sim.Faults() = Faults;
  const bool Faulty = Faults.LieAboutLength || Faults.WriteLimit >= 0 || Faults.OmitTerminator ||
                      Faults.ThrowAtMessage > 0;

  TCountingHost Host(Sim, Faults.ThrowAtMessage);
  TChoiceUI UI(Answer);
  bool Failed = false;
  try {
    OnCommand(Host, UI);
  } catch (const EHostError&) {
    Failed = true;
    Expect(Faulty, "a faultless editor raises no EHostError", Run.Document);
  } catch (const std::runtime_error&) {
    Failed = true;  // the simulator's injected failure
    Expect(Faults.ThrowAtMessage > 0, "only an injected failure raises", Run.Document);
  }
  // Anything else reaches the fuzzer as a crash, as it would reach the export.

  const String& New = Sim.Document();
  const size_t Tail = Run.Document.size() - Run.Last;
  const bool OutsideKept =
      New.size() >= Run.First + Tail &&
      StringView(New).substr(0, Run.First) == StringView(Run.Document).substr(0, Run.First) &&
      StringView(New).substr(New.size() - Tail) == StringView(Run.Document).substr(Run.Last);
  Expect(OutsideKept, "nothing outside the widened lines changes", Run.Document);
  Expect(Sim.Redraw() || Host.ThrewAtRedrawOn(), "redraw is switched on again", Run.Document);
  if (!Faulty) {
    Expect(!Failed, "a faultless run ends normally", Run.Document);
    CheckFaultlessRun(Run, Sim);
  }
}

}  // namespace
}  // namespace quillet::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size > quillet::fuzz::MaxInputSize) return 0;
  quillet::fuzz::TFuzzInput Input(Data, Size);
  quillet::fuzz::RunOnce(Input);
  return 0;
}
