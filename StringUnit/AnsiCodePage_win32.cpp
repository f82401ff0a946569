// Conversion to the ANSI code page through the Windows API: code page 932
// where the system has it installed, the system's own ANSI code page
// otherwise. Tested (natively, through the iconv twin) by tests/Columns_test.cpp.
#include "StringUnit/AnsiCodePage.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace quillet {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

constexpr char Substitute = '?';

bool IsSurrogate(char16_t C) {
  return C >= 0xD800 && C <= 0xDFFF;
}

UINT AnsiCodePage() {
  static const UINT CodePage = IsValidCodePage(932) ? 932 : GetACP();
  return CodePage;
}

// Appends Run, which holds no surrogate; the code page's default character
// stands for what it cannot represent.
void AppendRun(std::u16string_view Run, std::string& Out) {
  if (Run.empty()) return;
  const auto* Wide = reinterpret_cast<const wchar_t*>(Run.data());
  const int Units = static_cast<int>(Run.size());
  const int Bytes =
      WideCharToMultiByte(AnsiCodePage(), 0, Wide, Units, nullptr, 0, nullptr, nullptr);
  if (Bytes <= 0) {
    Out.append(Run.size(), Substitute);
    return;
  }
  const size_t Start = Out.size();
  Out.resize(Start + Bytes);
  WideCharToMultiByte(AnsiCodePage(), 0, Wide, Units, Out.data() + Start, Bytes, nullptr, nullptr);
}

}  // namespace

// Surrogates are substituted here, one byte per half, rather than left to
// WideCharToMultiByte, which may turn a whole pair into a single byte; the
// columns of ExpandTabs rely on one code-page character per code unit.
std::string ToAnsiString(std::u16string_view Text) {
  std::string Out;
  Out.reserve(2 * Text.size());
  size_t RunStart = 0;
  for (size_t I = 0; I <= Text.size(); ++I) {
    if (I < Text.size() && !IsSurrogate(Text[I])) continue;
    AppendRun(Text.substr(RunStart, I - RunStart), Out);
    if (I < Text.size()) Out.push_back(Substitute);
    RunStart = I + 1;
  }
  return Out;
}

}  // namespace quillet
