// The line engine in every encoding, and ApplyLineCommand, on arbitrary
// text, command identifiers, tab widths, line selections and cuttings.
//
// Input: one byte for the identifier (mostly 0..10, sometimes 240..255); one
// of flags: the text mode (FuzzSupport.h), the encoding (UTF-16 text, UTF-8,
// UTF-16LE, UTF-16BE, CP932), the tab width and whether lines are selected;
// one that seeds the cutting into chunks; with a selection, its first line
// and its length; then the text. In raw mode a byte encoding takes the bytes
// as they are, valid or not; in alphabet mode the alphabet text is encoded.
//
// Properties, on every input:
// - the output, the widest line, the line count and the change report do
//   not depend on how the input is cut into chunks;
// - only blanks change: the input and the output are the same characters
//   once the blanks are taken out of both (characters walked by the
//   encoding's own rules; not for UTF-16 bytes of odd length), and the
//   engine reports a change exactly when the output differs from the input;
// and on input that decodes:
// - the output decodes to what the literal sequences make of the text
//   (ApplyLineCommandLiterally); an identifier outside 1..9 changes
//   nothing;
// - ApplyLineCommand with the same tab width gives the literal result of
//   the whole text, "" for other identifiers and the empty text; every
//   command but 4 and 5 is idempotent, 4 then 5 gives the text back, and
//   commands 1 to 3 depend on the columns of an indent alone.
#include "fuzz/FuzzSupport.h"
#include "tools/TextEncoding.h"
#include "transforms/LineCommands.h"
#include "transforms/LineEngine.h"
#include "transforms/LiteralLineCommands.h"

namespace quillet::fuzz {
namespace {

constexpr size_t MaxInputSize = 4096;
constexpr int32_t TabWidths[8] = {4, 1, 2, 3, 8, 64, 5, 7};

String Widen(std::string_view Bytes) {
  String Result;
  for (const char C : Bytes) Result.push_back(static_cast<unsigned char>(C));
  return Result;
}
String Widen(StringView Units) {
  return String(Units);
}

String Describe(const TLineChange& C) {
  return Number(static_cast<int64_t>(C.Line)) + u":" + Number(static_cast<int64_t>(C.Offset)) +
         u":" + Number(C.Kinds) + u" ";
}

// What one pass over Input, cut at Cuts, gives.
template <typename TUnits>
struct TOutcome {
  TUnits Output;
  String Report;
  uint64_t Widest = 0;
  uint64_t Lines = 0;
  bool Changed = false;
};

template <typename TEngineEncoding, typename TUnits>
class TSink final : public TLineSink<typename TEngineEncoding::TUnit> {
 public:
  TSink(const TUnits& Input, TOutcome<TUnits>& Outcome) : FInput(Input), FOutcome(Outcome) {}
  void Put(const typename TEngineEncoding::TUnit* Units, size_t Count) override {
    FOutcome.Output.append(Units, Count);
  }
  void PutInput(uint64_t Offset, uint64_t Count) override {
    Expect(Offset + Count <= FInput.size(), "the input read again lies inside the input",
           Widen(FInput));
    FOutcome.Output.append(FInput, Offset, Count);
  }
  void LineChanged(const TLineChange& Change) override { FOutcome.Report += Describe(Change); }

