// The internal-error assertion shared by the string library and the containers.
#pragma once

#include <stdexcept>
#include <string>

namespace quillet {

// Raised by a failed internal check. what() is UTF-8 "%s (%s, %d 行)":
// the short Japanese message, the source unit and the line.
class EAssertionFailed : public std::logic_error {
 public:
  EAssertionFailed(const std::string& message, const std::string& unit, int line);
  const std::string& Message() const { return message_; }
  const std::string& Unit() const { return unit_; }
  int Line() const { return line_; }

 private:
  std::string message_;
  std::string unit_;
  int line_;
};

[[noreturn]] void RaiseAssertion(const char* message, const char* unit, int line);

}  // namespace quillet
