// Usage: quillet_testhost [path of quillet.dll]
//                         [--demo SAMPLE COMMAND | --bench LINES | --picture FILE.bmp]
// Without an argument the DLL is looked for beside the program. Prints every
// failed check and closes with "N passed, M failed"; exit code 0 only when
// every check passed. With --demo it runs the menu's COMMAND (1 to 9) on the
// whole of the UTF-8 file SAMPLE instead and shows the text before and after.
// With --bench it times OnCommand on the write-back benchmark's text of LINES
// lines instead (Bench.cpp); exit code 0 when the text came out right. With
// --picture it saves a picture of the open menu instead (Picture.cpp).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <exception>
#include <string>

#include "tests/win32/Check.h"
#include "tests/win32/TestHost.h"

using namespace quillet::wintest;

namespace {

std::wstring DefaultLibraryPath() {
  wchar_t Program[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, Program, MAX_PATH);
  std::wstring Path = Program;
  Path.resize(Path.find_last_of(L"\\/") + 1);
  return Path + L"quillet.dll";
}

template <class T>
bool Resolve(HMODULE Module, const char* Name, T& Export) {
  Export = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(Module, Name)));
  Check(Export != nullptr, std::string("export ") + Name + " found by its undecorated name");
  return Export != nullptr;
}

template <class F>
void Timed(const char* Group, F Tests) {
  const ULONGLONG Start = GetTickCount64();
  Tests();
  std::printf("%s: %llu ms\n", Group, static_cast<unsigned long long>(GetTickCount64() - Start));
  std::fflush(stdout);
}

int Run(const std::wstring& Path, const wchar_t* DemoSample, UINT DemoCommand,
        const wchar_t* BenchLines, const wchar_t* PicturePath) {
  std::printf("test host: %d-bit, ANSI code page %u\n", static_cast<int>(sizeof(void*) * 8),
              GetACP());
  CheckEqual(GetACP(), 932u, "the system's ANSI code page (run under a Japanese locale)");

  THostWindow Window;
  TPlugin Plugin;
  Plugin.Path = Path;
  Plugin.Module = LoadLibraryW(Path.c_str());
  if (!Plugin.Module) {
    std::printf("cannot load %ls (error %lu)\n", Path.c_str(), GetLastError());
    Check(false, "LoadLibraryW of the plug-in");
    return FinishReport();
  }
  bool Complete = Resolve(Plugin.Module, "OnCommand", Plugin.OnCommand);
  Complete &= Resolve(Plugin.Module, "QueryStatus", Plugin.QueryStatus);
  Complete &= Resolve(Plugin.Module, "OnEvents", Plugin.OnEvents);
  Complete &= Resolve(Plugin.Module, "GetMenuTextID", Plugin.GetMenuTextID);
  Complete &= Resolve(Plugin.Module, "GetStatusMessageID", Plugin.GetStatusMessageID);
  Complete &= Resolve(Plugin.Module, "GetBitmapID", Plugin.GetBitmapID);
  Complete &= Resolve(Plugin.Module, "PlugInProc", Plugin.PlugInProc);
  if (Complete && DemoSample) return RunDemo(Plugin, Window, DemoSample, DemoCommand);
  if (Complete && BenchLines) return RunBench(Plugin, Window, std::wcstol(BenchLines, nullptr, 10));
  if (Complete && PicturePath) return RunPicture(Plugin, Window, PicturePath);
  if (Complete) {
    Timed("queries", [&] { TestQueries(Plugin, Window); });  // first: no event value stored yet
    Timed("module", [&] { TestModule(Plugin); });
    Timed("commands", [&] { TestCommands(Plugin, Window); });
    Timed("hostile", [&] { TestHostile(Plugin, Window); });
  }
  CheckEqual(Window.Mishaps(), 0, "menus and boxes that needed closing by force");
  CheckEqual(FreeLibrary(Plugin.Module), TRUE, "FreeLibrary");
  return FinishReport();
}

}  // namespace

int wmain(int Argc, wchar_t** Argv) {
  try {
    const bool Demo = Argc == 5 && std::wcscmp(Argv[2], L"--demo") == 0;
    const bool Bench = Argc == 4 && std::wcscmp(Argv[2], L"--bench") == 0;
    const bool Picture = Argc == 4 && std::wcscmp(Argv[2], L"--picture") == 0;
    return Run(Argc > 1 ? Argv[1] : DefaultLibraryPath(), Demo ? Argv[3] : nullptr,
               Demo ? static_cast<UINT>(std::wcstoul(Argv[4], nullptr, 10)) : 0,
               Bench ? Argv[3] : nullptr, Picture ? Argv[3] : nullptr);
  } catch (const std::exception& Failure) {
    std::printf("test host aborted: %s\n", Failure.what());
    return 2;
  }
}
