#include "tools/TextEncoding.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace quillet {

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view Utf16LEBom = "\xFF\xFE";
constexpr std::string_view Utf16BEBom = "\xFE\xFF";

std::string_view BomOf(TEncoding Encoding) {
  switch (Encoding) {
    case TEncoding::Utf8:
      return Utf8Bom;
    case TEncoding::Utf16LE:
      return Utf16LEBom;
    case TEncoding::Utf16BE:
      return Utf16BEBom;
    default:
      return {};
  }
}

bool IsHighSurrogate(char32_t C) {
  return C >= 0xD800 && C <= 0xDBFF;
}
bool IsLowSurrogate(char32_t C) {
  return C >= 0xDC00 && C <= 0xDFFF;
}

size_t DecodeUtf8(std::string_view Bytes, String& Text) {
  Text.reserve(Text.size() + Bytes.size());
  const size_t Size = Bytes.size();
  size_t I = 0;
  while (I < Size) {
    const uint8_t Lead = static_cast<uint8_t>(Bytes[I]);
    if (Lead < 0x80) {
      Text.push_back(Lead);
      ++I;
      continue;
    }
    size_t Length;
    char32_t C;
    char32_t Min;
    if (Lead >= 0xC2 && Lead <= 0xDF) {
      Length = 2, C = Lead & 0x1F, Min = 0x80;
    } else if ((Lead & 0xF0) == 0xE0) {
      Length = 3, C = Lead & 0x0F, Min = 0x800;
    } else if (Lead >= 0xF0 && Lead <= 0xF4) {
      Length = 4, C = Lead & 0x07, Min = 0x10000;
    } else {
      return I;
    }
    if (Size - I < Length) return I;
    for (size_t K = 1; K < Length; ++K) {
      const uint8_t Next = static_cast<uint8_t>(Bytes[I + K]);
      if ((Next & 0xC0) != 0x80) return I;
      C = (C << 6) | (Next & 0x3F);
    }
    if (C < Min || C > 0x10FFFF || IsHighSurrogate(C) || IsLowSurrogate(C)) return I;
    if (C < 0x10000) {
      Text.push_back(static_cast<char16_t>(C));
    } else {
      C -= 0x10000;
      Text.push_back(static_cast<char16_t>(0xD800 + (C >> 10)));
      Text.push_back(static_cast<char16_t>(0xDC00 + (C & 0x3FF)));
    }
    I += Length;
  }
  return NoError;
}

size_t DecodeUtf16(std::string_view Bytes, bool BigEndian, String& Text) {
  if (Bytes.size() % 2 != 0) return Bytes.size() - 1;
  const int High = BigEndian ? 0 : 1;
  Text.reserve(Text.size() + Bytes.size() / 2);
  for (size_t I = 0; I < Bytes.size(); I += 2) {
    const auto Hi = static_cast<uint8_t>(Bytes[I + High]);
    const auto Lo = static_cast<uint8_t>(Bytes[I + 1 - High]);
    Text.push_back(static_cast<char16_t>(Hi << 8 | Lo));
  }
  return NoError;
}

void EncodeUtf16(StringView Text, bool BigEndian, std::string& Bytes) {
  const size_t Start = Bytes.size();
  Bytes.resize(Start + Text.size() * 2);
  char* Out = Bytes.data() + Start;
  for (const char16_t C : Text) {
    const char Hi = static_cast<char>(C >> 8);
    const char Lo = static_cast<char>(C & 0xFF);
    *Out++ = BigEndian ? Hi : Lo;
    *Out++ = BigEndian ? Lo : Hi;
  }
}

bool EncodeUtf8(StringView Text, std::string& Bytes) {
  Bytes.reserve(Bytes.size() + Text.size() * 3);
  for (size_t I = 0; I < Text.size(); ++I) {
    char32_t C = Text[I];
    if (C < 0x80) {
      Bytes.push_back(static_cast<char>(C));
    } else if (C < 0x800) {
      Bytes.push_back(static_cast<char>(0xC0 | C >> 6));
      Bytes.push_back(static_cast<char>(0x80 | (C & 0x3F)));
    } else if (!IsHighSurrogate(C) && !IsLowSurrogate(C)) {
      Bytes.push_back(static_cast<char>(0xE0 | C >> 12));
      Bytes.push_back(static_cast<char>(0x80 | (C >> 6 & 0x3F)));
      Bytes.push_back(static_cast<char>(0x80 | (C & 0x3F)));
    } else if (IsHighSurrogate(C) && I + 1 < Text.size() && IsLowSurrogate(Text[I + 1])) {
      C = 0x10000 + ((C - 0xD800) << 10) + (Text[++I] - 0xDC00);
      Bytes.push_back(static_cast<char>(0xF0 | C >> 18));
      Bytes.push_back(static_cast<char>(0x80 | (C >> 12 & 0x3F)));
      Bytes.push_back(static_cast<char>(0x80 | (C >> 6 & 0x3F)));
      Bytes.push_back(static_cast<char>(0x80 | (C & 0x3F)));
    } else {
      return false;
    }
  }
  return true;
}

