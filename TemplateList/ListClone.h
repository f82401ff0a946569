// TListClone: an ordered, growable array of untyped item addresses.
//
// The list stores, moves and compares addresses but never follows or frees
// them; null is a valid item. Indexes are 0-based signed 32-bit. Every check
// runs before anything changes; a failed one raises EAssertionFailed
// ("Listエラー") and leaves items, Count and Capacity as they were.
//
// Invariant: 0 <= Count <= Capacity <= MaxListSize; the storage block holds
// exactly Capacity slots and is absent (null) while Capacity is 0.
#pragma once

#include <cstdint>
#include <string_view>

namespace quillet {

constexpr int32_t MaxListSize = 134217727;  // 2^27 - 1 slots

using TPointerList = void* [MaxListSize];
using PPointerList = void**;

enum TListCloneNotifyAction : uint8_t { naAdded = 0, naExtracted = 1, naDeleted = 2 };

// Negative when Item1 belongs before Item2, 0 when they compare equal,
// positive when Item1 belongs after Item2.
using TListCloneSortCompare = int32_t (*)(void* Item1, void* Item2);

// What Assign leaves in this list, given the source S.
enum TListCloneAssignOp : uint8_t {
  laCopy = 0,       // S's items, order, duplicates and nulls; S's capacity
  laAnd = 1,        // this list's items that S holds, in their order
  laOr = 2,         // this list, then S's items it lacked (each once), in S's order
  laXor = 3,        // this list's items S lacks, then S's items this list lacked
  laSrcUnique = 4,  // this list's items that S lacks
  laDestUnique = 5  // S's items this list lacked, in reverse order; capacity S's Count
};

// The failed checks, each reported with the offending value.
enum class TListCloneError : uint8_t { Index, Capacity, Count };

class TListClone {
 public:
  TListClone() = default;
  TListClone(const TListClone&) = delete;
  TListClone& operator=(const TListClone&) = delete;
  // Empties the list and gives back the storage. Runs TListClone's own
  // Clear and Notify: a descendant that wants to hear of the items still
  // held calls Clear in its own destructor.
  virtual ~TListClone();

  // Appends Item, growing by one step when full; returns its index (the old
  // Count). Notifies naAdded unless Item is null.
  int32_t Add(void* Item);
  // 0 <= Index <= Count; the items from Index on move up by one. Grows by
  // one step when full. Notifies naAdded unless Item is null.
  void Insert(int32_t Index, void* Item);
  // 0 <= Index < Count; the items after it move down by one. The storage is
  // never shrunk. Notifies naDeleted unless the item is null.
  void Delete(int32_t Index);
  // Count := 0 (each item deleted, last first), then Capacity := 0.
  virtual void Clear();

  // 0 <= Index < Count.
  void* Items(int32_t Index) const;
  // Items(0) and Items(Count - 1), with the same check.
  void* First() const;
  void* Last() const;
  // Lowest index holding the same address, or -1.
  int32_t IndexOf(const void* Item) const;
  // Deletes the first occurrence of Item; its former index, or -1 when absent.
  int32_t Remove(void* Item);
  // Takes the first occurrence out, notifying naExtracted instead of
  // naDeleted; returns Item, or null (list unchanged) when absent.
  void* Extract(void* Item);
  // Deletes the null items; the others keep their order, the capacity stays.
  void Pack();
  // One growth step when the list is full; otherwise nothing.
  TListClone& Expand();
  // Both indexes in 0 .. Count - 1 (Index1 checked first). No notification.
  void Exchange(int32_t Index1, int32_t Index2);
  // Takes the item out at CurIndex and puts it back at NewIndex; the items
  // between shift by one toward CurIndex. Equal indexes: nothing, not even a
  // check. NewIndex is checked before CurIndex. No notification.
  void Move(int32_t CurIndex, int32_t NewIndex);

  int32_t Capacity() const { return FCapacity; }
  // Count <= Value <= MaxListSize. Resizes the storage to exactly Value slots
  // keeping the items; 0 releases it. Out of memory throws std::bad_alloc
  // with the list unchanged.
  void SetCapacity(int32_t Value);
  int32_t Count() const { return FCount; }
  // 0 <= Value <= MaxListSize. A Value above the capacity sets the capacity
  // to exactly Value (no growth step). Growing appends null items without
  // notification; shrinking deletes the items from the last down to Value,
  // each notified.
  void SetCount(int32_t Value);
  // The storage block, for reading slots directly: slots 0 .. Count - 1 are
  // the items. Null while Capacity is 0.
  PPointerList List() const { return FList; }

  // The message of a failed check; "%d" stands for the offending value.
  static std::u16string_view ErrorText(TListCloneError Msg);
  // Reports a failed check through the string form with ErrorText(Msg).
  [[noreturn]] static void Error(TListCloneError Msg, int32_t Data);
  // Raises the list assertion "Listエラー"; Msg and Data are not part of the
  // exception.
  [[noreturn]] static void Error(std::u16string_view Msg, int32_t Data);

  // Orders the items in place by Compare with a partition sort: the pivot is
  // the item in the middle slot of each part, the left part is sorted by
  // recursion and the right part by the loop. Not stable: items that compare
  // equal may change places, in an order fixed by the algorithm. Compare must
  // order consistently and return 0 for an item against itself, since the
  // scans rely on the pivot to stop them. No checks and no notifications; an
  // exception from Compare leaves some permutation of the items. A list
  // without items never calls Compare. O(n log n) comparisons on average,
  // O(n^2) in the worst case.
  void Sort(TListCloneSortCompare Compare);

  // With ListB, this list first becomes a copy of ListA and AOperator then
  // combines it with ListB; without, AOperator combines it with ListA.
  // Membership is IndexOf: the same address. Items enter and leave only
  // through Add, Delete and Clear, each with its notification. Takes time
  // proportional to the product of the two lengths. Lists that alias this
  // one are read as they were before the call.
  void Assign(const TListClone& ListA, TListCloneAssignOp AOperator,
              const TListClone* ListB = nullptr);

 protected:
  // Enlarges the capacity by one step through SetCapacity: 4 while the
  // capacity is at most 8, 16 up to 64, a quarter beyond.
  virtual void Grow();
  // Called after Item entered or left the list. Does nothing here.
  virtual void Notify(void* Item, TListCloneNotifyAction Action);

 private:
  // True when 0 <= Value < Bound, for Bound >= 0.
  static bool IsBelow(int32_t Value, int32_t Bound) {
    return static_cast<uint32_t>(Value) < static_cast<uint32_t>(Bound);
  }
  void CheckIndex(int32_t Index) const;
  void CheckInvariant() const;
  // The steps of Assign, each with Source as the other list.
  void Combine(const TListClone& Source, TListCloneAssignOp AOperator);
  void CopyFrom(const TListClone& Source);
  // Deletes, last first, the items that Source holds (Held) or lacks.
  void DeleteWhere(const TListClone& Source, bool Held);
  void AddMissing(const TListClone& Source);
  void SymmetricDifference(const TListClone& Source);
  void KeepSourceUnique(const TListClone& Source);

  PPointerList FList = nullptr;
  int32_t FCount = 0;
  int32_t FCapacity = 0;
};

}  // namespace quillet
