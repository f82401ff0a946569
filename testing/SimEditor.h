// A simulated host editor: a UTF-16 document with a selection, answering the
// host messages the way a real editor would, and logging every one of them.
//
// The document splits into text lines at CR LF, CR and LF (CR LF is one break,
// LF CR two); a document that ends with a break has a last, empty line. The
// selection is an anchor and a caret, both unit offsets into the document.
//
// Editor positions (pkEditor) count soft-wrapped visual rows WrapWidth units
// wide, so that they differ from text-line positions (pkTextLine): a text line
// longer than WrapWidth continues on the next row; the line of an editor
// position is the row counted from the top of the document and its column the
// offset within that row. An offset exactly at a wrap boundary belongs to the
// next row, except at the end of the text line, which stays at the end of its
// last row (column WrapWidth when that row is full). A WrapWidth of 0 makes the
// two kinds equal.
//
// Position -> offset conversions clamp: negative values go to 0, a line past
// the last to the last, a column past the end of its line (row) to that line's
// (row's) end, before the break. Offset -> position -> offset is exact for
// every offset except one standing between the CR and LF of a break, which
// reads as the column just past its line's end.
//
// Not thread-safe. Each message costs at most linear time in the document.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plugin/HostMessages.h"

namespace quillet::testing {

// One message as the editor received it, with the records it pointed to
// decoded into Detail, and the editor's answer.
struct TLoggedMessage {
  uint32_t Msg;
  uintptr_t WParam;
  intptr_t LParam;
  // Decoded arguments and what was handed back, e.g. "pkTextLine (3,2)",
  // "pkEditor -> (0,4)", "\"new text\\r\\n\"", "line 2 size 5 -> \"abcde\"".
  std::string Detail;
  intptr_t Result;

  // The name and the detail: "MsgSetCaretPosition pkTextLine (3,2)".
  std::string Call() const;
  // Call() followed by " = " and the result.
  std::string ToString() const;
};

// Ways to misbehave, for tests of the plug-in's defences. The text faults
// apply to MsgGetSelectedText and MsgGetLineText, or to TextMessage alone
// when it is set.
struct TSimFaults {
  uint32_t TextMessage = 0;
  // When set, the first call of the text protocol answers ReportedLength
  // instead of the real length (negative, huge, short or long).
  bool LieAboutLength = false;
  intptr_t ReportedLength = 0;
  // The second call writes at most this many units (-1: no limit).
  intptr_t WriteLimit = -1;
  // The second call writes no terminator: the buffer's unit after the
  // written text, its last one when the text filled it, stays untouched.
  bool OmitTerminator = false;
  // Throw std::runtime_error when the Nth message (1-based, counted since the
  // log was last cleared) arrives, before it has any effect; 0: never. Only
  // that message throws; the ones after it are answered as usual.
  int32_t ThrowAtMessage = 0;
};

// The first place where Log breaks the two-call text protocol of
// MsgGetSelectedText and MsgGetLineText, described; "" when it keeps it. A
// first call has no buffer (LParam 0). One that is answered with a length n
// of 0 or more is followed at once by the second call: the same message,
// with a buffer, size n and, for a line, the same line. One answered with a
// negative length is followed by no second call. A second call never comes
// without its first.
std::string TextProtocolBreach(const std::vector<TLoggedMessage>& Log);

// Renders UTF-16 text for the log: double-quoted UTF-8 with \r, \n, \t, \",
// \\ and \uXXXX (other control characters, lone surrogates) escaped.
std::string QuoteText(std::u16string_view Text);

class TSimEditor : public THostEditor {
 public:
  explicit TSimEditor(std::u16string Document = u"", int32_t WrapWidth = 0);

  // Answers one host message: see the message table in plugin/HostMessages.h.
  // Unknown messages, unknown position kinds and null record addresses are
  // answered with 0 and change nothing. Pointers travel in WParam/LParam.
  intptr_t Send(uint32_t Msg, uintptr_t WParam, intptr_t LParam) override;

  // --- The document and the selection, set up directly (nothing is logged).

  const std::u16string& Document() const { return document_; }
  // Replaces the document; the caret and anchor go to offset 0.
  void SetDocument(std::u16string Document);
  int32_t WrapWidth() const { return wrapWidth_; }
  void SetWrapWidth(int32_t Width);  // negative reads as 0

  int32_t Anchor() const { return anchor_; }
  int32_t Caret() const { return caret_; }
  // Both offsets clamped to the document.
  void Select(int32_t Anchor, int32_t Caret);
  void SelectPositions(PositionPair Anchor, PositionPair Caret, TPositionKind Kind = pkTextLine);
  int32_t SelectionStart() const { return std::min(anchor_, caret_); }
  int32_t SelectionEnd() const { return std::max(anchor_, caret_); }
  bool HasSelection() const { return anchor_ != caret_; }
  std::u16string SelectedText() const;
  // Offsets [first, last) of the lines a command works on: from the start of
  // the selection's first line to the start of the line after its last one
  // (the end of the text on the last line), or the caret's line without a
  // selection. A selection that ends at the start of a later line leaves that
  // line out.
  std::pair<int32_t, int32_t> WholeLineRange() const;

