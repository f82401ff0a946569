#include "tools/BlockFilter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <functional>
#include <optional>
#include <system_error>
#include <thread>

#include "StringUnit/CharClass.h"
#include "StringUnit/Columns.h"
#include "tools/LineBlocks.h"
#include "transforms/LineCommands.h"

namespace quillet {

namespace {

// How much of an input's start says what it is when it has no mark.
constexpr size_t HeadSize = size_t{64} << 10;

// Bytes gathered for the sink before they are written.
constexpr size_t OutputChunk = size_t{1} << 20;

// The line engine's encoding for a resolved byte encoding: F with a value
// of its type.
template <typename F>
decltype(auto) WithEngineEncoding(TEncoding Encoding, F&& Visit) {
  switch (Encoding) {
    case TEncoding::Utf16LE:
      return Visit(TUtf16LEBytes{});
    case TEncoding::Utf16BE:
      return Visit(TUtf16BEBytes{});
    case TEncoding::Cp932:
      return Visit(TCp932Bytes{});
    default:
      return Visit(TUtf8Bytes{});
  }
}

// How a pass ends early from inside the engine's sink.
struct TPassStop {
  TFilterResult Result;
};

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

TBlockFilter::TBlockFilter(TInput& Input, const TFilterSettings& Settings)
    : Input_(Input), Settings_(Settings), Encoding_(Settings.Requested) {}

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
  const TByteOrderMark Mark = FindByteOrderMark(Head, Settings_.Requested);
  if (Settings_.Requested != TEncoding::Auto && Any.Length > 0 && Mark.Length == 0) {
    TFilterResult Conflict{TFilterOutcome::MarkConflict};
    Conflict.Mark = Any.Encoding;
    return Conflict;
  }
  if (Settings_.Requested == TEncoding::Utf16 && Mark.Length == 0) return {TFilterOutcome::MissingMark};
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
  const TTransform& Transform = Settings_.Transform;
  return !Transform.IsConversion && (Transform.Id == lcPad || Transform.Id == lcPadTabs);
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

TFilterResult TBlockFilter::Check() {
  TFilterResult Result = CheckOnce();
  if (Guessed_ && Result.Outcome == TFilterOutcome::Invalid) Result = NotUtf8(Result);
  return Checked(Result);
}

TFilterResult TBlockFilter::Checked(const TFilterResult& Result) {
  Guessed_ = false;
  if (Result.Outcome != TFilterOutcome::Done) return Result;
  Checked_ = true;
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

TFilterResult TBlockFilter::CheckOnce() {
  Checked_ = false;
  LossOffset_ = NoError;
  Widest_ = 0;
  // Only a conversion of CP932 needs the characters: it writes them back.
  if (!Settings_.Transform.IsConversion || Encoding_ != TEncoding::Cp932) return CheckBytes();
  TLineBlockReader Blocks(Input_, Bom_.size(), Encoding_, Settings_.BlockSize, UINT64_MAX, true);
  String Text;
  for (;;) {
    std::string_view Block;
    if (const int Error = Blocks.Next(Block)) return {TFilterOutcome::ReadError, Error};
    if (Block.empty()) return {};
    if (const TFilterResult Decoded = Decode(Block, Blocks.Offset(), Text);
        Decoded.Outcome != TFilterOutcome::Done) {
      return Decoded;
    }
  }
}

// The input is checked in two halves side by side, each read by a reader of
// its own: the second starts after a line break near the middle. A short
// input, one without a break near the middle, or one of which some lines
// are selected (their numbers would not be known in the second half), is
// checked whole. Commands 8 and 9 measure each half with an engine of its
// own; the widest line is the wider of the two.
TFilterResult TBlockFilter::CheckBytes() {
  return WithEngineEncoding(Encoding_, [this](auto Encoding) {
    using TEngine = TLineEngine<decltype(Encoding)>;
    struct THalf {
      TFilterResult Result;
      uint64_t Widest = 0;
    };
    const bool Measures = Pads();
    const auto CheckRange = [this, Measures](uint64_t From, uint64_t Stop, THalf& Half) {
      TLineEngineSettings Settings;
      Settings.Command = Settings_.Transform.Id;
      Settings.TabWidth = Settings_.TabWidth;
      Settings.Lines = Settings_.Lines;
      std::optional<TEngine> Engine;
      if (Measures) Engine.emplace(Settings);
      TLineBlockReader Blocks(Input_, From, Encoding_, Settings_.BlockSize, Stop);
      for (;;) {
        std::string_view Block;
        if (const int Error = Blocks.Next(Block)) {
          Half.Result = {TFilterOutcome::ReadError, Error};
          return;
        }
        if (Block.empty()) break;
        if (const TFilterResult Fault =
                FirstFault(Block, Blocks.Offset(), ValidateText(Block, Encoding_));
            Fault.Outcome != TFilterOutcome::Done) {
          Half.Result = Fault;
          return;
        }
        if (Engine) Engine->Feed(Block.data(), Block.size());
      }
      if (Engine) {
        Engine->Finish();
        Half.Widest = Engine->Widest();
      }
    };
    std::array<THalf, 2> Halves;
    const uint64_t Start = Bom_.size();
    const uint64_t Middle = Settings_.Lines.empty() ? FindMiddleBreak() : 0;
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
      Widest_ = std::max(Widest_, Half.Widest);
    }
    return TFilterResult{};
  });
}

uint64_t TBlockFilter::FindMiddleBreak() {
  const uint64_t Start = Bom_.size();
  const uint64_t Size = Input_.Size();
  if (Size < Start || Size - Start < 2 * Settings_.BlockSize) return 0;
  // A UTF-16 code unit starts an even number of bytes after the mark.
  const uint64_t Middle = Start + (Size - Start) / 2 / 2 * 2;
  std::string Window(Settings_.BlockSize, '\0');
  size_t Count = 0;
  if (Input_.ReadAt(Middle, Window.data(), Window.size(), Count) != 0) return 0;
  const size_t End = FindLinesEnd(std::string_view(Window.data(), Count), 0, Encoding_, false);
  return End == 0 ? 0 : Middle + End;
}

TFilterResult TBlockFilter::Decode(std::string_view Block, uint64_t Offset, String& Text) {
  Text.clear();
  if (const TFilterResult Fault = FirstFault(Block, Offset, DecodeText(Block, Encoding_, Text));
      Fault.Outcome != TFilterOutcome::Done) {
    return Fault;
  }
  if (!Checked_ && LossOffset_ == NoError) {
    if (const size_t Loss = FindRoundTripLoss(Block, Text, Encoding_); Loss != NoError) {
      LossOffset_ = Offset + Loss;
    }
  }
  return {};
}

TFilterResult TBlockFilter::Run(TByteSink* Sink, TChangeReport* Report, bool StopAtChange) {
  if (!Checked_ && Pads()) {
    if (const TFilterResult Result = Check(); Result.Outcome != TFilterOutcome::Done) return Result;
  }
  const auto RunOnce = [&] {
    if (Settings_.Transform.IsConversion) return RunConversion(Sink, Report, StopAtChange);
    return RunLines(Sink, Report, StopAtChange);
  };
  if (Checked_) return RunOnce();
  // The pass checks as it goes. An input that is not UTF-8 after all is
  // checked as CP932 before it runs again.
  TFilterResult Result = RunOnce();
  if (Guessed_ && Result.Outcome == TFilterOutcome::Invalid) {
    if (Sink) Sink->Discard();
    Result = Checked(NotUtf8(Result));
    if (Result.Outcome == TFilterOutcome::Done) return RunOnce();
    return Result;
  }
  if (Result.Outcome == TFilterOutcome::Done && !StopAtChange) Checked(Result);
  return Result;
}

namespace {

// The engine's output, gathered and written to a byte sink; units that the
// engine asks for again are read from the input. Failures end the pass.
//
// Output that must wait for the output of the block before it is held, up
// to HoldLimit bytes: then, or on Release, WaitForEarlier is called, which
// returns once that output is out (or throws), and what was held goes.
class TEngineOutput final : public TLineSink<char> {
 public:
  // Gathered holds the output on its way to Sink: a caller that runs one
  // engine after another gives each the same, which keeps its memory.
  TEngineOutput(TInput& Input, uint64_t Start, TByteSink* Sink, TChangeReport* Report,
                bool StopAtChange, std::string& Gathered, std::function<void()> WaitForEarlier = {})
      : Input_(Input),
        Start_(Start),
        Sink_(Sink),
        Report_(Report),
        StopAtChange_(StopAtChange),
        WaitForEarlier_(std::move(WaitForEarlier)),
        Gathered_(Gathered) {
    Gathered_.clear();
  }

