// The string types of the whole library.
//
// Strings are UTF-16 with value semantics; one char16_t is one character (a
// surrogate pair counts as two). The empty string and an absent one are the
// same.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillet {

using String = std::u16string;
using StringView = std::u16string_view;
using StringList = std::vector<String>;

}  // namespace quillet
