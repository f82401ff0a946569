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
#include "tools/Diff.h"
#include "tools/EditorConfig.h"
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

// Standard output.
class TStdoutSink final : public TByteSink {
 public:
  int Write(std::string_view Bytes) override { return WriteAll(STDOUT_FILENO, Bytes); }
};

// A file rewritten in place. The new text is compared with the old as it
// comes, and the new file is made only where they first differ, with the
// bytes before that copied from the input: a file that does not change is
// not touched, nor is its folder.
class TInPlaceSink final : public TByteSink {
 public:
  TInPlaceSink(TInput& Input, const TRewriteTarget& Target)
      : Input_(Input), Replacement_(Target, Input.Fd()) {}

  int Write(std::string_view Bytes) override {
    if (!Replacement_.Begun()) {
      size_t Same = 0;
      if (const int Error = Matching(Bytes, Same)) return Error;
      Unchanged_ += Same;
      if (Same == Bytes.size()) return 0;
      if (const int Error = Begin()) return Error;
      Bytes.remove_prefix(Same);
    }
    return Replacement_.Write(Bytes);
  }
  void Discard() override {
    Replacement_.Discard();
    Unchanged_ = 0;
  }
  // After the pass: whether the new text differs from the old, which a new
  // text that is the old one cut short does too.
  int Finish(bool& Changed) {
    if (!Replacement_.Begun() && Unchanged_ != Input_.Size()) {
      if (const int Error = Begin()) return Error;
    }
    Changed = Replacement_.Begun();
    return 0;
  }
  TFileProblem Commit() { return Replacement_.Commit(); }

 private:
  static constexpr size_t CopySize = size_t{1} << 20;

  // How many of Bytes are the input's from Unchanged_ on.
  int Matching(std::string_view Bytes, size_t& Same) {
    if (Buffer_.size() < CopySize) Buffer_.resize(CopySize);
    Same = 0;
    while (Same < Bytes.size()) {
      size_t Count = 0;
      const size_t Want = std::min(Bytes.size() - Same, Buffer_.size());
      if (const int Error = Input_.ReadAt(Unchanged_ + Same, Buffer_.data(), Want, Count)) {
        return Error;
      }
      const auto Differ = std::mismatch(Buffer_.data(), Buffer_.data() + Count, Bytes.data() + Same);
      Same += static_cast<size_t>(Differ.first - Buffer_.data());
      if (Differ.first != Buffer_.data() + Count || Count < Want) break;
    }
    return 0;
  }

  // The new file, with the input's bytes before Unchanged_.
  int Begin() {
    if (const int Error = Replacement_.Begin()) return Error;
    if (Buffer_.size() < CopySize) Buffer_.resize(CopySize);
    for (uint64_t Offset = 0; Offset < Unchanged_;) {
      size_t Count = 0;
      const size_t Size = std::min<uint64_t>(Buffer_.size(), Unchanged_ - Offset);
      if (const int Error = Input_.ReadAt(Offset, Buffer_.data(), Size, Count)) return Error;
      if (Count == 0) return EIO;  // the file has shrunk meanwhile
      if (const int Error = Replacement_.Write(std::string_view(Buffer_.data(), Count))) {
        return Error;
      }
      Offset += Count;
    }
    return 0;
  }

  TInput& Input_;
  TFileReplacement Replacement_;
  uint64_t Unchanged_ = 0;  // the new text's bytes so far, when they are the old ones
  std::string Buffer_;
};

// The lines that --check names: "FILE:LINE: what", on standard output.
class TCheckReport final : public TChangeReport {
 public:
  explicit TCheckReport(std::string_view Subject) : Subject_(Subject) {}

  void LineChanged(uint64_t Line, uint8_t Kinds) override {
    std::string What;
    const auto Add = [&What](const char* Kind) {
      What = What.empty() ? Kind : Format(_("%1$s, %2$s"), {What, Kind});
    };
    if (Kinds & lkIndent) Add(_("indent"));
    if (Kinds & lkTrailingBlanks) Add(_("blanks at the end"));
    if (Kinds & lkPadding) Add(_("padding"));
    if (Kinds & lkCharacters) Add(_("characters"));
    Text_.append(Subject_).append(":").append(std::to_string(Line)).append(": ");
    Text_.append(What).append("\n");
    if (Text_.size() >= FlushSize) Flush();
  }
  int Flush() {
    const int Error = WriteAll(STDOUT_FILENO, Text_);
    Text_.clear();
    if (Error != 0 && Error_ == 0) Error_ = Error;
    return Error_;
  }

