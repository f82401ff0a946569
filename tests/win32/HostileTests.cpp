// OnCommand against a hostile editor: lying answers to the text protocol,
// text the protocol cannot carry whole, positions outside the text, string
// queries without a buffer, and calls back into the plug-in while a command
// runs. Every run goes through the real popup menu. What the editor must
// hold afterwards comes from the same scenario run by the driver in this
// process against a twin editor; and whatever the twin says, every run must
// keep to one rule: the command rewrites one stretch of the text that starts
// at the start of a line, and nothing else changes.
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
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

using namespace std::string_literals;
using testing::TSimEditor;
using testing::TSimFaults;
using TIntercept = std::function<std::optional<LRESULT>(UINT Msg, WPARAM, LPARAM)>;

struct TScenario {
  std::u16string Document;
  PositionPair Anchor, Caret;  // text-line positions
  uint8_t Command;
  TSimFaults Faults = {};
  TIntercept Intercept = nullptr;  // answers before the editor, in both runs
};

// The twin's editor: the scenario's interception in front of a simulated one.
class TTwinHost final : public THostEditor {
 public:
  TTwinHost(TSimEditor& Sim, const TIntercept& Intercept) : sim_(Sim), intercept_(Intercept) {}
  intptr_t Send(uint32_t Msg, uintptr_t WParam, intptr_t LParam) override {
    if (intercept_)
      if (const std::optional<LRESULT> Answer = intercept_(Msg, WParam, LParam)) return *Answer;
    return sim_.Send(Msg, WParam, LParam);
  }

 private:
  TSimEditor& sim_;
  const TIntercept& intercept_;
};

TSimEditor Prepare(const TScenario& S) {
  TSimEditor Sim(S.Document);
  Sim.SelectPositions(S.Anchor, S.Caret);
  Sim.Faults() = S.Faults;
  return Sim;
}

struct TOutcome {
  std::u16string Document;
  int32_t Anchor, Caret;
  std::optional<std::string> Failure;  // what the driver raised
};

TOutcome RunTwin(const TScenario& S) {
  TSimEditor Sim = Prepare(S);
  TTwinHost Host(Sim, S.Intercept);
  TFixedChoice Choice(S.Command);
  std::optional<std::string> Failure;
  try {
    quillet::OnCommand(Host, Choice);
  } catch (const std::exception& Raised) {
    Failure = Raised.what();
  }
  return {Sim.Document(), Sim.Anchor(), Sim.Caret(), Failure};
}

// Calls OnCommand again from inside the run under way, once, and counts the
// messages that inner call sends the editor.
struct TReentry {
  const TPlugin& Plugin;
  HWND Window;
  TSimEditor* Sim = nullptr;  // the DLL run's editor; none during the twin's run
  int Calls = 0;
  int Sent = -1;
  void Reenter() {
    if (!Sim || Calls++ > 0) return;
    const int32_t Before = Sim->MessageCount();
    Plugin.OnCommand(Window);
    Sent = Sim->MessageCount() - Before;
  }
};

// Runs S through the DLL and the real menu and checks it against the twin;
// the document it left, and whether the run was refused with an error box.
std::pair<std::u16string, bool> RunHostile(const TPlugin& Plugin, THostWindow& Window,
                                           const TScenario& S, TReentry* Reentry = nullptr) {
  static int Step = 0;
  ++Step;
  const TOutcome Twin = RunTwin(S);
  TSimEditor Sim = Prepare(S);
  TRun Run{Sim, Sim.Anchor(), Sim.Caret(), {60 + 9 * (Step % 17), 40 + 6 * (Step % 13)}};
  const int Mishaps = Window.Mishaps();
  if (Twin.Failure) Window.ExpectBox(IDOK);
  if (Reentry) Reentry->Sim = &Sim;
  Window.Intercept = S.Intercept;
  RunOnCommand(Plugin, Window, Run, S.Command, false);
  Window.Intercept = nullptr;
  if (Reentry) Reentry->Sim = nullptr;
  if (Twin.Failure) {
    Check(Window.LastBox().Opened, "an error box, as the driver raised");
    CheckEqual(Window.LastBox().Text, FromUtf8(*Twin.Failure), "the box tells the failure");
  }
  CheckEqual(Window.Mishaps(), Mishaps, "no menu or box that nobody expected");
  CheckEqual(Sim.Document(), Twin.Document, "document as the driver leaves it");
  CheckEqual(Sim.Anchor(), Twin.Anchor, "anchor as the driver leaves it");
  CheckEqual(Sim.Caret(), Twin.Caret, "caret as the driver leaves it");
  CheckFrame(Sim);
  return {Sim.Document(), Twin.Failure.has_value()};
}

