// The test host's demo mode: the plug-in rewrites a sample file in the
// simulated editor, the whole text selected, and the text is printed before
// and after with its blanks made visible.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/win32/TestHost.h"

namespace quillet::wintest {

namespace {

std::u16string FromUtf8(const std::string& Bytes) {
  const int Units =
      MultiByteToWideChar(CP_UTF8, 0, Bytes.data(), static_cast<int>(Bytes.size()), nullptr, 0);
  std::u16string Text(static_cast<size_t>(Units), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, Bytes.data(), static_cast<int>(Bytes.size()),
                      reinterpret_cast<wchar_t*>(Text.data()), Units);
  return Text;
}

std::string ToUtf8(const std::u16string& Text) {
  const auto* Wide = reinterpret_cast<const wchar_t*>(Text.data());
  const int Bytes = WideCharToMultiByte(CP_UTF8, 0, Wide, static_cast<int>(Text.size()), nullptr, 0,
                                        nullptr, nullptr);
  std::string Out(static_cast<size_t>(Bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, Wide, static_cast<int>(Text.size()), Out.data(), Bytes, nullptr,
                      nullptr);
  return Out;
}

// One output line per text line: space ·, full-width space □, tab →, CR ␍, LF ␊.
void Show(const char* Title, const std::u16string& Text) {
  std::u16string Shown = u"    ";
  for (char16_t C : Text) {
    switch (C) {
      case u' ':
        Shown += u'·';
        break;
      case u'\u3000':
        Shown += u'□';
        break;
      case u'\t':
        Shown += u'→';
        break;
      case u'\r':
        Shown += u'␍';
        break;
      case u'\n':
        Shown += u"␊\n    ";
        break;
      default:
        Shown += C;
    }
  }
  const std::string Bytes = ToUtf8(Shown);
  std::printf("%s\n%s\n", Title, Bytes.c_str());
}

}  // namespace

int RunDemo(const TPlugin& Plugin, THostWindow& Window, const std::wstring& SamplePath,
            UINT Command) {
  std::ifstream File(SamplePath.c_str(), std::ios::binary);
  if (!File) {
    std::printf("cannot read %ls\n", SamplePath.c_str());
    return 1;
  }
  const std::u16string Before =
      FromUtf8(std::string(std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>()));
  testing::TSimEditor Sim(Before);
  Sim.Select(0, static_cast<int32_t>(Before.size()));
  Window.Attach(&Sim);
  Window.ExpectMenu(Command, false, POINT{200, 150});
  Plugin.OnCommand(Window.Handle());
  Window.Attach(nullptr);
  Show("Before:", Before);
  Show(("After menu command " + std::to_string(Command) + " in the editor:").c_str(),
       Sim.Document());
  return 0;
}

}  // namespace quillet::wintest
