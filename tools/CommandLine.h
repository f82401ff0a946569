// The filter's command line: its options and operands, its help, and how
// it reports a problem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/BlockFilter.h"
#include "tools/TextEncoding.h"

namespace quillet {

enum TExitStatus : int { esOk = 0, esIoError = 1, esBadInput = 2 };

inline constexpr std::string_view ProgramName = "quillet";
// The operand that stands for standard input.
inline constexpr std::string_view StdinOperand = "-";

// Bytes read at a time: what bounds the memory that an input needs, besides
// its longest line. The environment variable QUILLET_BLOCK_SIZE sets it, for
// tests that put block boundaries everywhere.
inline constexpr size_t DefaultBlockSize = size_t{1} << 20;

// What becomes of each input.
enum class TOutputMode : uint8_t {
  Write,    // the result to standard output
  InPlace,  // -i: the result back into the file
  Check,    // --check: each line that would change named; nothing written
  Diff,     // --diff: a unified diff of what would change; nothing written
};

// Lines First to Last of an input, 1-based, both included (--lines).
struct TLineSpan {
  uint64_t First = 1;
  uint64_t Last = 1;
};

inline constexpr int DefaultTabWidth = 4;
inline constexpr int MaxTabWidth = 64;

struct TOptions {
  TTransform Transform;
  size_t BlockSize = DefaultBlockSize;
  TEncoding Encoding = TEncoding::Auto;
  TOutputMode Mode = TOutputMode::Write;
  // -t: 1 to MaxTabWidth; 0 when not given (then .editorconfig's with
  // EditorConfig, else DefaultTabWidth).
  int TabWidth = 0;
  bool EditorConfig = false;  // --editorconfig
  bool Verbose = false;       // -v: name each file that -i rewrote or left unchanged
  std::vector<TLineSpan> Lines;  // --lines, in the order given; empty: every line
  std::vector<std::string> Files;
};

enum class TAction { Run, Help, Version, Usage };

struct TParsedArguments {
  TAction Action = TAction::Run;
  TOptions Options;
  std::string Problem;  // for Usage
};

// Options and operands as GNU programs take them (getopt_long): short
// options cluster and take their values attached or as the next argument,
// long ones take theirs after '=' or as the next argument and may be
// shortened to any unambiguous prefix, "--" ends the options, and options
// may follow the operands. Messages are in the user's language
// (tools/Messages.h); Argv may be reordered.
TParsedArguments ParseArguments(int Argc, char** Argv);

std::string UsageLine();
std::string HelpText();
// The lines of --version: "quillet (Quillet) VERSION", then the copyright
// and the license.
std::string VersionText();

// "quillet: Subject: Message" on standard error.
void PrintError(std::string_view Subject, std::string_view Message);
// "quillet: Problem", the usage line and where to find help, on standard
// error.
void PrintUsageError(std::string_view Problem);

}  // namespace quillet
