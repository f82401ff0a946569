// quillet: the line commands of the editor menu and the character-class
// conversions as a command-line filter.
//
// quillet [OPTIONS] COMMAND [FILE...] decodes each input, rewrites the whole
// text with ApplyLineCommand or converts it with ConvertCharClass, and
// encodes the result in the input's own encoding. Exit status: 0 success,
// 1 a file could not be read or written, 2 invalid input or a usage error.
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "StringUnit/CharClass.h"
#include "tools/FileIO.h"
#include "tools/TextEncoding.h"
#include "transforms/LineCommands.h"

namespace quillet {

namespace {

enum TExitStatus : int { esOk = 0, esIoError = 1, esBadInput = 2 };

constexpr std::string_view ProgramName = "quillet";
constexpr std::string_view StdinName = "<stdin>";
constexpr std::string_view StdoutName = "<stdout>";

struct TCommandInfo {
  uint8_t Id;
  std::string_view Name;
  StringView Heading;  // the submenu holding the item; empty at the top level
  StringView Label;    // the menu text
  std::string_view Summary;
};

constexpr TCommandInfo Commands[] = {
    {1, "spaces", u"インデント種類変更", u"半角スペース",
     "convert the indent to half-width spaces"},
    {2, "fullwidth", u"インデント種類変更", u"全角スペース",
     "convert the indent to full-width spaces"},
    {3, "tabs", u"インデント種類変更", u"タブ", "convert the indent to tabs"},
    {4, "double", u"インデント数変更", u"x2", "double the indent"},
    {5, "halve", u"インデント数変更", u"1/2", "halve the indent"},
    {6, "unindent", u"", u"インデント削除", "remove the indent"},
    {7, "trim", u"", u"行末空白削除", "remove the blanks at the line ends"},
    {8, "pad", u"行末空白埋め", u"スペース", "pad line ends with spaces to the widest line"},
    {9, "pad-tabs", u"行末空白埋め", u"+1タブ", "pad line ends with tabs past the widest line"},
};

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

// What the filter does to the whole text: one line command of the menu or
// one character-class conversion.
struct TTransform {
  bool IsConversion = false;
  uint8_t Id = 0;  // the line command, or the TCharClassConversion kind
};

String ApplyTransform(const TTransform& Transform, StringView Text) {
  if (!Transform.IsConversion) return ApplyLineCommand(Text, Transform.Id);
  String Result(Text);
  ConvertCharClass(Result, static_cast<TCharClassConversion>(Transform.Id));
  return Result;
}

struct TOptions {
  TTransform Transform;
  TEncoding Encoding = TEncoding::Auto;
  bool InPlace = false;
  std::vector<std::string> Files;
};

enum class TAction { Run, Help, Version, Usage };

struct TParsedArguments {
  TAction Action = TAction::Run;
  TOptions Options;
  std::string Problem;  // for Usage
};

std::string Utf8(StringView Text) {
  std::string Bytes;
  EncodeText(Text, TEncoding::Utf8, Bytes);
  return Bytes;
}

void PrintError(std::string_view Subject, std::string_view Message) {
  std::string Line(ProgramName);
  Line.append(": ").append(Subject).append(": ").append(Message).append("\n");
  WriteAll(STDERR_FILENO, Line);
}

std::optional<TTransform> ParseCommand(std::string_view Arg) {
  for (const TCommandInfo& Command : Commands) {
    if (Arg == Command.Name || Arg == std::to_string(Command.Id)) {
      return TTransform{false, Command.Id};
    }
  }
  for (const TConversionInfo& Conversion : Conversions) {
    if (Arg == Conversion.Name) return TTransform{true, Conversion.Kind};
  }
  return std::nullopt;
}

TParsedArguments UsageError(std::string Problem) {
  return {TAction::Usage, {}, std::move(Problem)};
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
      Options.InPlace = true;
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
  if (Options.InPlace && Options.Files.empty()) return UsageError("--in-place needs a FILE");
  return Parsed;
}

std::string UsageLine() {
  return "Usage: " + std::string(ProgramName) + " [OPTIONS] COMMAND [FILE...]\n";
}

// Columns that Text takes in a terminal: two for every non-ASCII character.
size_t TerminalWidth(StringView Text) {
  return std::count_if(Text.begin(), Text.end(), [](char16_t C) { return C < 0x80; }) +
         2 * std::count_if(Text.begin(), Text.end(), [](char16_t C) { return C >= 0x80; });
}

std::string PaddedTo(std::string Text, size_t Width, size_t Columns) {
  Text.append(Width > Columns ? Width - Columns : 1, ' ');
  return Text;
}

std::string HelpText() {
  std::string Help = UsageLine();
  Help +=
      "Rewrites the indent or the line ends of every line of each FILE (standard\n"
      "input without one), or converts the character classes of its whole text,\n"
      "and writes the result to standard output.\n\n"
      "COMMAND, by number or name, with its label in the editor's menu:\n";
  StringView Heading;
  for (const TCommandInfo& Command : Commands) {
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

// One input through decode, transform and encode.
struct TFiltered {
  bool Changed = false;
  std::string Output;   // the new bytes, when Changed
  std::string Problem;  // why the input is refused; empty when it is not
};

TFiltered FilterBytes(std::string_view Input, const TOptions& Options) {
  TFiltered Result;
  const TDecodedText Decoded = DecodeInput(Input, Options.Encoding);
  const std::string Encoding = EncodingName(Decoded.Encoding);
  if (Decoded.ErrorOffset != NoError) {
    Result.Problem =
        "invalid " + Encoding + " at byte offset " + std::to_string(Decoded.ErrorOffset);
    if (Options.Encoding == TEncoding::Auto && Decoded.BomLength == 0) {
      Result.Problem += " (the input is not UTF-8 either)";
    }
    return Result;
  }
  const String NewText = ApplyTransform(Options.Transform, Decoded.Text);
  if (NewText == Decoded.Text) return Result;

  const std::string_view Body = Input.substr(Decoded.BomLength);
  if (const size_t Loss = FindRoundTripLoss(Body, Decoded.Text, Decoded.Encoding);
      Loss != NoError) {
    Result.Problem = "the " + Encoding + " character at byte offset " +
                     std::to_string(Decoded.BomLength + Loss) +
                     " would be written back in a different byte form";
    return Result;
  }
  Result.Output.reserve(Input.size() + Input.size() / 4);
  Result.Output.assign(Input.substr(0, Decoded.BomLength));
  if (!EncodeText(NewText, Decoded.Encoding, Result.Output)) {
    Result.Problem = "the result cannot be written in " + Encoding;
    return Result;
  }
  Result.Changed = true;
  return Result;
}

// One run over all inputs; the exit status is the worst seen.
class TFilterRun {
 public:
  explicit TFilterRun(const TOptions& Options) : Options_(Options) {}

  int Run() {
    if (Options_.Files.empty()) {
      FilterStdin();
    } else {
      for (const std::string& Path : Options_.Files) {
        if (StdoutBroken_) break;
        FilterFile(Path);
      }
    }
    return Status_;
  }

 private:
  void Fail(std::string_view Subject, std::string_view Message, TExitStatus Status) {
    PrintError(Subject, Message);
    Status_ = std::max<int>(Status_, Status);
  }

  void FailSystem(std::string_view Subject, std::string_view What, int Error) {
    Fail(Subject, std::string(What) + ": " + strerror(Error), esIoError);
  }

  // The filtered bytes of Input, or nullopt after reporting a refusal.
  std::optional<TFiltered> Filter(std::string_view Subject, std::string_view Input) {
    try {
      TFiltered Filtered = FilterBytes(Input, Options_);
      if (Filtered.Problem.empty()) return Filtered;
      Fail(Subject, Filtered.Problem, esBadInput);
    } catch (const std::exception& Error) {
      Fail(Subject, Error.what(), esIoError);
    }
    return std::nullopt;
  }

  void Emit(std::string_view Bytes) {
    if (const int Error = WriteAll(STDOUT_FILENO, Bytes)) {
      FailSystem(StdoutName, "write error", Error);
      StdoutBroken_ = true;
    }
  }

  void FilterStdin() {
    std::string Input;
    if (const int Error = ReadAll(STDIN_FILENO, Input)) {
      return FailSystem(StdinName, "cannot read", Error);
    }
    if (const auto Filtered = Filter(StdinName, Input)) {
      Emit(Filtered->Changed ? Filtered->Output : Input);
    }
  }

  void FilterFile(const std::string& Path) {
    std::string Input;
    if (const int Error = ReadWholeFile(Path, Input)) return FailSystem(Path, "cannot read", Error);
    const auto Filtered = Filter(Path, Input);
    if (!Filtered) return;
    if (!Options_.InPlace) return Emit(Filtered->Changed ? Filtered->Output : Input);
    if (!Filtered->Changed) return;
    if (const int Error = ReplaceFileContents(Path, Filtered->Output)) {
      FailSystem(Path, "cannot write", Error);
    }
  }

  const TOptions& Options_;
  int Status_ = esOk;
  bool StdoutBroken_ = false;
};

int PrintToStdout(const std::string& Text) {
  if (const int Error = WriteAll(STDOUT_FILENO, Text)) {
    PrintError(StdoutName, std::string("write error: ") + strerror(Error));
    return esIoError;
  }
  return esOk;
}

int Main(int Argc, char** Argv) {
  const TParsedArguments Parsed = ParseArguments(Argc, Argv);
  switch (Parsed.Action) {
    case TAction::Help:
      return PrintToStdout(HelpText());
    case TAction::Version:
      return PrintToStdout("Version " QUILLET_VERSION "\n");
    case TAction::Usage:
      PrintError("error", Parsed.Problem);
      WriteAll(STDERR_FILENO, UsageLine() + "Try '" + std::string(ProgramName) + " --help'.\n");
      return esBadInput;
    case TAction::Run:
      break;
  }
  return TFilterRun(Parsed.Options).Run();
}

}  // namespace

}  // namespace quillet

int main(int Argc, char** Argv) {
  return quillet::Main(Argc, Argv);
}
