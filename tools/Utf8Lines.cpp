#include "tools/Utf8Lines.h"

#include <bit>
#include <cstring>
#include <stdexcept>

#include "StringUnit/Simd.h"
#include "transforms/LineCommands.h"

namespace quillet {

namespace {

constexpr char16_t StandIn = u'x';
constexpr char16_t FullWidthSpace = u'\u3000';
constexpr std::string_view Ideographic = "\xE3\x80\x80";  // U+3000

// Bytes of the blank that starts at P, before End: 1 for a space or a tab, 3
// for U+3000, 0 for anything else. Without short-circuit branches, which
// indents of mixed blanks would mispredict.
size_t BlankAt(const char* P, const char* End) {
  const auto Byte = static_cast<uint8_t>(P[0]);
  const size_t Narrow = (Byte == ' ') | (Byte == '\t');
  if (End - P < 3) return Narrow;
  return Narrow + 3 * ((Byte == 0xE3) & (static_cast<uint8_t>(P[1]) == 0x80) &
                       (static_cast<uint8_t>(P[2]) == 0x80));
}

// The same for the blank that ends just before P, after Begin. In valid
// UTF-8 the bytes E3 80 80 are always one character: E3 is no continuation.
size_t BlankBefore(const char* Begin, const char* P) {
  const auto Byte = static_cast<uint8_t>(P[-1]);
  const size_t Narrow = (Byte == ' ') | (Byte == '\t');
  if (P - Begin < 3) return Narrow;
  return Narrow + 3 * ((Byte == 0x80) & (static_cast<uint8_t>(P[-2]) == 0x80) &
                       (static_cast<uint8_t>(P[-3]) == 0xE3));
}

char16_t BlankUnit(const char* P, size_t Bytes) {
  return Bytes == 3 ? FullWidthSpace : static_cast<char16_t>(*P);
}

// The first CR or LF at P or after, or End.
const char* FindBreak(const char* P, const char* End) {
#ifdef QUILLET_SSE2
  const __m128i Crs = _mm_set1_epi8('\r');
  const __m128i Lfs = _mm_set1_epi8('\n');
  for (; End - P >= 16; P += 16) {
    const __m128i Bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P));
    const auto Mask = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(Bytes, Crs), _mm_cmpeq_epi8(Bytes, Lfs))));
    if (Mask != 0) return P + std::countr_zero(Mask);
  }
#endif
  while (P != End && *P != '\r' && *P != '\n') ++P;
  return P;
}

// Just after the break at Break (CR LF, CR or LF), or End.
const char* AfterBreak(const char* Break, const char* End) {
  if (Break != End && *Break == '\r') ++Break;
  if (Break != End && *Break == '\n') ++Break;
  return Break;
}

[[noreturn]] void OutOfStep() {
  throw std::logic_error("internal error: line rewrite out of step");
}

}  // namespace

bool TUtf8LineRewriter::Handles(uint8_t Command) {
  return Command >= lcSpaces && Command <= lcTrim;
}

bool TUtf8LineRewriter::Rewrite(std::string_view Block) {
  Reduce(Block);
  if (Lines_.empty()) return false;
  const StringView Reduced(Reduced_.data(), ReducedSize_);
  const String Rewritten = ApplyLineCommand(Reduced, Command_);
  if (Rewritten == Reduced) return false;
  Expand(Rewritten);
  return true;
}

void TUtf8LineRewriter::Reduce(std::string_view Block) {
  const char* P = Block.data();
  const char* const End = P + Block.size();
  // A line reduces to as many units as it has bytes at most.
  if (Reduced_.size() < Block.size()) Reduced_.resize(Block.size());
  char16_t* To = Reduced_.data();
  Lines_.clear();
  const bool Trims = Command_ == lcTrim;
  const char* Unchanged = P;  // the lines since the last reduced one
  const auto EndUnchanged = [&](const char* Stop) {
    const std::string_view Run(Unchanged, static_cast<size_t>(Stop - Unchanged));
    if (Lines_.empty()) {
      Before_ = Run;
    } else {
      Lines_.back().After = Run;
    }
  };
  while (P != End) {
    const char* Break = nullptr;
    if (Trims) {
      Break = FindBreak(P, End);
      if (Break == P || BlankBefore(P, Break) == 0) {
        P = AfterBreak(Break, End);
        continue;
      }
    } else if (BlankAt(P, End) == 0) {
      P = AfterBreak(FindBreak(P, End), End);
      continue;
    }
    EndUnchanged(P);
    size_t Bytes;
    const char* KeptEnd = Break;
    if (Trims) {
      while (KeptEnd != P && (Bytes = BlankBefore(P, KeptEnd)) != 0) KeptEnd -= Bytes;
    } else {
      for (; P != End && (Bytes = BlankAt(P, End)) != 0; P += Bytes) *To++ = BlankUnit(P, Bytes);
      KeptEnd = Break = FindBreak(P, End);
    }
    Lines_.push_back({std::string_view(P, static_cast<size_t>(KeptEnd - P)), {}, false});
    if (KeptEnd != P) *To++ = StandIn;
    for (P = KeptEnd; P != Break; P += Bytes) {
      Bytes = BlankAt(P, Break);
      *To++ = BlankUnit(P, Bytes);
    }
    const char* const Next = AfterBreak(Break, End);
    Lines_.back().EndsInLoneCr = Next - P == 1 && *P == '\r';
    for (; P != Next; ++P) *To++ = static_cast<char16_t>(*P);
    Unchanged = P;
  }
  EndUnchanged(End);
  ReducedSize_ = static_cast<size_t>(To - Reduced_.data());
}

// The rewritten lines hold stand-ins, blanks and breaks, each blank three
// bytes at most, and every line keeps its break. A line that ends in a lone
// CR may be followed by one that has become just LF: the two units are still
// two breaks. Each blank is written as three bytes of which one or all three
// count, so that mixed blanks cost no branch; the output has room for the
// two bytes that the last one may write past the end.
void TUtf8LineRewriter::Expand(StringView Rewritten) {
  size_t Bound = Before_.size() + 3 * Rewritten.size() + 2;
  for (const TReducedLine& Line : Lines_) Bound += Line.Kept.size() + Line.After.size();
  if (Output_.size() < Bound) Output_.resize(Bound);
  char* To = Output_.data();
  const auto Put = [&To](std::string_view Bytes) {
    std::memcpy(To, Bytes.data(), Bytes.size());
    To += Bytes.size();
  };
  Put(Before_);
  auto Line = Lines_.begin();
  for (const char16_t C : Rewritten) {
    if (Line == Lines_.end()) OutOfStep();
    if (C == StandIn) {
      Put(Line->Kept);
      continue;
    }
    const bool Wide = C == FullWidthSpace;
    if (C >= 0x80 && !Wide) OutOfStep();
    To[0] = Wide ? Ideographic[0] : static_cast<char>(C);
    To[1] = Ideographic[1];
    To[2] = Ideographic[2];
    To += Wide ? 3 : 1;
    if (C == u'\n' || (C == u'\r' && Line->EndsInLoneCr)) Put((Line++)->After);
  }
  if (Line != Lines_.end()) Put((Line++)->After);  // the last line, without a break
  if (Line != Lines_.end()) OutOfStep();
  OutputSize_ = static_cast<size_t>(To - Output_.data());
}

}  // namespace quillet
