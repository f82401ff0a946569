// TListClone: an ordered, growable array of untyped item addresses.
//
// The list stores, moves and compares addresses but never follows or frees
// them. Indexes are 0-based signed 32-bit. Every check runs before anything
// changes; a failed one raises EAssertionFailed ("Listエラー").
#pragma once

#include <cstdint>
#include <string_view>

namespace quillet {

constexpr int32_t MaxListSize = 134217727;  // 2^27 - 1 slots

using TPointerList = void*[MaxListSize];
using PPointerList = void**;

enum TListCloneNotifyAction : uint8_t { naAdded = 0, naExtracted = 1, naDeleted = 2 };

// The failed checks, each reported with the offending value.
enum class TListCloneError : uint8_t { Index, Capacity, Count };

class TListClone {
 public:
  TListClone() = default;
  TListClone(const TListClone&) = delete;
  TListClone& operator=(const TListClone&) = delete;
  virtual ~TListClone();

  int32_t Add(void* Item);
  void Insert(int32_t Index, void* Item);
  void Delete(int32_t Index);
  virtual void Clear();

  void* Items(int32_t Index) const;
  void* First() const;
  void* Last() const;
  int32_t IndexOf(const void* Item) const;
  int32_t Remove(void* Item);
  void* Extract(void* Item);
  void Pack();
  TListClone& Expand();
  void Exchange(int32_t Index1, int32_t Index2);
  void Move(int32_t CurIndex, int32_t NewIndex);

  int32_t Capacity() const { return FCapacity; }
  void SetCapacity(int32_t Value);
  int32_t Count() const { return FCount; }
  void SetCount(int32_t Value);
  PPointerList List() const { return FList; }

  // Text of a failed check: the message of the unit with its value.
  static std::u16string_view ErrorText(TListCloneError Msg);
  [[noreturn]] static void Error(TListCloneError Msg, int32_t Data);
  [[noreturn]] static void Error(std::u16string_view Msg, int32_t Data);

 protected:
  virtual void Grow();
  // Called after Item entered or left the list. Does nothing here.
  virtual void Notify(void* Item, TListCloneNotifyAction Action);

 private:
  void CheckIndex(int32_t Index) const;

  PPointerList FList = nullptr;
  int32_t FCount = 0;
  int32_t FCapacity = 0;
};

}  // namespace quillet
