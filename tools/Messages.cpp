#include "tools/Messages.h"

#include <libintl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <vector>

namespace quillet {

namespace {

constexpr const char* Domain = "quillet";

bool HoldsCatalog(const std::string& Folder) {
  struct stat Info;
  return stat((Folder + "/ja/LC_MESSAGES/quillet.mo").c_str(), &Info) == 0;
}

// The folder of the running program, or "".
std::string ProgramFolder() {
  char Path[PATH_MAX];
  const ssize_t Length = readlink("/proc/self/exe", Path, sizeof Path - 1);
  if (Length <= 0) return "";
  const std::string Program(Path, static_cast<size_t>(Length));
  return Program.substr(0, Program.rfind('/'));
}

}  // namespace

void StartMessages() {
  setlocale(LC_ALL, "");
  setlocale(LC_NUMERIC, "C");
  const std::string Folder = ProgramFolder();
  std::string Catalogs = QUILLET_LOCALEDIR;
  for (const std::string& Candidate : {Folder + "/../share/locale", Folder + "/locale"}) {
    if (!Folder.empty() && HoldsCatalog(Candidate)) {
      Catalogs = Candidate;
      break;
    }
  }
  bindtextdomain(Domain, Catalogs.c_str());
  // The output is UTF-8 whatever the locale's character set, as the menu
  // labels that the help shows are.
  bind_textdomain_codeset(Domain, "UTF-8");
}

const char* Translate(const char* Text) {
  return dgettext(Domain, Text);
}

std::string Format(std::string_view Text, std::initializer_list<std::string_view> Values) {
  const std::vector<std::string_view> Given(Values);
  std::string Result;
  size_t Next = 0;
  for (size_t I = 0; I < Text.size(); ++I) {
    if (Text[I] != '%' || I + 1 == Text.size()) {
      Result += Text[I];
      continue;
    }
    const char C = Text[I + 1];
    size_t Index = Given.size();
    size_t Length = 0;
    if (C == '%') {
      Result += '%';
      ++I;
      continue;
    }
    if (C == 's') {
      Index = Next++;
      Length = 2;
    } else if (C >= '1' && C <= '9' && Text.substr(I + 2, 2) == "$s") {
      Index = static_cast<size_t>(C - '1');
      Length = 4;
    }
    if (Length == 0) {
      Result += '%';
      continue;
    }
    if (Index < Given.size()) Result += Given[Index];
    I += Length - 1;
  }
  return Result;
}

}  // namespace quillet
