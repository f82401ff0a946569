#include "tools/LineBlocks.h"

#include <algorithm>
#include <cstring>

namespace quillet {

namespace {

constexpr uint64_t FirstRead = uint64_t{64} << 10;

bool IsWide(TEncoding Encoding) {
  return Encoding == TEncoding::Utf16LE || Encoding == TEncoding::Utf16BE;
}

size_t FindByteLinesEnd(std::string_view Bytes, size_t From) {
  for (size_t End = Bytes.size(); End > From; --End) {
    const char C = Bytes[End - 1];
    if (C == '\n' || (C == '\r' && End < Bytes.size())) return End;
  }
  return 0;
}

size_t FindUnitLinesEnd(std::string_view Bytes, size_t From, bool BigEndian) {
  const size_t Low = BigEndian ? 1 : 0;  // the byte of a unit that holds its low eight bits
  const size_t Whole = Bytes.size() - Bytes.size() % 2;
  for (size_t End = Whole; End > From; End -= 2) {
    if (Bytes[End - 1 - Low] != 0) continue;
    const char C = Bytes[End - 2 + Low];
    if (C == '\n' || (C == '\r' && End + 2 <= Whole)) return End;
  }
  return 0;
}

}  // namespace

size_t FindLinesEnd(std::string_view Bytes, size_t From, TEncoding Encoding, bool AtEnd) {
  if (AtEnd) return Bytes.size();
  if (IsWide(Encoding)) return FindUnitLinesEnd(Bytes, From, Encoding == TEncoding::Utf16BE);
  return FindByteLinesEnd(Bytes, From);
}

TLineBlockReader::TLineBlockReader(TInput& Input, uint64_t Start, TEncoding Encoding,
                                   size_t ReadSize, uint64_t Stop)
    : Input_(Input),
      Start_(Start),
      Encoding_(Encoding),
      ReadSize_(std::max<size_t>(ReadSize, 1)),
      Stop_(Stop),
      Offset_(Start) {}

int TLineBlockReader::Next(std::string_view& Block) {
  // The block given out last goes; what was read after it moves to the front.
  Offset_ += Begin_;
  Size_ -= Begin_;
  if (Size_ > 0) std::memmove(Buffer_.data(), Buffer_.data() + Begin_, Size_);
  Begin_ = 0;
  const size_t Unit = IsWide(Encoding_) ? 2 : 1;
  size_t From = 0;  // no break before here can end the block
  for (;;) {
    if (Size_ >= ReadSize_ || AtEnd_) {
      Begin_ = FindLinesEnd(std::string_view(Buffer_.data(), Size_), From, Encoding_, AtEnd_);
      if (Begin_ > 0 || AtEnd_) break;
      // A CR in the last whole unit may end a line once the next unit is in.
      const size_t Whole = Size_ - Size_ % Unit;
      From = Whole >= Unit ? Whole - Unit : 0;
    }
    if (const int Error = ReadMore()) return Error;
  }
  Block = std::string_view(Buffer_.data(), Begin_);
  return 0;
}

int TLineBlockReader::NextInto(std::string& Owner, std::string_view& Block) {
  if (const int Error = Next(Block); Error != 0 || Block.empty()) return Error;
  // The bytes read after the block go to the same place in the other buffer.
  if (Owner.size() < Size_) Owner.resize(Buffer_.size());
  std::memcpy(Owner.data() + Begin_, Buffer_.data() + Begin_, Size_ - Begin_);
  Owner.swap(Buffer_);
  Block = std::string_view(Owner.data(), Begin_);
  return 0;
}

int TLineBlockReader::ReadMore() {
  // Reads start small and grow with the part of the input read so far, so
  // that a short input needs no buffer of ReadSize.
  const uint64_t Read = Offset_ + Size_ - Start_;
  const uint64_t Left = Stop_ - std::min(Stop_, Offset_ + Size_);
  const size_t Want = std::min<uint64_t>({ReadSize_, std::max<uint64_t>(Read, FirstRead), Left});
  if (Want == 0) {
    AtEnd_ = true;
    return 0;
  }
  if (Buffer_.size() - Size_ < Want) Buffer_.resize(std::max(Buffer_.size() * 2, Size_ + Want));
  size_t Count = 0;
  if (const int Error = Input_.ReadAt(Offset_ + Size_, Buffer_.data() + Size_, Want, Count)) {
    return Error;
  }
  Size_ += Count;
  AtEnd_ = Count == 0;
  return 0;
}

}  // namespace quillet
