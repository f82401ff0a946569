// The seven exports of the plug-in DLL (named in quillet.def, WINAPI).
//
// Argument and result widths. The host calls through a table of 32-bit
// values; on 32 bits every choice below is exactly that table. For the 64-bit
// build:
// - Handles are HWND.
// - Values the table gives as 32 bits (query number, event flags, event value)
//   are taken 32 bits wide: a 64-bit caller need not clear the upper half of a
//   32-bit argument, so reading the low half only is right whichever width
//   the host declared.
// - Values that may carry addresses are pointer-sized: QueryStatus' second
//   argument, passed through to the editor as a message lParam, and
//   PlugInProc's wParam (a buffer size) and lParam (the buffer).
// - Results are pointer-sized (INT_PTR, LRESULT). A host that declared a
//   32-bit result reads the low half, which carries the same value; one that
//   declared a pointer-sized result reads a properly sign-extended value
//   (QueryStatus' -1), where a 32-bit result would leave the upper half of
//   the register unspecified.
//
// No exception crosses an export: each one is a function-try-block whose
// handlers turn a failure into a neutral result (for OnCommand, the run it
// calls). OnCommand, the one export the user waits on, shows the failure in a
// message box.
//
// One command runs at a time. The editor can call OnCommand again while a
// run is under way: from its menu loop while the popup is open, while it
// handles one of the run's messages, or while the error box is open. An
// inner run would edit the document under the outer one, whose line numbers
// would then point at the wrong text. Such a call returns at once and sends
// the editor nothing.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <exception>
#include <iterator>

#include "QuilletVersion.h"
#include "plugin/CommandDriver.h"
#include "plugin/HostMessages.h"
#include "plugin/Win32Host.h"
#include "plugin/Win32Menu.h"

namespace quillet {

namespace {

// Both in code page 932; plain ASCII, so the bytes are the characters.
constexpr char NameString[] = "Quillet";
constexpr char VersionString[] = "Version " QUILLET_VERSION;
// The name widened to UTF-16, for message box captions.
constexpr char16_t NameCaption[] = u"Quillet";

constexpr char16_t UninstallQuestion[] = u"アンインストールしますか？";
constexpr char UnknownFailure[] = "不明なエラーが発生しました";

constexpr INT_PTR MenuTextId = 1;
constexpr INT_PTR StatusMessageId = 2;
constexpr INT_PTR BitmapId = 101;

enum TPluginQuery : UINT {
  pqQuery2304 = 2304,
  pqGetName = 2306,
  pqGetVersion = 2308,
  pqQuery2310 = 2310,
  pqConfirmUninstall = 2311,
};

enum TEventFlag : DWORD {
  efReportValue = 0x40,  // send the stored event value to the editor
  efStoreValue = 0x400,  // keep the event value
};

DWORD StoredEventValue = 0;

// Held by the command run under way, if any.
std::atomic<bool> CommandRunning{false};

// Claims the one command run for its lifetime; claimed only when no other
// run held it.
class TCommandClaim {
 public:
  TCommandClaim() : claimed_(!CommandRunning.exchange(true)) {}
  ~TCommandClaim() {
    if (claimed_) CommandRunning = false;
  }
  TCommandClaim(const TCommandClaim&) = delete;
  TCommandClaim& operator=(const TCommandClaim&) = delete;
  explicit operator bool() const { return claimed_; }