  static constexpr size_t HoldLimit = 16 * OutputChunk;

  void Put(const char* Units, size_t Count) override {
    if (!Sink_) return;
    if (WaitForEarlier_) {
      if (Gathered_.size() + Count <= HoldLimit) return (void)Gathered_.append(Units, Count);
      Release();
    }
    if (Count >= OutputChunk) {
      Flush();
      return Write(std::string_view(Units, Count));
    }
    if (Gathered_.size() + Count > OutputChunk) Flush();
    Gathered_.append(Units, Count);
  }
  void PutInput(uint64_t Offset, uint64_t Count) override {
    if (!Sink_) return;
    std::string Bytes(static_cast<size_t>(std::min<uint64_t>(Count, OutputChunk)), '\0');
    for (uint64_t Done = 0; Done < Count;) {
      size_t Read = 0;
      const auto Want = static_cast<size_t>(std::min<uint64_t>(Bytes.size(), Count - Done));
      if (const int Error = Input_.ReadAt(Start_ + Offset + Done, Bytes.data(), Want, Read)) {
        throw TPassStop{{TFilterOutcome::ReadError, Error}};
      }
      if (Read == 0) throw TPassStop{{TFilterOutcome::ReadError, EIO}};  // the input shrank
      Put(Bytes.data(), Read);
      Done += Read;
    }
  }
  void LineChanged(const TLineChange& Change) override {
    if (Report_) Report_->LineChanged(Change.Line, Change.Kinds);
    if (StopAtChange_) {
      TFilterResult Stopped;
      Stopped.Changed = true;
      throw TPassStop{Stopped};
    }
  }
  // Ends the holding.
  void Release() {
    if (!WaitForEarlier_) return;
    const std::function<void()> Wait = std::move(WaitForEarlier_);
    WaitForEarlier_ = nullptr;
    Wait();
  }
  void Flush() {
    if (Gathered_.empty() || WaitForEarlier_) return;
    Write(Gathered_);
    Gathered_.clear();
  }

