#include "tools/LineBlocks.h"

#include <algorithm>
#include <cstring>

#include "StringUnit/Columns.h"

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

bool IsSoundMark(std::string_view Bytes, size_t At, TEncoding Encoding) {
  const auto Byte = [&Bytes](size_t I) { return static_cast<uint8_t>(Bytes[I]); };
  switch (Encoding) {
    case TEncoding::Utf8:
      // The character at the end may be cut short: its start is enough.
      return Byte(At) == 0xEF && (At + 1 == Bytes.size() || Byte(At + 1) == 0xBE) &&
             (At + 2 >= Bytes.size() || Byte(At + 2) == 0x9E || Byte(At + 2) == 0x9F);
    case TEncoding::Cp932:
      return Byte(At) == 0xDE || Byte(At) == 0xDF;
    default: {
      if (At + 1 >= Bytes.size()) return false;
      const bool Big = Encoding == TEncoding::Utf16BE;
      const unsigned Unit = Big ? Byte(At) << 8 | Byte(At + 1) : Byte(At + 1) << 8 | Byte(At);
      return Unit == 0xFF9E || Unit == 0xFF9F;
    }
  }
}

// The character starts in Bytes, from the end back, at most Count of them
// before Before. A UTF-8 character starts at any byte but a continuation
// byte; a UTF-16 one at any unit but a low surrogate after a high one. In
// CP932 a byte below 0x40 is never the second of a pair, so characters are
// counted from the last such byte, or from the start.
size_t PreviousStart(std::string_view Bytes, size_t Before, TEncoding Encoding) {
  const auto Byte = [&Bytes](size_t I) { return static_cast<uint8_t>(Bytes[I]); };
  if (Before == 0) return 0;
  switch (Encoding) {
    case TEncoding::Utf8: {
      size_t At = Before - 1;
      while (At > 0 && (Byte(At) & 0xC0) == 0x80 && Before - At < 4) --At;
      return At;
    }
    case TEncoding::Cp932: {
      size_t From = Before - 1;
      while (From > 0 && Byte(From - 1) >= 0x40) --From;
      size_t Last = From;
      for (size_t At = From; At < Before;) {
        Last = At;
        At += IsLeadByte(Byte(At)) && At + 1 < Before ? 2 : 1;
      }
      return Last;
    }
    default: {
      if (Before < 2) return 0;
      const bool Big = Encoding == TEncoding::Utf16BE;
      const auto Unit = [&](size_t I) {
        return Big ? Byte(I) << 8 | Byte(I + 1) : Byte(I + 1) << 8 | Byte(I);
      };
      size_t At = Before - 2;
      if (At >= 2 && (Unit(At) & 0xFC00) == 0xDC00 && (Unit(At - 2) & 0xFC00) == 0xD800) At -= 2;
      return At;
    }
  }
}

}  // namespace

size_t FindCharacterCut(std::string_view Bytes, TEncoding Encoding, bool KeepPairs) {
  const bool Wide = IsWide(Encoding);
  size_t Cut = Wide ? Bytes.size() - Bytes.size() % 2 : Bytes.size();
  // The last character may be cut short: the block ends before it.
  for (int Step = 0; Step < 3 && Cut > 0; ++Step) {
    Cut = PreviousStart(Bytes, Cut, Encoding);
    if (!KeepPairs || !IsSoundMark(Bytes, Cut, Encoding)) return Cut;
  }
  return 0;
}

size_t FindLinesEnd(std::string_view Bytes, size_t From, TEncoding Encoding, bool AtEnd) {
  if (AtEnd) return Bytes.size();
  if (IsWide(Encoding)) return FindUnitLinesEnd(Bytes, From, Encoding == TEncoding::Utf16BE);
  return FindByteLinesEnd(Bytes, From);
}

TLineBlockReader::TLineBlockReader(TInput& Input, uint64_t Start, TEncoding Encoding,
                                   size_t ReadSize, uint64_t Stop, bool KeepPairs)
    : Input_(Input),
      Start_(Start),
      Encoding_(Encoding),
      ReadSize_(std::max<size_t>(ReadSize, 1)),
      Stop_(Stop),
      KeepPairs_(KeepPairs),
      Offset_(Start) {}

int TLineBlockReader::Next(std::string_view& Block) {
  // The block given out last goes; what was read after it moves to the front.
  Offset_ += Begin_;
  Size_ -= Begin_;
  if (Size_ > 0) std::memmove(Buffer_.data(), Buffer_.data() + Begin_, Size_);
  Begin_ = 0;
  const size_t Unit = IsWide(Encoding_) ? 2 : 1;
  size_t From = 0;  // no break before here can end the block
  Partial_ = false;
  for (;;) {
    if (Size_ >= ReadSize_ || AtEnd_) {
      const std::string_view Held(Buffer_.data(), Size_);
      Begin_ = FindLinesEnd(Held, From, Encoding_, AtEnd_);
      if (Begin_ > 0 || AtEnd_) break;
      // A line longer than a block is cut where a character ends, once a few
      // more bytes than a block are in (a cut never comes at the start).
      if (Size_ >= ReadSize_ + 16) {
        Begin_ = FindCharacterCut(Held, Encoding_, KeepPairs_);
        Partial_ = Begin_ > 0;
        if (Partial_) break;
      }
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
