// A simulated host editor: a UTF-16 document with a selection, answering the
// host messages the way a real editor would.
//
// Lines split at CR LF, CR and LF; a document that ends with a break has a
// last, empty line. Editor positions (pkEditor) are soft-wrapped visual rows
// WrapWidth units wide, so that they differ from text-line positions; a
// WrapWidth of 0 makes the two kinds equal.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "plugin/HostMessages.h"

namespace quillet::testing {

// One message as the editor received it, with the records it pointed to
// decoded, and the editor's answer.
struct TLoggedMessage {
  uint32_t Msg;
  uintptr_t WParam;
  intptr_t LParam;
  std::string Detail;  // decoded records, human-readable
  intptr_t Result;
};

// Ways to misbehave, for tests of the plug-in's defences.
struct TSimFaults {
  // When set, the first call of the text protocols answers this length.
  bool LieAboutLength = false;
  intptr_t ReportedLength = 0;
  // The second call writes at most this many units (-1: all).
  intptr_t WriteLimit = -1;
  // The second call does not write the terminator.
  bool OmitTerminator = false;
  // Throw std::runtime_error when the Nth message (1-based) arrives; 0: never.
  int ThrowAtMessage = 0;
};

class TSimEditor : public THostEditor {
 public:
  explicit TSimEditor(std::u16string Document = u"", int32_t WrapWidth = 0);

  intptr_t Send(uint32_t Msg, uintptr_t WParam, intptr_t LParam) override;

  // The document and the selection, as unit offsets into it.
  const std::u16string& Document() const { return document_; }
  void SetDocument(std::u16string Document);
  int32_t Anchor() const { return anchor_; }
  int32_t Caret() const { return caret_; }
  void Select(int32_t Anchor, int32_t Caret);  // clamped to the document
  int32_t SelectionStart() const { return std::min(anchor_, caret_); }
  int32_t SelectionEnd() const { return std::max(anchor_, caret_); }
  bool HasSelection() const { return anchor_ != caret_; }

  // Conversions between unit offsets and the two position kinds.
  PositionPair OffsetToPosition(int32_t Offset, TPositionKind Kind) const;
  int32_t PositionToOffset(PositionPair Position, TPositionKind Kind) const;  // clamped
  // Text-line index and start offset of every line.
  std::vector<int32_t> LineStarts() const;

  bool Redraw() const { return redraw_; }
  TViewRecord View() const { return view_; }
  void SetView(TViewRecord View) { view_ = View; }
  void SetReadOnly(bool ReadOnly) { readOnly_ = ReadOnly; }
  uint32_t LastReportedEvent() const { return lastEvent_; }

  TSimFaults& Faults() { return faults_; }
  const std::vector<TLoggedMessage>& Log() const { return log_; }
  void ClearLog() { log_.clear(); }
  // Name of a host message, "Msg..." or the number.
  static std::string MessageName(uint32_t Msg);

 private:
  std::u16string document_;
  int32_t wrapWidth_;
  int32_t anchor_ = 0;
  int32_t caret_ = 0;
  bool redraw_ = true;
  bool readOnly_ = false;
  TViewRecord view_{{0, 0}};
  uint32_t lastEvent_ = 0;
  TSimFaults faults_;
  std::vector<TLoggedMessage> log_;
};

}  // namespace quillet::testing