// Whether Command turns Before into After by rewriting one stretch
// [From, To) that starts a line, with Fits(From, To), and nothing else.
template <class F>
bool OneStretchRewritten(const std::u16string& Before, const std::u16string& After, uint8_t Command,
                         F Fits) {
  const auto Size = static_cast<int32_t>(Before.size());
  const TSimEditor Lines(Before);
  for (const int32_t From : Lines.LineStarts())
    for (int32_t To = From; To <= Size; ++To)
      if (Fits(From, To) && Rewrite(Before, From, To, Command).first == After) return true;
  return false;
}

// --- The text protocol lying ---------------------------------------------------

// What became of the lines: the honest result, nothing (with or without an
// error box), or the command's result for the leading part the editor
// handed over, the rest as it was.
enum TEffect { Honest, Unchanged, Refused, Partial };
const char* const EffectNames[] = {"honest", "unchanged", "refused", "partial"};

struct TLie {
  const char* Name;
  TSimFaults Faults;
  TEffect Selected[2];  // MsgGetSelectedText lying, in each place below
  TEffect Line[2];      // MsgGetLineText lying
};

constexpr TSimFaults Length(intptr_t Reported, bool OmitTerminator = false) {
  return {.LieAboutLength = true, .ReportedLength = Reported, .OmitTerminator = OmitTerminator};
}
// 2^32 + 6, whose low half is a plausible length; 32 bits cannot carry it.
constexpr intptr_t Past32Bits =
    static_cast<intptr_t>(sizeof(intptr_t) == 8 ? 0x1'0000'0006 : INTPTR_MAX);

const TLie Lies[] = {
    {"length -1", Length(-1), {Unchanged, Unchanged}, {Partial, Honest}},
    {"length INTPTR_MIN", Length(INTPTR_MIN), {Unchanged, Unchanged}, {Partial, Honest}},
    {"length 2^31-1", Length(INT32_MAX), {Refused, Refused}, {Refused, Refused}},
    {"length INTPTR_MAX", Length(INTPTR_MAX), {Refused, Refused}, {Refused, Refused}},
    {"length 2^32+6", Length(Past32Bits), {Refused, Refused}, {Refused, Refused}},
    {"length MaxHostTextLength+1",
     Length(MaxHostTextLength + 1),
     {Refused, Refused},
     {Refused, Refused}},
    {"length 6, then 6 written", Length(6), {Partial, Partial}, {Partial, Honest}},
    {"6 written of the length", {.WriteLimit = 6}, {Partial, Partial}, {Partial, Honest}},
    {"nothing written", {.WriteLimit = 0}, {Unchanged, Unchanged}, {Partial, Honest}},
    {"length 1000, longer than the text", Length(1000), {Honest, Honest}, {Honest, Honest}},
    {"no terminator", {.OmitTerminator = true}, {Honest, Honest}, {Honest, Honest}},
    {"length 1000, no terminator", Length(1000, true), {Honest, Honest}, {Honest, Honest}},
    {"6 written, no terminator",
     {.WriteLimit = 6, .OmitTerminator = true},
     {Partial, Partial},
     {Partial, Honest}},
};

const std::u16string LieDocument = u"keep  \r\n    one\r\n\u3000two\t\n        three";

struct TPlace {
  const char* Name;
  PositionPair Anchor, Caret;
  uint8_t Command;
};
// Where the lines run to the last one, whose length the driver asks for.
const TPlace Places[] = {
    {"selection to the last line", {2, 1}, {3, 3}, lcTabs},
    {"caret on the last line", {9, 3}, {9, 3}, lcUnindent},
};

