#include "tools/CommandLine.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <optional>

#include "StringUnit/CharClass.h"
#include "tools/FileIO.h"
#include "transforms/CommandTable.h"

namespace quillet {

namespace {

// A character-class conversion, offered by name only.
struct TConversionInfo {
  TCharClassConversion Kind;
  std::string_view Name;
  std::string_view Summary;
};

constexpr TConversionInfo Conversions[] = {
    {ccUpperCase, "upper", "half- and full-width Latin letters to upper case"},
    {ccLowerCase, "lower", "half- and full-width Latin letters to lower case"},
    {ccFullWidthLetters, "fullwidth-letters", "half-width Latin letters to full-width"},
    {ccHalfWidthLetters, "halfwidth-letters", "full-width Latin letters to half-width"},
    {ccFullWidthSymbols, "fullwidth-symbols", "ASCII symbols and the space to full-width"},
    {ccHalfWidthSymbols, "halfwidth-symbols", "full-width symbols and U+3000 to ASCII"},
    {ccFullWidthNumbers, "fullwidth-digits", "digits and - + / . to full-width"},
    {ccHalfWidthNumbers, "halfwidth-digits", "full-width digits and - + / . to ASCII"},
    {ccFullWidthKatakana, "fullwidth-katakana", "half-width katakana to full-width"},
    {ccHalfWidthKatakana, "halfwidth-katakana", "full-width katakana to half-width"},
    {ccHiragana, "hiragana", "half- and full-width katakana to hiragana"},
    {ccKatakana, "katakana", "hiragana to full-width katakana"},
};

constexpr const char* BlockSizeVariable = "QUILLET_BLOCK_SIZE";

std::string Utf8(StringView Text) {
  std::string Bytes;
  EncodeText(Text, TEncoding::Utf8, Bytes);
  return Bytes;
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

// A positive decimal number.
std::optional<size_t> ParseBlockSize(std::string_view Text) {
  size_t Size = 0;
  const auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Size);
  if (Error != std::errc() || End != Text.data() + Text.size() || Size == 0) return std::nullopt;
  return Size;
}

TParsedArguments UsageError(std::string Problem) {
  return {TAction::Usage, {}, std::move(Problem)};
}

}  // namespace

void PrintError(std::string_view Subject, std::string_view Message) {
  std::string Line(ProgramName);
  Line.append(": ").append(Subject).append(": ").append(Message).append("\n");
  WriteAll(STDERR_FILENO, Line);
}

TParsedArguments ParseArguments(int Argc, char** Argv) {
  TParsedArguments Parsed;
  TOptions& Options = Parsed.Options;
  std::vector<std::string> Operands;
  bool OptionsEnded = false;
  for (int I = 1; I < Argc; ++I) {
    const std::string_view Arg = Argv[I];
    if (OptionsEnded || Arg == "-" || !Arg.starts_with('-')) {
      Operands.emplace_back(Arg);
      continue;
    }
    if (Arg == "--") {
      OptionsEnded = true;
    } else if (Arg == "-h" || Arg == "--help") {
      return {TAction::Help, {}, {}};
    } else if (Arg == "--version") {
      return {TAction::Version, {}, {}};
    } else if (Arg == "-i" || Arg == "--in-place") {
      Options.Mode = TOutputMode::InPlace;
    } else if (Arg == "-e" || Arg == "--encoding" || Arg.starts_with("--encoding=")) {
      std::string_view Name;
      if (Arg.starts_with("--encoding=")) {
        Name = Arg.substr(Arg.find('=') + 1);
      } else if (I + 1 < Argc) {
        Name = Argv[++I];
      } else {
        return UsageError("option '" + std::string(Arg) + "' needs an encoding");
      }
      const std::optional<TEncoding> Encoding = ParseEncodingName(Name);
      if (!Encoding) return UsageError("unknown encoding '" + std::string(Name) + "'");
      Options.Encoding = *Encoding;
    } else {
      return UsageError("unknown option '" + std::string(Arg) + "'");
    }
  }
  if (Operands.empty()) return UsageError("missing COMMAND");
  const std::optional<TTransform> Transform = ParseCommand(Operands.front());
  if (!Transform) return UsageError("unknown command '" + Operands.front() + "'");
  Options.Transform = *Transform;
  Options.Files.assign(Operands.begin() + 1, Operands.end());
  if (Options.Mode == TOutputMode::InPlace && Options.Files.empty()) return UsageError("--in-place needs a FILE");
  if (Options.Mode == TOutputMode::InPlace &&
      std::find(Options.Files.begin(), Options.Files.end(), StdinOperand) != Options.Files.end()) {
    return UsageError("--in-place cannot rewrite standard input ('-')");
  }
  if (const char* Value = getenv(BlockSizeVariable)) {
    const std::optional<size_t> Size = ParseBlockSize(Value);
    if (!Size) return UsageError(std::string("invalid ") + BlockSizeVariable + " '" + Value + "'");
    Options.BlockSize = *Size;
  }
  return Parsed;
}

std::string UsageLine() {
  return "Usage: " + std::string(ProgramName) + " [OPTIONS] COMMAND [FILE...]\n";
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

}  // namespace

std::string HelpText() {
  std::string Help = UsageLine();
  Help +=
      "Rewrites the indent or the line ends of every line of each FILE (standard\n"
      "input without one), or converts the character classes of its whole text,\n"
      "and writes the result to standard output.\n\n"
      "COMMAND, by number or name, with its label in the editor's menu:\n";
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
    Help.append(Command.Summary).append("\n");
  }
  Help += "\nCOMMAND, by name, converting the character classes of the whole text:\n";
  for (const TConversionInfo& Conversion : Conversions) {
    Help += PaddedTo("  " + std::string(Conversion.Name), 22, Conversion.Name.size() + 2);
    Help.append(Conversion.Summary).append("\n");
  }
  Help +=
      "\nOptions:\n"
      "  -i, --in-place        rewrite each FILE in place; a FILE that does not change\n"
      "                        is left untouched\n"
      "  -e, --encoding=ENC    auto (the default), utf-8, utf-16le, utf-16be or cp932\n"
      "  -h, --help            show this help and exit\n"
      "      --version         show the version and exit\n\n"
      "With auto, a byte-order mark decides between UTF-8, UTF-16LE and UTF-16BE;\n"
      "without one, valid UTF-8 is read as UTF-8 and anything else as CP932. The\n"
      "output keeps the input's encoding and byte-order mark, and an input that the\n"
      "command does not change comes back byte for byte.\n\n"
      "Exit status: 0 on success, 1 when a file cannot be read or written, 2 for\n"
      "invalid input or a usage error.\n";
  return Help;
}


}  // namespace quillet
