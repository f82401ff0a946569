// The DLL as a file: its export directory and its resources, read back
// through the Windows API the way the host editor reads them.
#include <windows.h>
#include <winver.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "tests/win32/Check.h"
#include "tests/win32/TestHost.h"

namespace quillet::wintest {

namespace {

constexpr WORD Japanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);  // 1041

std::u16string ToU16(const wchar_t* Text, size_t Length) {
  return {Text, Text + Length};
}

std::string Join(const std::vector<std::string>& Parts) {
  std::string Joined;
  for (const std::string& Part : Parts) Joined += (Joined.empty() ? "" : " ") + Part;
  return Joined;
}

// A resource type or name: its number, or its text.
std::string ResourceId(LPCWSTR Id) {
  if (IS_INTRESOURCE(Id)) return std::to_string(reinterpret_cast<ULONG_PTR>(Id));
  std::string Text;
  for (const wchar_t* C = Id; *C; ++C) Text += static_cast<char>(*C);
  return Text;
}

struct TInventory {
  std::vector<std::string> Found;
  std::string Type, Name;
};

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD Language, LONG_PTR Param) {
  auto& Inventory = *reinterpret_cast<TInventory*>(Param);
  Inventory.Found.push_back(Inventory.Type + "/" + Inventory.Name + "/" + std::to_string(Language));
  return TRUE;
}

BOOL CALLBACK AddName(HMODULE Module, LPCWSTR Type, LPWSTR Name, LONG_PTR Param) {
  reinterpret_cast<TInventory*>(Param)->Name = ResourceId(Name);
  EnumResourceLanguagesW(Module, Type, Name, AddLanguage, Param);
  return TRUE;
}

BOOL CALLBACK AddType(HMODULE Module, LPWSTR Type, LONG_PTR Param) {
  reinterpret_cast<TInventory*>(Param)->Type = ResourceId(Type);
  EnumResourceNamesW(Module, Type, AddName, Param);
  return TRUE;
}

// Every resource in the module as "type/name/language", sorted.
std::vector<std::string> ResourceInventory(HMODULE Module) {
  TInventory Inventory;
  EnumResourceTypesW(Module, AddType, reinterpret_cast<LONG_PTR>(&Inventory));
  std::sort(Inventory.Found.begin(), Inventory.Found.end());
  return Inventory.Found;
}

// The raw bytes of one resource in language 1041; empty when absent.
std::vector<BYTE> RawResource(HMODULE Module, LPCWSTR Type, LPCWSTR Name) {
  const HRSRC Info = FindResourceExW(Module, Type, Name, Japanese);
  if (!Info) return {};
  const auto* Data = static_cast<const BYTE*>(LockResource(LoadResource(Module, Info)));
  if (!Data) return {};
  return {Data, Data + SizeofResource(Module, Info)};
}

void TestExportDirectory(const TPlugin& Plugin) {
  TCase Case("export directory");
  const auto* Base = reinterpret_cast<const BYTE*>(Plugin.Module);
  const auto* Dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(Base);
  const auto* Nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(Base + Dos->e_lfanew);
  CheckEqual(Nt->FileHeader.Machine,
             sizeof(void*) == 4 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64,
             "machine type of the DLL");
  const IMAGE_DATA_DIRECTORY& Entry =
      Nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  const auto* Exports =
      reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(Base + Entry.VirtualAddress);
  const auto* NameRvas = reinterpret_cast<const DWORD*>(Base + Exports->AddressOfNames);
  std::vector<std::string> Names;
  for (DWORD I = 0; I < Exports->NumberOfNames; ++I)
    Names.emplace_back(reinterpret_cast<const char*>(Base + NameRvas[I]));
  CheckEqual(Join(Names),
             "GetBitmapID GetMenuTextID GetStatusMessageID OnCommand OnEvents PlugInProc "
             "QueryStatus",
             "exported names");
  CheckEqual(Exports->NumberOfFunctions, 7ul, "exported functions (ordinals)");
  for (const char* Decorated : {"_OnCommand@4", "OnCommand@4", "_PlugInProc@16", "PlugInProc@16",
                                "_QueryStatus@8", "OnEvents@12"})
    Check(GetProcAddress(Plugin.Module, Decorated) == nullptr,
          std::string("no decorated export ") + Decorated);
}

void TestResourceInventory(const TPlugin& Plugin) {
  TCase Case("resource inventory");
  // Bitmap 101, string block 1 (strings 0..15), version 1: all in 1041 only.
  CheckEqual(Join(ResourceInventory(Plugin.Module)), "16/1/1041 2/101/1041 6/1/1041",
             "type/name/language of every resource");
}

