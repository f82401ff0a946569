// The line commands on UTF-8 text, without decoding it.
//
// Commands 1 to 7 change a line only in its blanks (space, tab, U+3000):
// commands 1 to 6 rewrite the leading run of them and keep the rest of the
// line; command 7 drops the trailing run and keeps the rest. So only the
// blanks are decoded: a new indent comes from AppendNewIndent, the one that
// ApplyLineCommand writes. Commands 8 and 9 keep each line up to its
// trailing blanks and pad it according to its width alone (LinePadding), so
// each line is measured and gets its padding without being decoded. The
// bytes between the changes are copied as they are.
//
// The output is byte for byte that of decoding, ApplyLineCommand and
// encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "StringUnit/LineBreaks.h"

namespace quillet {

// LineWidth of the valid UTF-8 line Line, given without its break.
int32_t Utf8LineWidth(std::string_view Line);

// The widest line of Block, valid UTF-8 of whole lines, as commands 8 and 9
// measure it: the width of each line without its trailing blanks. Adds the
// number of lines to Lines.
int32_t Utf8WidestTrimmedLine(std::string_view Block, uint64_t& Lines);

// A line Width columns wide that TrimLineEnd leaves as it is, made of tabs
// and letters only: tabs up to the last tab stop before Width, then one to
// TabWidth letters.
String LineOfWidth(int32_t Width);

class TUtf8LineRewriter {
 public:
  // Command: a line command, 1 to 9. Commands 8 and 9 pad against Widest,
  // the widest trimmed line of the whole text.
  explicit TUtf8LineRewriter(uint8_t Command, int32_t Widest = 0);

  // Rewrites Block, valid UTF-8 made of whole lines. True when the text
  // changes; Result() then holds the new bytes until the next call. Commands
  // 8 and 9 take no line wider than Widest.
  bool Rewrite(std::string_view Block);
  std::string_view Result() const { return {Output_.data(), OutputSize_}; }

 private:
  bool RewriteIndents(std::string_view Block);
  // The bytes of the indent that the command makes of Indent, valid until
  // the next call.
  std::string_view NewIndentBytes(std::string_view Indent);
  bool Trim(std::string_view Block);
  bool Pad(std::string_view Block);
  // Room for Bytes more bytes of output.
  char* Room(size_t Bytes) {
    if (Output_.size() - OutputSize_ < Bytes) Grow(Bytes);
    return Output_.data() + OutputSize_;
  }
  void Grow(size_t Bytes);
  void Put(const char* From, const char* To);
  void Skip(const char* From, const char* To);

  uint8_t Command_;
  int32_t Widest_;
  const char* Copied_ = nullptr;  // the input up to here is in the output
  const char* BlockEnd_ = nullptr;
  String Indent_;         // a line's indent
  String NewIndent_;      // what the command makes of it
  std::string NewBytes_;  // and its bytes
  // A short indent met before and its new bytes; OldSize 0 for none (no
  // indent is empty).
  struct TKnownIndent {
    static constexpr size_t MaxOld = 16;
    static constexpr size_t MaxNew = 64;
    uint8_t OldSize = 0;
    uint8_t NewSize = 0;
    char Old[MaxOld];
    char New[MaxNew];
  };
  static constexpr size_t KnownIndentCount = 1024;
  std::vector<TKnownIndent> KnownIndents_;  // made at the first short indent
  std::string Output_;                      // grown as needed, never shrunk
  size_t OutputSize_ = 0;
};

}  // namespace quillet
