#include "tools/CommandLine.h"

#include <getopt.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <optional>

#include "QuilletVersion.h"
#include "StringUnit/CharClass.h"
#include "tools/FileIO.h"
#include "tools/Messages.h"
#include "transforms/CommandTable.h"

namespace quillet {

namespace {

// A character-class conversion, offered by name only.
struct TConversionInfo {
  TCharClassConversion Kind;
  std::string_view Name;
  const char* Summary;  // translated where it is shown
};

constexpr TConversionInfo Conversions[] = {
    {ccUpperCase, "upper", N_("half- and full-width Latin letters to upper case")},
    {ccLowerCase, "lower", N_("half- and full-width Latin letters to lower case")},
    {ccFullWidthLetters, "fullwidth-letters", N_("half-width Latin letters to full-width")},
    {ccHalfWidthLetters, "halfwidth-letters", N_("full-width Latin letters to half-width")},
    {ccFullWidthSymbols, "fullwidth-symbols", N_("ASCII symbols and the space to full-width")},
    {ccHalfWidthSymbols, "halfwidth-symbols", N_("full-width symbols and U+3000 to ASCII")},
    {ccFullWidthNumbers, "fullwidth-digits", N_("digits and - + / . to full-width")},
    {ccHalfWidthNumbers, "halfwidth-digits", N_("full-width digits and - + / . to ASCII")},
    {ccFullWidthKatakana, "fullwidth-katakana", N_("half-width katakana to full-width")},
    {ccHalfWidthKatakana, "halfwidth-katakana", N_("full-width katakana to half-width")},
    {ccHiragana, "hiragana", N_("half- and full-width katakana to hiragana")},
    {ccKatakana, "katakana", N_("hiragana to full-width katakana")},
};

constexpr const char* BlockSizeVariable = "QUILLET_BLOCK_SIZE";

// The keys of the long options that have no short form.
enum : int { okCheck = 256, okDiff, okLines, okEditorConfig, okVersion };

constexpr option LongOptions[] = {
    {"in-place", no_argument, nullptr, 'i'},
    {"check", no_argument, nullptr, okCheck},
    {"diff", no_argument, nullptr, okDiff},
    {"lines", required_argument, nullptr, okLines},
    {"tab-width", required_argument, nullptr, 't'},
    {"editorconfig", no_argument, nullptr, okEditorConfig},
    {"encoding", required_argument, nullptr, 'e'},
    {"verbose", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, okVersion},
    {nullptr, 0, nullptr, 0},
};

// The leading ':' has getopt_long tell a missing value (':') from an
// unknown option ('?').
constexpr char ShortOptions[] = ":ie:t:vh";

std::string Utf8(StringView Text) {
  std::string Bytes;
  EncodeText(Text, TEncoding::Utf8, Bytes);
  return Bytes;
}

// The option of Key as the user wrote it in Arg: its long name when Arg is
// a long option, else its letter.
std::string Spelling(int Key, std::string_view Arg) {
  if (Arg.starts_with("--") || Key >= okCheck) {
    for (const option& Long : LongOptions) {
      if (Long.name && Long.val == Key) return "--" + std::string(Long.name);
    }
  }
  return std::string("-") + static_cast<char>(Key);
}

// The long options that Name (what follows "--", up to an '=') starts.
std::vector<std::string> LongOptionsStartingWith(std::string_view Name) {
  std::vector<std::string> Found;
  for (const option& Long : LongOptions) {
    if (Long.name && std::string_view(Long.name).starts_with(Name)) {
      Found.push_back("--" + std::string(Long.name));
    }
  }
  return Found;
}

std::string Joined(const std::vector<std::string>& Items, std::string_view Separator) {
  std::string Text;
  for (const std::string& Item : Items) {
    if (!Text.empty()) Text += Separator;
    Text += Item;
  }
  return Text;
}

// A whole decimal number, digits alone.
std::optional<uint64_t> ParseNumber(std::string_view Text) {
  uint64_t Value = 0;
  if (Text.empty() ||
      !std::all_of(Text.begin(), Text.end(), [](char C) { return C >= '0' && C <= '9'; })) {
    return std::nullopt;
  }
  const auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
  if (Error != std::errc() || End != Text.data() + Text.size()) return std::nullopt;
  return Value;
}

std::optional<int> ParseTabWidth(std::string_view Text) {
  const std::optional<uint64_t> Width = ParseNumber(Text);
  if (!Width || *Width < 1 || *Width > MaxTabWidth) return std::nullopt;
  return static_cast<int>(*Width);
}

// "A:B" with 1 <= A <= B.
std::optional<TLineSpan> ParseLineSpan(std::string_view Text) {
  const size_t Colon = Text.find(':');
  if (Colon == std::string_view::npos) return std::nullopt;
  const std::optional<uint64_t> First = ParseNumber(Text.substr(0, Colon));
  const std::optional<uint64_t> Last = ParseNumber(Text.substr(Colon + 1));
  if (!First || !Last || *First < 1 || *Last < *First) return std::nullopt;
  return TLineSpan{*First, *Last};
}

// A positive decimal number.
std::optional<size_t> ParseBlockSize(std::string_view Text) {
  const std::optional<uint64_t> Size = ParseNumber(Text);
  if (!Size || *Size == 0) return std::nullopt;
  return static_cast<size_t>(*Size);
}

std::optional<TTransform> ParseCommand(std::string_view Arg) {
  for (const TCommandInfo& Command : CommandTable) {
    if (Arg == Command.Name || Arg == std::to_string(Command.Id)) {
      return TTransform{false, Command.Id};
    }
  }
  for (const TConversionInfo& Conversion : Conversions) {
    if (Arg == Conversion.Name) return TTransform{true, Conversion.Kind};
  }
  return std::nullopt;
}

char LowerAscii(char C) {
  return C >= 'A' && C <= 'Z' ? static_cast<char>(C + ('a' - 'A')) : C;
}

// The edits (insertions, deletions, substitutions, swaps of two neighbours)
// that turn A into B, letter case aside.
size_t EditDistance(std::string_view A, std::string_view B) {
  std::vector<std::vector<size_t>> D(A.size() + 1, std::vector<size_t>(B.size() + 1));
  for (size_t I = 0; I <= A.size(); ++I) D[I][0] = I;
  for (size_t J = 0; J <= B.size(); ++J) D[0][J] = J;
  for (size_t I = 1; I <= A.size(); ++I) {
    for (size_t J = 1; J <= B.size(); ++J) {
      const bool Same = LowerAscii(A[I - 1]) == LowerAscii(B[J - 1]);
      D[I][J] = std::min({D[I - 1][J] + 1, D[I][J - 1] + 1, D[I - 1][J - 1] + (Same ? 0 : 1)});
      if (I > 1 && J > 1 && LowerAscii(A[I - 1]) == LowerAscii(B[J - 2]) &&
          LowerAscii(A[I - 2]) == LowerAscii(B[J - 1])) {
        D[I][J] = std::min(D[I][J], D[I - 2][J - 2] + 1);
      }
    }
  }
  return D[A.size()][B.size()];
}

// The command name nearest to Arg, when one is near enough to be what was
// meant: one edit away for a word of up to three letters, two for a longer
// one; the first in the help's order of the nearest. Empty otherwise.
std::string_view NearestCommand(std::string_view Arg) {
  const size_t Allowed = Arg.size() <= 3 ? 1 : 2;
  std::string_view Best;
  size_t BestDistance = Allowed + 1;
  const auto Consider = [&](std::string_view Name) {
    const size_t Distance = EditDistance(Arg, Name);
    if (Distance < BestDistance) {
      Best = Name;
      BestDistance = Distance;
    }
  };
  for (const TCommandInfo& Command : CommandTable) Consider(Command.Name);
  for (const TConversionInfo& Conversion : Conversions) Consider(Conversion.Name);
  return Best;
}

// Lead and Items joined by ", ", in lines of at most Width columns (Lead's
// bytes counted as columns); the lines after the first are indented by two
// spaces.
std::string Wrapped(std::string Lead, const std::vector<std::string>& Items, size_t Width) {
  std::string Text = std::move(Lead);
  size_t Column = Text.size();
  for (size_t I = 0; I < Items.size(); ++I) {
    const std::string Item = Items[I] + (I + 1 < Items.size() ? "," : "");
    if (I > 0 && Column + 1 + Item.size() > Width) {
      Text += "\n  ";
      Column = 2;
    } else {
      Text += ' ';
      ++Column;
    }
    Text += Item;
    Column += Item.size();
  }
  return Text;
}

// "Commands: 1 spaces, 2 fullwidth, ..." over a few lines.
std::string CommandList() {
  std::vector<std::string> Items;
  for (const TCommandInfo& Command : CommandTable) {
    Items.push_back(std::to_string(Command.Id) + " " + std::string(Command.Name));
  }
  for (const TConversionInfo& Conversion : Conversions) Items.emplace_back(Conversion.Name);
  // TRANSLATORS: followed by the list of the commands' numbers and names.
  return Wrapped(_("Commands:"), Items, 79);
}

// "Encodings: auto, utf-8, ..." over a few lines.
std::string EncodingList() {
  std::vector<std::string> Names;
  for (const TEncodingName& Known : EncodingNames) Names.emplace_back(Known.Name);
  // TRANSLATORS: followed by the list of the names that --encoding takes.
  return Wrapped(_("Encodings:"), Names, 79);
}

std::string UnknownCommand(std::string_view Arg) {
  std::string Problem;
  const std::string_view Nearest = NearestCommand(Arg);
  if (!Arg.empty() &&
      std::all_of(Arg.begin(), Arg.end(), [](char C) { return C >= '0' && C <= '9'; })) {
    Problem = Format(_("unknown command '%1$s': the line commands are numbered 1 to %2$s"),
                     {Arg, std::to_string(CommandTable.size())});
  } else if (!Nearest.empty()) {
    Problem = Format(_("unknown command '%1$s'; did you mean '%2$s'?"), {Arg, Nearest});
  } else {
    Problem = Format(_("unknown command '%1$s'"), {Arg});
  }
  return Problem + "\n" + CommandList();
}

TParsedArguments UsageError(std::string Problem) {
  return {TAction::Usage, {}, std::move(Problem)};
}

// Whether Key is an option's key: a letter of ShortOptions or a long
// option's key.
bool IsOptionKey(int Key) {
  return std::any_of(std::begin(LongOptions), std::end(LongOptions),
                     [Key](const option& Long) { return Long.name && Long.val == Key; });
}

// What is wrong with the option at which getopt_long returned Result (':'
// or '?'): Key is its optopt, Arg the argument that it was reading.
std::string OptionProblem(int Result, int Key, std::string_view Arg) {
  if (Result == ':') return Format(_("option '%1$s' needs a value"), {Spelling(Key, Arg)});
  // A known key here is a long option given a value that it does not take.
  if (IsOptionKey(Key)) return Format(_("option '%1$s' takes no value"), {Spelling(Key, Arg)});
  if (Key != 0)
    return Format(_("unknown option '-%1$s'"), {std::string(1, static_cast<char>(Key))});
  std::string_view Name = Arg.substr(2);
  Name = Name.substr(0, Name.find('='));
  const std::vector<std::string> Candidates = LongOptionsStartingWith(Name);
  if (Candidates.size() > 1) {
    return Format(_("option '--%1$s' is ambiguous: it may be %2$s"),
                  {Name, Joined(Candidates, ", ")});
  }
  return Format(_("unknown option '--%1$s'"), {Name});
}

const char* ModeOption(TOutputMode Mode) {
  switch (Mode) {
    case TOutputMode::InPlace:
      return "--in-place";
    case TOutputMode::Check:
      return "--check";
    case TOutputMode::Diff:
      return "--diff";
    default:
      return "";
  }
}

}  // namespace

void PrintError(std::string_view Subject, std::string_view Message) {
  std::string Line(ProgramName);
  Line.append(": ").append(Subject).append(": ").append(Message).append("\n");
  WriteAll(STDERR_FILENO, Line);
}

void PrintUsageError(std::string_view Problem) {
  std::string Text(ProgramName);
  Text.append(": ").append(Problem).append("\n");
  Text += UsageLine();
  Text += Format(_("Try '%1$s --help'.\n"), {ProgramName});
  WriteAll(STDERR_FILENO, Text);
}

TParsedArguments ParseArguments(int Argc, char** Argv) {
  TParsedArguments Parsed;
  TOptions& Options = Parsed.Options;
  opterr = 0;
  optind = 0;  // starts getopt_long afresh
  for (;;) {
    const int Key = getopt_long(Argc, Argv, ShortOptions, LongOptions, nullptr);
    if (Key == -1) break;
    const std::string_view Arg = Argv[std::min(optind, Argc) - 1];
    TOutputMode Mode = TOutputMode::Write;
    switch (Key) {
      case 'h':
        return {TAction::Help, {}, {}};
      case okVersion:
        return {TAction::Version, {}, {}};
      case 'i':
        Mode = TOutputMode::InPlace;
        break;
      case okCheck:
        Mode = TOutputMode::Check;
        break;
      case okDiff:
        Mode = TOutputMode::Diff;
        break;
      case 'e': {
        const std::optional<TEncoding> Encoding = ParseEncodingName(optarg);
        if (!Encoding) {
          return UsageError(Format(_("unknown encoding '%1$s'"), {optarg}) + "\n" + EncodingList());
        }
        Options.Encoding = *Encoding;
        break;
      }
      case 't': {
        const std::optional<int> Width = ParseTabWidth(optarg);
        if (!Width) {
          return UsageError(Format(_("invalid tab width '%1$s': give a number from 1 to %2$s"),
                                   {optarg, std::to_string(MaxTabWidth)}));
        }
        Options.TabWidth = *Width;
        break;
      }
      case okLines: {
        const std::optional<TLineSpan> Span = ParseLineSpan(optarg);
        if (!Span) {
          return UsageError(
              Format(_("invalid line range '%1$s': give A:B, with 1 <= A <= B"), {optarg}));
        }
        Options.Lines.push_back(*Span);
        break;
      }
      case okEditorConfig:
        Options.EditorConfig = true;
        break;
      case 'v':
        Options.Verbose = true;
        break;
      default:
        return UsageError(OptionProblem(Key, optopt, Arg));
    }
    if (Mode != TOutputMode::Write) {
      if (Options.Mode != TOutputMode::Write && Options.Mode != Mode) {
        return UsageError(Format(_("%1$s and %2$s cannot be used together"),
                                 {ModeOption(Options.Mode), ModeOption(Mode)}));
      }
      Options.Mode = Mode;
    }
  }
  const std::vector<std::string> Operands(Argv + std::min(optind, Argc), Argv + Argc);
  if (Operands.empty()) return UsageError(_("missing COMMAND"));
  const std::optional<TTransform> Transform = ParseCommand(Operands.front());
  if (!Transform) return UsageError(UnknownCommand(Operands.front()));
  Options.Transform = *Transform;
  Options.Files.assign(Operands.begin() + 1, Operands.end());
  if (Options.Mode == TOutputMode::InPlace && Options.Files.empty()) {
    return UsageError(_("--in-place needs a FILE"));
  }
  if (Options.Mode == TOutputMode::InPlace &&
      std::find(Options.Files.begin(), Options.Files.end(), StdinOperand) != Options.Files.end()) {
    return UsageError(_("--in-place cannot rewrite standard input ('-')"));
  }
  if (const char* Value = getenv(BlockSizeVariable)) {
    const std::optional<size_t> Size = ParseBlockSize(Value);
    if (!Size) return UsageError(Format(_("invalid %1$s '%2$s'"), {BlockSizeVariable, Value}));
    Options.BlockSize = *Size;
  }
  return Parsed;
}

std::string UsageLine() {
  return Format(_("Usage: %1$s [OPTIONS] COMMAND [FILE...]\n"), {ProgramName});
}

namespace {

// Columns that Text takes in a terminal: two for every non-ASCII character.
size_t TerminalWidth(StringView Text) {
  return std::count_if(Text.begin(), Text.end(), [](char16_t C) { return C < 0x80; }) +
         2 * std::count_if(Text.begin(), Text.end(), [](char16_t C) { return C >= 0x80; });
}

std::string PaddedTo(std::string Text, size_t Width, size_t Columns) {
  Text.append(Width > Columns ? Width - Columns : 1, ' ');
  return Text;
}

// What each encoding is, for the help's list of names.
const char* EncodingSummary(TEncoding Encoding) {
  switch (Encoding) {
    case TEncoding::Auto:
      return _("detected as below (the default)");
    case TEncoding::Utf8:
      return _("UTF-8, with or without a byte-order mark");
    case TEncoding::Utf16:
      return _("UTF-16 with a byte-order mark, in either byte order");
    case TEncoding::Utf16LE:
      return _("UTF-16LE, with or without a byte-order mark");
    case TEncoding::Utf16BE:
      return _("UTF-16BE, with or without a byte-order mark");
    case TEncoding::Cp932:
      return _("CP932, Shift_JIS as Windows writes it, never with a mark");
  }
  return "";
}

// One line per encoding: its names, then what it is (on a line of its own
// when the names leave no room).
std::string EncodingLines() {
  std::string Lines;
  for (size_t I = 0; I < std::size(EncodingNames);) {
    const TEncoding Encoding = EncodingNames[I].Encoding;
    std::string Names = "  ";
    for (; I < std::size(EncodingNames) && EncodingNames[I].Encoding == Encoding; ++I) {
      if (Names.size() > 2) Names += ", ";
      Names += EncodingNames[I].Name;
    }
    if (Names.size() + 2 > 24) {
      Lines += Names + "\n";
      Names.clear();
    }
    Lines += PaddedTo(Names, 24, Names.size());
    Lines.append(EncodingSummary(Encoding)).append("\n");
  }
  return Lines;
}

}  // namespace

std::string HelpText() {
  std::string Help = UsageLine();
  Help +=
      _("Rewrites the indent or the line ends of every line of each FILE (standard\n"
        "input without one, or for '-'), or converts the character classes of its\n"
        "whole text, and writes the result to standard output.\n");
  Help += "\n";
  Help += _("COMMAND, by number or name, with its label in the editor's menu:\n");
  StringView Heading;
  for (const TCommandInfo& Command : CommandTable) {
    if (!Command.Heading.empty() && Command.Heading != Heading) {
      Help += "  " + Utf8(Command.Heading) + "\n";
    }
    Heading = Command.Heading;
    std::string Key = (Heading.empty() ? "  " : "    ") + std::to_string(Command.Id) + "  ";
    Key += Command.Name;
    Help += PaddedTo(Key, 18, Key.size());
    Help += PaddedTo(Utf8(Command.Label), 16, TerminalWidth(Command.Label));
    // The summaries are string literals, so their data ends in a NUL.
    Help.append(Translate(Command.Summary.data())).append("\n");
  }
  Help += "\n";
  Help += _("COMMAND, by name, converting the character classes of the whole text:\n");
  for (const TConversionInfo& Conversion : Conversions) {
    Help += PaddedTo("  " + std::string(Conversion.Name), 22, Conversion.Name.size() + 2);
    Help.append(Translate(Conversion.Summary)).append("\n");
  }
  Help += "\n";
  Help += _("Options:\n");
  Help +=
      _("  -i, --in-place        rewrite each FILE in place; a FILE that does not change\n"
        "                        is left untouched\n");
  Help +=
      _("      --check           write nothing; for each line that would change, print\n"
        "                        FILE:LINE: and what would change there\n");
  Help +=
      _("      --diff            write nothing but a unified diff of what would change,\n"
        "                        for patch -p0 in the folder where quillet ran\n");
  Help +=
      _("      --lines=A:B       rewrite lines A to B alone (counted from 1, both\n"
        "                        included); may be given more than once\n");
  Help += _("  -t, --tab-width=N     tabs are N columns wide, 1 to 64 (4 by default)\n");
  Help +=
      _("      --editorconfig    take each FILE's tab width from its .editorconfig files\n"
        "                        (tab_width, else indent_size when it is a number); -t\n"
        "                        overrides it\n");
  Help += _("  -e, --encoding=ENC    read each input as ENC (below; auto by default)\n");
  Help += _("  -v, --verbose         name each FILE that -i rewrote or left unchanged\n");
  Help += _("  -h, --help            show this help and exit\n");
  Help += _("      --version         show the version and exit\n");
  Help += "\n";
  Help +=
      _("Tabs are N columns wide: 4 unless -t gives N (or, with --editorconfig, the\n"
        "file's .editorconfig does). A full-width character counts two columns, a\n"
        "half-width one one.\n");
  Help += "\n";
  Help += _("ENC, in any letter case:\n");
  Help += EncodingLines();
  Help += "\n";
  Help +=
      _("With auto, a byte-order mark decides between UTF-8, UTF-16LE and UTF-16BE.\n"
        "Without one, zero bytes at odd offsets alone mean UTF-16LE and at even ones\n"
        "alone UTF-16BE, when the start reads as text in those units; any other NUL is\n"
        "refused as binary data. The rest is UTF-8 when it is valid UTF-8, or when\n"
        "UTF-8 characters come before its first invalid byte (then refused as\n"
        "invalid), else CP932. The output keeps the input's encoding and byte-order\n"
        "mark, and an input that the command does not change comes back byte for\n"
        "byte.\n");
  Help += "\n";
  Help +=
      _("Exit status: 0 on success, 1 when a file cannot be read or written, 2 for\n"
        "invalid input or a usage error. With --check or --diff: 0 when nothing\n"
        "would change, 1 when something would, 2 on any error.\n");
  return Help;
}

std::string VersionText() {
  std::string Text = std::string(ProgramName) + " (Quillet) " QUILLET_VERSION "\n";
  Text += "Copyright (C) 2026 The Quillet developers\n";
  Text +=
      _("License MIT: see the LICENSE file that comes with it.\n"
        "This is free software: you are free to change and redistribute it.\n"
        "There is NO WARRANTY, to the extent permitted by law.\n");
  return Text;
}

}  // namespace quillet
