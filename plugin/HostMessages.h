// The host editor's message interface, and typed wrappers around it.
//
// Every exchange with the editor is one call of THostEditor::Send, which is
// SendMessageW to the editor window on Windows and a simulated editor in the
// tests. Records passed by address are laid out as the editor expects them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "StringUnit/LineBreaks.h"

namespace quillet {

enum THostMessage : uint32_t {
  MsgQueryCommandEnabled = 2049,       // wParam command, lParam passed through
  MsgReportEventValue = 2050,          // wParam stored event value
  MsgGetLineCount = 2052,              // wParam kind
  MsgGetCaretPosition = 2054,          // wParam kind, lParam out PositionPair
  MsgGetViewRecord = 2057,             // lParam out TViewRecord
  MsgTextLineToEditorPosition = 2062,  // wParam in pair (text line), lParam out pair (editor)
  MsgSetCaretPosition = 2066,          // wParam kind, lParam in pair
  MsgSetViewRecord = 2067,             // lParam in TViewRecord
  MsgRunCommand = 2070,                // wParam host command
  MsgGetSelectionStart = 2074,         // wParam kind, lParam out pair
  MsgGetSelectionEnd = 2075,           // wParam kind, lParam out pair
  MsgSelectCharacters = 2076,          // wParam count of units after the caret
  MsgSetSelection = 2081,              // wParam in anchor pair, lParam in caret pair (editor)
  MsgSetRedraw = 2092,                 // wParam 0 off, 1 on
  MsgQueryHasSelection = 2093,         // non-zero while text is selected
  MsgGetSelectedText = 2094,           // wParam size, lParam buffer
  MsgGetLineText = 2095,               // wParam in TLineTextRequest, lParam buffer
  MsgReplaceSelection = 2100,          // lParam NUL-terminated UTF-16 text
};

// The editor's own commands used by the plug-in.
enum THostCommand : uint32_t {
  hcSelectLine = 4136,       // select the caret's whole line
  hcCancelSelection = 4187,  // collapse the selection to the caret
  hcEditCommand = 4201,      // its enabled state is the plug-in's
};

enum TPositionKind : uint32_t { pkEditor = 0, pkTextLine = 2 };

struct PositionPair {
  int32_t Column;
  int32_t Line;
  friend bool operator==(const PositionPair&, const PositionPair&) = default;
};
static_assert(sizeof(PositionPair) == 8);

struct TLineTextRequest {
  int32_t Size;   // 0 in the first call, the returned length in the second
  int32_t Flags;  // always 1: the line's text without its break
  int32_t Line;   // text-line index
};
static_assert(sizeof(TLineTextRequest) == 12);

// Saved and given back untouched.
struct TViewRecord {
  int32_t Value[2];
};
static_assert(sizeof(TViewRecord) == 8);

// The seam to the editor: one message, one answer.
class THostEditor {
 public:
  virtual ~THostEditor() = default;
  virtual intptr_t Send(uint32_t Msg, uintptr_t WParam, intptr_t LParam) = 0;
};

// Raised when the editor answers in a way the plug-in cannot work with safely;
// raised before anything in the document has been changed.
class EHostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The failure of a selection that the editor places outside its text.
inline constexpr char BadSelectionMessage[] = "エディタから受け取った選択位置が不正です";
// The failure of a selected text that reads differently the second time.
inline constexpr char ChangedSelectionMessage[] =
    "エディタから受け取った選択テキストが一致しません";

// The longest text the plug-in accepts from the editor, in UTF-16 units.
constexpr intptr_t MaxHostTextLength = intptr_t{1} << 28;

PositionPair GetSelectionStart(THostEditor& Host, TPositionKind Kind);
PositionPair GetSelectionEnd(THostEditor& Host, TPositionKind Kind);
PositionPair GetCaretPosition(THostEditor& Host, TPositionKind Kind);
void SetCaretPosition(THostEditor& Host, TPositionKind Kind, PositionPair Position);
void SetSelection(THostEditor& Host, PositionPair Anchor, PositionPair Caret);
PositionPair TextLineToEditorPosition(THostEditor& Host, PositionPair Position);
int32_t GetLineCount(THostEditor& Host, TPositionKind Kind);
void SelectCharacters(THostEditor& Host, int32_t Count);
void ReplaceSelection(THostEditor& Host, StringView Text);
bool QueryHasSelection(THostEditor& Host);
void RunCommand(THostEditor& Host, THostCommand Command);
void SetRedraw(THostEditor& Host, bool On);
TViewRecord GetViewRecord(THostEditor& Host);
void SetViewRecord(THostEditor& Host, const TViewRecord& View);

// The two-call text protocol: ask for the length, then fetch into a buffer of
// that length plus a terminator, a length of 0 included. Keeps what precedes
// the first NUL. A negative length reads as empty, with no second call; a
// length above MaxHostTextLength raises EHostError. The buffer is never read
// or written past its end.
String GetSelectedText(THostEditor& Host);
String GetLineText(THostEditor& Host, int32_t Line);

}  // namespace quillet
