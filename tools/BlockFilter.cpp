#include "tools/BlockFilter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "StringUnit/CharClass.h"
#include "StringUnit/Columns.h"
#include "tools/LineBlocks.h"
#include "tools/Utf8Lines.h"
#include "transforms/LineCommands.h"

namespace quillet {

namespace {

// How much of an input's start says what it is when it has no mark.
constexpr size_t HeadSize = size_t{64} << 10;

// Calls Visit with every item that the line list makes of Text, in order:
// each line with the break that ends it, CR LF, else CR, else LF.
template <typename TVisit>
void ForEachLine(StringView Text, TVisit Visit) {
  size_t Begin = 0;
  while (Begin < Text.size()) {
    size_t End = Text.find_first_of(u"\r\n", Begin);
    if (End == StringView::npos) {
      End = Text.size();
    } else {
      End += Text[End] == u'\r' && End + 1 < Text.size() && Text[End + 1] == u'\n' ? 2 : 1;
    }
    Visit(Text.substr(Begin, End - Begin));
    Begin = End;
  }
}

// The widest line of Text as commands 8 and 9 measure it: the width of
// TrimLineEnd(line), which is that of the line without its trailing
// LineEndChars (LineWidth leaves out the break that TrimLineEnd puts back).
// Adds the lines of Text to Lines.
int32_t WidestTrimmedLine(StringView Text, uint64_t& Lines) {
  int32_t Widest = 0;
  ForEachLine(Text, [&Widest, &Lines](StringView Line) {
    const StringView Kept = Line.substr(0, Line.size() - CountTrailingChars(Line, LineEndChars));
    Widest = std::max(Widest, LineWidth(Kept));
    ++Lines;
  });
  return Widest;
}

// Work on a thread of its own from construction to Join, or on the
// constructing thread when no second thread can start. Whatever the work
// throws, Join throws again.
class TSideWork {
 public:
  template <typename TWork>
  explicit TSideWork(TWork& Work) {
    const auto Run = [this, &Work] {
      try {
        Work();
      } catch (...) {
        Failure_ = std::current_exception();
      }
    };
    try {
      if (std::thread::hardware_concurrency() > 1) Thread_ = std::thread(Run);
    } catch (const std::system_error&) {
    }
    if (!Thread_.joinable()) Run();
  }
  TSideWork(const TSideWork&) = delete;
  TSideWork& operator=(const TSideWork&) = delete;
  ~TSideWork() {
    if (Thread_.joinable()) Thread_.join();
  }

  void Join() {
    if (Thread_.joinable()) Thread_.join();
    if (Failure_) std::rethrow_exception(Failure_);
  }