 private:
  bool claimed_;
};

// Copies Text into the 8-bit buffer of Size characters at Buffer with
// lstrcpynA when there is one; the result is Text's full length either way.
// A size of 0 writes nothing, and sizes beyond INT_MAX are clamped, since
// lstrcpynA takes an int and reads a negative one as "no limit".
LRESULT CopyString8(const char* Text, WPARAM Size, LPARAM Buffer) {
  if (Buffer != 0 && Size != 0) {
    const auto Limit = static_cast<int>(std::min<WPARAM>(Size, INT_MAX));
    lstrcpynA(reinterpret_cast<LPSTR>(Buffer), Text, Limit);
  }
  return static_cast<LRESULT>(std::strlen(Text));
}

LRESULT ConfirmUninstall(HWND Editor) {
  const int Answer = MessageBoxW(Editor, WideText(UninstallQuestion), WideText(NameCaption),
                                 MB_YESNO | MB_ICONQUESTION);
  return Answer == IDYES ? 1 : 0;
}

// The failure's UTF-8 text in an error box owned by the editor window.
// Allocates nothing, so that it can run while memory is short; a text longer
// than the box's buffer is cut at a character boundary.
void ShowFailure(HWND Editor, const char* Utf8) noexcept {
  wchar_t Text[1024];
  // One UTF-8 byte never makes more than one UTF-16 unit, so this many bytes
  // always fit.
  size_t Bytes = std::min(std::strlen(Utf8), std::size(Text) - 1);
  while (Bytes > 0 && (static_cast<unsigned char>(Utf8[Bytes]) & 0xC0) == 0x80) --Bytes;
  const int Units = MultiByteToWideChar(CP_UTF8, 0, Utf8, static_cast<int>(Bytes), Text,
                                        static_cast<int>(std::size(Text) - 1));
  Text[std::max(Units, 0)] = L'\0';
  MessageBoxW(Editor, Text, WideText(NameCaption), MB_OK | MB_ICONERROR);
}

// One run of the command menu; a failure ends in the error box.
void RunCommandMenu(HWND Editor) noexcept try {
  TWin32Host Host(Editor);
  TWin32Menu Menu(Editor);
  quillet::OnCommand(Host, Menu);
} catch (const std::exception& Failure) {
  ShowFailure(Editor, Failure.what());
} catch (...) {
  ShowFailure(Editor, UnknownFailure);
}

}  // namespace

}  // namespace quillet

using namespace quillet;

extern "C" {

// Shows the command menu and runs the chosen command (CommandDriver.h); does
// nothing while another run is under way, its error box included.
void WINAPI OnCommand(HWND Editor) {
  const TCommandClaim Claim;  // cannot fail
  if (Claim) RunCommandMenu(Editor);
}

// -1 exactly when the editor reports its command hcEditCommand enabled (low
// byte of the answer non-zero), else 0. Passed goes to the editor unchanged.
INT_PTR WINAPI QueryStatus(HWND Editor, LPARAM Passed) try {
  const intptr_t Answer = TWin32Host(Editor).Send(MsgQueryCommandEnabled, hcEditCommand, Passed);
  return (Answer & 0xFF) != 0 ? -1 : 0;
} catch (...) {
  return 0;
}

// efStoreValue keeps Value; then efReportValue sends the kept value, so a
// call with both reports the new one. Other flags are ignored.
void WINAPI OnEvents(HWND Editor, DWORD Flags, DWORD Value) try {
  if ((Flags & efStoreValue) != 0) StoredEventValue = Value;
  if ((Flags & efReportValue) != 0)
    TWin32Host(Editor).Send(MsgReportEventValue, StoredEventValue, 0);
} catch (...) {
}

INT_PTR WINAPI GetMenuTextID() try { return MenuTextId; } catch (...) {
  return 0;
}

INT_PTR WINAPI GetStatusMessageID() try { return StatusMessageId; } catch (...) {
  return 0;
}

INT_PTR WINAPI GetBitmapID() try { return BitmapId; } catch (...) {
  return 0;
}

// The host's questions by number; 0 for every number not listed.
LRESULT WINAPI PlugInProc(HWND Editor, UINT Query, WPARAM WParam, LPARAM LParam) try {
  switch (Query) {
    case pqQuery2304:
      return 0;
    case pqGetName:
      return CopyString8(NameString, WParam, LParam);
    case pqGetVersion:
      return CopyString8(VersionString, WParam, LParam);
    case pqQuery2310:
      return 1;
    case pqConfirmUninstall:
      return ConfirmUninstall(Editor);
    default:
      return 0;
  }
} catch (...) {
  return 0;
}

}  // extern "C"
