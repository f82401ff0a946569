// The line list: a text held as items, one string cell per item.
//
// Setting Text splits at CR LF, CR and LF (tried in that order), each item
// keeping the break that ended it; reading Text joins the items with nothing
// added, so reading right after setting gives the same text back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "StringUnit/LineBreaks.h"
#include "TemplateList/ListClone.h"

namespace quillet {

// An indexed list of strings. Indexes are 0-based; a bad index raises the
// list index error before anything changes.
//
// Each item lives in its own heap cell, owned by the list and released when
// the item is deleted, the list cleared or destroyed; the inner list holds
// the cells' addresses, so Insert, Delete, Exchange and Move shift addresses,
// never strings. Every inner slot holds a live cell.
class TRecordList {
 public:
  TRecordList();
  TRecordList(const TRecordList&) = delete;
  TRecordList& operator=(const TRecordList&) = delete;
  virtual ~TRecordList();

  // Appends a copy of Item; returns its index (the old Count).
  int32_t Add(StringView Item);
  // 0 <= Index <= Count; Index = Count appends.
  void Insert(int32_t Index, StringView Item);
  // 0 <= Index < Count; releases the item's cell.
  void Delete(int32_t Index);
  // Releases every cell; the inner list's Count and Capacity become 0.
  void Clear();
  // Both indexes in 0 .. Count - 1. Swaps cell addresses only.
  void Exchange(int32_t Index1, int32_t Index2);
  // Takes the item out at CurIndex and puts it back at NewIndex; equal
  // indexes do nothing.
  void Move(int32_t CurIndex, int32_t NewIndex);

  // The item's string; the reference is valid until the item is deleted.
  const String& Items(int32_t Index) const;
  // The item's cell now holds Value; the cell itself stays.
  void SetItems(int32_t Index, String Value);
  // The lowest index whose item equals Value code unit for code unit, or -1.
  int32_t IndexOf(StringView Value) const;

  int32_t Count() const { return FList->Count(); }
  // Removes items from the end (last first) or appends empty ones. A
  // negative Value raises the count error and leaves the list as it was.
  void SetCount(int32_t Value);

  // The items become copies of Source's items; nothing when Source is null
  // or this list itself.
  virtual void Assign(const TRecordList* Source);

 protected:
  String* Cell(int32_t Index) const { return static_cast<String*>(FList->Items(Index)); }

  TListClone* FList;
};

class TCommonStringRecordList : public TRecordList {
 public:
  // All items joined in index order, nothing between them.
  String Text() const;
  // Clears the list, then splits Value at CR LF, CR and LF, each item keeping
  // its break. No empty item: "" gives no items, and a text ending in a break
  // has none after it.
  void SetText(StringView Value);

  // Splits Value at the delimiters, dropping them; the first delimiter in
  // list order that occurs at a position wins. "" gives one empty item.
  // Empty delimiters never match; a text ending in a delimiter ends with an
  // empty item.
  void SetDelimitedText(StringView Value, const std::vector<String>& Delimiters);
  // The items with Delimiter between each two; "" without items.
  String GetDelimitedText(StringView Delimiter) const;

 private:
  enum class SplitMode { Keep, Drop };
  // Clears the list and appends the pieces of S. At each position the
  // separators are tried in order; a match is consumed whole and never
  // examined again. Keep appends the separator to its piece and drops an
  // empty rest; Drop leaves separators out and always appends the rest.
  void SplitText(StringView S, const std::vector<String>& Separators, SplitMode Mode);
  // The items with Separator between each two, sized once.
  String Join(StringView Separator) const;
  // True when S points into the text of one of the items.
  bool ViewsOwnItem(StringView S) const;
};

}  // namespace quillet
