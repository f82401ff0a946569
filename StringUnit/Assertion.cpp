#include "StringUnit/Assertion.h"

#include <cstdio>

namespace quillet {

namespace {
std::string FormatAssertion(const std::string& message, const std::string& unit, int line) {
  char number[16];
  std::snprintf(number, sizeof number, "%d", line);
  return message + " (" + unit + ", " + number + " \u884c)";
}
}  // namespace

EAssertionFailed::EAssertionFailed(const std::string& message, const std::string& unit, int line)
    : std::logic_error(FormatAssertion(message, unit, line)),
      message_(message),
      unit_(unit),
      line_(line) {}

void RaiseAssertion(const char* message, const char* unit, int line) {
  throw EAssertionFailed(message, unit, line);
}

}  // namespace quillet
