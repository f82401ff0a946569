#include "testing/SimEditor.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <stdexcept>

namespace quillet {

void PrintTo(const PositionPair& P, std::ostream* Out) {
  *Out << "(" << P.Column << "," << P.Line << ")";
}

namespace testing {
namespace {

using Strings = std::vector<std::string>;
using namespace std::string_literals;

intptr_t Addr(const void* P) {
  return reinterpret_cast<intptr_t>(P);
}
uintptr_t WAddr(const void* P) {
  return reinterpret_cast<uintptr_t>(P);
}

PositionPair GetPosition(TSimEditor& E, uint32_t Msg, TPositionKind Kind) {
  PositionPair P{-9, -9};
  EXPECT_EQ(E.Send(Msg, Kind, Addr(&P)), 1);
  return P;
}

// Both calls of the text protocol, as a careful client makes them; the buffer
// is pre-filled with '#' so that missing terminators show.
std::u16string FetchText(TSimEditor& E, uint32_t Msg, int32_t Line = 0) {
  TLineTextRequest R{0, 1, Line};
  const bool ByRequest = Msg == MsgGetLineText;
  const intptr_t N = E.Send(Msg, ByRequest ? WAddr(&R) : 0, 0);
  if (N < 0 || N > 1000) return u"<bad length>";
  std::u16string Buffer(N + 1, u'#');
  R.Size = static_cast<int32_t>(N);
  const intptr_t Written =
      E.Send(Msg, ByRequest ? WAddr(&R) : static_cast<uintptr_t>(N), Addr(Buffer.data()));
  EXPECT_LE(Written, N);
  return Buffer;
}

// --- Lines ----------------------------------------------------------------------

TEST(SimEditorLines, SplitAtEveryBreakKind) {
  struct Case {
    std::u16string Doc;
    std::vector<std::u16string> Lines;
    std::vector<int32_t> Starts;
  };
  const Case Cases[] = {
      {u"", {u""}, {0}},
      {u"abc", {u"abc"}, {0}},
      {u"a\r\nb", {u"a", u"b"}, {0, 3}},
      {u"a\rb", {u"a", u"b"}, {0, 2}},
      {u"a\nb", {u"a", u"b"}, {0, 2}},
      {u"a\n\rb", {u"a", u"", u"b"}, {0, 2, 3}},
      {u"a\r\n", {u"a", u""}, {0, 3}},
      {u"\r\r\n\n", {u"", u"", u"", u""}, {0, 1, 3, 4}},
      {u"x\r\n\r\ny\rz\n", {u"x", u"", u"y", u"z", u""}, {0, 3, 5, 7, 9}},
  };
  for (const Case& C : Cases) {
    TSimEditor E(C.Doc);
    SCOPED_TRACE(QuoteText(C.Doc));
    EXPECT_EQ(E.LineStarts(), C.Starts);
    EXPECT_EQ(E.Send(MsgGetLineCount, pkTextLine, 0), static_cast<intptr_t>(C.Lines.size()));
    for (size_t I = 0; I < C.Lines.size(); ++I) {
      EXPECT_EQ(E.LineText(static_cast<int32_t>(I)), C.Lines[I]);
      // An empty line's second call (size 0) writes nothing.
      EXPECT_EQ(FetchText(E, MsgGetLineText, static_cast<int32_t>(I)),
                C.Lines[I] + (C.Lines[I].empty() ? u'#' : u'\0'));
    }
    EXPECT_EQ(FetchText(E, MsgGetLineText, static_cast<int32_t>(C.Lines.size())), u"#");
    EXPECT_EQ(FetchText(E, MsgGetLineText, -1), u"#");
  }
}

// --- Positions ------------------------------------------------------------------

TEST(SimEditorPositions, OffsetsToBothKinds) {
  struct Case {
    std::u16string Doc;
    int32_t Wrap, Offset;
    PositionPair Text, Editor;
  };
  const Case Cases[] = {
      {u"abcdef", 0, 6, {6, 0}, {6, 0}},
      {u"abcdef", 3, 2, {2, 0}, {2, 0}},
      {u"abcdef", 3, 3, {3, 0}, {0, 1}},  // a wrap boundary starts the next row
      {u"abcdef", 3, 6, {6, 0}, {3, 1}},  // the end of the line stays on its row
      {u"abcdefg\nxy", 3, 7, {7, 0}, {1, 2}},
      {u"abcdefg\nxy", 3, 8, {0, 1}, {0, 3}},
      {u"abc\r\n\r\nab", 2, 5, {0, 1}, {0, 2}},
      {u"abc\r\nd", 2, 4, {4, 0}, {2, 1}},  // between CR and LF: just past the end
      {u"ab", 2, 99, {2, 0}, {2, 0}},
      {u"ab", 2, -5, {0, 0}, {0, 0}},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(QuoteText(C.Doc) + " offset " + std::to_string(C.Offset));
    TSimEditor E(C.Doc, C.Wrap);
    EXPECT_EQ(E.OffsetToPosition(C.Offset, pkTextLine), C.Text);
    EXPECT_EQ(E.OffsetToPosition(C.Offset, pkEditor), C.Editor);
  }
}

TEST(SimEditorPositions, PositionsClampToOffsets) {
  struct Case {
    int32_t Wrap;
    TPositionKind Kind;
    PositionPair Position;
    int32_t Offset;
  };
  // Text lines "abcdefg", "", "xy"; rows at width 3: abc def g | (empty) | xy.
  const Case Cases[] = {
      {0, pkTextLine, {-3, -1}, 0}, {0, pkTextLine, {99, 0}, 7}, {0, pkTextLine, {1, 1}, 9},
      {0, pkTextLine, {5, 9}, 12},  {0, pkEditor, {99, 1}, 9},   {3, pkEditor, {99, 0}, 3},
      {3, pkEditor, {99, 2}, 7},    {3, pkEditor, {3, 1}, 6},    {3, pkEditor, {5, 3}, 9},
      {3, pkEditor, {1, 4}, 11},    {3, pkEditor, {-1, 99}, 10}, {3, pkTextLine, {6, 0}, 6},
  };
  for (const Case& C : Cases) {
    TSimEditor E(u"abcdefg\r\n\nxy", C.Wrap);
    SCOPED_TRACE(std::to_string(C.Wrap) + " " + std::to_string(C.Kind));
    EXPECT_EQ(E.PositionToOffset(C.Position, C.Kind), C.Offset);
    // The caret messages clamp the same way.
    E.Send(MsgSetCaretPosition, C.Kind, Addr(&C.Position));
    EXPECT_EQ(E.Caret(), C.Offset);
    EXPECT_FALSE(E.HasSelection());
  }
}

// Positions by a typewriter walk over the document, one unit at a time.
struct TWalk {
  std::vector<PositionPair> Text, Editor;
  int32_t Lines, Rows;
};

TWalk Walk(const std::u16string& Doc, int32_t Wrap) {
  TWalk W;
  int32_t Line = 0, Column = 0, Row = 0, RowColumn = 0;
  for (size_t I = 0; I <= Doc.size(); ++I) {
    const char16_t C = I < Doc.size() ? Doc[I] : 0;
    const bool Content = I < Doc.size() && C != u'\r' && C != u'\n';
    if (Content && Wrap > 0 && RowColumn == Wrap) ++Row, RowColumn = 0;
    W.Text.push_back({Column, Line});
    W.Editor.push_back({RowColumn, Row});
    if (I == Doc.size()) break;
    if (C == u'\n' || (C == u'\r' && (I + 1 == Doc.size() || Doc[I + 1] != u'\n'))) {
      ++Line, ++Row, Column = RowColumn = 0;
    } else {
      ++Column, ++RowColumn;
    }
  }
  W.Lines = Line + 1;
  W.Rows = Row + 1;
  return W;
}

TEST(SimEditorPositions, RandomDocumentsAgreeWithWalkAndRoundTrip) {
  std::mt19937 Random(20240611);
  const char16_t Alphabet[] = u"ab\r\n\u3042";
  for (int Round = 0; Round < 200; ++Round) {
    std::u16string Doc(Random() % 24, u' ');
    for (auto& C : Doc) C = Alphabet[Random() % 5];
    const int32_t Wrap = static_cast<int32_t>(Random() % 5);
    TSimEditor E(Doc, Wrap);
    const TWalk W = Walk(Doc, Wrap);
    SCOPED_TRACE(QuoteText(Doc) + " wrap " + std::to_string(Wrap));
    ASSERT_EQ(E.Send(MsgGetLineCount, pkTextLine, 0), W.Lines);
    ASSERT_EQ(E.Send(MsgGetLineCount, pkEditor, 0), W.Rows);
    for (int32_t O = 0; O <= static_cast<int32_t>(Doc.size()); ++O) {
      E.Select(O, O);
      ASSERT_EQ(GetPosition(E, MsgGetCaretPosition, pkTextLine), W.Text[O]) << O;
      ASSERT_EQ(GetPosition(E, MsgGetCaretPosition, pkEditor), W.Editor[O]) << O;
      PositionPair Converted{};
      E.Send(MsgTextLineToEditorPosition, WAddr(&W.Text[O]), Addr(&Converted));
      const bool InsideCrLf =
          O > 0 && Doc[O - 1] == u'\r' && O < static_cast<int32_t>(Doc.size()) && Doc[O] == u'\n';
      if (InsideCrLf) continue;  // not addressable by a position
      ASSERT_EQ(Converted, W.Editor[O]) << O;
      ASSERT_EQ(E.PositionToOffset(W.Text[O], pkTextLine), O);
      ASSERT_EQ(E.PositionToOffset(W.Editor[O], pkEditor), O);
    }
  }
}

// --- Selection and edits -----------------------------------------------------

TEST(SimEditorSelection, SelectionMessagesReportBothEnds) {
  TSimEditor E(u"abcdef\nghij", 4);
  const PositionPair Anchor{1, 2}, Caret{1, 0};  // rows: abcd | ef | ghij
  EXPECT_EQ(E.Send(MsgSetSelection, WAddr(&Anchor), Addr(&Caret)), 1);
  EXPECT_EQ(E.Anchor(), 8);
  EXPECT_EQ(E.Caret(), 1);
  EXPECT_EQ(E.Send(MsgQueryHasSelection, 0, 0), 1);
  EXPECT_EQ(GetPosition(E, MsgGetSelectionStart, pkTextLine), (PositionPair{1, 0}));
  EXPECT_EQ(GetPosition(E, MsgGetSelectionEnd, pkTextLine), (PositionPair{1, 1}));
  EXPECT_EQ(GetPosition(E, MsgGetSelectionEnd, pkEditor), Anchor);
  EXPECT_EQ(GetPosition(E, MsgGetCaretPosition, pkEditor), Caret);
  EXPECT_EQ(FetchText(E, MsgGetSelectedText), u"bcdef\ng"s + u'\0');
  PositionPair Untouched{-1, -1};
  EXPECT_EQ(E.Send(MsgGetSelectionStart, 1, Addr(&Untouched)), 0);  // unknown kind
  EXPECT_EQ(Untouched, (PositionPair{-1, -1}));
  E.Send(MsgSetCaretPosition, pkTextLine, Addr(&Anchor));  // line 2 clamps to line 1
  EXPECT_EQ(E.Send(MsgQueryHasSelection, 0, 0), 0);
  EXPECT_EQ(GetPosition(E, MsgGetSelectionStart, pkTextLine), (PositionPair{1, 1}));
  EXPECT_EQ(GetPosition(E, MsgGetSelectionEnd, pkEditor), (PositionPair{1, 2}));
}

TEST(SimEditorSelection, SelectCharactersClampsAtTheEnd) {
  struct Case {
    int32_t Caret, Anchor;
    intptr_t Count;
    int32_t NewCaret;
  };
  const Case Cases[] = {{0, 3, 2, 2}, {2, 0, 4, 6},  {3, 3, 99, 7},        {7, 2, 1, 7},
                        {4, 1, 0, 4}, {4, 1, -3, 4}, {0, 0, INTPTR_MAX, 7}};
  for (const Case& C : Cases) {
    TSimEditor E(u"ab\r\ncde");
    E.Select(C.Anchor, C.Caret);
    EXPECT_EQ(E.Send(MsgSelectCharacters, static_cast<uintptr_t>(C.Count), 0),
              C.NewCaret - C.Caret);
    EXPECT_EQ(E.Anchor(), C.Caret);
    EXPECT_EQ(E.Caret(), C.NewCaret);
  }
}

TEST(SimEditorSelection, ReplaceSelectionAndCommands) {
  struct Case {
    int32_t Anchor, Caret;
    uint32_t Msg;
    uintptr_t WParam;
    std::u16string Text;  // for MsgReplaceSelection
    std::u16string Doc;
    int32_t NewAnchor, NewCaret;
  };
  const std::u16string Doc = u"ab\r\ncd\nef";
  const Case Cases[] = {
      {5, 5, MsgReplaceSelection, 0, u"XY", u"ab\r\ncXYd\nef", 7, 7},
      {6, 1, MsgReplaceSelection, 0, u"-\r", u"a-\r\nef", 3, 3},
      {0, 9, MsgReplaceSelection, 0, u"", u"", 0, 0},
      {5, 5, MsgRunCommand, hcSelectLine, u"", Doc, 4, 7},
      {1, 1, MsgRunCommand, hcSelectLine, u"", Doc, 0, 4},
      {8, 8, MsgRunCommand, hcSelectLine, u"", Doc, 7, 9},
      {2, 8, MsgRunCommand, hcCancelSelection, u"", Doc, 8, 8},
      {2, 8, MsgRunCommand, 4201, u"", Doc, 2, 8},
  };
  for (const Case& C : Cases) {
    TSimEditor E(Doc);
    E.Select(C.Anchor, C.Caret);
    E.Send(C.Msg, C.WParam, Addr(C.Text.c_str()));
    SCOPED_TRACE(E.LogText());
    EXPECT_EQ(E.Document(), C.Doc);
    EXPECT_EQ(E.Anchor(), C.NewAnchor);
    EXPECT_EQ(E.Caret(), C.NewCaret);
  }
  TSimEditor E(Doc);
  E.Send(MsgReplaceSelection, 0, Addr(u"x\ny"));
  EXPECT_EQ(E.Send(MsgGetLineCount, pkTextLine, 0), 4);  // lines follow the edit
  EXPECT_EQ(E.Send(MsgQueryCommandEnabled, hcEditCommand, 0), 1);
  E.SetReadOnly(true);
  EXPECT_EQ(E.Send(MsgQueryCommandEnabled, hcEditCommand, 0), 0);
  EXPECT_EQ(E.Send(MsgQueryCommandEnabled, hcSelectLine, 0), 1);
  EXPECT_EQ(E.Send(MsgReplaceSelection, 0, Addr(u"z")), 0);
  EXPECT_EQ(E.Document(), u"x\nyab\r\ncd\nef");
}

// Each edit re-reads only the lines it touched; the table must still be the one
// a fresh editor builds, also where a CR LF pair joins or splits at the edges.
TEST(SimEditorSelection, ReplacementsKeepTheLineTableExact) {
  std::mt19937 Random(20261208);
  const auto RandomText = [&Random](uint32_t MaxLength) {
    std::u16string Text(Random() % (MaxLength + 1), u' ');
    for (auto& C : Text) C = u"\r\na\u3000"[Random() % 4];
    return Text;
  };
  for (const int32_t Wrap : {0, 3}) {
    for (int Round = 0; Round < 100; ++Round) {
      TSimEditor E(RandomText(30), Wrap);
      for (int Edit = 0; Edit < 20; ++Edit) {
        const auto Size = static_cast<int32_t>(E.Document().size());
        const std::u16string Before = E.Document();
        E.Select(static_cast<int32_t>(Random() % (Size + 1)),
                 static_cast<int32_t>(Random() % (Size + 1)));
        const std::u16string New = RandomText(4);
        SCOPED_TRACE(QuoteText(Before) + " [" + std::to_string(E.SelectionStart()) + "," +
                     std::to_string(E.SelectionEnd()) + ") := " + QuoteText(New) + " wrap " +
                     std::to_string(Wrap));
        ASSERT_EQ(E.Send(MsgReplaceSelection, 0, Addr(New.c_str())), 1);
        const TSimEditor Fresh(E.Document(), Wrap);
        ASSERT_EQ(E.LineStarts(), Fresh.LineStarts());
        ASSERT_EQ(E.LineCount(pkTextLine), Fresh.LineCount(pkTextLine));
        ASSERT_EQ(E.LineCount(pkEditor), Fresh.LineCount(pkEditor));
        for (int32_t Line = 0; Line < Fresh.LineCount(pkTextLine); ++Line)
          ASSERT_EQ(E.LineText(Line), Fresh.LineText(Line)) << Line;
        for (int32_t O = 0; O <= static_cast<int32_t>(Fresh.Document().size()); ++O) {
          ASSERT_EQ(E.OffsetToPosition(O, pkTextLine), Fresh.OffsetToPosition(O, pkTextLine)) << O;
          ASSERT_EQ(E.OffsetToPosition(O, pkEditor), Fresh.OffsetToPosition(O, pkEditor)) << O;
        }
      }
    }
  }
}

// --- Text protocol and faults ---------------------------------------------------

TEST(SimEditorTextProtocol, AnswersWithAndWithoutFaults) {
  struct Case {
    uint32_t Msg;
    TSimFaults Faults;
    intptr_t FirstAnswer;
    std::u16string Buffer;  // after the second call; pre-filled with '#'
  };
  // Line 0 is "bcあ"; the selection is all of the document.
  const std::u16string Line = u"bc\u3042", Doc = Line + u"\r\nd";
  const Case Cases[] = {
      {MsgGetLineText, {}, 3, Line + u'\0'},
      {MsgGetSelectedText, {}, 6, Doc + u'\0'},
      {MsgGetSelectedText, {.LieAboutLength = true, .ReportedLength = 2}, 2, u"bc\0"s},
      {MsgGetLineText, {.LieAboutLength = true, .ReportedLength = 5}, 5, Line + u"\0##"s},
      {MsgGetLineText, {.LieAboutLength = true, .ReportedLength = -4}, -4, u"<bad length>"},
      {MsgGetSelectedText,
       {.LieAboutLength = true, .ReportedLength = 1 << 30},
       1 << 30,
       u"<bad length>"},
      {MsgGetSelectedText, {.WriteLimit = 1}, 6, u"b\0#####"s},
      {MsgGetLineText, {.OmitTerminator = true}, 3, Line + u'#'},
      {MsgGetSelectedText, {.WriteLimit = 2, .OmitTerminator = true}, 6, u"bc#####"},
      {MsgGetSelectedText,
       {.TextMessage = MsgGetLineText, .WriteLimit = 0, .OmitTerminator = true},
       6,
       Doc + u'\0'},
      {MsgGetLineText, {.TextMessage = MsgGetLineText, .WriteLimit = 0}, 3, u"\0###"s},
      {MsgGetLineText, {.WriteLimit = 0, .OmitTerminator = true}, 3, u"####"},
  };
  for (const Case& C : Cases) {
    TSimEditor E(Doc);
    E.Select(0, 6);
    E.Faults() = C.Faults;
    TLineTextRequest R{0, 1, 0};
    EXPECT_EQ(E.Send(C.Msg, C.Msg == MsgGetLineText ? WAddr(&R) : 0, 0), C.FirstAnswer);
    EXPECT_EQ(FetchText(E, C.Msg), C.Buffer);
    EXPECT_EQ(E.Document(), Doc) << E.LogText();
  }
  // Flags other than 1 get the break too; an empty answer's second call
  // (size 0) is a length query again and writes nothing.
  TSimEditor E(Doc);
  std::u16string Buffer(8, u'#');
  TLineTextRequest R{7, 0, 0};
  EXPECT_EQ(E.Send(MsgGetLineText, WAddr(&R), Addr(Buffer.data())), 5);
  EXPECT_EQ(Buffer, Line + u"\r\n\0##"s);
  EXPECT_EQ(FetchText(E, MsgGetSelectedText), u"\0"s);
  EXPECT_EQ(FetchText(E, MsgGetLineText, 2), u"#");
  E.Select(0, 2);  // a negative size writes nothing at all
  EXPECT_EQ(E.Send(MsgGetSelectedText, static_cast<uintptr_t>(-1), Addr(Buffer.data())), 0);
  EXPECT_EQ(Buffer, Line + u"\r\n\0##"s);
}

TEST(SimEditorLog, TextProtocolBreaches) {
  char16_t Buffer[8];
  const auto Selected = [&](TSimEditor& E, uintptr_t Size, bool WithBuffer) {
    E.Send(MsgGetSelectedText, Size, WithBuffer ? Addr(Buffer) : 0);
  };
  const auto Line = [&](TSimEditor& E, int32_t Index, int32_t Size, bool WithBuffer) {
    TLineTextRequest R{Size, 1, Index};
    E.Send(MsgGetLineText, WAddr(&R), WithBuffer ? Addr(Buffer) : 0);
  };
  struct Row {
    const char* Name;
    std::function<void(TSimEditor&)> Calls;
    std::string Breach;  // a part of the description; "" for none
  };
  const Row Rows[] = {
      {"both calls of each",
       [&](TSimEditor& E) { FetchText(E, MsgGetSelectedText), FetchText(E, MsgGetLineText, 1); },
       ""},
      {"an empty line's two calls",
       [&](TSimEditor& E) { Line(E, 2, 0, false), Line(E, 2, 0, true); }, ""},
      {"first call alone", [&](TSimEditor& E) { Selected(E, 0, false); },
       "no second call for length 3"},
      {"empty line, first call alone",
       [&](TSimEditor& E) { Line(E, 2, 0, false), Selected(E, 0, false); },
       "no second call for length 0"},
      {"wrong size", [&](TSimEditor& E) { Selected(E, 0, false), Selected(E, 2, true); },
       "sends 2, not 3"},
      {"another line", [&](TSimEditor& E) { Line(E, 1, 0, false), Line(E, 0, 2, true); },
       "sends line 0 size 2, not line 1 size 2"},
      {"second call alone", [&](TSimEditor& E) { Selected(E, 3, true); }, "without its first"},
      {"second call after a negative length",
       [&](TSimEditor& E) {
         E.Faults().LieAboutLength = true;
         E.Faults().ReportedLength = -1;
         Selected(E, 0, false), Selected(E, 0, true);
       },
       "after a negative length"},
  };
  for (const Row& R : Rows) {
    TSimEditor E(u"a\r\nbc\r\n");
    E.Select(0, 3);
    R.Calls(E);
    const std::string Breach = TextProtocolBreach(E.Log());
    if (R.Breach.empty())
      EXPECT_EQ(Breach, "") << R.Name;
    else
      EXPECT_NE(Breach.find(R.Breach), std::string::npos) << R.Name << ": " << Breach;
  }
}

TEST(SimEditorFaults, ThrowsAtTheNthMessageOnly) {
  TSimEditor E(u"abc");
  E.Faults().ThrowAtMessage = 2;
  const PositionPair P{2, 0};
  EXPECT_EQ(E.Send(MsgSetRedraw, 0, 0), 0);
  EXPECT_THROW(E.Send(MsgSetCaretPosition, pkTextLine, Addr(&P)), std::runtime_error);
  EXPECT_EQ(E.Caret(), 0);  // the throwing message had no effect
  EXPECT_EQ(E.Send(MsgSetRedraw, 1, 0), 0);
  EXPECT_TRUE(E.Redraw());
  EXPECT_EQ(E.Calls(), (Strings{"MsgSetRedraw 0", "MsgSetCaretPosition throws", "MsgSetRedraw 1"}));
}

// --- Log and state --------------------------------------------------------------

TEST(SimEditorLog, DecodesEveryMessage) {
  TSimEditor E(u"ab\ncd", 1);
  E.SetViewRows(2);
  const PositionPair In{0, 1}, Anchor{0, 1};
  PositionPair Out{};
  TViewRecord View{{7, 8}};
  TLineTextRequest R{0, 1, 1};
  E.Send(MsgSetRedraw, 0, 0);
  E.Send(MsgGetViewRecord, 0, Addr(&View));
  E.Send(MsgTextLineToEditorPosition, WAddr(&In), Addr(&Out));
  E.Send(MsgSetSelection, WAddr(&Anchor), Addr(&Out));  // caret to row 2: the view scrolls
  E.Send(MsgGetSelectionEnd, pkTextLine, Addr(&Out));
  E.Send(MsgGetLineText, WAddr(&R), 0);
  char16_t Buffer[4];
  E.Send(MsgGetSelectedText, 3, Addr(Buffer));
  E.Send(MsgReplaceSelection, 0, Addr(u"\"\u00e9\t\U0001F600\x01"));
  E.Send(MsgReportEventValue, 5, 0);
  E.Send(MsgQueryCommandEnabled, 4201, 0);
  E.Send(MsgRunCommand, 4136, 0);
  E.Send(MsgSelectCharacters, 2, 0);
  E.Send(MsgGetViewRecord, 0, Addr(&View));
  E.Send(MsgSetViewRecord, 0, Addr(&View));
  E.Send(MsgGetLineCount, pkEditor, 0);
  E.Send(9999, 1, 2);
  EXPECT_EQ(E.LogText(),
            "MsgSetRedraw 0 = 0\n"
            "MsgGetViewRecord -> {0,0} = 1\n"
            "MsgTextLineToEditorPosition (0,1) -> (0,2) = 1\n"
            "MsgSetSelection (0,1) (0,2) = 1\n"
            "MsgGetSelectionEnd pkTextLine -> (0,1) = 1\n"
            "MsgGetLineText line 1 size 0 = 2\n"
            "MsgGetSelectedText size 3 -> \"b\\n\" = 2\n"
            "MsgReplaceSelection \"\\\"é\\t😀\\u0001\" = 1\n"
            "MsgReportEventValue 5 = 0\n"
            "MsgQueryCommandEnabled 4201 = 1\n"
            "MsgRunCommand 4136 = 1\n"
            "MsgSelectCharacters 2 = 0\n"
            "MsgGetViewRecord -> {7,0} = 1\n"
            "MsgSetViewRecord {7,0} = 1\n"
            "MsgGetLineCount pkEditor = 9\n"
            "9999 = 0\n");
  EXPECT_EQ(E.LastReportedEvent(), 5u);
  EXPECT_EQ(E.MessageNames().front(), "MsgSetRedraw");
  EXPECT_EQ(E.MessageCount(), 16);
}

}  // namespace
}  // namespace testing
}  // namespace quillet