 private:
  void Write(std::string_view Bytes) {
    if (const int Error = Sink_->Write(Bytes)) throw TPassStop{{TFilterOutcome::WriteError, Error}};
  }

  TInput& Input_;
  const uint64_t Start_;
  TByteSink* const Sink_;
  TChangeReport* const Report_;
  const bool StopAtChange_;
  std::function<void()> WaitForEarlier_;
  std::string& Gathered_;
};

// Every line rewritten and written out, two blocks at a time: a block that
// ends with a line is rewritten by an engine of its own, so the first of a
// pair is rewritten and written on a second thread while the second is
// rewritten here, its output held until the first's is out. A block that
// ends inside a line takes the blocks after it, in order, on its engine, up
// to the end of that line. Check(Block, Offset) gives the fault of a block
// that must not be rewritten.
template <typename TEngine, typename TCheck>
TFilterResult RunSideBySide(TInput& Input, TLineBlockReader& Blocks,
                            const TLineEngineSettings& Settings, TByteSink& Sink, TCheck Check) {
  bool Changed = false;
  // Finishes Engine: first, with Partial, the rest of the line that goes on
  // after the block last fed to it.
  const auto EndOfLine = [&](TEngine& Engine, bool Partial) -> std::optional<TFilterResult> {
    while (Partial) {
      std::string_view Block;
      if (const int Error = Blocks.Next(Block)) return TFilterResult{TFilterOutcome::ReadError, Error};
      if (Block.empty()) break;
      Partial = Blocks.IsPartial();
      if (auto Fault = Check(Block, Blocks.Offset())) return Fault;
      Engine.Feed(Block.data(), Block.size());
    }
    Engine.Finish();
    Changed = Changed || Engine.Changed();
    return std::nullopt;
  };
  std::string FirstBytes;
  std::string FirstGathered;
  std::string SecondGathered;
  try {
    for (;;) {
      std::string_view First;
      if (const int Error = Blocks.NextInto(FirstBytes, First)) {
        return TFilterResult{TFilterOutcome::ReadError, Error};
      }
      if (First.empty()) break;
      const uint64_t FirstOffset = Blocks.Offset();
      TEngineOutput FirstOutput(Input, FirstOffset, &Sink, nullptr, false, FirstGathered);
      TEngine FirstEngine(Settings, FirstOutput);
      if (Blocks.IsPartial()) {
        if (auto Fault = Check(First, FirstOffset)) return *Fault;
        FirstEngine.Feed(First.data(), First.size());
        if (auto Fault = EndOfLine(FirstEngine, true)) return *Fault;
        FirstOutput.Flush();
        continue;
      }
      std::optional<TFilterResult> FirstFault;
      auto WorkFirst = [&] {
        if ((FirstFault = Check(First, FirstOffset))) return;
        FirstEngine.Feed(First.data(), First.size());
        FirstEngine.Finish();
        FirstOutput.Flush();
      };
      TSideWork Side(WorkFirst);
      const auto FirstDone = [&] {
        Side.Join();
        if (FirstFault) throw TPassStop{*FirstFault};
      };
      std::string_view Second;
      const int Error = Blocks.Next(Second);
      if (Error != 0 || Second.empty()) {
        FirstDone();
        Changed = Changed || FirstEngine.Changed();
        if (Error != 0) return TFilterResult{TFilterOutcome::ReadError, Error};
        break;
      }
      const uint64_t SecondOffset = Blocks.Offset();
      TEngineOutput SecondOutput(Input, SecondOffset, &Sink, nullptr, false, SecondGathered,
                                 FirstDone);
      TEngine SecondEngine(Settings, SecondOutput);
      std::optional<TFilterResult> SecondFault = Check(Second, SecondOffset);
      if (!SecondFault) SecondEngine.Feed(Second.data(), Second.size());
      SecondOutput.Release();  // the first block is out
      Changed = Changed || FirstEngine.Changed();
      if (SecondFault) return *SecondFault;
      if (auto Fault = EndOfLine(SecondEngine, Blocks.IsPartial())) return *Fault;
      SecondOutput.Flush();
    }
  } catch (const TPassStop& Stop) {
    return Stop.Result;
  }
  TFilterResult Result;
  Result.Changed = Changed;
  return Result;
}

}  // namespace

TFilterResult TBlockFilter::RunLines(TByteSink* Sink, TChangeReport* Report, bool StopAtChange) {
  return WithEngineEncoding(Encoding_, [&](auto Encoding) {
    TLineEngineSettings Settings;
    Settings.Command = Settings_.Transform.Id;
    Settings.TabWidth = Settings_.TabWidth;
    Settings.Lines = Settings_.Lines;
    Settings.Widest = Widest_;
    Settings.Report = Report || StopAtChange;
    TLineBlockReader Blocks(Input_, Bom_.size(), Encoding_, Settings_.BlockSize);
    using TEngine = TLineEngine<decltype(Encoding)>;
    if (Sink && !Settings.Report && Settings.Lines.empty() &&
        std::thread::hardware_concurrency() > 1) {
      if (const int Error = Sink->Write(Bom_)) return TFilterResult{TFilterOutcome::WriteError, Error};
      const auto Check = [this](std::string_view Block,
                                uint64_t Offset) -> std::optional<TFilterResult> {
        if (Checked_) return std::nullopt;
        const TFilterResult Fault = FirstFault(Block, Offset, ValidateText(Block, Encoding_));
        if (Fault.Outcome == TFilterOutcome::Done) return std::nullopt;
        return Fault;
      };
      return RunSideBySide<TEngine>(Input_, Blocks, Settings, *Sink, Check);
    }
    std::string Gathered;
    TEngineOutput Output(Input_, Bom_.size(), Sink, Report, StopAtChange, Gathered);
    TEngine Engine(Settings, Output);
    try {
      Output.Put(Bom_.data(), Bom_.size());
      if (Checked_) {
        for (;;) {
          std::string_view Block;
          if (const int Error = Blocks.Next(Block)) {
            return TFilterResult{TFilterOutcome::ReadError, Error};
          }
          if (Block.empty()) break;
          Engine.Feed(Block.data(), Block.size());
        }
      } else {
        // Unchecked input is checked two blocks at a time beside the engine,
        // which takes a block only once it is known to be valid.
        std::array<TFilterResult, 2> Faults;
        const auto Step = [this, &Faults](int Slot, std::string_view Block) {
          Faults[Slot] = FirstFault(Block, 0, ValidateText(Block, Encoding_));
        };
        const auto Finish = [&Faults, &Engine](int Slot, std::string_view Block,
                                               uint64_t Offset) -> std::optional<TFilterResult> {
          if (TFilterResult Fault = Faults[Slot]; Fault.Outcome != TFilterOutcome::Done) {
            Fault.Offset += Offset;
            return Fault;
          }
          Engine.Feed(Block.data(), Block.size());
          return std::nullopt;
        };
        if (const std::optional<TFilterResult> Fault = InPairs(Blocks, Step, Finish)) return *Fault;
      }
      Engine.Finish();
      Output.Flush();
    } catch (const TPassStop& Stop) {
      return Stop.Result;
    }
    TFilterResult Result;
    Result.Changed = Engine.Changed();
    return Result;
  });
}

// The lines of each block are numbered as the line engine numbers them, and
// compared old with new: a conversion keeps every line break where it was.
TFilterResult TBlockFilter::RunConversion(TByteSink* Sink, TChangeReport* Report,
                                          bool StopAtChange) {
  TLineBlockReader Blocks(Input_, Bom_.size(), Encoding_, Settings_.BlockSize, UINT64_MAX, true);
  TFilterResult Result;
  if (Sink && !Bom_.empty()) {
    if (const int Error = Sink->Write(Bom_)) return {TFilterOutcome::WriteError, Error};
  }
  String Text;
  String New;
  std::string Encoded;
  uint64_t Line = 1;
  bool LineChanged = false;
  for (;;) {
    std::string_view Block;
    if (const int Error = Blocks.Next(Block)) return {TFilterOutcome::ReadError, Error};
    if (Block.empty()) break;
    if (const TFilterResult Decoded = Decode(Block, Blocks.Offset(), Text);
        Decoded.Outcome != TFilterOutcome::Done) {
      return Decoded;
    }
    New = Text;
    ConvertCharClass(New, static_cast<TCharClassConversion>(Settings_.Transform.Id));
    const bool Changed = New != Text;
    Result.Changed = Result.Changed || Changed;
    if (Changed && StopAtChange) return Result;
    if (Report) {
      // Line by line, old against new: the breaks are CR LF, CR and LF, a
      // block never ends between the CR and the LF of one, and a line may go
      // on in the next block.
      const auto LineEnd = [](StringView In, size_t From, bool& Ends) {
        const size_t Break = In.find_first_of(u"\r\n", From);
        Ends = Break != StringView::npos;
        if (!Ends) return In.size();
        return Break + (In[Break] == u'\r' && Break + 1 < In.size() && In[Break + 1] == u'\n' ? 2 : 1);
      };
      for (size_t Old = 0, Now = 0; Old < Text.size();) {
        bool Ends = false;
        const size_t OldEnd = LineEnd(Text, Old, Ends);
        const size_t NewEnd = LineEnd(New, Now, Ends);
        LineChanged = LineChanged ||
                      StringView(Text).substr(Old, OldEnd - Old) != StringView(New).substr(Now, NewEnd - Now);
        Old = OldEnd;
        Now = NewEnd;
        if (!Ends) break;
        if (LineChanged) Report->LineChanged(Line, lkCharacters);
        ++Line;
        LineChanged = false;
      }
    }
    if (!Sink) continue;
    std::string_view Output = Block;
    if (Changed) {
      Encoded.clear();
      if (!EncodeText(New, Encoding_, Encoded)) return {TFilterOutcome::Unencodable};
      Output = Encoded;
    }
    if (const int Error = Sink->Write(Output)) return {TFilterOutcome::WriteError, Error};
  }
  if (Report && LineChanged) Report->LineChanged(Line, lkCharacters);
  return Result;
}

}  // namespace quillet