void TestLies(const TPlugin& Plugin, THostWindow& Window) {
  for (const uint32_t Message : {MsgGetSelectedText, MsgGetLineText})
    for (size_t P = 0; P < std::size(Places); ++P) {
      const TPlace& Place = Places[P];
      const TScenario Plain{LieDocument, Place.Anchor, Place.Caret, Place.Command};
      const std::u16string HonestDocument = RunTwin(Plain).Document;
      const auto [First, Last] = Prepare(Plain).WholeLineRange();
      for (const TLie& Lie : Lies) {
        TCase Case(TSimEditor::MessageName(Message) + ", " + Lie.Name + ", " + Place.Name);
        TScenario S = Plain;
        S.Faults = Lie.Faults;
        S.Faults.TextMessage = Message;
        const auto [After, Failed] = RunHostile(Plugin, Window, S);
        const TEffect Effect = Failed                    ? Refused
                               : After == LieDocument    ? Unchanged
                               : After == HonestDocument ? Honest
                                                         : Partial;
        const TEffect Expected = (Message == MsgGetSelectedText ? Lie.Selected : Lie.Line)[P];
        CheckEqual(std::string(EffectNames[Effect]), EffectNames[Expected], "effect");
        Check(!Failed || After == LieDocument, "a refused command changes nothing");
        Check(OneStretchRewritten(
                  LieDocument, After, Place.Command,
                  [&](int32_t From, int32_t To) { return From == First && To <= Last; }),
              "only a leading part of the widened lines is rewritten");
      }
    }
}

// --- Text the protocol cannot carry whole -----------------------------------------

void TestAwkwardText(const TPlugin& Plugin, THostWindow& Window) {
  struct TRow {
    const char* Name;
    std::u16string Document;
  };
  // The selection runs from the first line into the second.
  const TRow Rows[] = {
      {"NUL in the first line", u"    a  b\0c  \r\n\u3000d \r\nend"s},
      {"NUL in the second line", u"    a \r\n  b\0c \r\nend"s},
      {"high surrogate alone", u"\t\xD800x \r\n  y\xD800\r\nend"},
      {"low surrogate alone", u"\t\xDC00x \r\n  \xDC00y\r\nend"},
      {"reversed pair", u"\t\xDC00\xD800 \r\n  \xDC00\xD800y\r\nend"},
  };
  for (const TRow& Row : Rows)
    for (const uint8_t Command : {lcTabs, lcPad}) {
      TCase Case(std::string(Row.Name) + ", command " + std::to_string(Command));
      const TScenario S{Row.Document, {1, 0}, {2, 1}, Command};
      const std::u16string After = RunHostile(Plugin, Window, S).first;
      // The editor hands over the text before the first NUL; the rest of
      // the lines stays as it was.
      const auto [First, Last] = Prepare(S).WholeLineRange();
      const size_t Nul = Row.Document.find(u'\0', static_cast<size_t>(First));
      const auto Cut = static_cast<int32_t>(std::min(Nul, static_cast<size_t>(Last)));
      CheckEqual(After, Rewrite(Row.Document, First, Cut, Command).first,
                 "the lines up to the first NUL rewritten");
    }
}

// --- Positions outside the text -----------------------------------------------------

// Answers MsgGetLineCount with Lines, when given, and the position messages
// listed with their pairs, whatever kind is asked for.
TIntercept Answering(std::vector<std::pair<UINT, PositionPair>> Pairs,
                     std::optional<LRESULT> Lines = std::nullopt) {
  return [=](UINT Msg, WPARAM, LPARAM LParam) -> std::optional<LRESULT> {
    if (Msg == MsgGetLineCount) return Lines;
    for (const auto& [Asked, Pair] : Pairs)
      if (Msg == Asked && LParam != 0) {
        *reinterpret_cast<PositionPair*>(LParam) = Pair;
        return 1;
      }
    return std::nullopt;
  };
}

