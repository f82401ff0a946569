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
class TRecordList {
 public:
  TRecordList();
  TRecordList(const TRecordList&) = delete;
  TRecordList& operator=(const TRecordList&) = delete;
  virtual ~TRecordList();

  int32_t Add(StringView Item);
  void Insert(int32_t Index, StringView Item);
  void Delete(int32_t Index);
  void Clear();
  void Exchange(int32_t Index1, int32_t Index2);
  void Move(int32_t CurIndex, int32_t NewIndex);

  // The item's string; the reference is valid until the item is deleted.
  const String& Items(int32_t Index) const;
  void SetItems(int32_t Index, String Value);
  int32_t IndexOf(StringView Value) const;

  int32_t Count() const { return FList->Count(); }
  // Removes items from the end (last first) or appends empty ones. A
  // negative Value raises the count error and leaves the list as it was.
  void SetCount(int32_t Value);

  // The items become copies of Source's items; nothing when Source is null.
  virtual void Assign(const TRecordList* Source);

 protected:
  String* Cell(int32_t Index) const { return static_cast<String*>(FList->Items(Index)); }

  TListClone* FList;
};

class TCommonStringRecordList : public TRecordList {
 public:
  String Text() const;
  void SetText(StringView Value);

  // Splits Value at the delimiters, dropping them; the first delimiter in
  // list order that occurs at a position wins. "" gives one empty item.
  void SetDelimitedText(StringView Value, const std::vector<String>& Delimiters);
  // The items with Delimiter between each two.
  String GetDelimitedText(StringView Delimiter) const;

 private:
  enum class SplitMode { Keep, Drop };
  void SplitText(StringView S, const std::vector<String>& Separators, SplitMode Mode);
};

}  // namespace quillet