 private:
  static constexpr size_t FlushSize = size_t{64} << 10;
  const std::string_view Subject_;
  std::string Text_;
  int Error_ = 0;
};

// One run over all inputs; the exit status is the worst seen, or with
// --check and --diff 0, 1 when something would change, 2 on any error.
class TFilterRun {
 public:
  explicit TFilterRun(const TOptions& Options) : Options_(Options) {
    struct stat Output;
    StdoutIsFile_ = fstat(STDOUT_FILENO, &Output) == 0 && S_ISREG(Output.st_mode);
    if (StdoutIsFile_) Stdout_ = TFileId::Of(Output);
    if (Options_.Mode == TOutputMode::InPlace) RemoveTemporaryFilesOnSignals();
    for (const TLineSpan& Span : Options_.Lines) Lines_.push_back({Span.First, Span.Last});
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
    if (Reports()) return Status_ != esOk ? esBadInput : WouldChange_ ? esIoError : esOk;
    return Status_;
  }

 private:
  // --check and --diff: nothing is written but what would change.
  bool Reports() const {
    return Options_.Mode == TOutputMode::Check || Options_.Mode == TOutputMode::Diff;
  }

  void Fail(std::string_view Subject, std::string_view Message, TExitStatus Status) {
    PrintError(Subject, Message);
    Status_ = std::max<int>(Status_, Status);
  }

  void FailSystem(std::string_view Subject, const char* What, int Error) {
    Fail(Subject, Format(What, {strerror(Error)}), esIoError);
  }

  // A problem of finding or replacing a file; What names the step when the
  // problem is an error alone.
  void FailFile(std::string_view Subject, const char* What, const TFileProblem& Problem) {
    if (!Problem.Message.empty()) return Fail(Subject, Problem.Message, esIoError);
    FailSystem(Subject, What, Problem.Error);
  }

  void FilterStdin() {
    TInput Input;
    if (const int Error = Input.OpenStdin()) {
      return FailSystem(StdinName, _("cannot read: %1$s"), Error);
    }
    FilterInput(StdinName, std::string(StdinOperand), Input, nullptr);
  }

  void FilterFile(const std::string& Path) {
    TInput Input;
    if (Options_.Mode != TOutputMode::InPlace) {
      if (const int Error = Input.OpenFile(Path)) {
        return FailSystem(Path, _("cannot read: %1$s"), Error);
      }
      return FilterInput(Path, Path, Input, nullptr);
    }
    TRewriteTarget Target;
    if (const TFileProblem Problem = Target.Open(Path)) {
      return FailFile(Path, _("cannot read: %1$s"), Problem);
    }
    if (const int Error = Input.Adopt(Target.TakeFile())) {
      return FailSystem(Path, _("cannot read: %1$s"), Error);
    }
    FilterInput(Path, Path, Input, &Target);
  }

  // The tab width for the file at Path: -t, else its .editorconfig's with
  // --editorconfig, else the default; 0 after a problem, reported.
  int TabWidthFor(std::string_view Subject, const std::string& Path) {
    if (Options_.TabWidth > 0) return Options_.TabWidth;
    if (!Options_.EditorConfig || Path == StdinOperand) return DefaultTabWidth;
    const TEditorConfigTabWidth Found = FindEditorConfigTabWidth(Path);
    if (!Found.Problem.empty()) {
      Fail(Subject, Found.Problem, esBadInput);
      return 0;
    }
    return Found.Width > 0 ? Found.Width : DefaultTabWidth;
  }

  // Input to standard output, back into its file (Target), or to the report
  // of what would change. Subject names the input in messages; Path is its
  // operand.
  void FilterInput(std::string_view Subject, const std::string& Path, TInput& Input,
                   const TRewriteTarget* Target) {
    if (!Target && !Reports() && StdoutIsFile_ && Input.IsRegular() && Input.Size() > 0 &&
        TFileId::Of(Input.Status()) == Stdout_) {
      return Fail(Subject, _("input file is output file"), esIoError);
    }
    TFilterSettings Settings;
    Settings.Transform = Options_.Transform;
    Settings.Requested = Options_.Encoding;
    Settings.BlockSize = Options_.BlockSize;
    Settings.TabWidth = TabWidthFor(Subject, Path);
    Settings.Lines = Lines_;
    if (Settings.TabWidth == 0) return;
    try {
      TBlockFilter Filter(Input, Settings);
      if (!Succeeded(Subject, Filter, Filter.Start(), false)) return;
      switch (Options_.Mode) {
        case TOutputMode::Write:
          return WriteToStdout(Subject, Input, Filter);
        case TOutputMode::InPlace:
          return RewriteInPlace(Subject, *Target, Input, Filter);
        case TOutputMode::Check:
          return CheckChanges(Subject, Path, Filter);
        case TOutputMode::Diff:
          return WriteDiff(Subject, Path, Input, Filter);
      }
    } catch (const std::bad_alloc&) {
      Fail(Subject, _("out of memory"), esIoError);
    } catch (const std::exception& Error) {
      Fail(Subject, Error.what(), esIoError);
    }
  }