 private:
  std::exception_ptr Failure_;
  std::thread Thread_;
};

// Takes the blocks of Blocks two at a time: Step(Slot, Block) works on the
// first of a pair (slot 0, its bytes taken over from the reader) on a second
// thread while the second (slot 1) is read and worked on here; then
// Finish(Slot, Block, Offset) takes both in input order, here, until it gives
// a result. Step must touch nothing but its slot's own state. No result:
// every block was finished.
template <typename TStep, typename TFinish>
std::optional<TFilterResult> InPairs(TLineBlockReader& Blocks, TStep Step, TFinish Finish) {
  std::string First;
  for (;;) {
    std::string_view FirstBlock;
    if (const int Error = Blocks.NextInto(First, FirstBlock)) {
      return TFilterResult{TFilterOutcome::ReadError, Error};
    }
    if (FirstBlock.empty()) return std::nullopt;
    const uint64_t FirstOffset = Blocks.Offset();
    std::string_view Second;
    int Error = 0;
    {
      auto StepFirst = [&] { Step(0, FirstBlock); };
      TSideWork Side(StepFirst);
      Error = Blocks.Next(Second);
      if (Error == 0 && !Second.empty()) Step(1, Second);
      Side.Join();
    }
    if (auto Result = Finish(0, FirstBlock, FirstOffset)) return Result;
    if (Error != 0) return TFilterResult{TFilterOutcome::ReadError, Error};
    if (Second.empty()) return std::nullopt;
    if (auto Result = Finish(1, Second, Blocks.Offset())) return Result;
  }
}

}  // namespace

String ApplyTransform(const TTransform& Transform, StringView Text) {
  if (!Transform.IsConversion) return ApplyLineCommand(Text, Transform.Id);
  String Result(Text);
  ConvertCharClass(Result, static_cast<TCharClassConversion>(Transform.Id));
  return Result;
}

TBlockFilter::TBlockFilter(TInput& Input, const TTransform& Transform, TEncoding Requested,
                           size_t BlockSize)
    : Input_(Input),
      Transform_(Transform),
      Requested_(Requested),
      BlockSize_(BlockSize),
      Encoding_(Requested) {}

TFilterResult TBlockFilter::Start() {
  std::string Head(HeadSize, '\0');
  size_t Held = 0;
  for (size_t Count = 1; Held < Head.size() && Count > 0; Held += Count) {
    if (const int Error = Input_.ReadAt(Held, Head.data() + Held, Head.size() - Held, Count)) {
      return {TFilterOutcome::ReadError, Error};
    }
  }
  Head.resize(Held);
  const TByteOrderMark Any = FindByteOrderMark(Head, TEncoding::Auto);
  const TByteOrderMark Mark = FindByteOrderMark(Head, Requested_);
  if (Requested_ != TEncoding::Auto && Any.Length > 0 && Mark.Length == 0) {
    TFilterResult Conflict{TFilterOutcome::MarkConflict};
    Conflict.Mark = Any.Encoding;
    return Conflict;
  }
  if (Requested_ == TEncoding::Utf16 && Mark.Length == 0) return {TFilterOutcome::MissingMark};
  Bom_ = Head.substr(0, Mark.Length);
  Encoding_ = Mark.Encoding;
  if (Encoding_ != TEncoding::Auto) return {};
  RefusesNul_ = true;
  const TUnmarkedGuess Guess = GuessUnmarkedInput(Head, Held < HeadSize);
  switch (Guess.Kind) {
    case TUnmarkedKind::Bytes:
      Guessed_ = true;
      Encoding_ = TEncoding::Utf8;
      return {};
    case TUnmarkedKind::Utf16LE:
      Encoding_ = TEncoding::Utf16LE;
      return {};
    case TUnmarkedKind::Utf16BE:
      Encoding_ = TEncoding::Utf16BE;
      return {};
    case TUnmarkedKind::Binary:
      break;
  }
  return {TFilterOutcome::Binary, 0, Guess.FirstZero};
}

bool TBlockFilter::Pads() const {
  return !Transform_.IsConversion && (Transform_.Id == lcPad || Transform_.Id == lcPadTabs);
}

TFilterResult TBlockFilter::FirstFault(std::string_view Block, uint64_t Offset,
                                       size_t Invalid) const {
  const size_t Nul = RefusesNul_ ? FindNul(Block.substr(0, Invalid), Encoding_) : NoError;
  if (Nul != NoError) return {TFilterOutcome::Binary, 0, Offset + Nul};
  if (Invalid != NoError) return {TFilterOutcome::Invalid, 0, Offset + Invalid};
  return {};
}

bool TBlockFilter::HoldsNonAscii(uint64_t End, int& Error) {
  constexpr size_t Chunk = size_t{1} << 20;
  std::string Bytes(Chunk, '\0');
  for (uint64_t Offset = Bom_.size(); Offset < End;) {
    size_t Count = 0;
    const auto Want = static_cast<size_t>(std::min<uint64_t>(Chunk, End - Offset));
    if ((Error = Input_.ReadAt(Offset, Bytes.data(), Want, Count)) != 0 || Count == 0) break;
    if (std::any_of(Bytes.begin(), Bytes.begin() + Count, [](char C) { return (C & 0x80) != 0; })) {
      return true;
    }
    Offset += Count;
  }
  return false;
}

bool TBlockFilter::MostlyUtf8(int& Error) {
  constexpr size_t Chunk = size_t{1} << 20;
  constexpr size_t Overlap = 3;  // the start of a sequence cut off by a chunk's end
  std::string Bytes(Chunk + Overlap, '\0');
  size_t Kept = 0;
  TUtf8Evidence Evidence;
  for (uint64_t Offset = Bom_.size();;) {
    size_t Count = 0;
    if ((Error = Input_.ReadAt(Offset, Bytes.data() + Kept, Chunk, Count)) != 0) return false;
    const size_t Total = Kept + Count;
    const size_t Taken =
        GatherUtf8Evidence(std::string_view(Bytes.data(), Total), Count == 0, Evidence);
    if (Count == 0) break;
    Kept = Total - Taken;
    std::memmove(Bytes.data(), Bytes.data() + Taken, Kept);
    Offset += Count;
  }
  return Evidence.Characters > Evidence.Strays;
}

int TBlockFilter::Locate(uint64_t Offset, TTextPosition& Position) {
  constexpr size_t Chunk = size_t{1} << 20;
  const bool Wide = Encoding_ == TEncoding::Utf16LE || Encoding_ == TEncoding::Utf16BE;
  const size_t Low = Encoding_ == TEncoding::Utf16BE ? 1 : 0;
  Position = {};
  std::string Bytes(Chunk, '\0');
  bool AfterCr = false;     // the last unit was a CR
  bool InCharacter = false; // inside a CP932 pair or a UTF-16 surrogate pair
  const uint64_t Start = Bom_.size();
  for (uint64_t At = Start; At < Offset;) {
    size_t Count = 0;
    const size_t Want = static_cast<size_t>(std::min<uint64_t>(Chunk, Offset - At));
    if (const int Error = Input_.ReadAt(At, Bytes.data(), Want - (Wide ? Want % 2 : 0), Count)) {
      return Error;
    }
    if (Count == 0) break;
    const size_t Step = Wide ? 2 : 1;
    for (size_t I = 0; I + Step <= Count; I += Step) {
      const auto Byte = static_cast<uint8_t>(Bytes[I + (Wide ? Low : 0)]);
      const bool Ascii = !Wide || Bytes[I + 1 - Low] == 0;
      const bool Lf = Ascii && Byte == '\n';
      const bool Cr = Ascii && Byte == '\r';
      if (Lf && AfterCr) {
        AfterCr = false;
        continue;
      }
      AfterCr = Cr;
      if (Lf || Cr) {
        ++Position.Line;
        Position.Column = 1;
        InCharacter = false;
        continue;
      }
      // A character starts at every unit but a UTF-8 continuation byte, a
      // CP932 trail byte and a UTF-16 low surrogate after a high one; in
      // binary data at every byte.
      bool Starts = true;
      if (Encoding_ == TEncoding::Utf8) {
        Starts = (Byte & 0xC0) != 0x80;
      } else if (Encoding_ == TEncoding::Cp932) {
        Starts = !InCharacter;
        InCharacter = Starts && IsLeadByte(Byte);
      } else if (Wide) {
        const auto High = static_cast<uint8_t>(Bytes[I + 1 - Low]);
        Starts = !(InCharacter && High >= 0xDC && High <= 0xDF);
        InCharacter = Starts && High >= 0xD8 && High <= 0xDB;
      }
      Position.Column += Starts;
    }
    At += Count;
  }
  return 0;
}

TFilterResult TBlockFilter::Decode(std::string_view Block, uint64_t Offset, StringView Prefix,
                                   String& Text) {
  Text.assign(Prefix);
  if (const TFilterResult Fault = FirstFault(Block, Offset, DecodeText(Block, Encoding_, Text));
      Fault.Outcome != TFilterOutcome::Done) {
    return Fault;
  }
  if (!Checked_ && LossOffset_ == NoError) {
    const StringView Decoded = StringView(Text).substr(Prefix.size());
    if (const size_t Loss = FindRoundTripLoss(Block, Decoded, Encoding_); Loss != NoError) {
      LossOffset_ = Offset + Loss;
    }
  }
  return {};
}

TFilterResult TBlockFilter::Check() {
  TFilterResult Result = CheckOnce();
  if (Guessed_ && Result.Outcome == TFilterOutcome::Invalid) Result = NotUtf8(Result);
  return Checked(Result);
}

TFilterResult TBlockFilter::Checked(const TFilterResult& Result) {
  Guessed_ = false;
  if (Result.Outcome != TFilterOutcome::Done) return Result;
  Checked_ = true;
  if (Pads()) PreparePadding();
  return Result;
}

TFilterResult TBlockFilter::NotUtf8(TFilterResult AsUtf8) {
  // Read as CP932, unless UTF-8 characters come before the invalid byte:
  // then the input is UTF-8 that went wrong there.
  int Error = 0;
  const bool Utf8Before = HoldsNonAscii(AsUtf8.Offset, Error);
  if (Error != 0) return {TFilterOutcome::ReadError, Error};
  if (Utf8Before) {
    AsUtf8.Note = TGuessNote::Utf8Before;
    return AsUtf8;
  }
  Encoding_ = TEncoding::Cp932;
  TFilterResult Result = CheckOnce();
  if (Result.Outcome != TFilterOutcome::Invalid) return Result;
  // Neither: the error is named in the encoding that the input is more like.
  const bool Utf8 = MostlyUtf8(Error);
  if (Error != 0) return {TFilterOutcome::ReadError, Error};
  if (!Utf8) {
    Result.Note = TGuessNote::NotUtf8Either;
    return Result;
  }
  Encoding_ = TEncoding::Utf8;
  AsUtf8.Note = TGuessNote::MostlyUtf8;
  return AsUtf8;
}

void TBlockFilter::PreparePadding() {
  const String Line = LineOfWidth(Longest_);
  if (LineWidth(Line) != Longest_) throw std::logic_error("internal error: padding line");
  WidestLine_ = Line + u'\n';
  // Each line grows by Longest_ + 1 units at most (spaces, or tabs at least
  // one); reading less at a time keeps a padded block near BlockSize_.
  const double Padded =
      static_cast<double>(Units_) + static_cast<double>(Lines_) * (Longest_ + 1.0);
  const double Share = Units_ == 0 ? 1.0 : static_cast<double>(Units_) / Padded;
  PadReadSize_ = std::max<size_t>(1, static_cast<size_t>(static_cast<double>(BlockSize_) * Share));
}

TFilterResult TBlockFilter::CheckOnce() {
  Checked_ = false;
  LossOffset_ = NoError;
  Longest_ = 0;
  Lines_ = 0;
  Units_ = 0;
  // Only the widest line and the CP932 round trip need the characters, and
  // UTF-8 lines are measured without them.
  if (Encoding_ == TEncoding::Utf8 || (!Pads() && Encoding_ != TEncoding::Cp932)) {
    return CheckBytes();
  }
  TLineBlockReader Blocks(Input_, Bom_.size(), Encoding_, BlockSize_);
  String Text;
  for (;;) {
    std::string_view Block;
    if (const int Error = Blocks.Next(Block)) return {TFilterOutcome::ReadError, Error};
    if (Block.empty()) return {};
    const TFilterResult Decoded = Decode(Block, Blocks.Offset(), {}, Text);
    if (Decoded.Outcome != TFilterOutcome::Done) return Decoded;
    if (Pads()) {
      Longest_ = std::max(Longest_, WidestTrimmedLine(Text, Lines_));
      Units_ += Text.size();
    }
  }
}

// The input is checked in two halves side by side, each read by a reader of
// its own: the second starts after a line break near the middle. A short
// input, or one without a break near the middle, is checked whole.
TFilterResult TBlockFilter::CheckBytes() {
  struct THalf {
    TFilterResult Result;
    int32_t Widest = 0;
    uint64_t Lines = 0;
    uint64_t Units = 0;
  };
  const auto CheckRange = [this](uint64_t From, uint64_t Stop, THalf& Half) {
    TLineBlockReader Blocks(Input_, From, Encoding_, BlockSize_, Stop);
    for (;;) {
      std::string_view Block;
      if (const int Error = Blocks.Next(Block)) {
        Half.Result = {TFilterOutcome::ReadError, Error};
        return;
      }
      if (Block.empty()) return;
      if (const TFilterResult Fault =
              FirstFault(Block, Blocks.Offset(), ValidateText(Block, Encoding_));
          Fault.Outcome != TFilterOutcome::Done) {
        Half.Result = Fault;
        return;
      }
      if (Pads()) {
        Half.Widest = std::max(Half.Widest, Utf8WidestTrimmedLine(Block, Half.Lines));
        Half.Units += Block.size();
      }
    }
  };
  std::array<THalf, 2> Halves;
  const uint64_t Start = Bom_.size();
  const uint64_t Middle = FindMiddleBreak();
  if (Middle == 0) {
    CheckRange(Start, UINT64_MAX, Halves[0]);
  } else {
    auto CheckFirst = [&] { CheckRange(Start, Middle, Halves[0]); };
    TSideWork Side(CheckFirst);
    CheckRange(Middle, UINT64_MAX, Halves[1]);
    Side.Join();
  }
  for (const THalf& Half : Halves) {
    if (Half.Result.Outcome != TFilterOutcome::Done) return Half.Result;
    Longest_ = std::max(Longest_, Half.Widest);
    Lines_ += Half.Lines;
    Units_ += Half.Units;
  }
  return {};
}

// Just after the last line break in the BlockSize_ bytes from the middle of
// the input on; 0 when the input is shorter than two blocks, or has no break
// there.
uint64_t TBlockFilter::FindMiddleBreak() {
  const uint64_t Start = Bom_.size();
  const uint64_t Size = Input_.Size();
  if (Size < Start || Size - Start < 2 * BlockSize_) return 0;
  // A UTF-16 code unit starts an even number of bytes after the mark.
  const uint64_t Middle = Start + (Size - Start) / 2 / 2 * 2;
  std::string Window(BlockSize_, '\0');
  size_t Count = 0;
  if (Input_.ReadAt(Middle, Window.data(), Window.size(), Count) != 0) return 0;
  const size_t End = FindLinesEnd(std::string_view(Window.data(), Count), 0, Encoding_, false);
  return End == 0 ? 0 : Middle + End;
}

TFilterResult TBlockFilter::Run(TBlockSink* Sink, bool StopAtChange) {
  if (!Checked_ && Pads()) {
    if (const TFilterResult Result = Check(); Result.Outcome != TFilterOutcome::Done) return Result;
  }
  if (Checked_) return RunOnce(Sink, StopAtChange);
  // The pass validates as it goes. An input that is not UTF-8 after all is
  // checked as CP932 before it runs again.
  TFilterResult Result = RunOnce(Sink, StopAtChange);
  if (Guessed_ && Result.Outcome == TFilterOutcome::Invalid) {
    if (Sink) Sink->Discard();
    Result = Checked(NotUtf8(Result));
    if (Result.Outcome == TFilterOutcome::Done) return RunOnce(Sink, StopAtChange);
    return Result;
  }
  if (Result.Outcome == TFilterOutcome::Done && !StopAtChange) Checked(Result);
  return Result;
}

// Commands 8 and 9 pad against the widest line of their text, so a block of
// a larger text goes in behind WidestLine_, a line exactly as wide as the
// widest of the whole text, and the output of that line, up to the first LF
// of the result, is dropped again. (It costs no more than the block itself:
// either the block has a line as wide as half that line, and longer than a
// quarter of it, or a line that gets more padding than that.) A block that
// is the whole text needs no such line.
TFilterResult TBlockFilter::RunOnce(TBlockSink* Sink, bool StopAtChange) {
  if (Sink && !Bom_.empty()) {
    if (const int Error = Sink->Put(0, Bom_, Bom_, false)) {
      return {TFilterOutcome::WriteError, Error};
    }
  }
  TLineBlockReader Blocks(Input_, Bom_.size(), Encoding_, Pads() ? PadReadSize_ : BlockSize_);
  if (Encoding_ == TEncoding::Utf8 && !Transform_.IsConversion) {
    return RunUtf8(Blocks, Sink, StopAtChange);
  }
  TFilterResult Result;
  String Text;
  std::string Encoded;
  for (;;) {
    std::string_view Block;
    if (const int Error = Blocks.Next(Block)) return {TFilterOutcome::ReadError, Error};
    if (Block.empty()) return Result;
    const StringView Prefix = Pads() && !Blocks.IsWhole() ? StringView(WidestLine_) : StringView();
    const TFilterResult Decoded = Decode(Block, Blocks.Offset(), Prefix, Text);
    if (Decoded.Outcome != TFilterOutcome::Done) return Decoded;
    const String Transformed = ApplyTransform(Transform_, Text);
    const StringView OldText = StringView(Text).substr(Prefix.size());
    StringView NewText = Transformed;
    if (!Prefix.empty()) NewText.remove_prefix(NewText.find(u'\n') + 1);
    const bool Changed = NewText != OldText;
    Result.Changed = Result.Changed || Changed;
    if (Changed && StopAtChange) return Result;
    if (!Sink) continue;
    std::string_view Output = Block;
    if (Changed) {
      Encoded.clear();
      if (!EncodeText(NewText, Encoding_, Encoded)) return {TFilterOutcome::Unencodable};
      Output = Encoded;
    }
    if (const int Error = Sink->Put(Blocks.Offset(), Block, Output, Changed)) {
      return {TFilterOutcome::WriteError, Error};
    }
  }
}

TFilterResult TBlockFilter::RunUtf8(TLineBlockReader& Blocks, TBlockSink* Sink, bool StopAtChange) {
  struct TSlot {
    TUtf8LineRewriter Rewriter;
    size_t Invalid = NoError;  // the first invalid byte, and a NUL before it
    size_t Nul = NoError;
    bool Changed = false;
  };
  std::array<TSlot, 2> Slots{TSlot{TUtf8LineRewriter(Transform_.Id, Longest_)},
                             TSlot{TUtf8LineRewriter(Transform_.Id, Longest_)}};
  const bool Validates = !Checked_;
  const auto Step = [this, &Slots, Validates](int Slot, std::string_view Block) {
    TSlot& Work = Slots[Slot];
    Work.Invalid = Validates ? ValidateText(Block, Encoding_) : NoError;
    Work.Nul = Validates && RefusesNul_ ? FindNul(Block.substr(0, Work.Invalid), Encoding_) : NoError;
    Work.Changed = Work.Invalid == NoError && Work.Nul == NoError && Work.Rewriter.Rewrite(Block);
  };
  TFilterResult Result;
  const auto Finish = [&Slots, &Result, Sink, StopAtChange](
                          int Slot, std::string_view Block,
                          uint64_t Offset) -> std::optional<TFilterResult> {
    const TSlot& Done = Slots[Slot];
    if (Done.Nul != NoError) return TFilterResult{TFilterOutcome::Binary, 0, Offset + Done.Nul};
    if (Done.Invalid != NoError) {
      return TFilterResult{TFilterOutcome::Invalid, 0, Offset + Done.Invalid};
    }
    Result.Changed = Result.Changed || Done.Changed;
    if (Done.Changed && StopAtChange) return Result;
    if (!Sink) return std::nullopt;
    const std::string_view Output = Done.Changed ? Done.Rewriter.Result() : Block;
    if (const int Error = Sink->Put(Offset, Block, Output, Done.Changed)) {
      return TFilterResult{TFilterOutcome::WriteError, Error};
    }
    return std::nullopt;
  };
  return InPairs(Blocks, Step, Finish).value_or(Result);
}

}  // namespace quillet
