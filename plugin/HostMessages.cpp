#include "plugin/HostMessages.h"

#include <cstring>
#include <memory>

namespace quillet {

namespace {

template <typename T>
intptr_t AddressOf(T& Record) {
  return reinterpret_cast<intptr_t>(&Record);
}

template <typename T>
uintptr_t WAddressOf(T& Record) {
  return reinterpret_cast<uintptr_t>(&Record);
}

PositionPair GetPosition(THostEditor& Host, uint32_t Msg, TPositionKind Kind) {
  PositionPair Position{0, 0};
  Host.Send(Msg, Kind, AddressOf(Position));
  return Position;
}

// The two-call text protocol. Fetch(Size, Buffer) sends one call; Size 0 with
// a null buffer asks for the length. The second call goes out for a length
// of 0 too, with size 0 and a buffer of one unit: the editor may expect it
// (an empty selection, an empty line).
template <typename FetchFn>
String FetchText(FetchFn Fetch) {
  const intptr_t Length = Fetch(0, nullptr);
  if (Length < 0) return String();
  if (Length > MaxHostTextLength)
    throw EHostError("エディタから受け取ったテキストの長さが不正です");
  // Zero-filled, so units the editor leaves unwritten read as the end.
  const auto Size = static_cast<size_t>(Length);
  std::unique_ptr<char16_t[]> Buffer(new char16_t[Size + 1]());
  Fetch(Length, Buffer.get());
  Buffer[Size] = u'\0';
  return String(Buffer.get());
}

}  // namespace

PositionPair GetSelectionStart(THostEditor& Host, TPositionKind Kind) {
  return GetPosition(Host, MsgGetSelectionStart, Kind);
}

PositionPair GetSelectionEnd(THostEditor& Host, TPositionKind Kind) {
  return GetPosition(Host, MsgGetSelectionEnd, Kind);
}

PositionPair GetCaretPosition(THostEditor& Host, TPositionKind Kind) {
  return GetPosition(Host, MsgGetCaretPosition, Kind);
}

void SetCaretPosition(THostEditor& Host, TPositionKind Kind, PositionPair Position) {
  Host.Send(MsgSetCaretPosition, Kind, AddressOf(Position));
}

void SetSelection(THostEditor& Host, PositionPair Anchor, PositionPair Caret) {
  Host.Send(MsgSetSelection, WAddressOf(Anchor), AddressOf(Caret));
}

PositionPair TextLineToEditorPosition(THostEditor& Host, PositionPair Position) {
  // Converted in place: the record is both the question and the answer.
  Host.Send(MsgTextLineToEditorPosition, WAddressOf(Position), AddressOf(Position));
  return Position;
}

int32_t GetLineCount(THostEditor& Host, TPositionKind Kind) {
  return static_cast<int32_t>(Host.Send(MsgGetLineCount, Kind, 0));
}

void SelectCharacters(THostEditor& Host, int32_t Count) {
  Host.Send(MsgSelectCharacters, static_cast<uintptr_t>(static_cast<intptr_t>(Count)), 0);
}

void ReplaceSelection(THostEditor& Host, StringView Text) {
  const String Terminated(Text);  // c_str() adds the terminator
  Host.Send(MsgReplaceSelection, 0, reinterpret_cast<intptr_t>(Terminated.c_str()));
}

bool QueryHasSelection(THostEditor& Host) {
  return Host.Send(MsgQueryHasSelection, 0, 0) != 0;
}

void RunCommand(THostEditor& Host, THostCommand Command) {
  Host.Send(MsgRunCommand, Command, 0);
}

void SetRedraw(THostEditor& Host, bool On) {
  Host.Send(MsgSetRedraw, On ? 1 : 0, 0);
}

TViewRecord GetViewRecord(THostEditor& Host) {
  TViewRecord View{{0, 0}};
  Host.Send(MsgGetViewRecord, 0, AddressOf(View));
  return View;
}

void SetViewRecord(THostEditor& Host, const TViewRecord& View) {
  TViewRecord Copy = View;
  Host.Send(MsgSetViewRecord, 0, AddressOf(Copy));
}

String GetSelectedText(THostEditor& Host) {
  return FetchText([&Host](intptr_t Size, char16_t* Buffer) {
    return Host.Send(MsgGetSelectedText, static_cast<uintptr_t>(Size),
                     reinterpret_cast<intptr_t>(Buffer));
  });
}

String GetLineText(THostEditor& Host, int32_t Line) {
  return FetchText([&Host, Line](intptr_t Size, char16_t* Buffer) {
    TLineTextRequest Request{static_cast<int32_t>(Size), 1, Line};
    return Host.Send(MsgGetLineText, WAddressOf(Request), reinterpret_cast<intptr_t>(Buffer));
  });
}

}  // namespace quillet