  // A conversion's changed text must not lose a CP932 byte form anywhere,
  // and standard output gets nothing before that is known: when the check
  // finds such a character, a dry run looks for a change first. A file that
  // changes between the passes gets no output; one that changes during the
  // last is reported, since its output may belong to no one version of it.
  void WriteToStdout(std::string_view Subject, const TInput& Input, TBlockFilter& Filter) {
    if (!CheckedWithoutLoss(Subject, Filter)) return;
    if (Input.Changed()) return FailChanged(Subject, _("nothing was written"));
    TStdoutSink Sink;
    if (!Succeeded(Subject, Filter, Filter.Run(&Sink, nullptr), true)) return;
    if (Input.Changed()) FailChanged(Subject, _("the output may match no one version of it"));
  }

  // Check, and the dry run for a lost byte form; true when the input may go.
  bool CheckedWithoutLoss(std::string_view Subject, TBlockFilter& Filter) {
    if (!Succeeded(Subject, Filter, Filter.Check(), false)) return false;
    if (Filter.RoundTripLoss() == NoError) return true;
    const TFilterResult Trial = Filter.Run(nullptr, nullptr, true);
    if (!Succeeded(Subject, Filter, Trial, false)) return false;
    if (Trial.Changed) FailRoundTrip(Subject, Filter);
    return !Trial.Changed;
  }

  // The new content replaces the file only if the file is still the one
  // that was read, as it was read.
  void RewriteInPlace(std::string_view Path, const TRewriteTarget& Target, TInput& Input,
                      TBlockFilter& Filter) {
    TInPlaceSink Sink(Input, Target);
    const TFilterResult Result = Filter.Run(&Sink, nullptr);
    if (!Succeeded(Path, Filter, Result, false)) return;
    bool Changed = false;
    if (const int Error = Sink.Finish(Changed)) {
      return FailSystem(Path, _("cannot write: %1$s; it was left as it is"), Error);
    }
    if (!Changed) return Tell(Path, _("%1$s: unchanged"));
    if (Filter.RoundTripLoss() != NoError) return FailRoundTrip(Path, Filter);
    if (Input.Changed()) return FailChanged(Path, _("it was left as it is"));
    if (const TFileProblem Problem = Sink.Commit()) {
      return FailFile(Path, _("cannot write: %1$s; it was left as it is"), Problem);
    }
    Tell(Path, _("%1$s: rewritten"));
  }

  // With -v, what became of Path, on standard output.
  void Tell(std::string_view Path, const char* What) {
    if (Options_.Verbose) WriteAll(STDOUT_FILENO, Format(What, {Path}) + "\n");
  }

  // The report names the input as its operand; standard input as "-".
  void CheckChanges(std::string_view Subject, const std::string& Path, TBlockFilter& Filter) {
    if (!CheckedWithoutLoss(Subject, Filter)) return;
    TCheckReport Report(Path);
    const TFilterResult Result = Filter.Run(nullptr, &Report);
    if (const int Error = Report.Flush()) {
      FailSystem(StdoutName, _("write error: %1$s"), Error);
      StdoutBroken_ = true;
      return;
    }
    if (!Succeeded(Subject, Filter, Result, true)) return;
    WouldChange_ = WouldChange_ || Result.Changed;
  }

  // The diff names the input as its operand; standard input as "-".
  void WriteDiff(std::string_view Subject, const std::string& Path, TInput& Input,
                 TBlockFilter& Filter) {
    if (!CheckedWithoutLoss(Subject, Filter)) return;
    TDiffWriter Diff(Input, Path, STDOUT_FILENO);
    TFilterResult Result = Filter.Run(&Diff, nullptr);
    if (Result.Outcome == TFilterOutcome::Done) {
      if (const int Error = Diff.Finish()) Result = {TFilterOutcome::WriteError, Error};
    }
    if (!Succeeded(Subject, Filter, Result, true)) return;
    WouldChange_ = WouldChange_ || Diff.Differs();
  }