void TestStrings(const TPlugin& Plugin) {
  TCase Case("string table");
  struct TRow {
    UINT Id;
    std::u16string_view Text;
  };
  static constexpr TRow Rows[] = {
      {1, u"インデントを変更する"},
      {2, u"インデントを半角/全角スペースやタブに置き換える\nQuillet"},
  };
  // The block of strings 0..15 as stored: a length-prefixed UTF-16 string each.
  const std::vector<BYTE> Block = RawResource(Plugin.Module, RT_STRING, MAKEINTRESOURCEW(1));
  std::vector<std::u16string> Stored;
  for (size_t At = 0; At + 2 <= Block.size() && Stored.size() < 16;) {
    WORD Length;
    std::memcpy(&Length, Block.data() + At, 2);
    At += 2;
    std::u16string Text(Length, u'\0');
    if (At + 2 * Length > Block.size()) break;
    std::memcpy(Text.data(), Block.data() + At, 2 * size_t{Length});
    At += 2 * size_t{Length};
    Stored.push_back(std::move(Text));
  }
  CheckEqual(Stored.size(), size_t{16}, "strings in block 1");
  for (const TRow& Row : Rows) {
    const wchar_t* Resource = nullptr;
    const int Length = LoadStringW(Plugin.Module, Row.Id, reinterpret_cast<LPWSTR>(&Resource), 0);
    CheckEqual(Resource ? ToU16(Resource, static_cast<size_t>(Length)) : u"", Row.Text,
               "LoadStringW " + std::to_string(Row.Id));
    wchar_t Copy[8];  // too small: cut, and terminated
    const int Copied = LoadStringW(Plugin.Module, Row.Id, Copy, 8);
    CheckEqual(ToU16(Copy, wcslen(Copy)), Row.Text.substr(0, 7),
               "LoadStringW into a small buffer " + std::to_string(Row.Id));
    CheckEqual(Copied, 7, "units copied into a small buffer");
    if (Stored.size() == 16) CheckEqual(Stored[Row.Id], Row.Text, "stored string");
  }
  for (size_t Id = 0; Id < Stored.size(); ++Id)
    if (Id != 1 && Id != 2) CheckEqual(Stored[Id], u"", "unused string " + std::to_string(Id));
}

void TestBitmap(const TPlugin& Plugin) {
  TCase Case("bitmap 101");
  const auto Bitmap = LoadBitmapW(Plugin.Module, MAKEINTRESOURCEW(101));
  Check(Bitmap != nullptr, "LoadBitmapW");
  BITMAP Shape{};
  if (Bitmap) {
    GetObjectW(Bitmap, sizeof Shape, &Shape);
    DeleteObject(Bitmap);
  }
  CheckEqual(Shape.bmWidth, 16l, "loaded width");
  CheckEqual(Shape.bmHeight, 16l, "loaded height");

  const std::vector<BYTE> Raw = RawResource(Plugin.Module, RT_BITMAP, MAKEINTRESOURCEW(101));
  constexpr size_t Palette = 256 * sizeof(RGBQUAD);
  constexpr size_t Pixels = 16 * 16;  // rows of 16 bytes need no padding
  CheckEqual(Raw.size(), sizeof(BITMAPINFOHEADER) + Palette + Pixels, "resource size");
  if (Raw.size() < sizeof(BITMAPINFOHEADER) + Palette + Pixels) return;
  BITMAPINFOHEADER Header;
  std::memcpy(&Header, Raw.data(), sizeof Header);
  CheckEqual(Header.biSize, DWORD{sizeof Header}, "biSize");
  CheckEqual(Header.biWidth, 16l, "biWidth");
  CheckEqual(Header.biHeight < 0 ? -Header.biHeight : Header.biHeight, 16l, "biHeight");
  CheckEqual(Header.biPlanes, WORD{1}, "biPlanes");
  CheckEqual(Header.biBitCount, WORD{8}, "biBitCount");
  CheckEqual(Header.biCompression, DWORD{BI_RGB}, "biCompression");
  Check(Header.biClrUsed == 0 || Header.biClrUsed == 256, "biClrUsed: a 256-entry palette");
  const std::set<BYTE> Used(Raw.end() - Pixels, Raw.end());
  Check(Used.size() >= 2, "the picture uses more than one colour");
}

// One node of a version resource: key, value bytes (type 1: UTF-16 text) and
// children.
struct TVersionNode {
  std::u16string Key;
  WORD Type = 0;
  std::vector<BYTE> Value;
  std::vector<TVersionNode> Children;

  std::u16string Text() const {
    std::u16string T(Value.size() / 2, u'\0');
    if (!T.empty()) std::memcpy(T.data(), Value.data(), T.size() * 2);
    return T.substr(0, T.find(u'\0'));
  }
  const TVersionNode* Child(std::u16string_view Name) const {
    for (const TVersionNode& C : Children)
      if (C.Key == Name) return &C;
    return nullptr;
  }
};

size_t Align4(size_t N) {
  return (N + 3) & ~size_t{3};
}

