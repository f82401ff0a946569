// Conversion to code page 932 through glibc's iconv, for the native builds.
// Tested by tests/Columns_test.cpp.
#include "StringUnit/AnsiCodePage.h"

#include <iconv.h>

#include <bit>
#include <cerrno>

namespace quillet {

namespace {

constexpr char Substitute = '?';

bool IsSurrogate(char16_t C) {
  return C >= 0xD800 && C <= 0xDFFF;
}

// An iconv descriptor from native-order UTF-16 to code page 932. A descriptor
// is not safe to share between threads, so each thread keeps its own.
class TAnsiConverter {
 public:
  TAnsiConverter()
      : Handle_(iconv_open("CP932",
                           std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE")) {}
  ~TAnsiConverter() {
    if (Usable()) iconv_close(Handle_);
  }
  TAnsiConverter(const TAnsiConverter&) = delete;
  TAnsiConverter& operator=(const TAnsiConverter&) = delete;

  // Appends Run, which holds no surrogate, one code-page character per unit.
  void AppendRun(std::u16string_view Run, std::string& Out) {
    if (!Usable()) return AppendAsciiOnly(Run, Out);
    // Code page 932 takes at most two bytes a character, so the room below
    // always suffices and iconv never stops for want of space.
    const size_t Start = Out.size();
    Out.resize(Start + 2 * Run.size());
    char* In = const_cast<char*>(reinterpret_cast<const char*>(Run.data()));
    size_t InLeft = Run.size() * sizeof(char16_t);
    char* Dst = Out.data() + Start;
    size_t DstLeft = 2 * Run.size();
    while (InLeft > 0 && iconv(Handle_, &In, &InLeft, &Dst, &DstLeft) == static_cast<size_t>(-1)) {
      if (errno != EILSEQ && errno != EINVAL) break;
      // The unit at In has no counterpart in the code page.
      *Dst++ = Substitute;
      --DstLeft;
      In += sizeof(char16_t);
      InLeft -= sizeof(char16_t);
    }
    Out.resize(Dst - Out.data());
  }

 private:
  bool Usable() const { return Handle_ != reinterpret_cast<iconv_t>(-1); }

  // Without a converter for code page 932 only ASCII is representable.
  static void AppendAsciiOnly(std::u16string_view Run, std::string& Out) {
    for (char16_t C : Run) Out.push_back(C < 0x80 ? static_cast<char>(C) : Substitute);
  }

  iconv_t Handle_;
};

}  // namespace

std::string ToAnsiString(std::u16string_view Text) {
  thread_local TAnsiConverter Converter;
  std::string Out;
  Out.reserve(2 * Text.size());
  size_t RunStart = 0;
  for (size_t I = 0; I <= Text.size(); ++I) {
    if (I < Text.size() && !IsSurrogate(Text[I])) continue;
    Converter.AppendRun(Text.substr(RunStart, I - RunStart), Out);
    if (I < Text.size()) Out.push_back(Substitute);
    RunStart = I + 1;
  }
  return Out;
}

}  // namespace quillet
