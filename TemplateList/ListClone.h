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

  // Sorting and the set operations between lists are built on the operations
  // above and join this class later.

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

  PPointerList FList = nullptr;
  int32_t FCount = 0;
  int32_t FCapacity = 0;
};

}  // namespace quillet
