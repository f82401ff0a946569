// The filter's command line as GNU programs take it: what each option form
// sets, operands, the nearest command to an unknown one. The usage errors'
// messages are tested from the outside (tests/cli/test_options.py); here
// they are the untranslated ones, no locale being set.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "StringUnit/CharClass.h"
#include "tools/CommandLine.h"
#include "transforms/CommandTable.h"

namespace quillet {
namespace {

// ParseArguments on "quillet" and Args.
TParsedArguments Parse(const std::vector<std::string>& Args) {
  unsetenv("QUILLET_BLOCK_SIZE");
  std::vector<std::string> Words = {"quillet"};
  Words.insert(Words.end(), Args.begin(), Args.end());
  std::vector<char*> Argv;
  for (std::string& Word : Words) Argv.push_back(Word.data());
  Argv.push_back(nullptr);
  return ParseArguments(static_cast<int>(Words.size()), Argv.data());
}

std::string Shown(const std::vector<std::string>& Args) {
  std::string Text;
  for (const std::string& Arg : Args) Text += " '" + Arg + "'";
  return Text;
}

struct TRunCase {
  std::vector<std::string> Args;
  TOutputMode Mode = TOutputMode::Write;
  TEncoding Encoding = TEncoding::Auto;
  int TabWidth = 0;
  bool EditorConfig = false;
  bool Verbose = false;
  std::vector<std::pair<uint64_t, uint64_t>> Lines = {};
  std::vector<std::string> Files = {};
  uint8_t Command = lcTrim;
  bool Conversion = false;
};

void ExpectRun(const TRunCase& Case) {
  const TParsedArguments Parsed = Parse(Case.Args);
  ASSERT_EQ(Parsed.Action, TAction::Run) << Shown(Case.Args) << ": " << Parsed.Problem;
  const TOptions& Options = Parsed.Options;
  EXPECT_EQ(Options.Mode, Case.Mode) << Shown(Case.Args);
  EXPECT_EQ(Options.Encoding, Case.Encoding) << Shown(Case.Args);
  EXPECT_EQ(Options.TabWidth, Case.TabWidth) << Shown(Case.Args);
  EXPECT_EQ(Options.EditorConfig, Case.EditorConfig) << Shown(Case.Args);
  EXPECT_EQ(Options.Verbose, Case.Verbose) << Shown(Case.Args);
  std::vector<std::pair<uint64_t, uint64_t>> Lines;
  for (const TLineSpan& Span : Options.Lines) Lines.emplace_back(Span.First, Span.Last);
  EXPECT_EQ(Lines, Case.Lines) << Shown(Case.Args);
  EXPECT_EQ(Options.Files, Case.Files) << Shown(Case.Args);
  EXPECT_EQ(Options.Transform.Id, Case.Command) << Shown(Case.Args);
  EXPECT_EQ(Options.Transform.IsConversion, Case.Conversion) << Shown(Case.Args);
  EXPECT_EQ(Options.BlockSize, DefaultBlockSize) << Shown(Case.Args);
}

using enum TOutputMode;

TEST(CommandLine, ShortOptionsClusterAndTakeAttachedValues) {
  const TRunCase Cases[] = {
      {.Args = {"-it8", "trim", "f"}, .Mode = InPlace, .TabWidth = 8, .Files = {"f"}},
      {.Args = {"-ecp932", "trim"}, .Encoding = TEncoding::Cp932},
      {.Args = {"-e", "cp932", "trim"}, .Encoding = TEncoding::Cp932},
      {.Args = {"-ivecp932", "trim", "f"},
       .Mode = InPlace,
       .Encoding = TEncoding::Cp932,
       .Verbose = true,
       .Files = {"f"}},
      {.Args = {"-vi", "-t", "2", "trim", "f"},
       .Mode = InPlace,
       .TabWidth = 2,
       .Verbose = true,
       .Files = {"f"}},
      {.Args = {"-t64", "trim"}, .TabWidth = 64},
      {.Args = {"-t", "1", "trim"}, .TabWidth = 1},
      {.Args = {"-t08", "trim"}, .TabWidth = 8},
  };
  for (const TRunCase& Case : Cases) ExpectRun(Case);
  // The value of a short option is the rest of its cluster, whatever it is.
  EXPECT_EQ(Parse({"-t8i", "trim"}).Problem.rfind("invalid tab width '8i'", 0), 0u);
  EXPECT_EQ(Parse({"-ite", "utf8", "trim", "f"}).Problem.rfind("invalid tab width 'e'", 0), 0u);
}

TEST(CommandLine, LongOptionsTakeValuesAfterEqualsOrSeparately) {
  const TRunCase Cases[] = {
      {.Args = {"--encoding=cp932", "trim"}, .Encoding = TEncoding::Cp932},
      {.Args = {"--encoding", "SJIS", "trim"}, .Encoding = TEncoding::Cp932},
      {.Args = {"--enc=cp932", "trim"}, .Encoding = TEncoding::Cp932},
      {.Args = {"--en", "utf-16", "trim"}, .Encoding = TEncoding::Utf16},
      {.Args = {"--tab-width", "8", "trim"}, .TabWidth = 8},
      {.Args = {"--tab-width=8", "trim"}, .TabWidth = 8},
      {.Args = {"--tab=3", "trim"}, .TabWidth = 3},
      {.Args = {"--in-place", "trim", "f"}, .Mode = InPlace, .Files = {"f"}},
      {.Args = {"--in", "trim", "f"}, .Mode = InPlace, .Files = {"f"}},
      {.Args = {"--check", "trim", "f", "-"}, .Mode = Check, .Files = {"f", "-"}},
      {.Args = {"--ch", "trim"}, .Mode = Check},
      {.Args = {"--diff", "trim", "a", "b"}, .Mode = Diff, .Files = {"a", "b"}},
      {.Args = {"--editorconfig", "trim", "f"}, .EditorConfig = true, .Files = {"f"}},
      {.Args = {"--editor", "trim"}, .EditorConfig = true},
      {.Args = {"--verbose", "-i", "trim", "f"}, .Mode = InPlace, .Verbose = true, .Files = {"f"}},
      {.Args = {"--verb", "trim"}, .Verbose = true},
  };
  for (const TRunCase& Case : Cases) ExpectRun(Case);
}

TEST(CommandLine, LineSpansInTheOrderGiven) {
  const TRunCase Cases[] = {
      {.Args = {"--lines=1:3", "trim"}, .Lines = {{1, 3}}},
      {.Args = {"--lines", "5:5", "trim"}, .Lines = {{5, 5}}},
      {.Args = {"--lines=7:9", "--lines=2:4", "--li", "2:3", "trim"},
       .Lines = {{7, 9}, {2, 4}, {2, 3}}},
      // Past the end is for the run to clip; any size is taken.
      {.Args = {"--lines=1:18446744073709551615", "trim"}, .Lines = {{1, UINT64_MAX}}},
  };
  for (const TRunCase& Case : Cases) ExpectRun(Case);
}

TEST(CommandLine, OperandsOptionsAfterThemAndTheEndOfOptions) {
  const TRunCase Cases[] = {
      {.Args = {"trim", "a", "-i", "b"}, .Mode = InPlace, .Files = {"a", "b"}},
      {.Args = {"trim", "a", "--tab-width", "2", "b"}, .TabWidth = 2, .Files = {"a", "b"}},
      {.Args = {"trim", "-"}, .Files = {"-"}},
      {.Args = {"--", "trim", "-i", "--check"}, .Files = {"-i", "--check"}},
      {.Args = {"-i", "trim", "--", "-x"}, .Mode = InPlace, .Files = {"-x"}},
      {.Args = {"-i", "-i", "trim", "f"}, .Mode = InPlace, .Files = {"f"}},
      {.Args = {"--check", "--check", "trim"}, .Mode = Check},
      {.Args = {"7"}},
      {.Args = {"spaces"}, .Command = lcSpaces},
      {.Args = {"9"}, .Command = lcPadTabs},
      {.Args = {"katakana"}, .Command = ccKatakana, .Conversion = true},
  };
  for (const TRunCase& Case : Cases) ExpectRun(Case);
}

TEST(CommandLine, AnUnknownCommandGetsTheNearestNameAndTheList) {
  struct TCase {
    const char* Arg;
    const char* Suggestion;  // "" for none
  };
  const TCase Cases[] = {
      {"Trim", "trim"},
      {"trm", "trim"},
      {"tirm", "trim"},
      {"spcaes", "spaces"},
      {"tab", "tabs"},
      {"TABS", "tabs"},
      {"half", "halve"},
      {"pad_tabs", "pad-tabs"},
      {"padtabs", "pad-tabs"},
      {"Upper", "upper"},
      {"hiragna", "hiragana"},
      {"fullwidth-digit", "fullwidth-digits"},
      {"unindnet", "unindent"},
      {"zzzzz", ""},
      {"x", ""},
      {"indent", "unindent"},
  };
  for (const TCase& Case : Cases) {
    const std::string Problem = Parse({Case.Arg}).Problem;
    const std::string Said = "unknown command '" + std::string(Case.Arg) + "'";
    EXPECT_EQ(Problem.rfind(Said, 0), 0u) << Problem;
    const size_t Mean = Problem.find("did you mean '");
    if (*Case.Suggestion) {
      EXPECT_NE(Problem.find("did you mean '" + std::string(Case.Suggestion) + "'?"),
                std::string::npos)
          << Case.Arg << ": " << Problem;
    } else {
      EXPECT_EQ(Mean, std::string::npos) << Case.Arg << ": " << Problem;
    }
    for (const TCommandInfo& Command : CommandTable) {
      EXPECT_NE(Problem.find(std::to_string(Command.Id) + " " + std::string(Command.Name)),
                std::string::npos)
          << Problem;
    }
    EXPECT_NE(Problem.find(" katakana"), std::string::npos) << Problem;
  }
  for (const char* Number : {"0", "10", "12", "99"}) {
    const std::string Problem = Parse({Number}).Problem;
    EXPECT_NE(Problem.find("numbered 1 to 9"), std::string::npos) << Problem;
    EXPECT_EQ(Problem.find("did you mean"), std::string::npos) << Problem;
  }
}

TEST(CommandLine, HelpAndVersionWinOverWhatFollows) {
  const struct {
    std::vector<std::string> Args;
    TAction Action;
  } Cases[] = {
      {{"--help"}, TAction::Help},
      {{"-h", "--bogus"}, TAction::Help},
      {{"--he"}, TAction::Help},
      {{"trim", "f", "-h"}, TAction::Help},
      {{"-ih"}, TAction::Help},
      {{"--version"}, TAction::Version},
      {{"--vers", "-x"}, TAction::Version},
      {{"--bogus", "--help"}, TAction::Usage},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(Parse(Case.Args).Action, Case.Action) << Shown(Case.Args);
}

TEST(CommandLine, TheBlockSizeOfTheTests) {
  const struct {
    const char* Value;
    bool Valid;
    size_t Size;
  } Cases[] = {{"1", true, 1},   {"4096", true, 4096}, {"0", false, 0},
               {"4k", false, 0}, {"", false, 0},       {"-1", false, 0}};
  for (const auto& Case : Cases) {
    setenv("QUILLET_BLOCK_SIZE", Case.Value, 1);
    char Program[] = "quillet";
    char Command[] = "trim";
    char* Argv[] = {Program, Command, nullptr};
    const TParsedArguments Parsed = ParseArguments(2, Argv);
    unsetenv("QUILLET_BLOCK_SIZE");
    EXPECT_EQ(Parsed.Action, Case.Valid ? TAction::Run : TAction::Usage) << Case.Value;
    if (Case.Valid) {
      EXPECT_EQ(Parsed.Options.BlockSize, Case.Size) << Case.Value;
    }
  }
}

}  // namespace
}  // namespace quillet