 private:
  const TUnits& FInput;
  TOutcome<TUnits>& FOutcome;
};

template <typename TEngineEncoding, typename TUnits>
TOutcome<TUnits> RunEngine(const TUnits& Input, TLineEngineSettings Settings,
                           const std::vector<size_t>& Cuts) {
  const auto Feed = [&Input, &Cuts](auto& Engine) {
    size_t From = 0;
    for (const size_t Cut : Cuts) {
      Engine.Feed(Input.data() + From, Cut - From);
      From = Cut;
    }
    Engine.Feed(Input.data() + From, Input.size() - From);
    Engine.Finish();
  };
  TOutcome<TUnits> Outcome;
  TLineEngine<TEngineEncoding> Measure(Settings);
  Feed(Measure);
  Outcome.Widest = Measure.Widest();
  Settings.Widest = Outcome.Widest;
  TSink<TEngineEncoding, TUnits> Sink(Input, Outcome);
  TLineEngine<TEngineEncoding> Engine(Settings, Sink);
  Feed(Engine);
  Outcome.Lines = Engine.Lines();
  Outcome.Changed = Engine.Changed();
  return Outcome;
}

// The characters of Units other than blanks, walked by each encoding's own
// rules: a UTF-8 character is its first byte and the continuation bytes it
// calls for; a CP932 lead byte takes the next byte when that is 0x40 or
// above; UTF-16 goes by units.
std::string WithoutBlanks(std::string_view Bytes, TEncoding Encoding) {
  std::string Kept;
  for (size_t I = 0; I < Bytes.size();) {
    const auto B = static_cast<uint8_t>(Bytes[I]);
    size_t Length = 1;
    bool Blank = false;
    if (Encoding == TEncoding::Utf16LE || Encoding == TEncoding::Utf16BE) {
      Length = std::min<size_t>(2, Bytes.size() - I);
      if (Length == 2) {
        const auto Other = static_cast<uint8_t>(Bytes[I + 1]);
        const uint16_t C = Encoding == TEncoding::Utf16LE ? (Other << 8 | B) : (B << 8 | Other);
        Blank = C == u' ' || C == u'\t' || C == 0x3000;
      }
    } else if (Encoding == TEncoding::Utf8) {
      const size_t Wanted = B < 0xC0 ? 1 : B < 0xE0 ? 2 : B < 0xF0 ? 3 : B < 0xF8 ? 4 : 1;
      while (Length < Wanted && I + Length < Bytes.size() &&
             (static_cast<uint8_t>(Bytes[I + Length]) & 0xC0) == 0x80) {
        ++Length;
      }
      Blank = B == ' ' || B == '\t' || Bytes.substr(I, Length) == "\xE3\x80\x80";
    } else {
      const bool Lead = (B >= 0x81 && B <= 0x9F) || (B >= 0xE0 && B <= 0xFC);
      if (Lead && I + 1 < Bytes.size() && static_cast<uint8_t>(Bytes[I + 1]) >= 0x40) Length = 2;
      Blank = B == ' ' || B == '\t' || Bytes.substr(I, Length) == "\x81\x40";
    }
    if (!Blank) Kept.append(Bytes.substr(I, Length));
    I += Length;
  }
  return Kept;
}
String WithoutBlanks(StringView Units, TEncoding) {
  String Kept;
  for (const char16_t C : Units) {
    if (C != u' ' && C != u'\t' && C != u'\u3000') Kept.push_back(C);
  }
  return Kept;
}

// Texts of byte encodings decode with DecodeText; UTF-16 text is itself.
bool Decode(std::string_view Bytes, TEncoding Encoding, String& Text) {
  return DecodeText(Bytes, Encoding, Text) == NoError;
}
bool Decode(StringView Units, TEncoding, String& Text) {
  Text.assign(Units);
  return true;
}

// ApplyLineCommand, which the plug-in calls, on the text as the engine's
// UTF-16 instance sees it.
void CheckApplyLineCommand(StringView Text, uint8_t Id, int32_t Tabs) {
  const String Result = ApplyLineCommand(Text, Id, Tabs);
  if (Id < lcSpaces || Id > lcPadTabs || Text.empty()) {
    ExpectEqual("no command, or no text, gives the empty text", Text, u"", Result);
    return;
  }
  ExpectEqual("ApplyLineCommand gives the literal result", Text,
              ApplyLineCommandLiterally(Text, Id, Tabs), Result);
  if (Id == lcDouble) {
    ExpectEqual("halving the doubled indent gives the text back", Text, Text,
                ApplyLineCommand(Result, lcHalve, Tabs));
  } else if (Id != lcHalve) {
    ExpectEqual("a second run changes nothing", Text, Result, ApplyLineCommand(Result, Id, Tabs));
  }
  if (Id <= lcTabs) {
    // Each conversion keeps the columns of every indent.
    for (uint8_t Other = lcSpaces; Other <= lcTabs; ++Other) {
      ExpectEqual("a conversion after another sees the same columns", Text,
                  ApplyLineCommand(Text, Other, Tabs), ApplyLineCommand(Result, Other, Tabs));
    }
  }
}

template <typename TEngineEncoding, typename TUnits>
void Check(const TUnits& Input, TEncoding Encoding, const TLineEngineSettings& Settings,
           TFuzzInput& CutBytes) {
  const String Shown = Widen(Input);
  // One chunk, and chunks cut where the cut bytes say.
  const TOutcome<TUnits> Whole = RunEngine<TEngineEncoding>(Input, Settings, {});
  std::vector<size_t> Cuts;
  for (size_t At = 0; CutBytes.Left() > 0;) {
    At += CutBytes.Byte() % 16;
    if (At >= Input.size()) break;
    if (Cuts.empty() || At > Cuts.back()) Cuts.push_back(At);
  }
  const TOutcome<TUnits> Cut = RunEngine<TEngineEncoding>(Input, Settings, Cuts);
  ExpectEqual("the output does not depend on the chunks", Shown, Widen(Whole.Output),
              Widen(Cut.Output));
  ExpectEqual("the report does not depend on the chunks", Shown, Whole.Report, Cut.Report);
  Expect(Whole.Widest == Cut.Widest && Whole.Lines == Cut.Lines && Whole.Changed == Cut.Changed,
         "widest line, lines and change do not depend on the chunks", Shown);

  // (UTF-16 bytes of odd length end in a byte of no unit, which the padding
  // follows: the units after it are not the input's.)
  const bool Whole16 = (Encoding != TEncoding::Utf16LE && Encoding != TEncoding::Utf16BE) ||
                       Input.size() % 2 == 0;
  if (Whole16) {
    ExpectEqual("only blanks change", Shown, Widen(WithoutBlanks(Input, Encoding)),
                Widen(WithoutBlanks(Whole.Output, Encoding)));
  }
  Expect(Whole.Changed == (Whole.Output != Input) && Whole.Changed == !Whole.Report.empty(),
         "a change is reported exactly when the output differs", Shown);

  String Text;
  if (!Decode(Input, Encoding, Text)) return;
  String Output;
  Expect(Decode(Whole.Output, Encoding, Output), "the output of valid input decodes", Shown);
  const uint8_t Id = Settings.Command;
  const String Expected = Id >= lcSpaces && Id <= lcPadTabs
                              ? ApplyLineCommandLiterally(Text, Id, Settings.TabWidth,
                                                          Settings.Lines)
                              : Text;
  ExpectEqual("the output is the literal result", Text, Expected, Output);
}

// The UTF-16 text of the fuzzer's bytes in a byte encoding, without what it
// cannot hold (lone surrogates outside UTF-16).
std::string Encoded(StringView Text, TEncoding Encoding) {
  String Holdable;
  for (const char16_t C : Text) {
    if (Encoding == TEncoding::Utf16LE || Encoding == TEncoding::Utf16BE ||
        C < 0xD800 || C > 0xDFFF) {
      Holdable.push_back(C);
    }
  }
  std::string Bytes;
  Expect(EncodeText(Holdable, Encoding, Bytes), "alphabet text encodes", Holdable);
  return Bytes;
}

}  // namespace
}  // namespace quillet::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace quillet;
  using namespace quillet::fuzz;
  if (Size > MaxInputSize) return 0;
  TFuzzInput Input(Data, Size);
  const uint8_t Choice = Input.Byte();
  const uint8_t Flags = Input.Byte();
  TFuzzInput CutBytes = Input.Take(1);
  TLineEngineSettings Settings;
  Settings.Command = Choice < 0xF0 ? Choice % 11 : Choice;
  Settings.TabWidth = TabWidths[Flags >> 4 & 7];
  Settings.Report = true;
  if ((Flags & 0x80) != 0) {
    const uint64_t First = Input.Byte() % 8;
    Settings.Lines.push_back({First, First + Input.Byte() % 8});
  }
  const bool Raw = (Flags & 1) != 0;
  const int Encoding = Flags >> 1 & 7;
  // The cuts come from the seed byte, spread by a small generator.
  std::vector<uint8_t> Spread(64);
  uint32_t Seed = CutBytes.Byte() * 2654435761u + 1;
  for (uint8_t& B : Spread) B = static_cast<uint8_t>((Seed = Seed * 1103515245u + 12345u) >> 24);
  TFuzzInput Cuts(Spread.data(), Spread.size());

  constexpr TEncoding ByteEncodings[] = {TEncoding::Utf8, TEncoding::Utf16LE, TEncoding::Utf16BE,
                                         TEncoding::Cp932};
  if (Encoding == 0 || Encoding > 4) {
    const String Text = Input.Text(Raw);
    Check<TUtf16Text>(Text, TEncoding::Auto, Settings, Cuts);
    CheckApplyLineCommand(Text, Settings.Command, Settings.TabWidth);
    return 0;
  }
  const TEncoding Bytes = ByteEncodings[Encoding - 1];
  const std::string Units = Raw ? std::string(Input.Rest()) : Encoded(Input.Text(false), Bytes);
  switch (Bytes) {
    case TEncoding::Utf8:
      Check<TUtf8Bytes>(Units, Bytes, Settings, Cuts);
      break;
    case TEncoding::Utf16LE:
      Check<TUtf16LEBytes>(Units, Bytes, Settings, Cuts);
      break;
    case TEncoding::Utf16BE:
      Check<TUtf16BEBytes>(Units, Bytes, Settings, Cuts);
      break;
    default:
      Check<TCp932Bytes>(Units, Bytes, Settings, Cuts);
      break;
  }
  return 0;
}
