#include "fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>

#include "testing/SimEditor.h"

namespace quillet::fuzz {

void Fail(std::string_view Property, StringView Input, StringView Expected, StringView Actual) {
  using testing::QuoteText;
  std::fprintf(stderr, "\nproperty broken: %.*s\n  input:    %s\n",
               static_cast<int>(Property.size()), Property.data(), QuoteText(Input).c_str());
  if (!Expected.empty() || !Actual.empty()) {
    std::fprintf(stderr, "  expected: %s\n  actual:   %s\n", QuoteText(Expected).c_str(),
                 QuoteText(Actual).c_str());
  }
  std::fflush(stderr);
  std::abort();
}

String Number(int64_t Value) {
  const std::string Digits = std::to_string(Value);
  return String(Digits.begin(), Digits.end());
}

size_t BreakLength(StringView Line) {
  if (Line.ends_with(u"\r\n")) return 2;
  return Line.ends_with(u'\r') || Line.ends_with(u'\n') ? 1 : 0;
}

std::vector<String> SplitLines(StringView Text) {
  std::vector<String> Lines;
  size_t Start = 0;
  for (size_t I = 0; I < Text.size(); ++I) {
    if (Text[I] != u'\r' && Text[I] != u'\n') continue;
    if (Text[I] == u'\r' && I + 1 < Text.size() && Text[I + 1] == u'\n') ++I;
    Lines.emplace_back(Text.substr(Start, I + 1 - Start));
    Start = I + 1;
  }
  if (Start < Text.size()) Lines.emplace_back(Text.substr(Start));
  return Lines;
}

}  // namespace quillet::fuzz
