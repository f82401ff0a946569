// quillet: the line commands of the editor menu and the character-class
// conversions as a command-line filter.
//
// quillet [OPTIONS] COMMAND [FILE...] decodes each input, rewrites its text
// with ApplyLineCommand or converts it with ConvertCharClass, and encodes the
// result in the input's own encoding. Exit status: 0 success, 1 a file could
// not be read or written, 2 invalid input or a usage error.
//
// An input goes through about a megabyte at a time, in blocks of whole lines
// (tools/BlockFilter.h), so that a file of any size needs little memory; the
// result is byte for byte that of the whole text at once. Nothing of an
// input that turns out invalid is written:
// - standard output cannot take back what it got, so each input is first
//   read through once without writing (which commands 8 and 9 need anyway
//   to find the widest line): a regular file is read twice, and anything
//   else (a pipe) is kept in a scratch file as it is read (tools/FileIO.h);
// - a file rewritten in place is written to a new file that replaces it
//   only once all of it has gone through (tools/InPlace.h).
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "QuilletVersion.h"
#include "StringUnit/CharClass.h"
#include "tools/BlockFilter.h"
#include "tools/CommandLine.h"
#include "tools/FileIO.h"
#include "tools/InPlace.h"
#include "tools/Messages.h"
#include "tools/TextEncoding.h"
#include "transforms/CommandTable.h"
#include "transforms/LineCommands.h"

namespace quillet {

namespace {

constexpr std::string_view StdinName = "<stdin>";
constexpr std::string_view StdoutName = "<stdout>";

// Standard output, block by block.
class TStdoutSink final : public TBlockSink {
 public:
  int Put(uint64_t, std::string_view, std::string_view Output, bool) override {
    return WriteAll(STDOUT_FILENO, Output);
  }
  // Never called: standard output gets an input only after it has been
  // checked, and with it the encoding settled.
  void Discard() override {}
};

// A file rewritten in place. The new file is made at the first block that
// changes, and the bytes before that block are copied into it from the
// input: a file that does not change is not touched, nor is its folder.
class TInPlaceSink final : public TBlockSink {
 public:
  TInPlaceSink(TInput& Input, const TRewriteTarget& Target)
      : Input_(Input), Replacement_(Target, Input.Fd()) {}

  int Put(uint64_t Offset, std::string_view, std::string_view Output, bool Changed) override {
    if (!Replacement_.Begun()) {
      if (!Changed) return 0;
      if (const int Error = Replacement_.Begin()) return Error;
      if (const int Error = CopyInput(Offset)) return Error;
    }
    return Replacement_.Write(Output);
  }
  void Discard() override { Replacement_.Discard(); }
  TFileProblem Commit() { return Replacement_.Commit(); }

 private:
  static constexpr size_t CopySize = size_t{1} << 20;

  // The input's bytes before End, unchanged.
  int CopyInput(uint64_t End) {
    std::string Buffer(std::min<uint64_t>(End, CopySize), '\0');
    for (uint64_t Offset = 0; Offset < End;) {
      size_t Count = 0;
      const size_t Size = std::min<uint64_t>(Buffer.size(), End - Offset);
      if (const int Error = Input_.ReadAt(Offset, Buffer.data(), Size, Count)) return Error;
      if (Count == 0) return EIO;  // the file has shrunk meanwhile
      if (const int Error = Replacement_.Write(std::string_view(Buffer.data(), Count))) {
        return Error;
      }
      Offset += Count;
    }
    return 0;
  }

  TInput& Input_;
  TFileReplacement Replacement_;
};

// One run over all inputs; the exit status is the worst seen.
class TFilterRun {
 public:
  explicit TFilterRun(const TOptions& Options) : Options_(Options) {
    struct stat Output;
    StdoutIsFile_ = fstat(STDOUT_FILENO, &Output) == 0 && S_ISREG(Output.st_mode);
    if (StdoutIsFile_) Stdout_ = TFileId::Of(Output);
    if (Options_.Mode == TOutputMode::InPlace) RemoveTemporaryFilesOnSignals();
  }

