// Throughput of the engine: the nine line commands, the string routines they
// are built from, the line list, the pathological text shapes at two sizes
// (the times must grow linearly with the size), the write-back of a large
// selection in the simulated editor, and the line engine on the byte
// encodings of the command-line filter.
//
// items_per_second counts UTF-16 code units of the input, bytes for the
// byte encodings.
#include <benchmark/benchmark.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "StringUnit/AnsiCodePage.h"
#include "StringUnit/Columns.h"
#include "StringUnit/Matching.h"
#include "TemplateList/StringRecordList.h"
#include "bench/BenchTexts.h"
#include "plugin/PluginLibrary2.h"
#include "testing/SimEditor.h"
#include "transforms/LineCommands.h"
#include "transforms/LineEngine.h"
#ifdef QUILLET_BENCH_ENCODINGS
#include "tools/TextEncoding.h"
#endif

namespace quillet::bench {
namespace {

constexpr int32_t MixedLines = 100000;

const String& Mixed() {
  static const String Text = MixedText(MixedLines);
  return Text;
}

const std::vector<String>& MixedLineList() {
  static const std::vector<String> Lines = [] {
    TCommonStringRecordList List;
    List.SetText(Mixed());
    std::vector<String> Out;
    for (int32_t I = 0; I < List.Count(); ++I) Out.push_back(List.Items(I));
    return Out;
  }();
  return Lines;
}

const String& Shape(TShape Kind, int32_t Units) {
  static std::map<std::pair<TShape, int32_t>, String> Cache;
  auto [It, Inserted] = Cache.try_emplace({Kind, Units});
  if (Inserted) It->second = ShapeText(Kind, Units);
  return It->second;
}

void CountUnits(benchmark::State& State, size_t UnitsPerIteration) {
  State.SetItemsProcessed(State.iterations() * static_cast<int64_t>(UnitsPerIteration));
}

// --- The commands on a realistic selection ----------------------------------

void BM_ApplyLineCommand(benchmark::State& State) {
  const auto Command = static_cast<uint8_t>(State.range(0));
  const String& Text = Mixed();
  for (auto _ : State) benchmark::DoNotOptimize(ApplyLineCommand(Text, Command));
  CountUnits(State, Text.size());
}
BENCHMARK(BM_ApplyLineCommand)->ArgName("cmd")->DenseRange(1, 9)->Unit(benchmark::kMillisecond);

// --- The building blocks ------------------------------------------------------

// Line by line, as the commands call it.
void BM_ExpandTabs(benchmark::State& State) {
  const std::vector<String>& Lines = MixedLineList();
  for (auto _ : State) {
    for (const String& Line : Lines) benchmark::DoNotOptimize(ExpandTabs(Line, TabWidth));
  }
  CountUnits(State, Mixed().size());
}
BENCHMARK(BM_ExpandTabs)->Unit(benchmark::kMillisecond);

void BM_DisplayWidth(benchmark::State& State) {
  const String& Text = Mixed();
  for (auto _ : State) benchmark::DoNotOptimize(DisplayWidth(Text));
  CountUnits(State, Text.size());
}
BENCHMARK(BM_DisplayWidth)->Unit(benchmark::kMillisecond);

// Over the whole text: 0 with the full-width-to-spaces table of commands 1
// to 3, 1 with the three-entry doubling table of command 4.
void BM_ReplaceMulti(benchmark::State& State) {
  const StringList Old =
      State.range(0) == 0 ? StringList{u"\u3000"} : StringList{u" ", u"\u3000", u"\t"};
  const StringList New =
      State.range(0) == 0 ? StringList{u"  "} : StringList{u"  ", u"\u3000\u3000", u"\t\t"};
  const String& Text = Mixed();
  for (auto _ : State) benchmark::DoNotOptimize(ReplaceMulti(Text, Old, New, false, true));
  CountUnits(State, Text.size());
}
BENCHMARK(BM_ReplaceMulti)->ArgName("table")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_LineListSplit(benchmark::State& State) {
  const String& Text = Mixed();
  for (auto _ : State) {
    TCommonStringRecordList List;
    List.SetText(Text);
    benchmark::DoNotOptimize(List.Count());
  }
  CountUnits(State, Text.size());
}
BENCHMARK(BM_LineListSplit)->Unit(benchmark::kMillisecond);

void BM_LineListJoin(benchmark::State& State) {
  TCommonStringRecordList List;
  List.SetText(Mixed());
  for (auto _ : State) benchmark::DoNotOptimize(List.Text());
  CountUnits(State, Mixed().size());
}
BENCHMARK(BM_LineListJoin)->Unit(benchmark::kMillisecond);

// --- The line engine on bytes -------------------------------------------------
//
// As the command-line filter will drive it: the text in chunks of 1 MiB, a
// measuring pass first for commands 8 and 9, the output put to a sink that
// only counts it (the filter writes it out).

#ifdef QUILLET_BENCH_ENCODINGS

constexpr TEncoding ByteEncodings[] = {TEncoding::Utf8, TEncoding::Utf16LE, TEncoding::Utf16BE,
                                       TEncoding::Cp932};

// Text in the encoding; code page 932 through the code page seam, which
// makes a character that it lacks '?'.
std::string Encode(StringView Text, TEncoding Encoding) {
  if (Encoding == TEncoding::Cp932) return ToAnsiString(Text);
  std::string Bytes;
  EncodeText(Text, Encoding, Bytes);
  return Bytes;
}

class TCountingSink final : public TLineSink<char> {
 public:
  void Put(const char*, size_t Count) override { Bytes += Count; }
  void PutInput(uint64_t, uint64_t Count) override { Bytes += Count; }
  uint64_t Bytes = 0;
};

constexpr size_t EngineChunk = 1 << 20;

template <typename TEngineEncoding>
uint64_t RunEngine(const std::string& Bytes, uint8_t Command) {
  TLineEngineSettings Settings;
  Settings.Command = Command;
  const auto Feed = [&Bytes](auto& Engine) {
    for (size_t I = 0; I < Bytes.size(); I += EngineChunk) {
      Engine.Feed(Bytes.data() + I, std::min(EngineChunk, Bytes.size() - I));
    }
    Engine.Finish();
  };
  if (Command == lcPad || Command == lcPadTabs) {
    TLineEngine<TEngineEncoding> Measure(Settings);
    Feed(Measure);
    Settings.Widest = Measure.Widest();
  }
  TCountingSink Sink;
  TLineEngine<TEngineEncoding> Engine(Settings, Sink);
  Feed(Engine);
  return Sink.Bytes;
}

uint64_t RunEngine(const std::string& Bytes, TEncoding Encoding, uint8_t Command) {
  switch (Encoding) {
    case TEncoding::Utf8:
      return RunEngine<TUtf8Bytes>(Bytes, Command);
    case TEncoding::Utf16LE:
      return RunEngine<TUtf16LEBytes>(Bytes, Command);
    case TEncoding::Utf16BE:
      return RunEngine<TUtf16BEBytes>(Bytes, Command);
    default:
      return RunEngine<TCp932Bytes>(Bytes, Command);
  }
}

// BM_LineEngine/<encoding>/cmd:N on the selection of BM_ApplyLineCommand;
// with QUILLET_BENCH_TEXT naming a UTF-8 file, BM_LineEngineFile on that
// file too (scripts/bench-cli writes a 100 MB one), to set beside the
// standard tools on the same bytes.
void RegisterLineEngine() {
  const auto Register = [](const std::string& Family, const String& Text) {
    for (const TEncoding Encoding : ByteEncodings) {
      const auto Bytes = std::make_shared<std::string>(Encode(Text, Encoding));
      for (uint8_t Command = 1; Command <= 9; ++Command) {
        std::string Name = EncodingName(Encoding);
        std::erase(Name, '-');
        Name = Family + "/" + Name + "/cmd:" + std::to_string(Command);
        benchmark::RegisterBenchmark(Name.c_str(),
                                     [Bytes, Encoding, Command](benchmark::State& State) {
                                       for (auto _ : State) {
                                         benchmark::DoNotOptimize(
                                             RunEngine(*Bytes, Encoding, Command));
                                       }
                                       CountUnits(State, Bytes->size());
                                     })
            ->Unit(benchmark::kMillisecond);
      }
    }
  };
  Register("BM_LineEngine", Mixed());
  if (const char* Path = std::getenv("QUILLET_BENCH_TEXT")) {
    std::ifstream File(Path, std::ios::binary);
    const std::string Utf8((std::istreambuf_iterator<char>(File)), std::istreambuf_iterator<char>());
    String Text;
    if (DecodeText(Utf8, TEncoding::Utf8, Text) == NoError) Register("BM_LineEngineFile", Text);
  }
}

#else

void RegisterLineEngine() {}

#endif

// --- Pathological shapes: each at two sizes, for the ratio of the times -----
//
// Each run starts with cold caches, so that the small size does not run from
// the cache while the large one streams from memory: their ratio then shows
// the cost of the algorithm, not the size of the cache. One untimed call first
// lets the allocator hold blocks of the sizes needed.

constexpr int32_t SmallShape = 1000000;
constexpr int32_t LargeShape = 10000000;

// Reads every cache line of a buffer four times the size of the last-level
// cache.
// (Writing it would not do: a large fill goes around the cache.)
void EvictCaches() {
  static const std::vector<char> Buffer(128 << 20, 1);
  unsigned Sum = 0;
  for (size_t I = 0; I < Buffer.size(); I += 64) Sum += static_cast<unsigned char>(Buffer[I]);
  benchmark::DoNotOptimize(Sum);
}

template <typename TRun>
void RegisterCold(const std::string& Name, int32_t Units, TRun Run) {
  benchmark::RegisterBenchmark(Name.c_str(),
                               [Run, Units](benchmark::State& State) {
                                 benchmark::DoNotOptimize(Run());
                                 for (auto _ : State) {
                                   State.PauseTiming();
                                   EvictCaches();
                                   State.ResumeTiming();
                                   benchmark::DoNotOptimize(Run());
                                 }
                                 CountUnits(State, static_cast<size_t>(Units));
                               })
      ->Iterations(Units == SmallShape ? 5 : 2)
      ->Unit(benchmark::kMillisecond);
}

// With QUILLET_BENCH_BEYOND_CACHE set, every command on every shape also at
// 10M and 100M units (BM_ShapeBeyondCache): neither text then fits in the
// cache, so their ratio is that of the work alone, while at 1M the text and
// its result still fit in the last-level cache and at 10M they do not.
void RegisterShapes() {
  const TShape Shapes[] = {TShape::TabLine, TShape::FullWidthLine, TShape::EmptyLines,
                           TShape::LongIndent, TShape::OneCharLines};
  const auto Register = [](const char* Family, TShape Kind, int32_t Units) {
    for (uint8_t Command = 1; Command <= 9; ++Command) {
      const std::string Name = std::string(Family) + "/" + std::string(ShapeName(Kind)) +
                               "/cmd:" + std::to_string(Command) +
                               "/units:" + std::to_string(Units);
      RegisterCold(Name, Units, [Kind, Units, Command] {
        return ApplyLineCommand(Shape(Kind, Units), Command);
      });
    }
  };
  const bool BeyondCache = std::getenv("QUILLET_BENCH_BEYOND_CACHE") != nullptr;
  for (TShape Kind : Shapes) {
    for (int32_t Units : {SmallShape, LargeShape}) Register("BM_Shape", Kind, Units);
    if (BeyondCache) {
      for (int32_t Units : {LargeShape, 10 * LargeShape})
        Register("BM_ShapeBeyondCache", Kind, Units);
    }
  }
  // The column measures alone on the lines that stress them most.
  for (TShape Kind : {TShape::TabLine, TShape::FullWidthLine}) {
    for (int32_t Units : {SmallShape, LargeShape}) {
      const std::string Suffix =
          "/" + std::string(ShapeName(Kind)) + "/units:" + std::to_string(Units);
      RegisterCold("BM_ShapeExpandTabs" + Suffix, Units,
                   [Kind, Units] { return ExpandTabs(Shape(Kind, Units), TabWidth); });
      RegisterCold("BM_ShapeLineWidth" + Suffix, Units,
                   [Kind, Units] { return LineWidth(Shape(Kind, Units)); });
    }
  }
}

// --- Write-back of a 100,000-line selection, every tenth line changed -------

// The selection's text and its rewrite, changing one line in ten.
struct TWriteBackCase {
  String Old;
  String New;
  int32_t Lines = 0;
  int32_t Changed = 0;
};

// Every tenth line gets one more leading space, so that most changed lines
// keep their CR LF and a few (the LF ones) are replaced whole.
TWriteBackCase MakeWriteBackCase(String Old) {
  TWriteBackCase Case;
  Case.Old = std::move(Old);
  TCommonStringRecordList List;
  List.SetText(Case.Old);
  Case.Lines = List.Count();
  for (int32_t I = 5; I < List.Count(); I += 10) {
    List.SetItems(I, u" " + List.Items(I));
    ++Case.Changed;
  }
  Case.New = List.Text();
  return Case;
}

// What WriteBackCommand makes of ShortLines: every tenth line loses its
// trailing blanks (the Windows test host's --bench runs the same).
TWriteBackCase MakeCommandCase(int32_t Lines) {
  TWriteBackCase Case;
  Case.Old = ShortLines(Lines);
  Case.New = ApplyLineCommand(Case.Old, WriteBackCommand);
  TCommonStringRecordList Before;
  TCommonStringRecordList After;
  Before.SetText(Case.Old);
  After.SetText(Case.New);
  Case.Lines = Before.Count();
  for (int32_t I = 0; I < Case.Lines; ++I) Case.Changed += Before.Items(I) != After.Items(I);
  return Case;
}

// A host that answers only what the write-back reads (the selected text and
// zero positions) and counts the messages: the write-back's own cost,
// without an editor behind it.
class TCountingHost : public THostEditor {
 public:
  explicit TCountingHost(const String& Selection) : FSelection(Selection) {}
  intptr_t Send(uint32_t Msg, uintptr_t WParam, intptr_t LParam) override {
    ++FMessages;
    if (Msg != MsgGetSelectedText) return 0;
    if (LParam == 0) return static_cast<intptr_t>(FSelection.size());
    const size_t Count = std::min<size_t>(WParam, FSelection.size());
    auto* Buffer = reinterpret_cast<char16_t*>(LParam);
    std::copy_n(FSelection.data(), Count, Buffer);
    Buffer[Count] = u'\0';
    return static_cast<intptr_t>(Count);
  }
  int64_t Messages() const { return FMessages; }

