// A small check-and-report framework for the Windows test host, which cannot
// use GoogleTest: every check counts, every failure prints its place, the
// case it belongs to and the values compared, and the run ends with the line
// "N passed, M failed".
#pragma once

#include <cstdint>
#include <source_location>
#include <string>
#include <string_view>
#include <type_traits>

namespace quillet::wintest {

// Named case that failure messages refer to, for the lifetime of the object.
class TCase {
 public:
  explicit TCase(std::string Name);
  ~TCase();
  TCase(const TCase&) = delete;
  TCase& operator=(const TCase&) = delete;

 private:
  std::string previous_;
};

void Check(bool Ok, std::string_view What,
           std::source_location Where = std::source_location::current());

// Printable forms of the values compared, UTF-16 text as quoted UTF-8.
std::string Show(std::u16string_view Text);
std::string Show(std::string_view Text);
std::string Show(const char* Text);
template <class T>
requires std::is_integral_v<T> || std::is_enum_v<T> std::string Show(T Value) {
  if constexpr (std::is_signed_v<T>)
    return std::to_string(static_cast<long long>(Value));
  else
    return std::to_string(static_cast<unsigned long long>(Value));
}

void ReportMismatch(std::string_view What, const std::string& Actual, const std::string& Expected,
                    std::source_location Where);

template <class A, class E>
void CheckEqual(const A& Actual, const E& Expected, std::string_view What,
                std::source_location Where = std::source_location::current()) {
  if (Actual == Expected)
    Check(true, What, Where);
  else
    ReportMismatch(What, Show(Actual), Show(Expected), Where);
}

// Prints the closing line; the process exit code: 0 when nothing failed.
int FinishReport();

}  // namespace quillet::wintest
