// The line list on arbitrary texts, delimiters and edits.
//
// Input: a text-mode byte (FuzzSupport.h); a delimiter count (0..4) and the
// delimiters, up to 3 units each; an edit count (0..15) and three bytes per
// edit; then the text.
//
// Properties:
// - Text: the items are the reference lines (each keeps its break, no empty
//   item), reading Text gives the text back, and so does GetDelimitedText("");
// - SetDelimitedText: the items are those of a reference splitter, no item
//   contains a delimiter, GetDelimitedText(D) joins them with D for every D
//   tried, and with a single delimiter D it gives the text back;
// - edits (Add, Insert, Delete, Exchange, Move, Items write, Count write,
//   IndexOf, Clear, Assign) agree with a vector of strings; a bad index or
//   count raises the list error and changes nothing.
#include "StringUnit/Assertion.h"
#include "TemplateList/StringRecordList.h"
#include "fuzz/FuzzSupport.h"

namespace quillet::fuzz {
namespace {

constexpr size_t MaxInputSize = 4096;
using Items = std::vector<String>;

Items ItemsOf(const TRecordList& List) {
  Items Result;
  for (int32_t I = 0; I < List.Count(); ++I) Result.push_back(List.Items(I));
  return Result;
}

String Join(const Items& Pieces, StringView Separator) {
  String Result;
  for (size_t I = 0; I < Pieces.size(); ++I) {
    if (I > 0) Result += Separator;
    Result += Pieces[I];
  }
  return Result;
}

// The items as one string for failure reports: each one followed by '|'.
String Show(const Items& Pieces) {
  String Result;
  for (const String& Piece : Pieces) Result += Piece + u'|';
  return Result;
}

// Splits at the delimiters, dropping them: at each position the first
// non-empty delimiter that occurs there wins.
Items SplitDelimited(StringView Text, const Items& Delimiters) {
  Items Result;
  size_t Start = 0;
  size_t Pos = 0;
  while (Pos < Text.size()) {
    size_t Found = 0;
    for (const String& D : Delimiters) {
      if (!D.empty() && Text.substr(Pos).starts_with(D)) {
        Found = D.size();
        break;
      }
    }
    if (Found == 0) {
      ++Pos;
      continue;
    }
    Result.emplace_back(Text.substr(Start, Pos - Start));
    Pos += Found;
    Start = Pos;
  }
  Result.emplace_back(Text.substr(Start));
  return Result;
}

void CheckLines(StringView Text) {
  TCommonStringRecordList List;
  List.SetText(Text);
  const Items Lines = ItemsOf(List);
  ExpectEqual("Text splits into the reference lines", Text, Show(SplitLines(Text)), Show(Lines));
  for (size_t I = 0; I < Lines.size(); ++I) {
    const StringView Body = StringView(Lines[I]).substr(0, Lines[I].size() - BreakLength(Lines[I]));
    Expect(!Lines[I].empty() && Body.find_first_of(u"\r\n") == Body.npos &&
               (BreakLength(Lines[I]) > 0 || I + 1 == Lines.size()),
           "each line ends in its one break, the last one perhaps in none", Text);
  }
  ExpectEqual("reading Text after setting it gives the text back", Text, Text, List.Text());
  ExpectEqual("GetDelimitedText(\"\") joins the lines", Text, Text, List.GetDelimitedText(u""));
}

void CheckDelimited(StringView Text, const Items& Delimiters) {
  TCommonStringRecordList List;
  List.SetDelimitedText(Text, Delimiters);
  const Items Pieces = ItemsOf(List);
  const Items Expected = SplitDelimited(Text, Delimiters);
  ExpectEqual("SetDelimitedText splits as the reference", Text, Show(Expected), Show(Pieces));
  for (const String& Piece : Pieces)
    for (const String& D : Delimiters)
      Expect(D.empty() || Piece.find(D) == Piece.npos, "no item contains a delimiter", Text);
  for (const String& D : Delimiters)
    ExpectEqual("GetDelimitedText puts the delimiter between the items", Text, Join(Expected, D),
                List.GetDelimitedText(D));
  if (Delimiters.size() == 1 && !Delimiters[0].empty())
    ExpectEqual("one delimiter: the text comes back", Text, Text,
                List.GetDelimitedText(Delimiters[0]));
}

// One edit on both the list and the model; a refused edit must raise the
// list error and leave the list as it was.
void ApplyEdit(TCommonStringRecordList& List, Items& Model, uint8_t Op, uint8_t A, uint8_t B,
               const Items& Pool, StringView Text) {
  const auto Count = static_cast<int32_t>(Model.size());
  // Mostly valid indexes; Count itself and -1 now and then.
  const int32_t I = A % (Count + 2) - (A >= 0xF0 ? Count + 2 : 0);
  const int32_t J = B % (Count + 2) - (B >= 0xF0 ? Count + 2 : 0);
  const String& Item = Pool[B % Pool.size()];
  const bool InRange = I >= 0 && I < Count;
  const bool BothInRange = InRange && J >= 0 && J < Count;
  try {
    switch (Op % 9) {
      case 0:
        Expect(List.Add(Item) == Count, "Add returns the new index", Text);
        Model.push_back(Item);
        break;
      case 1:
        List.Insert(I, Item);
        Expect(I >= 0 && I <= Count, "Insert refuses a bad index", Text);
        Model.insert(Model.begin() + I, Item);
        break;
      case 2:
        List.Delete(I);
        Expect(InRange, "Delete refuses a bad index", Text);
        Model.erase(Model.begin() + I);
        break;
      case 3:
        List.Exchange(I, J);
        Expect(BothInRange, "Exchange refuses a bad index", Text);
        std::swap(Model[I], Model[J]);
        break;
      case 4:
        List.Move(I, J);
        Expect(BothInRange || I == J, "Move refuses a bad index", Text);
        if (I != J) {
          String Moved = Model[I];
          Model.erase(Model.begin() + I);
          Model.insert(Model.begin() + J, std::move(Moved));
        }
        break;
      case 5:
        List.SetItems(I, Item);
        Expect(InRange, "Items write refuses a bad index", Text);
        Model[I] = Item;
        break;
      case 6:
        List.SetCount(I + 1);
        Expect(I + 1 >= 0, "Count write refuses a negative count", Text);
        Model.resize(I + 1);
        break;
      case 7: {
        const auto Found = std::find(Model.begin(), Model.end(), Item);
        const int32_t Expected =
            Found == Model.end() ? -1 : static_cast<int32_t>(Found - Model.begin());
        Expect(List.IndexOf(Item) == Expected, "IndexOf finds the lowest equal item", Text);
        break;
      }
      default:
        List.Clear();
        Model.clear();
        break;
    }
  } catch (const EAssertionFailed&) {
    Expect(Op % 9 != 0 && Op % 9 != 7 && Op % 9 != 8, "only index and count errors raise", Text);
  }
  ExpectEqual("the list agrees with its model", Text, Show(Model), Show(ItemsOf(List)));
}

void CheckEdits(StringView Text, TFuzzInput& Input) {
  Items Pool = SplitLines(Text);
  Pool.push_back(u"");
  TCommonStringRecordList List;
  List.SetText(Text);
  Items Model = SplitLines(Text);
  while (Input.Left() > 0) {
    const uint8_t Op = Input.Byte();
    const uint8_t A = Input.Byte();
    ApplyEdit(List, Model, Op, A, Input.Byte(), Pool, Text);
  }
  TCommonStringRecordList Copy;
  Copy.Assign(&List);
  if (List.Count() > 0) List.SetItems(0, List.Items(0) + u'x');
  ExpectEqual("a copy keeps its items when the original changes", Text, Show(Model),
              Show(ItemsOf(Copy)));
  ExpectEqual("Text joins the edited items", Text, Join(Model, u""), Copy.Text());
}

}  // namespace
}  // namespace quillet::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  using namespace quillet::fuzz;
  if (Size > MaxInputSize) return 0;
  TFuzzInput Input(Data, Size);
  const bool Raw = Input.Flag();
  Items Delimiters(Input.Choose(5));
  for (quillet::String& D : Delimiters) D = Input.ShortText(Raw, 3);
  TFuzzInput Edits = Input.Take(3 * static_cast<size_t>(Input.Choose(16)));
  const quillet::String Text = Input.Text(Raw);
  CheckLines(Text);
  CheckDelimited(Text, Delimiters);
  CheckEdits(Text, Edits);
  return 0;
}