  int Run() {
    if (Options_.Files.empty()) {
      FilterStdin();
    } else {
      for (const std::string& Path : Options_.Files) {
        if (StdoutBroken_) break;
        if (Path == StdinOperand) {
          FilterStdin();
        } else {
          FilterFile(Path);
        }
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

  // A problem of finding or replacing a file; What names the step when the
  // problem is an error alone.
  void FailFile(std::string_view Subject, std::string_view What, const TFileProblem& Problem) {
    if (!Problem.Message.empty()) return Fail(Subject, Problem.Message, esIoError);
    FailSystem(Subject, What, Problem.Error);
  }

  void FilterStdin() {
    TInput Input;
    if (const int Error = Input.OpenStdin()) return FailSystem(StdinName, "cannot read", Error);
    FilterInput(StdinName, Input, nullptr);
  }

  void FilterFile(const std::string& Path) {
    TInput Input;
    if (Options_.Mode != TOutputMode::InPlace) {
      if (const int Error = Input.OpenFile(Path)) return FailSystem(Path, "cannot read", Error);
      return FilterInput(Path, Input, nullptr);
    }
    TRewriteTarget Target;
    if (const TFileProblem Problem = Target.Open(Path)) return FailFile(Path, "cannot read", Problem);
    if (const int Error = Input.Adopt(Target.TakeFile())) {
      return FailSystem(Path, "cannot read", Error);
    }
    FilterInput(Path, Input, &Target);
  }

  // Input to standard output, or back into its file: Target.
  void FilterInput(std::string_view Subject, TInput& Input, const TRewriteTarget* Target) {
    if (!Target && StdoutIsFile_ && Input.IsRegular() && Input.Size() > 0 &&
        TFileId::Of(Input.Status()) == Stdout_) {
      return Fail(Subject, "input file is output file", esIoError);
    }
    try {
      TBlockFilter Filter(Input, Options_.Transform, Options_.Encoding, Options_.BlockSize);
      if (!Succeeded(Subject, Filter, Filter.Start(), false)) return;
      if (Target) return RewriteInPlace(Subject, *Target, Input, Filter);
      WriteToStdout(Subject, Input, Filter);
    } catch (const std::bad_alloc&) {
      Fail(Subject, "out of memory", esIoError);
    } catch (const std::exception& Error) {
      Fail(Subject, Error.what(), esIoError);
    }
  }

  // A changed text must not lose a CP932 byte form anywhere, and standard
  // output gets nothing before that is known: when the check finds such a
  // character, a dry run looks for a change first. A file that changes
  // between the passes gets no output; one that changes during the last is
  // reported, since its output may belong to no one version of it.
  void WriteToStdout(std::string_view Subject, const TInput& Input, TBlockFilter& Filter) {
    if (!Succeeded(Subject, Filter, Filter.Check(), false)) return;
    if (Filter.RoundTripLoss() != NoError) {
      const TFilterResult Trial = Filter.Run(nullptr, true);
      if (!Succeeded(Subject, Filter, Trial, false)) return;
      if (Trial.Changed) return FailRoundTrip(Subject, Filter);
    }
    if (Input.Changed()) return FailChanged(Subject, "nothing was written");
    TStdoutSink Sink;
    if (!Succeeded(Subject, Filter, Filter.Run(&Sink, false), true)) return;
    if (Input.Changed()) FailChanged(Subject, "the output may match no one version of it");
  }

  // The new content replaces the file only if the file is still the one
  // that was read, as it was read.
  void RewriteInPlace(std::string_view Path, const TRewriteTarget& Target, TInput& Input,
                      TBlockFilter& Filter) {
    TInPlaceSink Sink(Input, Target);
    const TFilterResult Result = Filter.Run(&Sink, false);
    if (!Succeeded(Path, Filter, Result, false) || !Result.Changed) return;
    if (Filter.RoundTripLoss() != NoError) return FailRoundTrip(Path, Filter);
    if (Input.Changed()) return FailChanged(Path, "it was left as it is");
    if (const TFileProblem Problem = Sink.Commit()) {
      FailFile(Path, "cannot write", Problem);
    }
  }

  void FailChanged(std::string_view Subject, std::string_view Outcome) {
    Fail(Subject, "the file changed while it was being read; " + std::string(Outcome), esIoError);
  }

  // " (line L, column C)" for the byte at Offset, or nothing when it cannot
  // be read again.
  static std::string Where(TBlockFilter& Filter, uint64_t Offset) {
    TTextPosition Position;
    if (Filter.Locate(Offset, Position) != 0) return "";
    return " (line " + std::to_string(Position.Line) + ", column " +
           std::to_string(Position.Column) + ")";
  }

  // Reports a pass that did not get through the input; true when it did.
  // ToStdout: the pass wrote to standard output rather than into Subject.
  bool Succeeded(std::string_view Subject, TBlockFilter& Filter, const TFilterResult& Result,
                 bool ToStdout) {
    const std::string Encoding = EncodingName(Filter.Encoding());
    switch (Result.Outcome) {
      case TFilterOutcome::Done:
        return true;
      case TFilterOutcome::ReadError:
        FailSystem(Subject, "cannot read", Result.Error);
        break;
      case TFilterOutcome::WriteError:
        if (ToStdout) {
          FailSystem(StdoutName, "write error", Result.Error);
          StdoutBroken_ = true;
        } else {
          FailSystem(Subject, "cannot write", Result.Error);
        }
        break;
      case TFilterOutcome::Invalid: {
        std::string Message = "invalid " + Encoding + " at byte offset " +
                              std::to_string(Result.Offset) + Where(Filter, Result.Offset);
        if (Result.Note == TGuessNote::Utf8Before) {
          Message += "; the text before it is UTF-8, so it is not read as CP932 (name its "
                     "encoding with --encoding)";
        } else if (Result.Note == TGuessNote::MostlyUtf8) {
          Message += " (the input is mostly UTF-8, and not CP932 either)";
        } else if (Result.Note == TGuessNote::NotUtf8Either) {
          Message += " (the input is not UTF-8 either)";
        }
        Fail(Subject, Message, esBadInput);
        break;
      }
      case TFilterOutcome::Binary:
        Fail(Subject,
             "binary data: a NUL at byte offset " + std::to_string(Result.Offset) +
                 Where(Filter, Result.Offset) +
                 "; name the encoding with --encoding to read it as text",
             esBadInput);
        break;
      case TFilterOutcome::MarkConflict:
        Fail(Subject,
             std::string("it starts with a ") + EncodingName(Result.Mark) +
                 " byte-order mark, but --encoding says " + Encoding,
             esBadInput);
        break;
      case TFilterOutcome::MissingMark:
        Fail(Subject,
             _("it starts with no UTF-16 byte-order mark, which --encoding utf-16 needs "
               "(name the byte order with utf-16le or utf-16be)"),
             esBadInput);
        break;
      case TFilterOutcome::Unencodable:
        Fail(Subject, "the result cannot be written in " + Encoding, esBadInput);
        break;
    }
    return false;
  }

  void FailRoundTrip(std::string_view Subject, TBlockFilter& Filter) {
    Fail(Subject,
         std::string("the ") + EncodingName(Filter.Encoding()) + " character at byte offset " +
             std::to_string(Filter.RoundTripLoss()) + Where(Filter, Filter.RoundTripLoss()) +
             " would be written back in a different byte form",
         esBadInput);
  }

  const TOptions& Options_;
  int Status_ = esOk;
  bool StdoutBroken_ = false;
  bool StdoutIsFile_ = false;
  TFileId Stdout_;
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
      return PrintToStdout(VersionText());
    case TAction::Usage:
      PrintUsageError(Parsed.Problem);
      return esBadInput;
    case TAction::Run:
      break;
  }
  return TFilterRun(Parsed.Options).Run();
}

}  // namespace

}  // namespace quillet

int main(int Argc, char** Argv) {
  quillet::StartMessages();
  try {
    return quillet::Main(Argc, Argv);
  } catch (const std::exception& Error) {
    // Each input catches its own failures: this is one outside them all.
    quillet::PrintError("error", Error.what());
    return quillet::esIoError;
  }
}