  // --- Lines and positions.

  int32_t LineCount(TPositionKind Kind) const;
  // Start offset of every text line, ascending; never empty.
  const std::vector<int32_t>& LineStarts() const { return lineStart_; }
  // Text line Line without its break; empty when out of range.
  std::u16string_view LineText(int32_t Line) const;
  // Offset of (Line, Column) in text-line terms, clamped.
  int32_t OffsetAt(int32_t Line, int32_t Column) const {
    return PositionToOffset({Column, Line}, pkTextLine);
  }
  // Any kind other than pkEditor counts as pkTextLine. Offsets are clamped.
  PositionPair OffsetToPosition(int32_t Offset, TPositionKind Kind) const;
  int32_t PositionToOffset(PositionPair Position, TPositionKind Kind) const;

  // --- Editor state.

  bool Redraw() const { return redraw_; }
  bool ReadOnly() const { return readOnly_; }
  // Edits (MsgReplaceSelection) are refused while read-only.
  void SetReadOnly(bool ReadOnly) { readOnly_ = ReadOnly; }
  uintptr_t LastReportedEvent() const { return lastEvent_; }
  // The view record: {top visual row, 0} unless set otherwise. Messages that
  // move the caret scroll the view so that the caret's row is among the
  // ViewRows rows shown; 0 rows: the view never scrolls by itself.
  TViewRecord View() const { return view_; }
  void SetView(TViewRecord View) { view_ = View; }
  void SetViewRows(int32_t Rows) { viewRows_ = std::max(Rows, 0); }

  // --- Faults and the log.

  TSimFaults& Faults() { return faults_; }
  // Logging can be switched off for fuzzing and benchmarks; messages are
  // still counted.
  void SetLogging(bool On) { logging_ = On; }
  const std::vector<TLoggedMessage>& Log() const { return log_; }
  // Messages received since the log was last cleared.
  int32_t MessageCount() const { return messageCount_; }
  void ClearLog();
  // The names of the logged messages, in order.
  std::vector<std::string> MessageNames() const;
  // TLoggedMessage::Call() of every logged message, in order.
  std::vector<std::string> Calls() const;
  // Every logged message's ToString(), one per line: for failure output.
  std::string LogText() const;
  // "MsgGetLineCount" etc., or the number for an unknown message.
  static std::string MessageName(uint32_t Msg);

 private:
  void Reindex();
  // Updates the line table after [Start, OldEnd) became [Start, NewEnd).
  void ReindexReplaced(int32_t Start, int32_t OldEnd, int32_t NewEnd);
  // Appends the start and the end of every line from the one starting at From
  // to the one before the line starting at Until, or to the last line when
  // Until is negative.
  void ScanLines(int32_t From, int32_t Until, std::vector<int32_t>& Starts,
                 std::vector<int32_t>& Ends) const;
  // Visual rows of a text line Length units long.
  int32_t RowsOf(int32_t Length) const;
  int32_t LineOfOffset(int32_t Offset) const;
  int32_t LineEnd(int32_t Line) const { return lineEnd_[Line]; }
  int32_t LineNext(int32_t Line) const;
  int32_t RowCount(int32_t Line) const { return firstRow_[Line + 1] - firstRow_[Line]; }
  void ScrollToCaret();
  void Note(std::string_view Text);
  void NotePosition(PositionPair Position);

  intptr_t Dispatch(uint32_t Msg, uintptr_t WParam, intptr_t LParam);
  intptr_t GetPosition(uint32_t Msg, uintptr_t Kind, intptr_t Out);
  intptr_t SetCaretPosition(uintptr_t Kind, intptr_t In);
  intptr_t SetSelection(uintptr_t AnchorIn, intptr_t CaretIn);
  intptr_t TextLineToEditor(uintptr_t In, intptr_t Out);
  intptr_t SelectCharacters(intptr_t Count);
  intptr_t ReplaceSelection(intptr_t Text);
  intptr_t RunCommand(uintptr_t Command);
  intptr_t GetSelectedText(uintptr_t Size, intptr_t Buffer);
  intptr_t GetLineText(uintptr_t Request, intptr_t Buffer);
  // The two-call text protocol over Text, with the faults applied.
  intptr_t AnswerText(uint32_t Msg, std::u16string_view Text, bool Query, intptr_t Size,
                      char16_t* Buffer);

  std::u16string document_;
  int32_t wrapWidth_;
  // Per text line: start offset, end of its text (before the break), first
  // visual row; firstRow_ has one more entry, the total row count.
  std::vector<int32_t> lineStart_;
  std::vector<int32_t> lineEnd_;
  std::vector<int32_t> firstRow_;
  int32_t anchor_ = 0;
  int32_t caret_ = 0;
  bool redraw_ = true;
  bool readOnly_ = false;
  TViewRecord view_{{0, 0}};
  int32_t viewRows_ = 30;
  uintptr_t lastEvent_ = 0;
  TSimFaults faults_;
  bool logging_ = true;
  int32_t messageCount_ = 0;
  std::string detail_;
  std::vector<TLoggedMessage> log_;
};

}  // namespace quillet::testing