// Parses the node at Data; its length, 0 when malformed.
size_t ParseVersionNode(const BYTE* Data, size_t Size, TVersionNode& Node) {
  if (Size < 6) return 0;
  WORD Header[3];
  std::memcpy(Header, Data, 6);
  const size_t Length = Header[0];
  if (Length < 6 || Length > Size) return 0;
  Node.Type = Header[2];
  size_t At = 6;
  for (char16_t C; At + 2 <= Length; At += 2) {
    std::memcpy(&C, Data + At, 2);
    if (C == u'\0') break;
    Node.Key += C;
  }
  At = Align4(At + 2);
  const size_t ValueBytes = Node.Type == 1 ? 2 * size_t{Header[1]} : Header[1];
  if (At + ValueBytes > Length) return ValueBytes == 0 ? Length : 0;
  Node.Value.assign(Data + At, Data + At + ValueBytes);
  for (At = Align4(At + ValueBytes); At < Length;) {
    TVersionNode Child;
    const size_t Used = ParseVersionNode(Data + At, Length - At, Child);
    if (Used == 0) return 0;
    Node.Children.push_back(std::move(Child));
    At = Align4(At + Used);
  }
  return Length;
}

void TestVersion(const TPlugin& Plugin) {
  TCase Case("version resource");
  // Through the version API, as file properties show it.
  DWORD Ignored = 0;
  const DWORD Size = GetFileVersionInfoSizeW(Plugin.Path.c_str(), &Ignored);
  Check(Size > 0, "GetFileVersionInfoSizeW");
  std::vector<BYTE> Info(Size);
  Check(Size > 0 && GetFileVersionInfoW(Plugin.Path.c_str(), 0, Size, Info.data()),
        "GetFileVersionInfoW");
  VS_FIXEDFILEINFO Fixed{};
  void* Value = nullptr;
  UINT Length = 0;
  if (Size > 0 && VerQueryValueW(Info.data(), L"\\", &Value, &Length) && Length >= sizeof Fixed)
    std::memcpy(&Fixed, Value, sizeof Fixed);
  CheckEqual(Fixed.dwSignature, 0xFEEF04BDul, "fixed part signature");
  CheckEqual(Fixed.dwFileVersionMS, 0x00030008ul, "file version 3.8");
  CheckEqual(Fixed.dwFileVersionLS, 0x00010000ul, "file version .1.0");
  CheckEqual(Fixed.dwProductVersionMS, 0ul, "product version 0.0");
  CheckEqual(Fixed.dwProductVersionLS, 0ul, "product version .0.0");
  std::u16string FileVersion;
  if (Size > 0 &&
      VerQueryValueW(Info.data(), L"\\StringFileInfo\\041104b0\\FileVersion", &Value, &Length))
    FileVersion = ToU16(static_cast<const wchar_t*>(Value),
                        wcsnlen(static_cast<const wchar_t*>(Value), Length));
  CheckEqual(FileVersion, u"3.8.1.0", "FileVersion string");
  DWORD Translation = 0;
  if (Size > 0 && VerQueryValueW(Info.data(), L"\\VarFileInfo\\Translation", &Value, &Length) &&
      Length == 4)
    std::memcpy(&Translation, Value, 4);
  CheckEqual(Translation, 0x04B00411ul, "Translation 0x411, 1200");

  // The resource itself: one string block, and no string but FileVersion set.
  const std::vector<BYTE> Raw = RawResource(Plugin.Module, RT_VERSION, MAKEINTRESOURCEW(1));
  TVersionNode Root;
  Check(!Raw.empty() && ParseVersionNode(Raw.data(), Raw.size(), Root) > 0,
        "the version resource parses");
  CheckEqual(Root.Key, u"VS_VERSION_INFO", "root key");
  CheckEqual(Root.Value.size(), sizeof(VS_FIXEDFILEINFO), "fixed part size");
  const TVersionNode* Strings = Root.Child(u"StringFileInfo");
  Check(Strings && Strings->Children.size() == 1 && Strings->Children[0].Key == u"041104b0",
        "exactly one string block, 041104b0");
  if (!Strings || Strings->Children.empty()) return;
  std::u16string Set;
  for (const TVersionNode& String : Strings->Children[0].Children) {
    Check(String.Type == 1, "string values are text");
    if (!String.Text().empty()) Set += String.Key + u"=" + String.Text() + u";";
  }
  CheckEqual(Set, u"FileVersion=3.8.1.0;", "the non-empty strings");
  Check(Strings->Children[0].Child(u"ProductVersion") != nullptr, "an (empty) ProductVersion");
}

}  // namespace

void TestModule(const TPlugin& Plugin) {
  TestExportDirectory(Plugin);
  TestResourceInventory(Plugin);
  TestStrings(Plugin);
  TestBitmap(Plugin);
  TestVersion(Plugin);
}

}  // namespace quillet::wintest
