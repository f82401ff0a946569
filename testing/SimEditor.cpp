#include "testing/SimEditor.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace quillet::testing {

namespace {

constexpr char16_t CR = u'\r';
constexpr char16_t LF = u'\n';

bool ValidKind(uintptr_t Kind) {
  return Kind == pkEditor || Kind == pkTextLine;
}

std::string KindName(uintptr_t Kind) {
  if (Kind == pkEditor) return "pkEditor";
  if (Kind == pkTextLine) return "pkTextLine";
  return "kind " + std::to_string(Kind);
}

std::string PairText(PositionPair P) {
  return "(" + std::to_string(P.Column) + "," + std::to_string(P.Line) + ")";
}

void AppendUtf8(std::string& Out, uint32_t C) {
  if (C < 0x80) {
    Out += static_cast<char>(C);
  } else if (C < 0x800) {
    Out += static_cast<char>(0xC0 | (C >> 6));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  } else if (C < 0x10000) {
    Out += static_cast<char>(0xE0 | (C >> 12));
    Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (C >> 18));
    Out += static_cast<char>(0x80 | ((C >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((C >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (C & 0x3F));
  }
}

void AppendEscape(std::string& Out, uint32_t Unit) {
  char Buffer[8];
  std::snprintf(Buffer, sizeof Buffer, "\\u%04X", static_cast<unsigned>(Unit));
  Out += Buffer;
}

bool IsHighSurrogate(char16_t C) {
  return C >= 0xD800 && C <= 0xDBFF;
}
bool IsLowSurrogate(char16_t C) {
  return C >= 0xDC00 && C <= 0xDFFF;
}

// Puts With in place of Table[At, At + Count) and moves every entry after
// them by Shift.
void Splice(std::vector<int32_t>& Table, int32_t At, int32_t Count,
            const std::vector<int32_t>& With, int32_t Shift) {
  const auto Tail = Table.begin() + At + Count;
  if (Shift != 0) {
    // Eight at a time, which the compiler turns into vector adds at -O2.
    int32_t* Entry = Table.data() + At + Count;
    int32_t* const End = Table.data() + Table.size();
    for (; End - Entry >= 8; Entry += 8)
      for (int K = 0; K < 8; ++K) Entry[K] += Shift;
    for (; Entry != End; ++Entry) *Entry += Shift;
  }
  const auto Size = static_cast<int32_t>(With.size());
  if (Size > Count) {
    Table.insert(Tail, Size - Count, 0);
  } else {
    Table.erase(Table.begin() + At + Size, Tail);
  }
  std::copy(With.begin(), With.end(), Table.begin() + At);
}

}  // namespace

std::string QuoteText(std::u16string_view Text) {
  std::string Out;
  Out.reserve(Text.size() + 2);
  Out += '"';
  for (size_t I = 0; I < Text.size(); ++I) {
    const char16_t C = Text[I];
    switch (C) {
      case u'\r':
        Out += "\\r";
        continue;
      case u'\n':
        Out += "\\n";
        continue;
      case u'\t':
        Out += "\\t";
        continue;
      case u'"':
        Out += "\\\"";
        continue;
      case u'\\':
        Out += "\\\\";
        continue;
      default:
        break;
    }
    if (IsHighSurrogate(C) && I + 1 < Text.size() && IsLowSurrogate(Text[I + 1])) {
      AppendUtf8(Out, 0x10000 + ((uint32_t{C} - 0xD800) << 10) + (Text[I + 1] - 0xDC00));
      ++I;
    } else if (C < 0x20 || C == 0x7F || IsHighSurrogate(C) || IsLowSurrogate(C)) {
      AppendEscape(Out, C);
    } else {
      AppendUtf8(Out, C);
    }
  }
  Out += '"';
  return Out;
}

std::string TLoggedMessage::Call() const {
  std::string Text = TSimEditor::MessageName(Msg);
  if (!Detail.empty()) Text += " " + Detail;
  return Text;
}

std::string TLoggedMessage::ToString() const {
  return Call() + " = " + std::to_string(static_cast<long long>(Result));
}

std::string TextProtocolBreach(const std::vector<TLoggedMessage>& Log) {
  const auto IsText = [](const TLoggedMessage& M) {
    return M.Msg == MsgGetSelectedText || M.Msg == MsgGetLineText;
  };
  // What a line request's Detail starts with: "line L size S".
  const auto Request = [](const TLoggedMessage& M, intptr_t Size) {
    const size_t SizeAt = M.Detail.find(" size ");
    return M.Detail.substr(0, SizeAt) + " size " + std::to_string(Size);
  };
  const auto SizeOf = [&](const TLoggedMessage& M) {
    return M.Msg == MsgGetSelectedText ? std::to_string(M.WParam)
                                       : M.Detail.substr(0, M.Detail.find(" ->"));
  };
  for (size_t I = 0; I < Log.size(); ++I) {
    const TLoggedMessage& M = Log[I];
    if (!IsText(M)) continue;
    const std::string Where = "message " + std::to_string(I + 1) + " " + M.Call();
    if (M.LParam != 0) return Where + ": a second call without its first";
    const TLoggedMessage* Next = I + 1 < Log.size() ? &Log[I + 1] : nullptr;
    const bool Second = Next && Next->Msg == M.Msg && Next->LParam != 0;
    if (M.Result < 0) {
      if (Second) return Where + ": a second call after a negative length";
      continue;
    }
    if (!Second) return Where + ": no second call for length " + std::to_string(M.Result);
    const std::string Wanted =
        M.Msg == MsgGetSelectedText ? std::to_string(M.Result) : Request(M, M.Result);
    if (SizeOf(*Next) != Wanted)
      return Where + ": the second call sends " + SizeOf(*Next) + ", not " + Wanted;
    ++I;
  }
  return std::string();
}

std::string TSimEditor::MessageName(uint32_t Msg) {
  switch (Msg) {
    case MsgQueryCommandEnabled:
      return "MsgQueryCommandEnabled";
    case MsgReportEventValue:
      return "MsgReportEventValue";
    case MsgGetLineCount:
      return "MsgGetLineCount";
    case MsgGetCaretPosition:
      return "MsgGetCaretPosition";
    case MsgGetViewRecord:
      return "MsgGetViewRecord";
    case MsgTextLineToEditorPosition:
      return "MsgTextLineToEditorPosition";
    case MsgSetCaretPosition:
      return "MsgSetCaretPosition";
    case MsgSetViewRecord:
      return "MsgSetViewRecord";
    case MsgRunCommand:
      return "MsgRunCommand";
    case MsgGetSelectionStart:
      return "MsgGetSelectionStart";
    case MsgGetSelectionEnd:
      return "MsgGetSelectionEnd";
    case MsgSelectCharacters:
      return "MsgSelectCharacters";
    case MsgSetSelection:
      return "MsgSetSelection";
    case MsgSetRedraw:
      return "MsgSetRedraw";
    case MsgQueryHasSelection:
      return "MsgQueryHasSelection";
    case MsgGetSelectedText:
      return "MsgGetSelectedText";
    case MsgGetLineText:
      return "MsgGetLineText";
    case MsgReplaceSelection:
      return "MsgReplaceSelection";
  }
  return std::to_string(Msg);
}

// --- Document, lines and positions -----------------------------------------

TSimEditor::TSimEditor(std::u16string Document, int32_t WrapWidth)
    : document_(std::move(Document)), wrapWidth_(std::max(WrapWidth, 0)) {
  Reindex();
}

void TSimEditor::SetDocument(std::u16string Document) {
  document_ = std::move(Document);
  anchor_ = caret_ = 0;
  Reindex();
}

void TSimEditor::SetWrapWidth(int32_t Width) {
  wrapWidth_ = std::max(Width, 0);
  Reindex();
}

int32_t TSimEditor::RowsOf(int32_t Length) const {
  return wrapWidth_ == 0 || Length == 0 ? 1 : (Length - 1) / wrapWidth_ + 1;
}

// CR LF is tried first at each position. A line start Until is met just
// after a break, whose start is dropped again.
void TSimEditor::ScanLines(int32_t From, int32_t Until, std::vector<int32_t>& Starts,
                           std::vector<int32_t>& Ends) const {
  const auto Size = static_cast<int32_t>(document_.size());
  const int32_t To = Until < 0 ? Size : Until;
  Starts.push_back(From);
  for (int32_t I = From; I < To; ++I) {
    const char16_t C = document_[I];
    if (C != CR && C != LF) continue;
    Ends.push_back(I);
    if (C == CR && I + 1 < Size && document_[I + 1] == LF) ++I;
    Starts.push_back(I + 1);
  }
  if (Until < 0) {
    Ends.push_back(Size);
  } else {
    Starts.pop_back();
  }
}

void TSimEditor::Reindex() {
  lineStart_.clear();
  lineEnd_.clear();
  ScanLines(0, -1, lineStart_, lineEnd_);
  firstRow_.resize(lineStart_.size() + 1);
  firstRow_[0] = 0;
  for (size_t Line = 0; Line < lineStart_.size(); ++Line)
    firstRow_[Line + 1] = firstRow_[Line] + RowsOf(lineEnd_[Line] - lineStart_[Line]);
}

// The lines that can change run from the one holding the unit before Start (a
// CR there may meet an LF that now follows it) to the one holding OldEnd. The
// line after that starts past OldEnd behind a break the edit left alone, and
// still starts there, Delta units on: a CR breaks by itself, and an LF breaks
// whether a CR comes before it or not. Only those lines are scanned again;
// the entries after them move.
void TSimEditor::ReindexReplaced(int32_t Start, int32_t OldEnd, int32_t NewEnd) {
  const int32_t First = LineOfOffset(std::max(Start - 1, 0));
  const int32_t Last = LineOfOffset(OldEnd);
  const int32_t Delta = NewEnd - OldEnd;
  const bool Kept = Last + 1 < static_cast<int32_t>(lineStart_.size());
  std::vector<int32_t> Starts;
  std::vector<int32_t> Ends;
  ScanLines(lineStart_[First], Kept ? lineStart_[Last + 1] + Delta : -1, Starts, Ends);

  const int32_t Count = Last - First + 1;
  Splice(lineStart_, First, Count, Starts, Delta);
  Splice(lineEnd_, First, Count, Ends, Delta);
  std::vector<int32_t> Rows(Starts.size());
  int32_t Row = firstRow_[First];
  for (size_t I = 0; I < Starts.size(); ++I) Rows[I] = Row += RowsOf(Ends[I] - Starts[I]);
  Splice(firstRow_, First + 1, Count, Rows, Row - firstRow_[Last + 1]);
}

int32_t TSimEditor::LineNext(int32_t Line) const {
  return Line + 1 < static_cast<int32_t>(lineStart_.size())
             ? lineStart_[Line + 1]
             : static_cast<int32_t>(document_.size());
}

int32_t TSimEditor::LineOfOffset(int32_t Offset) const {
  const auto It = std::upper_bound(lineStart_.begin(), lineStart_.end(), Offset);
  return static_cast<int32_t>(It - lineStart_.begin()) - 1;
}

int32_t TSimEditor::LineCount(TPositionKind Kind) const {
  return Kind == pkEditor ? firstRow_.back() : static_cast<int32_t>(lineStart_.size());
}

std::u16string_view TSimEditor::LineText(int32_t Line) const {
  if (Line < 0 || Line >= static_cast<int32_t>(lineStart_.size())) return {};
  return std::u16string_view(document_).substr(lineStart_[Line], lineEnd_[Line] - lineStart_[Line]);
}

PositionPair TSimEditor::OffsetToPosition(int32_t Offset, TPositionKind Kind) const {
  Offset = std::clamp(Offset, 0, static_cast<int32_t>(document_.size()));
  const int32_t Line = LineOfOffset(Offset);
  const int32_t Column = Offset - lineStart_[Line];
  if (Kind != pkEditor) return {Column, Line};
  if (wrapWidth_ == 0) return {Column, firstRow_[Line]};
  const int32_t Length = LineEnd(Line) - lineStart_[Line];
  // The end of the text (and a place inside its break) stays on the last row.
  const int32_t Row = Column >= Length ? RowCount(Line) - 1 : Column / wrapWidth_;
  return {Column - Row * wrapWidth_, firstRow_[Line] + Row};
}

int32_t TSimEditor::PositionToOffset(PositionPair Position, TPositionKind Kind) const {
  const int32_t Column = std::max(Position.Column, 0);
  const int32_t Wanted = std::max(Position.Line, 0);
  if (Kind != pkEditor) {
    const int32_t Line = std::min(Wanted, static_cast<int32_t>(lineStart_.size()) - 1);
    return lineStart_[Line] + std::min(Column, LineEnd(Line) - lineStart_[Line]);
  }
  const int32_t Row = std::min(Wanted, firstRow_.back() - 1);
  const auto It = std::upper_bound(firstRow_.begin(), firstRow_.end(), Row);
  const int32_t Line = static_cast<int32_t>(It - firstRow_.begin()) - 1;
  const int32_t RowInLine = Row - firstRow_[Line];
  const int32_t RowStart = lineStart_[Line] + RowInLine * wrapWidth_;
  const int32_t RowEnd = RowInLine + 1 == RowCount(Line) ? LineEnd(Line) : RowStart + wrapWidth_;
  return RowStart + std::min(Column, RowEnd - RowStart);
}

void TSimEditor::Select(int32_t Anchor, int32_t Caret) {
  const auto Size = static_cast<int32_t>(document_.size());
  anchor_ = std::clamp(Anchor, 0, Size);
  caret_ = std::clamp(Caret, 0, Size);
}

void TSimEditor::SelectPositions(PositionPair Anchor, PositionPair Caret, TPositionKind Kind) {
  Select(PositionToOffset(Anchor, Kind), PositionToOffset(Caret, Kind));
}

std::u16string TSimEditor::SelectedText() const {
  return document_.substr(SelectionStart(), SelectionEnd() - SelectionStart());
}

void TSimEditor::ScrollToCaret() {
  if (viewRows_ == 0) return;
  const int32_t Row = OffsetToPosition(caret_, pkEditor).Line;
  int32_t& Top = view_.Value[0];
  if (Row < Top) {
    Top = Row;
  } else if (Row >= Top + viewRows_) {
    Top = Row - viewRows_ + 1;
  }
}

// --- The log ------------------------------------------------------------------

void TSimEditor::ClearLog() {
  log_.clear();
  messageCount_ = 0;
}

std::vector<std::string> TSimEditor::MessageNames() const {
  std::vector<std::string> Names;
  Names.reserve(log_.size());
  for (const auto& Entry : log_) Names.push_back(MessageName(Entry.Msg));
  return Names;
}

std::vector<std::string> TSimEditor::Calls() const {
  std::vector<std::string> Lines;
  Lines.reserve(log_.size());
  for (const auto& Entry : log_) Lines.push_back(Entry.Call());
  return Lines;
}

std::string TSimEditor::LogText() const {
  std::string Text;
  for (const auto& Entry : log_) Text += Entry.ToString() + "\n";
  return Text;
}

void TSimEditor::Note(std::string_view Text) {
  if (!logging_) return;
  if (!detail_.empty()) detail_ += ' ';
  detail_ += Text;
}

void TSimEditor::NotePosition(PositionPair Position) {
  if (logging_) Note(PairText(Position));
}

// --- Messages -------------------------------------------------------------------

intptr_t TSimEditor::Send(uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  ++messageCount_;
  detail_.clear();
  const bool Throws = faults_.ThrowAtMessage > 0 && messageCount_ == faults_.ThrowAtMessage;
  const intptr_t Result = Throws ? 0 : Dispatch(Msg, WParam, LParam);
  if (Throws) Note("throws");
  if (logging_) log_.push_back({Msg, WParam, LParam, std::move(detail_), Result});
  if (Throws) throw std::runtime_error("simulated editor failure at " + MessageName(Msg));
  return Result;
}

intptr_t TSimEditor::Dispatch(uint32_t Msg, uintptr_t WParam, intptr_t LParam) {
  switch (Msg) {
    case MsgQueryCommandEnabled:
      Note(std::to_string(WParam));
      return WParam == hcEditCommand && readOnly_ ? 0 : 1;
    case MsgReportEventValue:
      Note(std::to_string(WParam));
      lastEvent_ = WParam;
      return 0;
    case MsgGetLineCount:
      Note(KindName(WParam));
      return ValidKind(WParam) ? LineCount(static_cast<TPositionKind>(WParam)) : 0;
    case MsgGetCaretPosition:
    case MsgGetSelectionStart:
    case MsgGetSelectionEnd:
      return GetPosition(Msg, WParam, LParam);
    case MsgGetViewRecord:
      if (LParam == 0) return 0;
      *reinterpret_cast<TViewRecord*>(LParam) = view_;
      Note("-> {" + std::to_string(view_.Value[0]) + "," + std::to_string(view_.Value[1]) + "}");
      return 1;
    case MsgSetViewRecord:
      if (LParam == 0) return 0;
      view_ = *reinterpret_cast<const TViewRecord*>(LParam);
      Note("{" + std::to_string(view_.Value[0]) + "," + std::to_string(view_.Value[1]) + "}");
      return 1;
    case MsgTextLineToEditorPosition:
      return TextLineToEditor(WParam, LParam);
    case MsgSetCaretPosition:
      return SetCaretPosition(WParam, LParam);
    case MsgSetSelection:
      return SetSelection(WParam, LParam);
    case MsgSelectCharacters:
      return SelectCharacters(static_cast<intptr_t>(WParam));
    case MsgReplaceSelection:
      return ReplaceSelection(LParam);
    case MsgRunCommand:
      return RunCommand(WParam);
    case MsgSetRedraw:
      Note(std::to_string(WParam));
      redraw_ = WParam != 0;
      return 0;
    case MsgQueryHasSelection:
      return HasSelection() ? 1 : 0;
    case MsgGetSelectedText:
      return GetSelectedText(WParam, LParam);
    case MsgGetLineText:
      return GetLineText(WParam, LParam);
  }
  return 0;
}

intptr_t TSimEditor::GetPosition(uint32_t Msg, uintptr_t Kind, intptr_t Out) {
  Note(KindName(Kind));
  if (!ValidKind(Kind) || Out == 0) return 0;
  const int32_t Offset = Msg == MsgGetCaretPosition    ? caret_
                         : Msg == MsgGetSelectionStart ? SelectionStart()
                                                       : SelectionEnd();
  const PositionPair Position = OffsetToPosition(Offset, static_cast<TPositionKind>(Kind));
  *reinterpret_cast<PositionPair*>(Out) = Position;
  Note("->");
  NotePosition(Position);
  return 1;
}

intptr_t TSimEditor::SetCaretPosition(uintptr_t Kind, intptr_t In) {
  Note(KindName(Kind));
  if (!ValidKind(Kind) || In == 0) return 0;
  const PositionPair Position = *reinterpret_cast<const PositionPair*>(In);
  NotePosition(Position);
  anchor_ = caret_ = PositionToOffset(Position, static_cast<TPositionKind>(Kind));
  ScrollToCaret();
  return 1;
}

intptr_t TSimEditor::SetSelection(uintptr_t AnchorIn, intptr_t CaretIn) {
  if (AnchorIn == 0 || CaretIn == 0) return 0;
  const PositionPair Anchor = *reinterpret_cast<const PositionPair*>(AnchorIn);
  const PositionPair Caret = *reinterpret_cast<const PositionPair*>(CaretIn);
  NotePosition(Anchor);
  NotePosition(Caret);
  anchor_ = PositionToOffset(Anchor, pkEditor);
  caret_ = PositionToOffset(Caret, pkEditor);
  ScrollToCaret();
  return 1;
}

intptr_t TSimEditor::TextLineToEditor(uintptr_t In, intptr_t Out) {
  if (In == 0 || Out == 0) return 0;
  const PositionPair From = *reinterpret_cast<const PositionPair*>(In);
  const PositionPair To = OffsetToPosition(PositionToOffset(From, pkTextLine), pkEditor);
  *reinterpret_cast<PositionPair*>(Out) = To;
  NotePosition(From);
  Note("->");
  NotePosition(To);
  return 1;
}

// Selects up to Count units after the caret, stopping at the end of the
// document; answers the number selected.
intptr_t TSimEditor::SelectCharacters(intptr_t Count) {
  Note(std::to_string(static_cast<long long>(Count)));
  anchor_ = caret_;
  const auto Rest = static_cast<int32_t>(document_.size()) - caret_;
  if (Count > 0) caret_ += Count >= Rest ? Rest : static_cast<int32_t>(Count);
  ScrollToCaret();
  return caret_ - anchor_;
}

intptr_t TSimEditor::ReplaceSelection(intptr_t Text) {
  const std::u16string_view New =
      Text == 0 ? std::u16string_view()
                : std::u16string_view(reinterpret_cast<const char16_t*>(Text));
  if (logging_) Note(QuoteText(New));
  if (readOnly_) {
    Note("refused");
    return 0;
  }
  const int32_t Start = SelectionStart();
  const int32_t End = SelectionEnd();
  document_.replace(Start, End - Start, New);
  anchor_ = caret_ = Start + static_cast<int32_t>(New.size());
  ReindexReplaced(Start, End, anchor_);
  ScrollToCaret();
  return 1;
}

intptr_t TSimEditor::RunCommand(uintptr_t Command) {
  Note(std::to_string(Command));
  if (Command == hcSelectLine) {
    const int32_t Line = LineOfOffset(caret_);
    anchor_ = lineStart_[Line];
    caret_ = LineNext(Line);
  } else if (Command == hcCancelSelection) {
    anchor_ = caret_;
  } else {
    return 0;
  }
  ScrollToCaret();
  return 1;
}

intptr_t TSimEditor::GetSelectedText(uintptr_t Size, intptr_t Buffer) {
  const int32_t Start = SelectionStart();
  const std::u16string_view Text =
      std::u16string_view(document_).substr(Start, SelectionEnd() - Start);
  Note("size " + std::to_string(Size));
  return AnswerText(MsgGetSelectedText, Text, Buffer == 0, static_cast<intptr_t>(Size),
                    reinterpret_cast<char16_t*>(Buffer));
}

// Flags 1 asks for the line's text without its break; other flags get the
// break too, so that a wrong request shows.
intptr_t TSimEditor::GetLineText(uintptr_t Request, intptr_t Buffer) {
  if (Request == 0) return 0;
  const TLineTextRequest R = *reinterpret_cast<const TLineTextRequest*>(Request);
  Note("line " + std::to_string(R.Line) + " size " + std::to_string(R.Size));
  if (R.Flags != 1) Note("flags " + std::to_string(R.Flags));
  std::u16string_view Text;
  if (R.Line >= 0 && R.Line < static_cast<int32_t>(lineStart_.size())) {
    const int32_t End = R.Flags == 1 ? LineEnd(R.Line) : LineNext(R.Line);
    Text = std::u16string_view(document_).substr(lineStart_[R.Line], End - lineStart_[R.Line]);
  }
  return AnswerText(MsgGetLineText, Text, Buffer == 0 || R.Size == 0, R.Size,
                    reinterpret_cast<char16_t*>(Buffer));
}

intptr_t TSimEditor::AnswerText(uint32_t Msg, std::u16string_view Text, bool Query, intptr_t Size,
                                char16_t* Buffer) {
  const bool Faulty = faults_.TextMessage == 0 || faults_.TextMessage == Msg;
  if (Query)
    return Faulty && faults_.LieAboutLength ? faults_.ReportedLength
                                            : static_cast<intptr_t>(Text.size());
  if (Size < 0) return 0;
  intptr_t Count = std::min(Size, static_cast<intptr_t>(Text.size()));
  if (Faulty && faults_.WriteLimit >= 0) Count = std::min(Count, faults_.WriteLimit);
  std::copy_n(Text.data(), Count, Buffer);
  if (!(Faulty && faults_.OmitTerminator)) Buffer[Count] = 0;
  if (logging_) Note("-> " + QuoteText(Text.substr(0, Count)));
  return Count;
}

std::pair<int32_t, int32_t> TSimEditor::WholeLineRange() const {
  const auto Size = static_cast<int32_t>(document_.size());
  auto LineOf = [this](int32_t Offset) {
    return static_cast<int32_t>(std::upper_bound(lineStart_.begin(), lineStart_.end(), Offset) -
                                lineStart_.begin() - 1);
  };
  auto NextLineStart = [&](int32_t Line) {
    return Line + 1 < static_cast<int32_t>(lineStart_.size()) ? lineStart_[Line + 1] : Size;
  };
  const int32_t StartLine = LineOf(SelectionStart());
  if (!HasSelection()) return {lineStart_[StartLine], NextLineStart(StartLine)};
  const int32_t EndLine = LineOf(SelectionEnd());
  if (SelectionEnd() == lineStart_[EndLine] && EndLine != StartLine)
    return {lineStart_[StartLine], lineStart_[EndLine]};
  return {lineStart_[StartLine], NextLineStart(EndLine)};
}

}  // namespace quillet::testing