// One iconv conversion, closed on every path.
class TIconv {
 public:
  TIconv(const char* To, const char* From) : Handle_(iconv_open(To, From)) {
    if (Handle_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("no conversion from ") + From + " to " + To);
    }
  }
  ~TIconv() { iconv_close(Handle_); }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;

  // Converts all of In into Out, which must be large enough. Returns the
  // offset in In of the first byte that could not be converted, or NoError.
  size_t Convert(std::string_view In, std::string& Out) {
    char* InPtr = const_cast<char*>(In.data());
    size_t InLeft = In.size();
    char* OutPtr = Out.data();
    size_t OutLeft = Out.size();
    const bool Failed =
        iconv(Handle_, &InPtr, &InLeft, &OutPtr, &OutLeft) == static_cast<size_t>(-1);
    Out.resize(Out.size() - OutLeft);
    return Failed ? static_cast<size_t>(InPtr - In.data()) : NoError;
  }

 private:
  iconv_t Handle_;
};

// CP932 goes through UTF-16LE, independent of the machine's byte order.
size_t DecodeCp932(std::string_view Bytes, String& Text) {
  std::string Units(Bytes.size() * 2, '\0');  // one byte or two give one unit
  const size_t Error = TIconv("UTF-16LE", "CP932").Convert(Bytes, Units);
  if (Error != NoError) return Error;
  return DecodeUtf16(Units, false, Text);
}

bool EncodeCp932(StringView Text, std::string& Bytes) {
  std::string Units;
  EncodeUtf16(Text, false, Units);
  std::string Out(Units.size(), '\0');  // one unit gives at most two bytes
  if (TIconv("CP932", "UTF-16LE").Convert(Units, Out) != NoError) return false;
  Bytes += Out;
  return true;
}

}  // namespace

std::optional<TEncoding> ParseEncodingName(std::string_view Name) {
  std::string Lower(Name);
  std::transform(Lower.begin(), Lower.end(), Lower.begin(),
                 [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
  if (Lower == "auto") return TEncoding::Auto;
  if (Lower == "utf-8") return TEncoding::Utf8;
  if (Lower == "utf-16le") return TEncoding::Utf16LE;
  if (Lower == "utf-16be") return TEncoding::Utf16BE;
  if (Lower == "cp932") return TEncoding::Cp932;
  return std::nullopt;
}

const char* EncodingName(TEncoding Encoding) {
  switch (Encoding) {
    case TEncoding::Utf8:
      return "UTF-8";
    case TEncoding::Utf16LE:
      return "UTF-16LE";
    case TEncoding::Utf16BE:
      return "UTF-16BE";
    case TEncoding::Cp932:
      return "CP932";
    default:
      return "auto";
  }
}

TDecodedText DecodeInput(std::string_view Bytes, TEncoding Requested) {
  TDecodedText Result;
  if (Requested == TEncoding::Auto) {
    for (const TEncoding Marked : {TEncoding::Utf8, TEncoding::Utf16LE, TEncoding::Utf16BE}) {
      if (Bytes.starts_with(BomOf(Marked))) Requested = Marked;
    }
  }
  if (Requested == TEncoding::Auto) {
    Result.Encoding = TEncoding::Utf8;
    if (DecodeUtf8(Bytes, Result.Text) == NoError) return Result;
    Result.Text.clear();
    Result.Encoding = TEncoding::Cp932;
  } else {
    Result.Encoding = Requested;
  }
  const std::string_view Bom = BomOf(Result.Encoding);
  if (!Bom.empty() && Bytes.starts_with(Bom)) Result.BomLength = Bom.size();
  const size_t Error = DecodeText(Bytes.substr(Result.BomLength), Result.Encoding, Result.Text);
  if (Error != NoError) Result.ErrorOffset = Result.BomLength + Error;
  return Result;
}

size_t DecodeText(std::string_view Bytes, TEncoding Encoding, String& Text) {
  switch (Encoding) {
    case TEncoding::Utf8:
      return DecodeUtf8(Bytes, Text);
    case TEncoding::Utf16LE:
      return DecodeUtf16(Bytes, false, Text);
    case TEncoding::Utf16BE:
      return DecodeUtf16(Bytes, true, Text);
    case TEncoding::Cp932:
      return DecodeCp932(Bytes, Text);
    default:
      return 0;
  }
}

bool EncodeText(StringView Text, TEncoding Encoding, std::string& Bytes) {
  switch (Encoding) {
    case TEncoding::Utf8:
      return EncodeUtf8(Text, Bytes);
    case TEncoding::Utf16LE:
      EncodeUtf16(Text, false, Bytes);
      return true;
    case TEncoding::Utf16BE:
      EncodeUtf16(Text, true, Bytes);
      return true;
    case TEncoding::Cp932:
      return EncodeCp932(Text, Bytes);
    default:
      return false;
  }
}

size_t FindRoundTripLoss(std::string_view Bytes, StringView Text, TEncoding Encoding) {
  if (Encoding != TEncoding::Cp932) return NoError;  // the UTF forms are unique
  std::string Again;
  if (!EncodeText(Text, Encoding, Again)) return 0;
  const auto [Left, Right] = std::mismatch(Bytes.begin(), Bytes.end(), Again.begin(), Again.end());
  return Left == Bytes.end() && Right == Again.end() ? NoError : Left - Bytes.begin();
}

}  // namespace quillet
