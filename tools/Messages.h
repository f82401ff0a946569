// The filter's messages in the user's language, through gettext: Japanese
// under a Japanese locale, English otherwise.
//
// _("...") marks a message and translates it; N_("...") only marks one for
// the catalog, to be translated where it is used. Messages with values in
// them take them as %1$s, %2$s, ... (or %s in order), so that a translation
// may put them in another order.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#define _(Text) ::quillet::Translate(Text)
#define N_(Text) Text

namespace quillet {

// Sets the locale from the environment and finds the message catalog: the
// installed one (share/locale next to the program's bin/), else the one of
// a build tree (locale/ next to the program), else the one of the
// configured installation prefix.
void StartMessages();

// Text in the user's language.
const char* Translate(const char* Text);

// Text with each %N$s (1 to 9) replaced by the Nth of Values, each %s by the
// next one, and %% by %.
std::string Format(std::string_view Text, std::initializer_list<std::string_view> Values);

}  // namespace quillet
