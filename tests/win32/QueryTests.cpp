// The host's questions: OnEvents, QueryStatus, the identifier getters and
// PlugInProc, with the uninstall question answered in a real message box.
#include <windows.h>

#include <cstring>
#include <optional>
#include <string>

#include "plugin/HostMessages.h"
#include "testing/SimEditor.h"
#include "tests/win32/Check.h"
#include "tests/win32/TestHost.h"

namespace quillet::wintest {

namespace {

using testing::TSimEditor;

// A pointer-sized value with every byte distinct, to see it passed through.
const LPARAM PassedValue =
    static_cast<LPARAM>(sizeof(LPARAM) == 8 ? 0x1234'5678'9ABC'DEF0 : 0x9ABC'DEF0);

void TestEvents(const TPlugin& Plugin, THostWindow& Window) {
  TCase Case("OnEvents");
  TSimEditor Sim;
  Window.Attach(&Sim);
  struct TRow {
    DWORD Flags;
    DWORD Value;
    std::optional<uintptr_t> Reported;  // the MsgReportEventValue sent, if any
  };
  // In order: the stored value lives from call to call.
  static constexpr TRow Rows[] = {
      {0x40, 77, 0},                      // report before anything was stored
      {0x400, 5, std::nullopt},           // store only
      {0x40, 99, 5},                      // report the stored value, not this one
      {0x440, 9, 9},                      // store, then report the new value
      {0xFFFFFBBF, 3, std::nullopt},      // every other bit: ignored
      {0x80000041, 4, 9},                 // report, other bits ignored
      {0x402, 0xFFFFFFFF, std::nullopt},  // store all 32 bits
      {0x40, 0, 0xFFFFFFFF},
      {0, 1, std::nullopt},
  };
  int Step = 0;
  for (const TRow& Row : Rows) {
    TCase Row_("OnEvents step " + std::to_string(++Step));
    Sim.ClearLog();
    Plugin.OnEvents(Window.Handle(), Row.Flags, Row.Value);
    CheckEqual(Sim.Log().size(), size_t{Row.Reported ? 1u : 0u}, "messages sent");
    if (!Row.Reported || Sim.Log().empty()) continue;
    const testing::TLoggedMessage& Sent = Sim.Log().front();
    CheckEqual(Sent.Msg, uint32_t{MsgReportEventValue}, "message");
    CheckEqual(Sent.WParam, *Row.Reported, "wParam: the stored event value");
    CheckEqual(Sent.LParam, intptr_t{0}, "lParam");
  }
  Window.Attach(nullptr);
}

void TestStatus(const TPlugin& Plugin, THostWindow& Window) {
  TCase Case("QueryStatus");
  // The editor's answer, and the result: only its low byte counts.
  struct TRow {
    LRESULT Answer;
    INT_PTR Result;
  };
  static constexpr TRow Rows[] = {
      {0, 0},   {1, -1},   {0xFF, -1}, {0x100, 0},      {0x1FF, -1},
      {-1, -1}, {-256, 0}, {0x80, -1}, {0x7FFFFF00, 0}, {2, -1},
  };
  for (const TRow& Row : Rows) {
    TCase Row_("answer " + std::to_string(Row.Answer));
    std::optional<std::pair<WPARAM, LPARAM>> Seen;
    Window.Intercept = [&](UINT Msg, WPARAM W, LPARAM L) -> std::optional<LRESULT> {
      if (Msg != MsgQueryCommandEnabled) return std::nullopt;
      Seen.emplace(W, L);
      return Row.Answer;
    };
    CheckEqual(Plugin.QueryStatus(Window.Handle(), PassedValue), Row.Result, "result");
    Check(Seen.has_value(), "MsgQueryCommandEnabled sent");
    if (!Seen) continue;
    CheckEqual(Seen->first, WPARAM{hcEditCommand}, "wParam: host command 4201");
    CheckEqual(Seen->second, PassedValue, "lParam: the second argument, unchanged");
  }
  Window.Intercept = nullptr;

  // The simulated editor disables its command 4201 while read-only.
  for (const bool ReadOnly : {false, true}) {
    TCase Row_(ReadOnly ? "read-only editor" : "writable editor");
    TSimEditor Sim(u"text");
    Sim.SetReadOnly(ReadOnly);
    Window.Attach(&Sim);
    CheckEqual(Plugin.QueryStatus(Window.Handle(), 0), INT_PTR{ReadOnly ? 0 : -1}, "result");
    CheckEqual(Sim.MessageNames().size(), size_t{1}, "one message");
    CheckEqual(Sim.Document(), u"text", "the document is untouched");
    Window.Attach(nullptr);
  }
}

void TestIdentifiers(const TPlugin& Plugin) {
  TCase Case("identifier exports");
  CheckEqual(Plugin.GetMenuTextID(), INT_PTR{1}, "GetMenuTextID");
  CheckEqual(Plugin.GetStatusMessageID(), INT_PTR{2}, "GetStatusMessageID");
  CheckEqual(Plugin.GetBitmapID(), INT_PTR{101}, "GetBitmapID");
}

void TestPlainQueries(const TPlugin& Plugin, THostWindow& Window) {
  TCase Case("PlugInProc");
  struct TRow {
    UINT Query;
    LRESULT Result;
  };
  // The name and version lengths come without a buffer too.
  static constexpr TRow Rows[] = {
      {2304, 0}, {2305, 0}, {2306, 7}, {2307, 0}, {2308, 13},      {2309, 0},
      {2310, 1}, {2312, 0}, {2303, 0}, {0, 0},    {0xFFFFFFFF, 0}, {2304 + 0x10000, 0},
  };
  TSimEditor Sim;
  Window.Attach(&Sim);
  for (const TRow& Row : Rows)
    for (const WPARAM Size : {WPARAM{0}, WPARAM{64}})
      CheckEqual(
          Plugin.PlugInProc(Window.Handle(), Row.Query, Size, 0), Row.Result,
          "query " + std::to_string(Row.Query) + " without buffer, size " + std::to_string(Size));
  CheckEqual(Sim.MessageNames().size(), size_t{0}, "no message to the editor");
  Window.Attach(nullptr);
}

void TestStringQueries(const TPlugin& Plugin, THostWindow& Window) {
  TCase Case("PlugInProc name and version");
  struct TRow {
    UINT Query;
    WPARAM Size;
    std::string_view Written;  // the bytes written, terminator included
  };
  using namespace std::string_view_literals;
  static constexpr TRow Rows[] = {
      {2306, 0, ""sv},
      {2306, 1, "\0"sv},
      {2306, 2, "Q\0"sv},
      {2306, 5, "Quil\0"sv},
      {2306, 7, "Quille\0"sv},
      {2306, 8, "Quillet\0"sv},
      {2306, 64, "Quillet\0"sv},
      {2306, ~WPARAM{0}, "Quillet\0"sv},
      {2308, 0, ""sv},
      {2308, 1, "\0"sv},
      {2308, 5, "Vers\0"sv},
      {2308, 13, "Version 3.8.\0"sv},
      {2308, 14, "Version 3.8.1\0"sv},
      {2308, 64, "Version 3.8.1\0"sv},
      {2308, WPARAM{0x8000'0000}, "Version 3.8.1\0"sv},
  };
  for (const TRow& Row : Rows) {
    TCase Row_("query " + std::to_string(Row.Query) + " size " + std::to_string(Row.Size));
    char Buffer[64];
    std::memset(Buffer, 0xCC, sizeof Buffer);
    const LRESULT Result =
        Plugin.PlugInProc(Window.Handle(), Row.Query, Row.Size, reinterpret_cast<LPARAM>(Buffer));
    CheckEqual(Result, LRESULT{Row.Query == 2306 ? 7 : 13}, "result: the full length");
    CheckEqual(std::string_view(Buffer, Row.Written.size()), Row.Written, "bytes written");
    size_t Untouched = Row.Written.size();
    while (Untouched < sizeof Buffer && Buffer[Untouched] == '\xCC') ++Untouched;
    CheckEqual(Untouched, sizeof Buffer, "nothing written past the terminator");
  }
}

void TestUninstall(const TPlugin& Plugin, THostWindow& Window) {
  const HICON Question = LoadIconW(nullptr, IDI_QUESTION);
  for (const int Answer : {IDYES, IDNO}) {
    TCase Case(Answer == IDYES ? "uninstall question, Yes" : "uninstall question, No");
    TSimEditor Sim;
    Window.Attach(&Sim);
    Window.ExpectBox(Answer);
    CheckEqual(Plugin.PlugInProc(Window.Handle(), 2311, 0, 0), LRESULT{Answer == IDYES ? 1 : 0},
               "result");
    const TBoxSession& Box = Window.LastBox();
    Check(Box.Opened, "a message box opened");
    CheckEqual(Box.Text, u"アンインストールしますか？", "text");
    CheckEqual(Box.Caption, u"Quillet", "caption");
    Check(Box.Owner == Window.Handle(), "owned by the editor window");
    CheckEqual(Box.Buttons.size(), size_t{2}, "two buttons");
    Check(Box.Buttons == std::vector<int>{IDYES, IDNO}, "the buttons are Yes and No");
    Check(Box.Icon != nullptr && Box.Icon == Question, "the question icon");
    CheckEqual(Sim.MessageNames().size(), size_t{0}, "no message to the editor");
    Window.Attach(nullptr);
  }
}

}  // namespace

void TestQueries(const TPlugin& Plugin, THostWindow& Window) {
  TestEvents(Plugin, Window);
  TestStatus(Plugin, Window);
  TestIdentifiers(Plugin);
  TestPlainQueries(Plugin, Window);
  TestStringQueries(Plugin, Window);
  TestUninstall(Plugin, Window);
}

}  // namespace quillet::wintest
