// Covered by tests/StringRecordList_test.cpp.
#include "TemplateList/StringRecordList.h"

#include <functional>
#include <memory>
#include <utility>

namespace quillet {

namespace {

// The breaks of Text, in the order they are tried: CR LF must come before
// CR so that it counts as one break.
const std::vector<String>& LineSeparators() {
  static const std::vector<String> Separators{u"\r\n", u"\r", u"\n"};
  return Separators;
}

// The separators of one split, in the order they are tried. Most positions
// of a text start no separator; a bit per first character (its code modulo
// 64) rules those out before any separator is compared.
class TSeparatorSet {
 public:
  explicit TSeparatorSet(const std::vector<String>& Separators) : FSeparators(Separators) {
    for (const String& Separator : Separators) {
      if (!Separator.empty()) FFirstChars |= Bit(Separator.front());
    }
  }

  // Length of the first separator, in list order, that occurs in S at
  // position P (0-based, P < Length); 0 when none does. An empty separator
  // never occurs.
  size_t LengthAt(StringView S, size_t P) const {
    if ((FFirstChars & Bit(S[P])) == 0) return 0;
    const StringView Rest = S.substr(P);
    for (const String& Separator : FSeparators) {
      if (!Separator.empty() && Rest.starts_with(Separator)) return Separator.size();
    }
    return 0;
  }

 private:
  static uint64_t Bit(char16_t C) { return uint64_t{1} << (C % 64); }

  const std::vector<String>& FSeparators;
  uint64_t FFirstChars = 0;
};

}  // namespace

TRecordList::TRecordList() : FList(new TListClone) {}

TRecordList::~TRecordList() {
  Clear();
  delete FList;
}

int32_t TRecordList::Add(StringView Item) {
  auto NewCell = std::make_unique<String>(Item);
  const int32_t Index = FList->Add(NewCell.get());
  NewCell.release();  // owned by the list from here on
  return Index;
}

void TRecordList::Insert(int32_t Index, StringView Item) {
  auto NewCell = std::make_unique<String>(Item);
  FList->Insert(Index, NewCell.get());  // a bad index leaves the cell to NewCell
  NewCell.release();
}

void TRecordList::Delete(int32_t Index) {
  String* Released = Cell(Index);
  FList->Delete(Index);
  delete Released;
}

void TRecordList::Clear() {
  const PPointerList Slots = FList->List();
  for (int32_t I = 0; I < FList->Count(); ++I) delete static_cast<String*>(Slots[I]);
  FList->Clear();
}

void TRecordList::Exchange(int32_t Index1, int32_t Index2) {
  FList->Exchange(Index1, Index2);
}

void TRecordList::Move(int32_t CurIndex, int32_t NewIndex) {
  FList->Move(CurIndex, NewIndex);
}

const String& TRecordList::Items(int32_t Index) const {
  return *Cell(Index);
}

void TRecordList::SetItems(int32_t Index, String Value) {
  *Cell(Index) = std::move(Value);
}

int32_t TRecordList::IndexOf(StringView Value) const {
  const PPointerList Slots = FList->List();
  for (int32_t I = 0; I < FList->Count(); ++I) {
    if (*static_cast<const String*>(Slots[I]) == Value) return I;
  }
  return -1;
}

// The range is checked before any item is deleted, so a bad Value leaves the
// list whole.
void TRecordList::SetCount(int32_t Value) {
  if (Value < 0 || Value > MaxListSize) TListClone::Error(TListCloneError::Count, Value);
  while (Count() > Value) Delete(Count() - 1);
  while (Count() < Value) Add(StringView());
}

void TRecordList::Assign(const TRecordList* Source) {
  if (Source == nullptr || Source == this) return;
  Clear();
  for (int32_t I = 0; I < Source->Count(); ++I) Add(Source->Items(I));
}

String TCommonStringRecordList::Text() const {
  return Join(StringView());
}

void TCommonStringRecordList::SetText(StringView Value) {
  SplitText(Value, LineSeparators(), SplitMode::Keep);
}

void TCommonStringRecordList::SetDelimitedText(StringView Value,
                                               const std::vector<String>& Delimiters) {
  SplitText(Value, Delimiters, SplitMode::Drop);
}

String TCommonStringRecordList::GetDelimitedText(StringView Delimiter) const {
  return Join(Delimiter);
}

bool TCommonStringRecordList::ViewsOwnItem(StringView S) const {
  const std::less_equal<const char16_t*> NotAfter;
  const PPointerList Slots = FList->List();
  for (int32_t I = 0; I < Count(); ++I) {
    const String& Item = *static_cast<const String*>(Slots[I]);
    if (NotAfter(Item.data(), S.data()) && NotAfter(S.data(), Item.data() + Item.size())) {
      return true;
    }
  }
  return false;
}

void TCommonStringRecordList::SplitText(StringView S, const std::vector<String>& Separators,
                                        SplitMode Mode) {
  String Kept;  // a copy of S when it views one of the items that Clear releases
  if (!S.empty() && ViewsOwnItem(S)) {
    Kept = S;
    S = Kept;
  }
  Clear();
  const TSeparatorSet SeparatorSet(Separators);
  // Only CR and LF start a line separator: the scan may jump from one to the
  // next.
  const bool Lines = &Separators == &LineSeparators();
  size_t Start = 0;
  size_t P = 0;
  while (P < S.size()) {
    if (Lines) {
      P = FindLineBreak(S, P);
      if (P == S.size()) break;
    }
    const size_t N = SeparatorSet.LengthAt(S, P);
    if (N == 0) {
      ++P;
      continue;
    }
    const size_t End = Mode == SplitMode::Keep ? P + N : P;
    Add(S.substr(Start, End - Start));
    P += N;
    Start = P;
  }
  if (Mode == SplitMode::Drop || Start < S.size()) Add(S.substr(Start));
}

String TCommonStringRecordList::Join(StringView Separator) const {
  const int32_t N = Count();
  if (N == 0) return String();
  const PPointerList Slots = FList->List();
  auto ItemAt = [Slots](int32_t I) -> const String& { return *static_cast<String*>(Slots[I]); };

  size_t Length = Separator.size() * static_cast<size_t>(N - 1);
  for (int32_t I = 0; I < N; ++I) Length += ItemAt(I).size();

  String Result;
  Result.reserve(Length);
  Result += ItemAt(0);
  for (int32_t I = 1; I < N; ++I) {
    Result += Separator;
    Result += ItemAt(I);
  }
  return Result;
}

}  // namespace quillet
