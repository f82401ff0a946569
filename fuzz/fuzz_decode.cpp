// The command-line filter's decoding and encoding on arbitrary bytes.
//
// Input: one byte for the requested encoding (auto, UTF-8, UTF-16LE,
// UTF-16BE, CP932) and one for a command identifier; then the bytes.
//
// Properties:
// - the mark found is FindByteOrderMark's, and ValidateText agrees with
//   DecodeText in every encoding;
// - an error is clear: its offset lies inside the input, past the
//   byte-order mark, and every byte before it decodes;
// - auto picks a marked UTF by its mark, then UTF-8 when the bytes are valid
//   UTF-8, and CP932 only when they are not;
// - decoded text encodes again; the bytes come back exactly for the UTFs,
//   and for CP932 exactly where FindRoundTripLoss reports no loss (it has
//   several byte forms for a few characters and writes one of them), the
//   text coming back in every case;
// - the text after any line command still encodes: the filter only adds
//   and removes blanks and breaks.
#include "fuzz/FuzzSupport.h"
#include "tools/TextEncoding.h"
#include "transforms/LineCommands.h"

namespace quillet::fuzz {
namespace {

constexpr size_t MaxInputSize = 4096;

String Widen(std::string_view Bytes) {
  String Result;
  for (const char C : Bytes) Result.push_back(static_cast<unsigned char>(C));
  return Result;
}

void CheckError(std::string_view Bytes, const TDecodedText& Decoded) {
  Expect(Decoded.ErrorOffset >= Decoded.BomLength && Decoded.ErrorOffset < Bytes.size(),
         "the error lies inside the input, after the mark", Widen(Bytes));
  String Prefix;
  const std::string_view Valid =
      Bytes.substr(Decoded.BomLength, Decoded.ErrorOffset - Decoded.BomLength);
  Expect(DecodeText(Valid, Decoded.Encoding, Prefix) == NoError,
         "the bytes before the error decode", Widen(Bytes));
}

// ValidateText answers as DecodeText does, in every encoding.
void CheckValidation(std::string_view Bytes) {
  for (const TEncoding Encoding :
       {TEncoding::Utf8, TEncoding::Utf16LE, TEncoding::Utf16BE, TEncoding::Cp932}) {
    String Ignored;
    ExpectEqual("ValidateText finds the error that DecodeText finds", Widen(Bytes),
                Number(static_cast<int64_t>(DecodeText(Bytes, Encoding, Ignored))),
                Number(static_cast<int64_t>(ValidateText(Bytes, Encoding))));
  }
}

void CheckDecoded(std::string_view Bytes, TEncoding Requested, uint8_t Command) {
  const TDecodedText Decoded = DecodeInput(Bytes, Requested);
  const String Input = Widen(Bytes);
  const TByteOrderMark Mark = FindByteOrderMark(Bytes, Requested);
  Expect(
      Decoded.BomLength == Mark.Length && (Mark.Length == 0 || Decoded.Encoding == Mark.Encoding),
      "the decoder uses the mark that FindByteOrderMark finds", Input);
  Expect(Decoded.Encoding != TEncoding::Auto &&
             (Requested == TEncoding::Auto || Decoded.Encoding == Requested),
         "the encoding used is the one requested, or a definite one", Input);
  if (Requested == TEncoding::Auto && Decoded.BomLength == 0) {
    String Ignored;
    const bool Utf8 = DecodeText(Bytes, TEncoding::Utf8, Ignored) == NoError;
    Expect(Utf8 == (Decoded.Encoding == TEncoding::Utf8), "unmarked input is UTF-8 when it can be",
           Input);
  }
  if (Decoded.ErrorOffset != NoError) return CheckError(Bytes, Decoded);

  const std::string_view Body = Bytes.substr(Decoded.BomLength);
  std::string Again;
  Expect(EncodeText(Decoded.Text, Decoded.Encoding, Again), "decoded text encodes again", Input);
  const size_t Loss = FindRoundTripLoss(Body, Decoded.Text, Decoded.Encoding);
  if (Loss == NoError) {
    ExpectEqual("the bytes come back", Input, Widen(Body), Widen(Again));
  } else {
    Expect(Decoded.Encoding == TEncoding::Cp932 && Loss <= std::min(Body.size(), Again.size()) &&
               Body.substr(0, Loss) == std::string_view(Again).substr(0, Loss) &&
               (Loss == Body.size() || Loss == Again.size() || Body[Loss] != Again[Loss]),
           "a CP932 loss is where the bytes first differ", Input);
  }
  String Text;
  Expect(DecodeText(Again, Decoded.Encoding, Text) == NoError, "encoded text decodes", Input);
  ExpectEqual("the text comes back", Input, Decoded.Text, Text);

  std::string Output;
  Expect(EncodeText(ApplyLineCommand(Decoded.Text, Command), Decoded.Encoding, Output),
         "the command's result encodes", Input);
}

}  // namespace
}  // namespace quillet::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace quillet;
  using namespace quillet::fuzz;
  if (Size > MaxInputSize) return 0;
  TFuzzInput Input(Data, Size);
  constexpr TEncoding Encodings[] = {TEncoding::Auto, TEncoding::Utf8, TEncoding::Utf16LE,
                                     TEncoding::Utf16BE, TEncoding::Cp932};
  const TEncoding Requested = Encodings[Input.Choose(5)];
  const auto Command = static_cast<uint8_t>(1 + Input.Choose(9));
  const std::string_view Bytes = Input.Rest();
  CheckDecoded(Bytes, Requested, Command);
  CheckValidation(Bytes);
  return 0;
}
