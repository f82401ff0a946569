#include "tests/win32/Check.h"

#include <cstdio>

#include "testing/SimEditor.h"

namespace quillet::wintest {

namespace {

int Passed = 0;
int Failed = 0;
std::string CurrentCase;

}  // namespace

TCase::TCase(std::string Name) : previous_(std::move(CurrentCase)) {
  CurrentCase = std::move(Name);
}

TCase::~TCase() {
  CurrentCase = std::move(previous_);
}

void Check(bool Ok, std::string_view What, std::source_location Where) {
  if (Ok) {
    ++Passed;
    return;
  }
  ++Failed;
  std::printf("FAILED %s:%u: [%s] %.*s\n", Where.file_name(), static_cast<unsigned>(Where.line()),
              CurrentCase.c_str(), static_cast<int>(What.size()), What.data());
  std::fflush(stdout);
}

std::string Show(std::u16string_view Text) {
  return testing::QuoteText(Text);
}
std::string Show(std::string_view Text) {
  std::string Shown = "\"";
  for (const char C : Text) {
    const auto Byte = static_cast<unsigned char>(C);
    if (Byte >= 0x20 && Byte < 0x7F && C != '"' && C != '\\') {
      Shown += C;
    } else {
      char Escape[8];
      std::snprintf(Escape, sizeof Escape, "\\x%02X", Byte);
      Shown += Escape;
    }
  }
  return Shown + "\"";
}
std::string Show(const char* Text) {
  return Show(std::string_view(Text));
}

void ReportMismatch(std::string_view What, const std::string& Actual, const std::string& Expected,
                    std::source_location Where) {
  Check(false, std::string(What) + "\n    got:      " + Actual + "\n    expected: " + Expected,
        Where);
}

int FinishReport() {
  std::printf("%d passed, %d failed\n", Passed, Failed);
  std::fflush(stdout);
  return Failed == 0 && Passed > 0 ? 0 : 1;
}

}  // namespace quillet::wintest
