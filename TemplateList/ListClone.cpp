// Covered by tests/ListClone_test.cpp and tests/ListCloneSort_test.cpp.
#include "TemplateList/ListClone.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "StringUnit/Assertion.h"

namespace quillet {

namespace {

// Where every failed check of the lists is reported from.
constexpr const char* kListErrorMessage = "Listエラー";
constexpr const char* kListErrorUnit = "TemplateList\\ListClone";
constexpr int kListErrorLine = 127;

// Moves Count slots from From to To; the ranges may overlap.
void MoveSlots(void** From, void** To, int32_t Count) {
  std::memmove(To, From, static_cast<size_t>(Count) * sizeof(void*));
}

// Sorts the slots L .. R of Slots: each pass partitions around the item in
// the middle slot (the address, fixed for the pass). Both scans hand the
// slot's item first and the pivot second; the pivot stops them inside L .. R.
// The two parts are disjoint, so the order in which they are sorted does not
// change the result: the smaller part is sorted by recursion and the larger by
// the loop, which keeps the recursion within log2(n) calls on any input.
void PartitionSort(PPointerList Slots, int32_t L, int32_t R, TListCloneSortCompare Compare) {
  for (;;) {
    int32_t I = L;
    int32_t J = R;
    void* const Pivot = Slots[(L + R) / 2];  // no overflow: R < MaxListSize
    do {
      while (Compare(Slots[I], Pivot) < 0) ++I;
      while (Compare(Slots[J], Pivot) > 0) --J;
      if (I <= J) {
        std::swap(Slots[I], Slots[J]);
        ++I;
        --J;
      }
    } while (I <= J);
    // Left part L .. J is sorted when L < J, right part I .. R when I < R.
    if (J - L < R - I) {
      if (L < J) PartitionSort(Slots, L, J, Compare);
      if (I >= R) return;
      L = I;
    } else {
      if (I < R) PartitionSort(Slots, I, R, Compare);
      if (L >= J) return;
      R = J;
    }
  }
}

}  // namespace

TListClone::~TListClone() {
  TListClone::Clear();
}

std::u16string_view TListClone::ErrorText(TListCloneError Msg) {
  switch (Msg) {
    case TListCloneError::Index:
      return u"リストのインデックスが範囲を超えています (%d)";
    case TListCloneError::Capacity:
      return u"リストの容量が超えました (%d)";
    case TListCloneError::Count:
      return u"リストの個数を超えました (%d)";
  }
  return {};
}

void TListClone::Error(TListCloneError Msg, int32_t Data) {
  Error(ErrorText(Msg), Data);
}

void TListClone::Error(std::u16string_view /*Msg*/, int32_t /*Data*/) {
  RaiseAssertion(kListErrorMessage, kListErrorUnit, kListErrorLine);
}

void TListClone::CheckIndex(int32_t Index) const {
  if (!IsBelow(Index, FCount)) Error(TListCloneError::Index, Index);
}

void TListClone::CheckInvariant() const {
  assert(0 <= FCount && FCount <= FCapacity && FCapacity <= MaxListSize);
  assert((FCapacity == 0) == (FList == nullptr));
}

void TListClone::Grow() {
  int32_t Delta = 4;
  if (FCapacity > 64) {
    Delta = FCapacity / 4;
  } else if (FCapacity > 8) {
    Delta = 16;
  }
  SetCapacity(FCapacity + Delta);
}

void TListClone::Notify(void* /*Item*/, TListCloneNotifyAction /*Action*/) {}

int32_t TListClone::Add(void* Item) {
  const int32_t Index = FCount;
  if (FCount == FCapacity) Grow();
  FList[Index] = Item;
  ++FCount;
  CheckInvariant();
  if (Item != nullptr) Notify(Item, naAdded);
  return Index;
}

void TListClone::Insert(int32_t Index, void* Item) {
  if (!IsBelow(Index, FCount + 1)) Error(TListCloneError::Index, Index);
  if (FCount == FCapacity) Grow();
  if (Index < FCount) MoveSlots(FList + Index, FList + Index + 1, FCount - Index);
  FList[Index] = Item;
  ++FCount;
  CheckInvariant();
  if (Item != nullptr) Notify(Item, naAdded);
}

void TListClone::Delete(int32_t Index) {
  CheckIndex(Index);
  void* Item = FList[Index];
  --FCount;
  if (Index < FCount) MoveSlots(FList + Index + 1, FList + Index, FCount - Index);
  CheckInvariant();
  if (Item != nullptr) Notify(Item, naDeleted);
}

void TListClone::Clear() {
  SetCount(0);
  SetCapacity(0);
}

void* TListClone::Items(int32_t Index) const {
  CheckIndex(Index);
  return FList[Index];
}

void* TListClone::First() const {
  return Items(0);
}

void* TListClone::Last() const {
  return Items(FCount - 1);
}

int32_t TListClone::IndexOf(const void* Item) const {
  for (int32_t I = 0; I < FCount; ++I) {
    if (FList[I] == Item) return I;
  }
  return -1;
}

int32_t TListClone::Remove(void* Item) {
  const int32_t Index = IndexOf(Item);
  if (Index >= 0) Delete(Index);
  return Index;
}

void* TListClone::Extract(void* Item) {
  const int32_t Index = IndexOf(Item);
  if (Index < 0) return nullptr;
  FList[Index] = nullptr;  // so that Delete notifies nothing
  Delete(Index);
  Notify(Item, naExtracted);
  return Item;
}

// Deleting a null item notifies nothing, so closing the gaps in one pass is
// the same as deleting the null items one by one, in linear time.
void TListClone::Pack() {
  int32_t Kept = 0;
  for (int32_t I = 0; I < FCount; ++I) {
    if (FList[I] != nullptr) FList[Kept++] = FList[I];
  }
  FCount = Kept;
  CheckInvariant();
}

TListClone& TListClone::Expand() {
  if (FCount == FCapacity) Grow();
  return *this;
}

void TListClone::Exchange(int32_t Index1, int32_t Index2) {
  CheckIndex(Index1);
  CheckIndex(Index2);
  std::swap(FList[Index1], FList[Index2]);
}

void TListClone::Move(int32_t CurIndex, int32_t NewIndex) {
  if (CurIndex == NewIndex) return;
  CheckIndex(NewIndex);
  void* Item = Items(CurIndex);
  if (CurIndex < NewIndex) {
    MoveSlots(FList + CurIndex + 1, FList + CurIndex, NewIndex - CurIndex);
  } else {
    MoveSlots(FList + NewIndex, FList + NewIndex + 1, CurIndex - NewIndex);
  }
  FList[NewIndex] = Item;
}

void TListClone::SetCapacity(int32_t Value) {
  if (Value < FCount || Value > MaxListSize) Error(TListCloneError::Capacity, Value);
  if (Value == FCapacity) return;
  if (Value == 0) {
    std::free(FList);
    FList = nullptr;
  } else {
    // realloc keeps the old block when it fails, so the list stays intact.
    void* Block = std::realloc(FList, static_cast<size_t>(Value) * sizeof(void*));
    if (Block == nullptr) throw std::bad_alloc();
    FList = static_cast<PPointerList>(Block);
  }
  FCapacity = Value;
  CheckInvariant();
}

void TListClone::SetCount(int32_t Value) {
  if (!IsBelow(Value, MaxListSize + 1)) Error(TListCloneError::Count, Value);
  if (Value > FCapacity) SetCapacity(Value);
  if (Value > FCount) {
    std::fill(FList + FCount, FList + Value, nullptr);
  } else {
    for (int32_t I = FCount - 1; I >= Value; --I) Delete(I);
  }
  FCount = Value;
  CheckInvariant();
}

void TListClone::Sort(TListCloneSortCompare Compare) {
  if (FList != nullptr && FCount > 0) PartitionSort(FList, 0, FCount - 1, Compare);
}

void TListClone::Assign(const TListClone& ListA, TListCloneAssignOp AOperator,
                        const TListClone* ListB) {
  if (ListB == nullptr) return Combine(ListA, AOperator);
  if (ListB == this && &ListA != this) {
    // Copying ListA in would overwrite the source of the second step.
    TListClone Former;
    Former.Combine(*this, laCopy);
    Combine(ListA, laCopy);
    return Combine(Former, AOperator);
  }
  Combine(ListA, laCopy);
  Combine(*ListB, AOperator);
}

void TListClone::Combine(const TListClone& Source, TListCloneAssignOp AOperator) {
  switch (AOperator) {
    case laCopy:
      return CopyFrom(Source);
    case laAnd:
      return DeleteWhere(Source, false);
    case laOr:
      return AddMissing(Source);
    case laXor:
      return SymmetricDifference(Source);
    case laSrcUnique:
      return DeleteWhere(Source, true);
    case laDestUnique:
      return KeepSourceUnique(Source);
  }
}

void TListClone::CopyFrom(const TListClone& Source) {
  if (&Source == this) return;  // a list already is a copy of itself
  Clear();
  SetCapacity(Source.FCapacity);
  for (int32_t I = 0; I < Source.FCount; ++I) Add(Source.FList[I]);
}

void TListClone::DeleteWhere(const TListClone& Source, bool Held) {
  for (int32_t I = FCount - 1; I >= 0; --I) {
    if ((Source.IndexOf(FList[I]) >= 0) == Held) Delete(I);
  }
}

void TListClone::AddMissing(const TListClone& Source) {
  const int32_t SourceCount = Source.FCount;
  for (int32_t I = 0; I < SourceCount; ++I) {
    if (IndexOf(Source.FList[I]) < 0) Add(Source.FList[I]);
  }
}

void TListClone::SymmetricDifference(const TListClone& Source) {
  TListClone Missing;  // Source's items that this list lacks, in Source's order
  Missing.SetCapacity(Source.FCount);
  for (int32_t I = 0; I < Source.FCount; ++I) {
    if (IndexOf(Source.FList[I]) < 0) Missing.Add(Source.FList[I]);
  }
  DeleteWhere(Source, true);
  const int32_t Needed = FCount + Missing.FCount;
  if (FCapacity < Needed) SetCapacity(Needed);
  for (int32_t I = 0; I < Missing.FCount; ++I) Add(Missing.FList[I]);
}

void TListClone::KeepSourceUnique(const TListClone& Source) {
  TListClone Missing;  // Source's items that this list lacks, last first
  Missing.SetCapacity(Source.FCount);
  for (int32_t I = Source.FCount - 1; I >= 0; --I) {
    if (IndexOf(Source.FList[I]) < 0) Missing.Add(Source.FList[I]);
  }
  CopyFrom(Missing);
}

}  // namespace quillet