 private:
  const String& FSelection;
  int64_t FMessages = 0;
};

// Messages that one write-back of New over the selected Old sends to the
// simulated editor.
int64_t SimulatedMessages(const String& Old, const String& New) {
  testing::TSimEditor Editor(Old);
  Editor.SetLogging(false);
  Editor.Select(0, static_cast<int32_t>(Old.size()));
  Editor.ClearLog();
  WriteBackLines(Editor, New);
  return Editor.MessageCount();
}

// Messages per unchanged line from the difference between two unchanged
// selections, which cancels the fixed messages around the loop; then per
// changed line from the surplus of the changed selection.
void ReportMessagesPerLine(benchmark::State& State, const TWriteBackCase& Case,
                           int64_t ChangedMessages) {
  const TWriteBackCase Half = MakeCommandCase(MixedLines / 2);
  const int64_t Full = SimulatedMessages(Case.Old, Case.Old);
  const int64_t HalfFull = SimulatedMessages(Half.Old, Half.Old);
  const double PerUnchanged =
      static_cast<double>(Full - HalfFull) / static_cast<double>(Case.Lines - Half.Lines);
  State.counters["msgs/unchanged"] = PerUnchanged;
  State.counters["msgs/changed"] =
      PerUnchanged + static_cast<double>(ChangedMessages - Full) / Case.Changed;
  State.counters["messages"] = static_cast<double>(ChangedMessages);
  State.counters["changed"] = Case.Changed;
}

void BM_WriteBackSimEditor(benchmark::State& State) {
  static const TWriteBackCase Case = MakeCommandCase(MixedLines);
  int64_t Messages = 0;
  for (auto _ : State) {
    State.PauseTiming();
    testing::TSimEditor Editor(Case.Old);
    Editor.SetLogging(false);
    Editor.Select(0, static_cast<int32_t>(Case.Old.size()));
    Editor.ClearLog();
    State.ResumeTiming();
    WriteBackLines(Editor, Case.New);
    Messages = Editor.MessageCount();
  }
  ReportMessagesPerLine(State, Case, Messages);
  CountUnits(State, Case.Old.size());
}
BENCHMARK(BM_WriteBackSimEditor)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_WriteBackCountingHost(benchmark::State& State) {
  static const TWriteBackCase Case = MakeWriteBackCase(MixedText(MixedLines));
  int64_t Messages = 0;
  for (auto _ : State) {
    TCountingHost Host(Case.Old);
    WriteBackLines(Host, Case.New);
    Messages = Host.Messages();
  }
  State.counters["messages"] = static_cast<double>(Messages);
  CountUnits(State, Case.Old.size());
}
BENCHMARK(BM_WriteBackCountingHost)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quillet::bench

// Blocks above 32 MiB come fresh from the kernel on every allocation with
// glibc's default settings, and their first touch costs a page fault per
// 4 KiB page (about 1.2 ms per MiB on a virtual machine), while smaller
// blocks are reused from the heap. So the process keeps every freed block,
// and the large and the small sizes of the shape benchmarks pay the same for
// their memory; --fresh_memory keeps the allocator's defaults.
bool ReuseMemory() {
#if defined(__GLIBC__)
  return mallopt(M_MMAP_MAX, 0) == 1 && mallopt(M_TRIM_THRESHOLD, 1 << 30) == 1;
#else
  return false;
#endif
}

// A short default run: --benchmark_min_time on the command line overrides it.
int main(int argc, char** argv) {
  static char DefaultMinTime[] = "--benchmark_min_time=0.05";
  std::vector<char*> Args{argv[0], DefaultMinTime};
  bool Reuse = true;
  for (int I = 1; I < argc; ++I) {
    const std::string_view Arg(argv[I]);
    if (Arg == "--fresh_memory") {
      Reuse = false;
      continue;
    }
    if (Arg.starts_with("--benchmark_min_time")) Args.erase(Args.begin() + 1);
    Args.push_back(argv[I]);
  }
  int Count = static_cast<int>(Args.size());
  Args.push_back(nullptr);

  quillet::bench::RegisterShapes();
  quillet::bench::RegisterLineEngine();
  benchmark::Initialize(&Count, Args.data());
  if (benchmark::ReportUnrecognizedArguments(Count, Args.data())) return 1;
  benchmark::AddCustomContext("items", "UTF-16 code units of the input; bytes for BM_LineEngine");
  benchmark::AddCustomContext("memory", Reuse && ReuseMemory()
                                            ? "freed blocks kept"
                                            : "allocator defaults (--fresh_memory)");
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