  void FailChanged(std::string_view Subject, const char* Outcome) {
    Fail(Subject, Format(_("the file changed while it was being read; %1$s"), {Outcome}),
         esIoError);
  }

  // " (line L, column C)" for the byte at Offset, or nothing when it cannot
  // be read again.
  static std::string Where(TBlockFilter& Filter, uint64_t Offset) {
    TTextPosition Position;
    if (Filter.Locate(Offset, Position) != 0) return "";
    return Format(_(" (line %1$s, column %2$s)"),
                  {std::to_string(Position.Line), std::to_string(Position.Column)});
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
        FailSystem(Subject, _("cannot read: %1$s"), Result.Error);
        break;
      case TFilterOutcome::WriteError:
        if (ToStdout) {
          FailSystem(StdoutName, _("write error: %1$s"), Result.Error);
          StdoutBroken_ = true;
        } else {
          FailSystem(Subject, _("cannot write: %1$s; it was left as it is"), Result.Error);
        }
        break;
      case TFilterOutcome::Invalid: {
        const std::string Offset = std::to_string(Result.Offset);
        const std::string Place = Where(Filter, Result.Offset);
        const char* Message = _("invalid %1$s at byte offset %2$s%3$s");
        if (Result.Note == TGuessNote::Utf8Before) {
          Message = _("invalid %1$s at byte offset %2$s%3$s; the text before it is UTF-8, so it "
                      "is not read as CP932 (name its encoding with --encoding)");
        } else if (Result.Note == TGuessNote::MostlyUtf8) {
          Message = _("invalid %1$s at byte offset %2$s%3$s (the input is mostly UTF-8, and not "
                      "CP932 either)");
        } else if (Result.Note == TGuessNote::NotUtf8Either) {
          Message = _("invalid %1$s at byte offset %2$s%3$s (the input is not UTF-8 either)");
        }
        Fail(Subject, Format(Message, {Encoding, Offset, Place}), esBadInput);
        break;
      }
      case TFilterOutcome::Binary:
        Fail(Subject,
             Format(_("binary data: a NUL at byte offset %1$s%2$s; name the encoding with "
                      "--encoding to read it as text"),
                    {std::to_string(Result.Offset), Where(Filter, Result.Offset)}),
             esBadInput);
        break;
      case TFilterOutcome::MarkConflict:
        Fail(Subject,
             Format(_("it starts with a %1$s byte-order mark, but --encoding says %2$s"),
                    {EncodingName(Result.Mark), Encoding}),
             esBadInput);
        break;
      case TFilterOutcome::MissingMark:
        Fail(Subject,
             _("it starts with no UTF-16 byte-order mark, which --encoding utf-16 needs "
               "(name the byte order with utf-16le or utf-16be)"),
             esBadInput);
        break;
      case TFilterOutcome::Unencodable:
        Fail(Subject, Format(_("the result cannot be written in %1$s"), {Encoding}), esBadInput);
        break;
    }
    return false;
  }

  void FailRoundTrip(std::string_view Subject, TBlockFilter& Filter) {
    const uint64_t Offset = Filter.RoundTripLoss();
    Fail(Subject,
         Format(_("the %1$s character at byte offset %2$s%3$s would be written back in a "
                  "different byte form"),
                {EncodingName(Filter.Encoding()), std::to_string(Offset), Where(Filter, Offset)}),
         esBadInput);
  }

  const TOptions& Options_;
  std::vector<TLineRange> Lines_;
  int Status_ = esOk;
  bool WouldChange_ = false;  // --check, --diff: some input would change
  bool StdoutBroken_ = false;
  bool StdoutIsFile_ = false;
  TFileId Stdout_;
};

int PrintToStdout(const std::string& Text) {
  if (const int Error = WriteAll(STDOUT_FILENO, Text)) {
    PrintError(StdoutName, Format(_("write error: %1$s"), {strerror(Error)}));
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
  if (Parsed.Options.Transform.IsConversion && !Parsed.Options.Lines.empty()) {
    PrintUsageError(_("--lines works with the line commands only"));
    return esBadInput;
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
    quillet::WriteAll(STDERR_FILENO, std::string(quillet::ProgramName) + ": " + Error.what() + "\n");
    return quillet::esIoError;
  }
}
