// The test host's timing mode: OnCommand through the real popup menu on the
// write-back benchmark's text (bench/WriteBackText.h), all of it selected,
// choosing the command that rewrites one line in ten. Prints the messages
// the plug-in sent, per unchanged and per changed line worked out as
// quillet_bench does, and the wall time of OnCommand; checks the text it
// leaves.
#include <cstdio>

#include "TemplateList/StringRecordList.h"
#include "bench/WriteBackText.h"
#include "tests/win32/TestHost.h"
#include "transforms/LineCommands.h"

namespace quillet::wintest {

namespace {

LARGE_INTEGER Now() {
  LARGE_INTEGER Ticks;
  QueryPerformanceCounter(&Ticks);
  return Ticks;
}

double Milliseconds(LARGE_INTEGER From, LARGE_INTEGER To) {
  LARGE_INTEGER Frequency;
  QueryPerformanceFrequency(&Frequency);
  return 1000.0 * static_cast<double>(To.QuadPart - From.QuadPart) /
         static_cast<double>(Frequency.QuadPart);
}

// The simulated editor, timing its own answers.
class TTimedEditor final : public testing::TSimEditor {
 public:
  using TSimEditor::TSimEditor;
  intptr_t Send(uint32_t Msg, uintptr_t WParam, intptr_t LParam) override {
    const LARGE_INTEGER Start = Now();
    const intptr_t Result = TSimEditor::Send(Msg, WParam, LParam);
    spent_.QuadPart += Now().QuadPart - Start.QuadPart;
    return Result;
  }
  LARGE_INTEGER Spent() const { return spent_; }

 private:
  LARGE_INTEGER spent_{};
};

struct TTiming {
  int32_t Messages = 0;
  double Total = 0;    // ms in OnCommand
  double Command = 0;  // ms of it from the first message after the menu
  double Editor = 0;   // ms of it in the simulated editor's answers
  bool Ok = false;     // the text is what the command makes of it
};

TTiming TimeOnCommand(const TPlugin& Plugin, THostWindow& Window, const String& Text) {
  TTimedEditor Sim(Text);
  Sim.SetLogging(false);
  Sim.Select(0, static_cast<int32_t>(Text.size()));
  // The plug-in sends nothing while its menu is open.
  LARGE_INTEGER AfterMenu{};
  Window.Intercept = [&](UINT, WPARAM, LPARAM) -> std::optional<LRESULT> {
    if (AfterMenu.QuadPart == 0 && Window.LastMenu().Opened) AfterMenu = Now();
    return std::nullopt;
  };
  Window.Attach(&Sim);
  Window.ExpectMenu(bench::WriteBackCommand, false, POINT{200, 150});
  const LARGE_INTEGER Start = Now();
  Plugin.OnCommand(Window.Handle());
  const LARGE_INTEGER End = Now();
  Window.Attach(nullptr);
  Window.Intercept = nullptr;

  TTiming Timing;
  Timing.Messages = Sim.MessageCount();
  Timing.Total = Milliseconds(Start, End);
  Timing.Command = AfterMenu.QuadPart != 0 ? Milliseconds(AfterMenu, End) : 0;
  Timing.Editor = Milliseconds(LARGE_INTEGER{}, Sim.Spent());
  Timing.Ok = Sim.Document() == ApplyLineCommand(Text, bench::WriteBackCommand);
  return Timing;
}

int32_t LineCount(const String& Text) {
  TCommonStringRecordList List;
  List.SetText(Text);
  return List.Count();
}

}  // namespace

int RunBench(const TPlugin& Plugin, THostWindow& Window, long Lines) {
  if (Lines < 20 || Lines > 10000000) {
    std::printf("--bench takes 20 to 10,000,000 lines\n");
    return 2;
  }
  const String Text = bench::ShortLines(static_cast<int32_t>(Lines));
  const String Unchanged = ApplyLineCommand(Text, bench::WriteBackCommand);
  const String Half =
      ApplyLineCommand(bench::ShortLines(static_cast<int32_t>(Lines / 2)), bench::WriteBackCommand);
  // Unchanged selections of all and half the lines first: their difference
  // cancels the fixed messages; they also warm up.
  const TTiming HalfRun = TimeOnCommand(Plugin, Window, Half);
  const TTiming UnchangedRun = TimeOnCommand(Plugin, Window, Unchanged);
  const TTiming Run = TimeOnCommand(Plugin, Window, Text);

  TCommonStringRecordList Before;
  TCommonStringRecordList After;
  Before.SetText(Text);
  After.SetText(Unchanged);
  int32_t Changed = 0;
  for (int32_t I = 0; I < Before.Count(); ++I) Changed += Before.Items(I) != After.Items(I);
  const double PerUnchanged = static_cast<double>(UnchangedRun.Messages - HalfRun.Messages) /
                              (Before.Count() - LineCount(Half));
  const double PerChanged =
      PerUnchanged + static_cast<double>(Run.Messages - UnchangedRun.Messages) / Changed;

  std::printf("%d lines (%zu units) selected, %d changed by command %d\n", Before.Count(),
              Text.size(), Changed, bench::WriteBackCommand);
  std::printf("messages: %d in all, %.2f per unchanged line, %.2f per changed line\n", Run.Messages,
              PerUnchanged, PerChanged);
  std::printf("OnCommand: %.1f ms; after the menu closed %.1f ms, %.1f ms of it in the editor\n",
              Run.Total, Run.Command, Run.Editor);
  std::printf(
      "unchanged selection: %d messages; OnCommand %.1f ms, after the menu %.1f ms, "
      "in the editor %.1f ms\n",
      UnchangedRun.Messages, UnchangedRun.Total, UnchangedRun.Command, UnchangedRun.Editor);
  const bool Ok = Run.Ok && UnchangedRun.Ok && HalfRun.Ok && Window.Mishaps() == 0;
  std::printf("%s\n", Ok ? "OK" : "FAIL");
  return Ok ? 0 : 1;
}

}  // namespace quillet::wintest