void TestPositions(const TPlugin& Plugin, THostWindow& Window) {
  struct TRow {
    const char* Name;
    TIntercept Intercept;
  };
  const TRow Rows[] = {
      {"selection and caret past the last line", Answering({{MsgGetSelectionStart, {4, 50}},
                                                            {MsgGetSelectionEnd, {9, 60}},
                                                            {MsgGetCaretPosition, {9, 60}}})},
      {"selection end past the last line", Answering({{MsgGetSelectionEnd, {500, 99}}})},
      {"selection end past its line's end", Answering({{MsgGetSelectionEnd, {999, 2}}})},
      {"selection start before the text", Answering({{MsgGetSelectionStart, {-5, -3}}})},
      {"selection start past its line's end", Answering({{MsgGetSelectionStart, {999, 1}}})},
      {"line count 0", Answering({}, 0)},
      {"line count 2^31-1", Answering({}, INT32_MAX)},
      {"line count 0, end past the last line", Answering({{MsgGetSelectionEnd, {500, 99}}}, 0)},
  };
  for (const TRow& Row : Rows)
    for (const uint8_t Command : {lcTabs, lcTrim}) {
      TCase Case(std::string(Row.Name) + ", command " + std::to_string(Command));
      const TScenario S{LieDocument, {2, 1}, {3, 3}, Command, {}, Row.Intercept};
      const std::u16string After = RunHostile(Plugin, Window, S).first;
      Check(OneStretchRewritten(LieDocument, After, Command, [](int32_t, int32_t) { return true; }),
            "one stretch of whole lines rewritten, nothing else lost or changed");
    }
}

// --- String queries without a buffer ---------------------------------------------

// Sizes 0 and 64 without a buffer, and real buffers of every size, are
// QueryTests' part; these sizes come with a null buffer.
void TestNullBuffers(const TPlugin& Plugin, THostWindow& Window) {
  for (const UINT Query : {2306u, 2308u})
    for (const WPARAM Size : {WPARAM{1}, WPARAM{2}, WPARAM{0x8000'0000}, ~WPARAM{0}})
      CheckEqual(Plugin.PlugInProc(Window.Handle(), Query, Size, 0),
                 LRESULT{Query == 2306 ? 7 : 13},
                 "query " + std::to_string(Query) + ", null buffer of size " +
                     std::to_string(Size) + ": the full length");
}

// --- Calls back into the plug-in ---------------------------------------------------

enum TWhere { MenuLoop, WriteBack, ErrorBox };

// Where the window calls back in, in the modal loop of the menu or the box.
TReentry* LoopReentry = nullptr;
TWhere LoopKind = MenuLoop;
WNDPROC HostProc = nullptr;

LRESULT CALLBACK ReenterFromLoop(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
  // The menu loop tells its owner when it idles; a box keeps its owner
  // disabled, and the window's timer still ticks.
  const bool Now = LoopKind == MenuLoop ? Msg == WM_ENTERIDLE && WParam == MSGF_MENU
                                        : Msg == WM_TIMER && !IsWindowEnabled(Window);
  if (Now && LoopReentry) LoopReentry->Reenter();
  return CallWindowProcW(HostProc, Window, Msg, WParam, LParam);
}

void TestReentry(const TPlugin& Plugin, THostWindow& Window) {
  const std::pair<TWhere, const char*> Rows[] = {
      {MenuLoop, "OnCommand again from the menu loop"},
      {WriteBack, "OnCommand again from inside a replacement"},
      {ErrorBox, "OnCommand again while the error box is open"},
  };
  for (const auto& [Where, Name] : Rows) {
    TCase Case(Name);
    TReentry Reentry{Plugin, Window.Handle()};
    TScenario S{LieDocument, {2, 1}, {3, 3}, lcTabs};
    if (Where == WriteBack)
      S.Intercept = [&Reentry](UINT Msg, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (Msg == MsgReplaceSelection) Reentry.Reenter();
        return std::nullopt;
      };
    if (Where == ErrorBox) S.Faults = {.LieAboutLength = true, .ReportedLength = INTPTR_MAX};
    LoopReentry = Where == WriteBack ? nullptr : &Reentry;
    LoopKind = Where;
    HostProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        Window.Handle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ReenterFromLoop)));
    RunHostile(Plugin, Window, S, &Reentry);
    SetWindowLongPtrW(Window.Handle(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(HostProc));
    LoopReentry = nullptr;
    Check(Reentry.Calls > 0, "the editor called OnCommand again");
    CheckEqual(Reentry.Sent, 0, "the inner call sent the editor nothing");
  }
}

}  // namespace

void TestHostile(const TPlugin& Plugin, THostWindow& Window) {
  TestLies(Plugin, Window);
  TestAwkwardText(Plugin, Window);
  TestPositions(Plugin, Window);
  TestNullBuffers(Plugin, Window);
  TestReentry(Plugin, Window);
}

}  // namespace quillet::wintest
