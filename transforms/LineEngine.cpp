// The line engine. Tested by tests/LineEngine_test.cpp against the literal
// sequences of transforms/LiteralLineCommands.h, in every encoding.
//
// Each encoding is a small rules type: how a line break, a blank and the
// blanks at the end of a range are found, how a range of characters is
// measured, and where a character cut by the end of a chunk begins. The
// engine above them knows lines, indents, held blanks, padding and output,
// and nothing of bytes.
//
// The engine works on runs: each chunk, cut where its last complete
// character ends, and the character that a chunk cut, completed from the
// next one (FCarry). A run starts on a character boundary, so every rule
// sees whole characters.
#include "transforms/LineEngine.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <type_traits>

#include "StringUnit/AnsiCodePage.h"
#include "StringUnit/Simd.h"

namespace quillet {

namespace {

// The kinds of blank; 0 is none. THeld::Kinds has a bit for each.
constexpr uint8_t BlankSpace = 1;
constexpr uint8_t BlankTab = 2;
constexpr uint8_t BlankFullWidth = 3;

// A blank at some position: its kind and its units; Units 0 for none.
struct TBlank {
  uint8_t Kind;
  uint8_t Units;
};

constexpr uint16_t CR = 0x0D;
constexpr uint16_t LF = 0x0A;

// Adds Add (at most 2, or what brings Column to Step) to Column, which is
// below Step, modulo Step.
inline uint32_t AddModulo(uint32_t Column, uint32_t Add, uint32_t Step) {
  Column += Add;
  Column -= (Column >= Step) * Step;
  Column -= (Column >= Step) * Step;
  return Column;
}

// Code page 932 bytes of U+3000 (2), found by the rule of AnsiByteCount
// without building its table for every unit, which the indents never need.
size_t FullWidthSpaceBytes() {
  static const size_t Bytes = ToAnsiString(u"\u3000").size() >= 2 ? 2 : 1;
  return Bytes;
}

// Columns from Column to the next tab stop. The widths of one word (4, 8)
// take a mask, the rest a division of the width that fits.
inline uint32_t TabFill(uint64_t Column, uint32_t TabWidth) {
  if ((TabWidth & (TabWidth - 1)) == 0) {
    return TabWidth - static_cast<uint32_t>(Column & (TabWidth - 1));
  }
  if (Column <= UINT32_MAX) return TabWidth - static_cast<uint32_t>(Column) % TabWidth;
  return TabWidth - static_cast<uint32_t>(Column % TabWidth);
}

// U+0020 to U+007F, U+203E and U+FF61 to U+FF9F take one column.
inline bool IsNarrow(uint16_t C) {
  return (C >= 0x0020 && C <= 0x007F) || C == 0x203E || (C >= 0xFF61 && C <= 0xFF9F);
}

// --- Bytes ------------------------------------------------------------------

inline uint8_t Byte(const char* P) {
  return static_cast<uint8_t>(*P);
}

// Set bits of X, by halves, nibbles and bytes (no instruction needed).
inline uint64_t CountBits(uint64_t X) {
  X = X - ((X >> 1) & 0x5555555555555555u);
  X = (X & 0x3333333333333333u) + ((X >> 2) & 0x3333333333333333u);
  X = (X + (X >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
  return (X * 0x0101010101010101u) >> 56;
}

// CountBits, or the processor's instruction in a function built for it.
template <bool Popcount>
QUILLET_LINE_STEP uint64_t CountBitsBy(uint64_t X) {
#ifdef QUILLET_POPCOUNT_CHOICE
  if constexpr (Popcount) return static_cast<uint64_t>(__builtin_popcountll(X));
#endif
  return CountBits(X);
}

// Whether the processor counts bits itself.
inline bool HasPopcount() {
#ifdef QUILLET_POPCOUNT_CHOICE
  static const bool Has = __builtin_cpu_supports("popcnt");
  return Has;
#else
  return false;
#endif
}

// The bits set among the low Row (8 or 16) of Lanes.
template <uint32_t Row>
inline uint32_t CountLaneBits(uint32_t Lanes) {
  static constexpr auto Counts = [] {
    std::array<uint8_t, 256> Table{};
    for (size_t I = 1; I < Table.size(); ++I) Table[I] = static_cast<uint8_t>(Table[I / 2] + I % 2);
    return Table;
  }();
  if constexpr (Row <= 8) return Counts[Lanes & 0xFF];
  return Counts[Lanes & 0xFF] + Counts[(Lanes >> 8) & 0xFF];
}

// Bits From to To - 1 of a 64-bit mask (From <= To <= 64).
inline uint64_t BitsBetween(uint64_t From, uint64_t To) {
  const uint64_t Below = To == 64 ? ~uint64_t{0} : (uint64_t{1} << To) - 1;
  return From == 64 ? 0 : Below & ~((uint64_t{1} << From) - 1);
}

// What a step of 64 bytes holds, a bit per byte (per the first byte of a
// unit in UTF-16): breaks, tabs, and what its encoding's rules count the
// display width of a range of it by (TStepRules::StepWidth).
struct TStepMasks {
  uint64_t Breaks = 0;
  uint64_t Tabs = 0;
  uint64_t Plus = 0;   // a column more
  uint64_t Minus = 0;  // a column less
  uint64_t Four = 0;   // three columns more
  // With Exact: every bit of the blanks where the rules say so
  // (BlanksByBits), else the bits of the spaces and tabs.
  uint64_t Blanks = 0;
};

#ifdef QUILLET_SSE2
// The blanks in a row of lanes (units of UTF-16, bytes else), a bit per
// lane: spaces, tabs, and the lanes where full-width spaces start (the rest
// of one may lie past the row).
struct TBlankBits {
  uint32_t Spaces;
  uint32_t Tabs;
  uint32_t FullWidth;
};

// The lanes of Mask set in part Part (0 to 3) of a step, as its bits.
inline uint64_t PartBits(__m128i Mask, int Part) {
  return static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(Mask))) << (16 * Part);
}
#endif

#ifdef QUILLET_SSE2
// The sum of the two 64-bit lanes.
inline uint64_t SumLanes(__m128i Sums) {
  alignas(16) uint64_t Lanes[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(Lanes), Sums);
  return Lanes[0] + Lanes[1];
}
#endif

// Steps of Lanes units over Count units (Count >= Lanes), from At = 0 and
// Skip = 0: after the step at At, the next one, whose first Skip lanes were
// in the step before; false after the last. Only the last step overlaps
// another: it ends at Count, so that no unit is read past the range and none
// is left for a loop of single units.
template <size_t Lanes>
inline bool NextStep(size_t& At, size_t& Skip, size_t Count) {
  if (At + Lanes >= Count) return false;
  At += Lanes;
  Skip = 0;
  if (At + Lanes > Count) {
    Skip = At + Lanes - Count;
    At = Count - Lanes;
  }
  return true;
}

#ifdef QUILLET_SSE2
// Lanes from Skip on set: 16 bytes, or 8 units of 16 bits.
inline __m128i FreshBytes(size_t Skip) {
  const __m128i Positions = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  return _mm_cmpgt_epi8(Positions, _mm_set1_epi8(static_cast<char>(Skip - 1)));
}
inline __m128i FreshUnits(size_t Skip) {
  const __m128i Positions = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
  return _mm_cmpgt_epi16(Positions, _mm_set1_epi16(static_cast<short>(Skip - 1)));
}
#endif

// The first CR or LF byte in P .. End, or End.
const char* FindByteBreak(const char* P, const char* End) {
#ifdef QUILLET_SSE2
  const __m128i CRs = _mm_set1_epi8(static_cast<char>(CR));
  const __m128i LFs = _mm_set1_epi8(static_cast<char>(LF));
  for (; End - P >= 16; P += 16) {
    const __m128i Bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P));
    const auto Mask = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(Bytes, CRs), _mm_cmpeq_epi8(Bytes, LFs))));
    if (Mask != 0) return P + std::countr_zero(Mask);
  }
#endif
  for (; P != End; ++P) {
    if (*P == '\r' || *P == '\n') return P;
  }
  return End;
}

// Bytes below 0x20 in P .. End.
uint64_t CountControlBytes(const char* P, const char* End) {
#ifdef QUILLET_SSE2
  if (const auto Size = static_cast<size_t>(End - P); Size >= 16) {
    const __m128i Low = _mm_set1_epi8(0x1F);
    const __m128i Ones = _mm_set1_epi8(1);
    const __m128i Zero = _mm_setzero_si128();
    __m128i Sums = Zero;
    size_t At = 0;
    size_t Skip = 0;
    do {
      const __m128i Bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P + At));
      const __m128i Control = _mm_and_si128(_mm_cmpeq_epi8(_mm_min_epu8(Bytes, Low), Bytes),
                                            FreshBytes(Skip));
      Sums = _mm_add_epi64(Sums, _mm_sad_epu8(_mm_and_si128(Control, Ones), Zero));
    } while (NextStep<16>(At, Skip, Size));
    return SumLanes(Sums);
  }
#endif
  uint64_t Count = 0;
  for (; P != End; ++P) Count += Byte(P) < 0x20;
  return Count;
}

// The first CR or LF byte in P .. End, or End, as FindByteBreak finds it;
// Bound becomes a width that the bytes before it cannot exceed, whatever
// they are: Size plus, for each byte, Extra[class] of these classes: below
// 0x20, 0x20 to 0xBF, 0xC0 to 0xEF, 0xF0 and above.
const char* FindByteBreakBound(const char* P, const char* End, const uint8_t (&Extra)[4],
                               uint64_t& Bound) {
  const char* const Begin = P;
  uint64_t More = 0;
#ifdef QUILLET_SSE2
  const __m128i CRs = _mm_set1_epi8(static_cast<char>(CR));
  const __m128i LFs = _mm_set1_epi8(static_cast<char>(LF));
  const __m128i Zero = _mm_setzero_si128();
  const auto Splat = [](int B) { return _mm_set1_epi8(static_cast<char>(B)); };
  const __m128i ControlExtra = Splat(Extra[0]);
  const __m128i LeadExtra = Splat(Extra[2]);
  const __m128i FourExtra = Splat(Extra[3]);
  __m128i Sums = Zero;
  for (; End - P >= 16; P += 16) {
    const __m128i Bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P));
    const auto Mask = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(Bytes, CRs), _mm_cmpeq_epi8(Bytes, LFs))));
    // The classes are apart, so each lane holds one extra at most.
    const __m128i Control = _mm_cmpeq_epi8(_mm_min_epu8(Bytes, Splat(0x1F)), Bytes);
    const __m128i Lead = _mm_cmpgt_epi8(Bytes, Splat(0xBF));  // and ASCII
    const __m128i Four = _mm_cmpgt_epi8(Bytes, Splat(0xEF));   // and ASCII
    const __m128i High = _mm_cmplt_epi8(Bytes, Zero);
    __m128i Lanes = _mm_or_si128(
        _mm_and_si128(Control, ControlExtra),
        _mm_and_si128(High, _mm_or_si128(_mm_and_si128(_mm_andnot_si128(Four, Lead), LeadExtra),
                                         _mm_and_si128(Four, FourExtra))));
    if (Mask != 0) {
      const auto Before = static_cast<char>(std::countr_zero(Mask));
      const __m128i Positions =
          _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
      Lanes = _mm_and_si128(Lanes, _mm_cmplt_epi8(Positions, _mm_set1_epi8(Before)));
      Sums = _mm_add_epi64(Sums, _mm_sad_epu8(Lanes, Zero));
      P += Before;
      Bound = static_cast<uint64_t>(P - Begin) + SumLanes(Sums);
      return P;
    }
    Sums = _mm_add_epi64(Sums, _mm_sad_epu8(Lanes, Zero));
  }
  More = SumLanes(Sums);
#endif
  for (; P != End && *P != '\r' && *P != '\n'; ++P) {
    const uint8_t B = Byte(P);
    More += Extra[B < 0x20 ? 0 : B < 0xC0 ? 1 : B < 0xF0 ? 2 : 3];
  }
  Bound = static_cast<uint64_t>(P - Begin) + More;
  return P;
}

// Rules shared by the byte encodings whose breaks, spaces and tabs are the
// ASCII bytes, which no other character contains.
struct TAsciiBreaks {
  using U = char;
  static constexpr size_t BreakUnits = 1;
  static const char* FindBreak(const char* P, const char* End) { return FindByteBreak(P, End); }
  static bool IsCR(const char* P, const char* End) { return P != End && *P == '\r'; }
  static bool IsLF(const char* P, const char* End) { return P != End && *P == '\n'; }

#ifdef QUILLET_SSE2
  // The blanks among the sixteen bytes at P, a lane each, where the
  // full-width space is the bytes FullWidth: one that starts there may end
  // past them.
  static constexpr uint32_t BlankLanes = 16;
  static constexpr size_t LaneUnits = 1;
  template <uint8_t... FullWidth>
  static TBlankBits ByteBlankBits(const char* P) {
    const auto Equal = [P](size_t At, uint8_t B) {
      return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(P + At)),
                            _mm_set1_epi8(static_cast<char>(B)));
    };
    __m128i Starts = _mm_set1_epi8(-1);
    size_t At = 0;
    ((Starts = _mm_and_si128(Starts, Equal(At++, FullWidth))), ...);
    return {static_cast<uint32_t>(_mm_movemask_epi8(Equal(0, ' '))),
            static_cast<uint32_t>(_mm_movemask_epi8(Equal(0, '\t'))),
            static_cast<uint32_t>(_mm_movemask_epi8(Starts))};
  }
#endif
};

#ifdef QUILLET_SSE2
// The lanes where Lead, Second and Third (the bytes at a lane and the two
// after it) make a narrow three-byte UTF-8 character: E2 80 BE; EF BD A1
// to BF; EF BE 80 to 9F.
inline __m128i NarrowThreeBytes(__m128i Lead, __m128i Second, __m128i Third) {
  const auto Is = [](__m128i V, int B) { return _mm_cmpeq_epi8(V, _mm_set1_epi8(static_cast<char>(B))); };
  const auto Within = [](__m128i V, int Low, int High) {
    const __m128i Clamped = _mm_min_epu8(_mm_max_epu8(V, _mm_set1_epi8(static_cast<char>(Low))),
                                         _mm_set1_epi8(static_cast<char>(High)));
    return _mm_cmpeq_epi8(Clamped, V);
  };
  const __m128i Overline = _mm_and_si128(Is(Lead, 0xE2), _mm_and_si128(Is(Second, 0x80), Is(Third, 0xBE)));
  const __m128i Kana = _mm_and_si128(
      Is(Lead, 0xEF), _mm_or_si128(_mm_and_si128(Is(Second, 0xBD), Within(Third, 0xA1, 0xBF)),
                                   _mm_and_si128(Is(Second, 0xBE), Within(Third, 0x80, 0x9F))));
  return _mm_or_si128(Overline, Kana);
}
#endif

// --- UTF-8 ------------------------------------------------------------------

// A character is a first byte and the continuation bytes (0x80 to 0xBF)
// after it, as many as the first byte calls for; a byte that would continue
// none stands alone.
struct TUtf8Rules : TAsciiBreaks {
  static constexpr char Blanks[4][3] = {{}, {' '}, {'\t'}, {'\xE3', '\x80', '\x80'}};
  static constexpr uint8_t BlankLength[4] = {0, 1, 1, 3};
  static constexpr size_t FixedBlankLength = 0;  // blanks differ in length
  static const char* Blank(uint8_t Kind) { return Blanks[Kind]; }

  static bool IsContinuation(uint8_t B) { return (B & 0xC0) == 0x80; }
  // Bytes of the character that B starts, when it is complete.
  static size_t Expected(uint8_t B) {
    return B < 0xC0 ? 1 : B < 0xE0 ? 2 : B < 0xF0 ? 3 : B < 0xF8 ? 4 : 1;
  }

  static size_t BlankUnitsAt(const char* P, const char* End) { return BlankAt(P, End).Units; }
  static TBlank BlankAt(const char* P, const char* End) {
    const uint8_t B = Byte(P);
    if (B == ' ') return {BlankSpace, 1};
    if (B == '\t') return {BlankTab, 1};
    if (B == 0xE3 && End - P >= 3 && Byte(P + 1) == 0x80 && Byte(P + 2) == 0x80) {
      return {BlankFullWidth, 3};
    }
    return {0, 0};
  }
#ifdef QUILLET_SSE2
  // Exact from a character's start on, as far as the blanks go.
  static constexpr uint32_t FullWidthLanes = 3;
  static constexpr size_t BlankOverhang = FullWidthLanes - 1;
  static TBlankBits BlankBits(const char* P) {
    return ByteBlankBits<0xE3, 0x80, 0x80>(P);
  }
#endif
  // Start of the blanks that end P .. End. U+3000 is E3 80 80 wherever it
  // ends: E3 always starts a character.
  static const char* TrailingBlanks(const char* P, const char* End) {
    while (End != P) {
      const uint8_t B = Byte(End - 1);
      if (B == ' ' || B == '\t') {
        --End;
      } else if (B == 0x80 && End - P >= 3 && Byte(End - 2) == 0x80 && Byte(End - 3) == 0xE3) {
        End -= 3;
      } else {
        break;
      }
    }
    return End;
  }
  // Where a character that continues after End begins, or End.
  static const char* CompleteEnd(const char* P, const char* End) {
    for (size_t K = 1; K <= 3 && K <= static_cast<size_t>(End - P); ++K) {
      const uint8_t B = Byte(End - K);
      if (IsContinuation(B)) continue;
      return Expected(B) > K ? End - K : End;
    }
    return End;
  }
  // Whether the Have bytes of a character cut by a chunk's end may go on,
  // and whether Next does go on with them.
  static bool Wants(const char* Char, size_t Have) { return Have < Expected(Byte(Char)); }
  static bool Continues(const char*, size_t, char Next) { return IsContinuation(Byte(&Next)); }

  static size_t FullWidthColumns() { return FullWidthSpaceBytes(); }

  // A byte adds a column at most, but a control byte (a tab up to TabWidth)
  // and the first byte of a character that is not as many columns as bytes,
  // or of none: 0xC0 to 0xEF two, 0xF0 and above four.
  static constexpr uint8_t LeadExtra = 1;
  static constexpr uint8_t FourExtra = 3;
  static const char* FindBreakBound(const char* P, const char* End, uint32_t TabWidth,
                                    uint64_t& Bound) {
    const uint8_t Extra[4] = {static_cast<uint8_t>(TabWidth + 1), 0, LeadExtra, FourExtra};
    return FindByteBreakBound(P, End, Extra, Bound);
  }

  // Display width of P .. End: by bytes, one column for 0x20 to 0x7F, two
  // for a control byte and for the first byte of a character of two or
  // three bytes, four for the first of four bytes (two UTF-16 units), none
  // for continuation bytes; one less for each narrow three-byte character
  // (U+203E, U+FF61 to U+FF9F), found at its third byte from the two before.
  // AfterTab is set just after the last tab, or to P.
  static uint64_t DisplayWidth(const char* P, const char* End, const char*& AfterTab) {
    const auto Size = static_cast<size_t>(End - P);
    const auto* Bytes = reinterpret_cast<const uint8_t*>(P);
    AfterTab = P;
#ifdef QUILLET_SSE2
    if (Size >= 16) {
      const auto Splat = [](int B) { return _mm_set1_epi8(static_cast<char>(B)); };
      const auto Load = [Bytes](size_t From) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(Bytes + From));
      };
      const __m128i Zero = _mm_setzero_si128();
      const __m128i Ones = Splat(1);
      const __m128i Twos = Splat(2);
      __m128i Sums = Zero;
      __m128i NarrowSums = Zero;
      size_t At = 0;
      size_t Skip = 0;
      do {
        const __m128i Fresh = FreshBytes(Skip);
        const __m128i B0 = Load(At);
        const __m128i Ascii = _mm_cmpgt_epi8(B0, Splat(-1));
        const __m128i Control = _mm_cmplt_epi8(B0, Splat(0x20));
        const __m128i Lead = _mm_cmpgt_epi8(B0, Splat(0xBF));
        const __m128i Four = _mm_cmpgt_epi8(B0, Splat(0xEF));
        const __m128i AsciiColumns = _mm_add_epi8(Ones, _mm_and_si128(Control, Ones));
        const __m128i OtherColumns =
            _mm_add_epi8(_mm_and_si128(Lead, Twos), _mm_and_si128(Four, Twos));
        const __m128i Columns = _mm_or_si128(_mm_and_si128(Ascii, AsciiColumns),
                                             _mm_andnot_si128(Ascii, OtherColumns));
        Sums = _mm_add_epi64(Sums, _mm_sad_epu8(_mm_and_si128(Columns, Fresh), Zero));
        // The two bytes before each: loaded, or shifted in before the range.
        const __m128i Before1 = At >= 1 ? Load(At - 1) : _mm_slli_si128(B0, 1);
        const __m128i Before2 = At >= 2   ? Load(At - 2)
                                : At == 1 ? _mm_slli_si128(Before1, 1)
                                          : _mm_slli_si128(B0, 2);
        const __m128i E2 = _mm_cmpeq_epi8(Before2, Splat(0xE2));
        const __m128i EF = _mm_cmpeq_epi8(Before2, Splat(0xEF));
        if (_mm_movemask_epi8(_mm_and_si128(_mm_or_si128(E2, EF), Fresh)) != 0) {
          const __m128i Narrow = _mm_and_si128(NarrowThreeBytes(Before2, Before1, B0), Fresh);
          NarrowSums = _mm_add_epi64(NarrowSums, _mm_sad_epu8(_mm_and_si128(Narrow, Ones), Zero));
        }
        const auto Tabs = static_cast<uint32_t>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(B0, Splat('\t')), Fresh)));
        if (Tabs != 0) AfterTab = P + At + (32 - std::countl_zero(Tabs));
      } while (NextStep<16>(At, Skip, Size));
      return SumLanes(Sums) - SumLanes(NarrowSums);
    }
#endif
    uint64_t Width = 0;
    for (size_t I = 0; I < Size; ++I) {
      const uint8_t B = Bytes[I];
      Width += B < 0x20 ? 2 : B < 0x80 ? 1 : B < 0xC0 ? 0 : B < 0xF0 ? 2 : 4;
      if ((B == 0xE2 || B == 0xEF) && I + 2 < Size) Width -= IsNarrowThree(Bytes + I);
      if (B == '\t') AfterTab = P + I + 1;
    }
    return Width;
  }
  static bool IsNarrowThree(const uint8_t* P) {
    if (P[0] == 0xE2) return P[1] == 0x80 && P[2] == 0xBE;
    return (P[1] == 0xBD && P[2] >= 0xA1 && P[2] <= 0xBF) ||
           (P[1] == 0xBE && P[2] >= 0x80 && P[2] <= 0x9F);
  }

#ifdef QUILLET_SSE2
  // DisplayWidth's columns by bits: a byte is a column, a control byte and
  // 0xC0 to 0xEF one more, a continuation byte one less, 0xF0 and above
  // three more, and a narrow three-byte character one less, marked at its
  // first byte (so the two bytes after a step are read too). A range that
  // ends where blanks or a break begin, or starts after a tab, cuts no such
  // character: its second and third bytes are none of those.
  static constexpr size_t StepOverhang = 2;
  // A full-width space ends in FullWidthLastByte.
  static constexpr uint8_t FullWidthLastByte = 0x80;
  // Without Exact, the narrow characters and the blanks are left out (the
  // widths of the narrow characters are then counted one too many).
  template <bool Exact = true>
  static TStepMasks StepMasks(const char* S) {
    const auto Splat = [](int B) { return _mm_set1_epi8(static_cast<char>(B)); };
    const auto Load = [S](int At) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(S + At)); };
    TStepMasks M;
    __m128i Candidates = _mm_setzero_si128();  // E2 or EF
    __m128i AnyFour = _mm_setzero_si128();
    for (int Part = 0; Part < 4; ++Part) {
      const __m128i V = Load(16 * Part);
      M.Breaks |= PartBits(_mm_or_si128(_mm_cmpeq_epi8(V, Splat('\r')), _mm_cmpeq_epi8(V, Splat('\n'))), Part);
      const __m128i Tab = _mm_cmpeq_epi8(V, Splat('\t'));
      M.Tabs |= PartBits(Tab, Part);
      if constexpr (Exact)
        M.Blanks |= PartBits(_mm_or_si128(Tab, _mm_cmpeq_epi8(V, Splat(' '))), Part);
      // By signed value: 0x00 to 0x1F, 0xC0 to 0xEF, 0x80 to 0xBF, 0xF0 on.
      const __m128i Control = _mm_andnot_si128(_mm_cmplt_epi8(V, Splat(0)), _mm_cmplt_epi8(V, Splat(0x20)));
      const __m128i Lead = _mm_and_si128(_mm_cmpgt_epi8(V, Splat(0xBF)), _mm_cmplt_epi8(V, Splat(0xF0)));
      M.Plus |= PartBits(_mm_or_si128(Control, Lead), Part);
      M.Minus |= PartBits(_mm_cmplt_epi8(V, Splat(0xC0)), Part);
      AnyFour = _mm_or_si128(AnyFour, _mm_and_si128(_mm_cmpgt_epi8(V, Splat(0xEF)), _mm_cmplt_epi8(V, Splat(0))));
      Candidates = _mm_or_si128(Candidates, _mm_or_si128(_mm_cmpeq_epi8(V, Splat(0xE2)),
                                                         _mm_cmpeq_epi8(V, Splat(0xEF))));
    }
    // Four-byte characters are rare: their bits only where there are some.
    if (_mm_movemask_epi8(AnyFour) != 0) {
      for (int Part = 0; Part < 4; ++Part) {
        const __m128i V = Load(16 * Part);
        M.Four |= PartBits(_mm_and_si128(_mm_cmpgt_epi8(V, Splat(0xEF)), _mm_cmplt_epi8(V, Splat(0))), Part);
      }
    }
    // Once a step: in Japanese text the full-width forms (EF) are common,
    // and a test a part would often guess wrong.
    if (Exact && _mm_movemask_epi8(Candidates) != 0) {
      for (int Part = 0; Part < 4; ++Part) {
        M.Minus |= PartBits(NarrowThreeBytes(Load(16 * Part), Load(16 * Part + 1), Load(16 * Part + 2)), Part);
      }
    }
    return M;
  }
  // The display width of the bytes of bits Lo to Hi - 1 of M's step, which
  // hold no tab.
  template <bool Popcount>
  static uint64_t StepWidth(const TStepMasks& M, uint64_t Lo, uint64_t Hi) {
    const uint64_t Range = BitsBetween(Lo, Hi);
    uint64_t Width = Hi - Lo + CountBitsBy<Popcount>(M.Plus & Range) -
                     CountBitsBy<Popcount>(M.Minus & Range);
    if ((M.Four & Range) != 0) Width += 3 * CountBitsBy<Popcount>(M.Four & Range);
    return Width;
  }
#endif

  // Adds the width of P .. End to Width, and its code page 932 bytes, tabs
  // expanded, to Column: up to End with NeedColumn, else only up to the last
  // tab (nothing after it needs a column).
  static void Measure(const char* P, const char* End, uint64_t& Width, uint64_t& Column,
                      uint32_t TabWidth, bool NeedColumn) {
    const char* AfterTab;
    Width += DisplayWidth(P, End, AfterTab);
    const char* const Last = NeedColumn ? End : AfterTab;
    if (Last == P) return;
    const uint8_t* const Ansi = AnsiByteCounts();
    for (const char* Q = P; Q < Last;) {
      const uint8_t B = Byte(Q);
      if (B < 0x80) {
        if (B == '\t') {
          const uint32_t Fill = TabFill(Column, TabWidth);
          Column += Fill;
          Width = Width + Fill - 2;  // the tab was counted two columns
        } else {
          Column += Ansi[B];
        }
        ++Q;
        continue;
      }
      const size_t Wanted = Expected(B);
      size_t Length = 1;
      while (Length < Wanted && Q + Length < Last && IsContinuation(Byte(Q + Length))) ++Length;
      if (Length < Wanted || Wanted == 1) {
        Column += 1;  // no character: one substitute byte
      } else if (Wanted == 2) {
        Column += Ansi[(B & 0x1F) << 6 | (Byte(Q + 1) & 0x3F)];
      } else if (Wanted == 3) {
        Column += Ansi[static_cast<uint16_t>((B & 0x0F) << 12 | (Byte(Q + 1) & 0x3F) << 6 |
                                             (Byte(Q + 2) & 0x3F))];
      } else {
        const uint32_t C = (static_cast<uint32_t>(B & 0x07) << 18 | (Byte(Q + 1) & 0x3F) << 12 |
                            (Byte(Q + 2) & 0x3F) << 6 | (Byte(Q + 3) & 0x3F)) -
                           0x10000;
        Column += Ansi[0xD800 + ((C >> 10) & 0x3FF)] + Ansi[0xDC00 + (C & 0x3FF)];
      }
      Q += Length;
    }
  }
};

// --- Code page 932 ------------------------------------------------------------

inline bool IsLeadByte(uint8_t B) {
  return (B >= 0x81 && B <= 0x9F) || (B >= 0xE0 && B <= 0xFC);
}

// A trail byte is 0x40 or above, so breaks, spaces and tabs are always
// characters of their own, and a column is a byte: every character that code
// page 932 has is as many columns in ANSI bytes as it has bytes, and as wide
// as its bytes unless it is a control character
// (tests/LineEngine_test.cpp decodes every one to prove it). Only U+3000,
// 81 40, needs its boundary found: going backwards, through the run of
// lead-byte values before it.
struct TCp932Rules : TAsciiBreaks {
  static constexpr char Blanks[4][2] = {{}, {' '}, {'\t'}, {'\x81', '\x40'}};
  static constexpr uint8_t BlankLength[4] = {0, 1, 1, 2};
  static constexpr size_t FixedBlankLength = 0;
  static const char* Blank(uint8_t Kind) { return Blanks[Kind]; }

  static size_t BlankUnitsAt(const char* P, const char* End) { return BlankAt(P, End).Units; }
  static TBlank BlankAt(const char* P, const char* End) {
    const uint8_t B = Byte(P);
    if (B == ' ') return {BlankSpace, 1};
    if (B == '\t') return {BlankTab, 1};
    if (B == 0x81 && End - P >= 2 && Byte(P + 1) == 0x40) return {BlankFullWidth, 2};
    return {0, 0};
  }
#ifdef QUILLET_SSE2
  // Exact from a character's start on, as far as the blanks go: none is a
  // second byte.
  static constexpr uint32_t FullWidthLanes = 2;
  static constexpr size_t BlankOverhang = FullWidthLanes - 1;
  static TBlankBits BlankBits(const char* P) {
    return ByteBlankBits<0x81, 0x40>(P);
  }
#endif
  // Whether the run of lead-byte values that ends just before At, from P at
  // most, is odd: then the byte at At is the second of a character. P is a
  // boundary, and so is the byte after any other value.
  static bool OddLeadRun(const char* P, const char* At) {
    size_t Run = 0;
    while (At != P && IsLeadByte(Byte(At - 1))) {
      --At;
      ++Run;
    }
    return Run % 2 == 1;
  }
  static const char* TrailingBlanks(const char* P, const char* End) {
    while (End != P) {
      const uint8_t B = Byte(End - 1);
      if (B == ' ' || B == '\t') {
        --End;
      } else if (B == 0x40 && End - P >= 2 && Byte(End - 2) == 0x81 && OddLeadRun(P, End - 1)) {
        End -= 2;
      } else {
        break;
      }
    }
    return End;
  }
  static const char* CompleteEnd(const char* P, const char* End) {
    return OddLeadRun(P, End) ? End - 1 : End;
  }
  static bool Wants(const char*, size_t Have) { return Have == 1; }
  static bool Continues(const char*, size_t, char Next) { return Byte(&Next) >= 0x40; }

  static size_t FullWidthColumns() { return 2; }

  // A byte is a column, but a control byte (a tab up to TabWidth).
  static constexpr uint8_t LeadExtra = 0;
  static constexpr uint8_t FourExtra = 0;
  static const char* FindBreakBound(const char* P, const char* End, uint32_t TabWidth,
                                    uint64_t& Bound) {
    const uint8_t Extra[4] = {static_cast<uint8_t>(TabWidth + 1), 0, LeadExtra, FourExtra};
    return FindByteBreakBound(P, End, Extra, Bound);
  }

#ifdef QUILLET_SSE2
  // Measure's columns by bits: a byte is a column, a control byte two.
  // Spaces and tabs are never second bytes; a full-width space ends in
  // FullWidthLastByte.
  static constexpr size_t StepOverhang = 0;
  static constexpr uint8_t FullWidthLastByte = 0x40;
  template <bool Exact = true>
  static TStepMasks StepMasks(const char* S) {
    const auto Splat = [](int B) { return _mm_set1_epi8(static_cast<char>(B)); };
    TStepMasks M;
    for (int Part = 0; Part < 4; ++Part) {
      const __m128i V = _mm_loadu_si128(reinterpret_cast<const __m128i*>(S + 16 * Part));
      M.Breaks |= PartBits(_mm_or_si128(_mm_cmpeq_epi8(V, Splat('\r')), _mm_cmpeq_epi8(V, Splat('\n'))), Part);
      const __m128i Tab = _mm_cmpeq_epi8(V, Splat('\t'));
      M.Tabs |= PartBits(Tab, Part);
      if constexpr (Exact)
        M.Blanks |= PartBits(_mm_or_si128(Tab, _mm_cmpeq_epi8(V, Splat(' '))), Part);
      M.Plus |= PartBits(_mm_cmpeq_epi8(_mm_min_epu8(V, Splat(0x1F)), V), Part);
    }
    return M;
  }
  template <bool Popcount>
  static uint64_t StepWidth(const TStepMasks& M, uint64_t Lo, uint64_t Hi) {
    return Hi - Lo + CountBitsBy<Popcount>(M.Plus & BitsBetween(Lo, Hi));
  }
#endif

  static void Measure(const char* P, const char* End, uint64_t& Width, uint64_t& Column,
                      uint32_t TabWidth, bool NeedColumn) {
    Width += static_cast<uint64_t>(End - P) + CountControlBytes(P, End);
    const char* From = P;
    for (const void* Found; (Found = std::memchr(From, '\t', static_cast<size_t>(End - From)));) {
      const char* const Tab = static_cast<const char*>(Found);
      Column += static_cast<uint64_t>(Tab - From);
      const uint32_t Fill = TabFill(Column, TabWidth);
      Column += Fill;
      Width = Width + Fill - 2;  // the tab was counted two columns
      From = Tab + 1;
    }
    if (NeedColumn) Column += static_cast<uint64_t>(End - From);
  }
};

// --- UTF-16 -----------------------------------------------------------------

// UTF-16 as char16_t units.
struct TNativeUnits {
  using U = char16_t;
  static constexpr size_t Step = 1;
  static uint16_t At(const U* P) { return *P; }
  static void Store(U* To, uint16_t C) { *To = C; }
#ifdef QUILLET_SSE2
  static __m128i Load8(const U* P) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(P)); }
#endif
};

// UTF-16 as bytes, two a unit. (The vector loads assume a little-endian
// machine, as every one with SSE2 is.)
template <bool BigEndian>
struct TByteUnits {
  using U = char;
  static constexpr size_t Step = 2;
  static uint16_t At(const U* P) {
    const uint16_t First = Byte(P);
    const uint16_t Second = Byte(P + 1);
    return BigEndian ? static_cast<uint16_t>(First << 8 | Second)
                     : static_cast<uint16_t>(Second << 8 | First);
  }
  static void Store(U* To, uint16_t C) {
    To[BigEndian ? 0 : 1] = static_cast<U>(C >> 8);
    To[BigEndian ? 1 : 0] = static_cast<U>(C & 0xFF);
  }
#ifdef QUILLET_SSE2
  static __m128i Load8(const U* P) {
    const __m128i Units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P));
    if constexpr (!BigEndian) return Units;
    return _mm_or_si128(_mm_slli_epi16(Units, 8), _mm_srli_epi16(Units, 8));
  }
#endif
};

// Every code unit is a character, surrogates included (a character beyond
// U+FFFF is two, of two columns and one ANSI byte each). A byte left over
// after the last whole unit (only at the end of the input) is a character
// that is neither a blank nor a break, two columns and one byte wide.
template <typename TLoad>
struct TUtf16Rules {
  using U = typename TLoad::U;
  static constexpr size_t Step = TLoad::Step;
  static constexpr size_t BreakUnits = Step;

  static uint8_t KindOf(uint16_t C) {
    return static_cast<uint8_t>((C == u' ') * BlankSpace + (C == u'\t') * BlankTab +
                                (C == 0x3000) * BlankFullWidth);
  }
  static bool IsBlank(uint16_t C) { return (C == u' ') | (C == u'\t') | (C == 0x3000); }
  // Two blanks of one kind are the same unit.
  static bool SameBlank(const U* A, const U* B) { return TLoad::At(A) == TLoad::At(B); }
  // The units of each blank kind.
  static const U* Blank(uint8_t Kind) {
    static const auto Table = [] {
      std::array<std::array<U, 2>, 4> Units{};
      const uint16_t Values[4] = {0, u' ', u'\t', 0x3000};
      for (size_t K = 1; K < 4; ++K) TLoad::Store(Units[K].data(), Values[K]);
      return Units;
    }();
    return Table[Kind].data();
  }
  static constexpr uint8_t BlankLength[4] = {0, Step, Step, Step};
  static constexpr size_t FixedBlankLength = Step;  // every blank is one unit

  static const U* WholeEnd(const U* P, const U* End) {
    return P + static_cast<size_t>(End - P) / Step * Step;
  }
  static bool IsUnit(const U* P, const U* End, uint16_t C) {
    return static_cast<size_t>(End - P) >= Step && TLoad::At(P) == C;
  }
  static bool IsCR(const U* P, const U* End) { return IsUnit(P, End, CR); }
  static bool IsLF(const U* P, const U* End) { return IsUnit(P, End, LF); }

#ifdef QUILLET_SSE2
  // The blanks among the eight units at P, a lane each.
  static constexpr uint32_t BlankLanes = 8;
  static constexpr size_t LaneUnits = Step;
  static constexpr uint32_t FullWidthLanes = 1;
  static constexpr size_t BlankOverhang = 0;
  static TBlankBits BlankBits(const U* P) {
    const __m128i Units = TLoad::Load8(P);
    const auto Equal = [&Units](int C) {
      return _mm_cmpeq_epi16(Units, _mm_set1_epi16(static_cast<short>(C)));
    };
    // A byte a unit: spaces in the low half, tabs in the high one.
    const auto SpacesTabs =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(Equal(u' '), Equal(u'\t'))));
    const __m128i FullWidth = Equal(0x3000);
    const auto FullWidthBits =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(FullWidth, FullWidth))) & 0xFF;
    return {SpacesTabs & 0xFF, SpacesTabs >> 8, FullWidthBits};
  }
#endif

  static const U* FindBreak(const U* P, const U* End) {
    const U* const Whole = WholeEnd(P, End);
#ifdef QUILLET_SSE2
    const __m128i CRs = _mm_set1_epi16(static_cast<short>(CR));
    const __m128i LFs = _mm_set1_epi16(static_cast<short>(LF));
    const auto Breaks = [&CRs, &LFs](const U* At) {
      const __m128i Units = TLoad::Load8(At);
      return _mm_or_si128(_mm_cmpeq_epi16(Units, CRs), _mm_cmpeq_epi16(Units, LFs));
    };
    // Sixteen units a test, a mask bit each.
    for (; static_cast<size_t>(Whole - P) >= 16 * Step; P += 16 * Step) {
      const auto Mask = static_cast<uint32_t>(
          _mm_movemask_epi8(_mm_packs_epi16(Breaks(P), Breaks(P + 8 * Step))));
      if (Mask != 0) return P + std::countr_zero(Mask) * Step;
    }
    if (static_cast<size_t>(Whole - P) >= 8 * Step) {
      // Two mask bits a unit.
      const auto Mask = static_cast<uint32_t>(_mm_movemask_epi8(Breaks(P)));
      if (Mask != 0) return P + std::countr_zero(Mask) / 2 * Step;
      P += 8 * Step;
    }
#endif
    // CR is the larger of the two: other units cost one comparison.
    for (; P != Whole; P += Step) {
      const uint16_t C = TLoad::At(P);
      if (C <= CR && (C == CR || C == LF)) return P;
    }
    return End;
  }

  // The break as FindBreak finds it, and in Bound a width that the units
  // before it cannot exceed: two columns a unit, a tab TabWidth.
  static const U* FindBreakBound(const U* P, const U* End, uint32_t TabWidth, uint64_t& Bound) {
    const U* const Begin = P;
    const U* const Whole = WholeEnd(P, End);
    uint64_t Tabs = 0;
#ifdef QUILLET_SSE2
    const __m128i CRs = _mm_set1_epi16(static_cast<short>(CR));
    const __m128i LFs = _mm_set1_epi16(static_cast<short>(LF));
    const __m128i TabUnits = _mm_set1_epi16(static_cast<short>(u'\t'));
    const __m128i Ones = _mm_set1_epi16(1);
    // Tabs of the whole steps, in 32-bit lanes: a step adds two at most to each.
    __m128i TabCounts = _mm_setzero_si128();
    const auto SumTabs = [&TabCounts] {
      alignas(16) uint32_t Lanes[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(Lanes), TabCounts);
      return uint64_t{Lanes[0]} + Lanes[1] + Lanes[2] + Lanes[3];
    };
    for (; static_cast<size_t>(Whole - P) >= 8 * Step; P += 8 * Step) {
      const __m128i Units = TLoad::Load8(P);
      const auto Mask = static_cast<uint32_t>(_mm_movemask_epi8(
          _mm_or_si128(_mm_cmpeq_epi16(Units, CRs), _mm_cmpeq_epi16(Units, LFs))));
      const __m128i IsTab = _mm_cmpeq_epi16(Units, TabUnits);
      if (Mask != 0) {
        // The tabs before the break, two mask bits a unit: few, one by one.
        auto TabBits = static_cast<uint32_t>(_mm_movemask_epi8(IsTab)) &
                       ((1u << std::countr_zero(Mask)) - 1) & 0x5555u;
        for (; TabBits != 0; TabBits &= TabBits - 1) ++Tabs;
        P += std::countr_zero(Mask) / 2 * Step;
        Bound = 2 * static_cast<uint64_t>(P - Begin) / Step + (Tabs + SumTabs()) * TabWidth;
        return P;
      }
      TabCounts = _mm_sub_epi32(TabCounts, _mm_madd_epi16(IsTab, Ones));
    }
    Tabs += SumTabs();
#endif
    for (; P != Whole; P += Step) {
      const uint16_t C = TLoad::At(P);
      if (C == CR || C == LF) break;
      Tabs += C == u'\t';
    }
    Bound = 2 * static_cast<uint64_t>(P - Begin) / Step + Tabs * TabWidth;
    return P == Whole ? End : P;  // no bound is needed without a break
  }

  static size_t BlankUnitsAt(const U* P, const U* End) {
    return static_cast<size_t>(End - P) >= Step && IsBlank(TLoad::At(P)) ? Step : 0;
  }
  static TBlank BlankAt(const U* P, const U* End) {
    if (static_cast<size_t>(End - P) < Step) return {0, 0};
    const uint8_t Kind = KindOf(TLoad::At(P));
    return {Kind, static_cast<uint8_t>((Kind != 0) * Step)};
  }
  static const U* TrailingBlanks(const U* P, const U* End) {
    if (static_cast<size_t>(End - P) % Step != 0) return End;
#ifdef QUILLET_SSE2
    // Eight units a test, from the end.
    while (static_cast<size_t>(End - P) >= 8 * Step) {
      const TBlankBits Bits = BlankBits(End - 8 * Step);
      const auto Blanks = static_cast<uint8_t>(Bits.Spaces | Bits.Tabs | Bits.FullWidth);
      const auto Count = static_cast<size_t>(std::countl_one(Blanks));
      End -= Count * Step;
      if (Count < 8) return End;
    }
#endif
    while (End != P && IsBlank(TLoad::At(End - Step))) End -= Step;
    return End;
  }
  static const U* CompleteEnd(const U* P, const U* End) { return WholeEnd(P, End); }
  static bool Wants(const U*, size_t Have) { return Have < Step; }
  static bool Continues(const U*, size_t, U) { return true; }

  static size_t FullWidthColumns() { return FullWidthSpaceBytes(); }

  // Narrow units among the Units units at P, counted eight at a time where
  // the processor allows: a range test is one signed comparison of the
  // unit's offset from the range start, both moved by 0x8000. AfterTab is
  // set just after the last tab, or to P.
  static uint64_t NarrowUnits(const U* P, size_t Units, const U*& AfterTab) {
    AfterTab = P;
#ifdef QUILLET_SSE2
    if (Units >= 8) {
      const auto Splat = [](int Value) { return _mm_set1_epi16(static_cast<short>(Value)); };
      const auto InRange = [&Splat](__m128i V, int Low, int High) {
        const __m128i Offset = _mm_xor_si128(_mm_sub_epi16(V, Splat(Low)), Splat(0x8000));
        return _mm_cmplt_epi16(Offset, Splat((High - Low + 1) ^ 0x8000));
      };
      // Thirty-two-bit lane counts: a step adds one at most to each.
      __m128i Counts = _mm_setzero_si128();
      size_t At = 0;
      size_t Skip = 0;
      do {
        const __m128i V = TLoad::Load8(P + At * Step);
        const __m128i Fresh = FreshUnits(Skip);
        const __m128i IsNarrowUnit =
            _mm_or_si128(_mm_or_si128(InRange(V, 0x0020, 0x007F), InRange(V, 0xFF61, 0xFF9F)),
                         _mm_cmpeq_epi16(V, Splat(0x203E)));
        Counts = _mm_sub_epi32(Counts, _mm_madd_epi16(_mm_and_si128(IsNarrowUnit, Fresh), Splat(1)));
        const auto Tabs = static_cast<uint32_t>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi16(V, Splat(u'\t')), Fresh)));
        if (Tabs != 0) AfterTab = P + (At + (32 - std::countl_zero(Tabs)) / 2) * Step;
      } while (NextStep<8>(At, Skip, Units));
      alignas(16) uint32_t Lanes[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(Lanes), Counts);
      return uint64_t{Lanes[0]} + Lanes[1] + Lanes[2] + Lanes[3];
    }
#endif
    uint64_t Narrow = 0;
    for (size_t I = 0; I < Units; ++I) {
      const uint16_t C = TLoad::At(P + I * Step);
      Narrow += IsNarrow(C);
      if (C == u'\t') AfterTab = P + (I + 1) * Step;
    }
    return Narrow;
  }

#ifdef QUILLET_SSE2
  // Measure's columns by bits, one at the first byte of each unit: two a
  // unit, less one for each narrow unit. Every blank is a unit of its own,
  // both of whose bits say so.
  static constexpr size_t StepOverhang = 0;
  static constexpr bool BlanksByBits = true;
  // Without Exact, no blanks; without Widths, only the breaks and blanks.
  template <bool Exact = true, bool Widths = true>
  static TStepMasks StepMasks(const U* S) {
    const auto Splat = [](int Value) { return _mm_set1_epi16(static_cast<short>(Value)); };
    const auto InRange = [&Splat](__m128i V, int Low, int High) {
      const __m128i Offset = _mm_xor_si128(_mm_sub_epi16(V, Splat(Low)), Splat(0x8000));
      return _mm_cmplt_epi16(Offset, Splat((High - Low + 1) ^ 0x8000));
    };
    TStepMasks M;
    for (int Part = 0; Part < 4; ++Part) {
      const __m128i V = TLoad::Load8(S + 8 * Step * static_cast<size_t>(Part));
      M.Breaks |= PartBits(_mm_or_si128(_mm_cmpeq_epi16(V, Splat(CR)), _mm_cmpeq_epi16(V, Splat(LF))), Part);
      const __m128i Tab = _mm_cmpeq_epi16(V, Splat(u'\t'));
      if constexpr (Exact) {
        M.Blanks |= PartBits(_mm_or_si128(Tab, _mm_or_si128(_mm_cmpeq_epi16(V, Splat(u' ')),
                                                            _mm_cmpeq_epi16(V, Splat(0x3000)))),
                             Part);
      }
      if constexpr (Widths) {
        M.Tabs |= PartBits(Tab, Part);
        M.Minus |= PartBits(
            _mm_or_si128(_mm_or_si128(InRange(V, 0x0020, 0x007F), InRange(V, 0xFF61, 0xFF9F)),
                         _mm_cmpeq_epi16(V, Splat(0x203E))),
            Part);
      }
    }
    constexpr uint64_t FirstBytes = 0x5555555555555555u;
    M.Breaks &= FirstBytes;
    M.Tabs &= FirstBytes;
    M.Minus &= FirstBytes;
    return M;
  }
  // Lo and Hi bound whole units, two bits each.
  template <bool Popcount>
  static uint64_t StepWidth(const TStepMasks& M, uint64_t Lo, uint64_t Hi) {
    return Hi - Lo - CountBitsBy<Popcount>(M.Minus & BitsBetween(Lo, Hi));
  }
#endif

  static void Measure(const U* P, const U* End, uint64_t& Width, uint64_t& Column,
                      uint32_t TabWidth, bool NeedColumn) {
    const size_t Units = static_cast<size_t>(End - P) / Step;
    const bool Odd = static_cast<size_t>(End - P) % Step != 0;
    const U* AfterTab;
    Width += 2 * (Units + Odd) - NarrowUnits(P, Units, AfterTab);
    const U* const Last = NeedColumn ? P + Units * Step : AfterTab;
    if (Last == P) {
      if (NeedColumn) Column += Odd;
      return;
    }
    const uint8_t* const Ansi = AnsiByteCounts();
    for (const U* Q = P; Q != Last; Q += Step) {
      const uint16_t C = TLoad::At(Q);
      if (C == u'\t') {
        const uint32_t Fill = TabFill(Column, TabWidth);
        Column += Fill;
        Width = Width + Fill - 2;  // the tab was counted two columns
      } else {
        Column += Ansi[C];
      }
    }
    if (NeedColumn) Column += Odd;
  }
};

template <typename TEncoding>
struct TRulesOf;
template <>
struct TRulesOf<TUtf16Text> {
  using T = TUtf16Rules<TNativeUnits>;
};
template <>
struct TRulesOf<TUtf16LEBytes> {
  using T = TUtf16Rules<TByteUnits<false>>;
};
template <>
struct TRulesOf<TUtf16BEBytes> {
  using T = TUtf16Rules<TByteUnits<true>>;
};
template <>
struct TRulesOf<TUtf8Bytes> {
  using T = TUtf8Rules;
};
template <>
struct TRulesOf<TCp932Bytes> {
  using T = TCp932Rules;
};

}  // namespace

namespace {

// Command 9 pads to the multiple of TabWidth at or after Widest + TabWidth:
// the stop of this number.
uint64_t PaddingStop(uint64_t Widest, uint32_t TabWidth) {
  return Widest / TabWidth + (Widest % TabWidth != 0) + 1;
}

// Tabs from a line Width columns wide to the stop of number Stop: the first
// reaches the next stop after Width, each further one the next.
inline uint64_t TabsToStop(uint64_t Stop, uint64_t Width, uint32_t TabWidth) {
  const uint64_t Passed = std::has_single_bit(TabWidth) ? Width >> std::countr_zero(TabWidth)
                                                        : Width / TabWidth;
  return Stop > Passed ? Stop - Passed : 0;
}

}  // namespace

uint64_t PaddingCount(uint8_t Command, uint64_t Width, uint64_t Widest, uint32_t TabWidth) {
  if (Command == 8) return Widest > Width ? Widest - Width : 0;
  if (Command != 9) return 0;
  return TabsToStop(PaddingStop(Widest, TabWidth), Width, TabWidth);
}

template <typename TEncoding>
TLineEngine<TEncoding>::TLineEngine(const TLineEngineSettings& Settings)
    : FSink(nullptr),
      FCommand(Settings.Command),
      FTabWidth(static_cast<uint32_t>(std::clamp(Settings.TabWidth, 1, 64))),
      FReport(false),
      FMeasures(true),
      FWidestIn(Settings.Widest),
      FAll(Settings.Lines.empty()) {
  using TRules = typename TRulesOf<TEncoding>::T;
  FLineBefore = FLine = Settings.FirstLine == 0 ? 0 : Settings.FirstLine - 1;
  FPowerOfTwo = std::has_single_bit(FTabWidth);
  FPaddingStop = PaddingStop(FWidestIn, FTabWidth);
  FSelectedPhase = phContent;
  FFullWidthColumns = static_cast<uint32_t>(TRules::FullWidthColumns());
  for (uint8_t Kind = BlankSpace; Kind <= BlankFullWidth; ++Kind) {
    std::copy_n(TRules::Blank(Kind), TRules::BlankLength[Kind], FBlankUnits[Kind]);
  }
  for (const TLineRange& Range : Settings.Lines) {
    if (Range.Last >= std::max<uint64_t>(Range.First, 1)) FRanges.push_back(Range);
  }
  std::sort(FRanges.begin(), FRanges.end(),
            [](const TLineRange& A, const TLineRange& B) { return A.First < B.First; });
}

template <typename TEncoding>
TLineEngine<TEncoding>::TLineEngine(const TLineEngineSettings& Settings, TLineSink<TUnit>& Sink)
    : TLineEngine(Settings) {
  FSink = &Sink;
  FReport = Settings.Report;
  FMeasures = FCommand == 8 || FCommand == 9;
  FSelectedPhase = FCommand >= 1 && FCommand <= 6   ? phIndent
                   : FCommand >= 7 && FCommand <= 9 ? phContent
                                                    : phPass;
}

template <typename TEncoding>
uint64_t TLineEngine<TEncoding>::Width(const TUnit* Units, size_t Count, int32_t TabWidth) {
  uint64_t Width = 0;
  uint64_t Column = 0;
  TRulesOf<TEncoding>::T::Measure(Units, Units + Count, Width, Column,
                                  static_cast<uint32_t>(std::clamp(TabWidth, 1, 64)), false);
  return Width;
}

// --- Output -------------------------------------------------------------------

template <typename TEncoding>
void TLineEngine<TEncoding>::Drain() {
  if (FStaged == 0) return;
  FSink->Put(FStage, FStaged);
  FStaged = 0;
}

// Copies Bytes bytes from From to To, the sizes of a line or two without a
// call: in 16-byte pieces, the last one overlapping the one before, and
// smaller ones likewise.
inline void CopyBytes(char* To, const char* From, size_t Bytes) {
#ifdef QUILLET_SSE2
  if (Bytes >= 16) {
    for (size_t I = 0; I + 16 < Bytes; I += 16) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(To + I),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(From + I)));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(To + Bytes - 16),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(From + Bytes - 16)));
    return;
  }
#endif
  if (Bytes > 16) {
    std::memcpy(To, From, Bytes);
  } else if (Bytes >= 8) {
    uint64_t Head;
    uint64_t Tail;
    std::memcpy(&Head, From, 8);
    std::memcpy(&Tail, From + Bytes - 8, 8);
    std::memcpy(To, &Head, 8);
    std::memcpy(To + Bytes - 8, &Tail, 8);
  } else if (Bytes >= 4) {
    uint32_t Head;
    uint32_t Tail;
    std::memcpy(&Head, From, 4);
    std::memcpy(&Tail, From + Bytes - 4, 4);
    std::memcpy(To, &Head, 4);
    std::memcpy(To + Bytes - 4, &Tail, 4);
  } else {
    for (size_t I = 0; I < Bytes; ++I) To[I] = From[I];
  }
}

// Short pieces are gathered in the stage; a long one goes to the sink as it
// is.
template <typename TEncoding>
void TLineEngine<TEncoding>::Write(const TUnit* Units, size_t Count) {
  if (FCopyEnd != nullptr) FlushCopy();
  if (Count > StageUnits - FStaged) {
    Drain();
    if (Count > StageUnits) return FSink->Put(Units, Count);
  }
  constexpr size_t Inline = 256;
  if (Count * sizeof(TUnit) <= Inline) {
    CopyBytes(reinterpret_cast<char*>(FStage + FStaged), reinterpret_cast<const char*>(Units),
              Count * sizeof(TUnit));
  } else {
    std::memcpy(FStage + FStaged, Units, Count * sizeof(TUnit));
  }
  FStaged += Count;
}

template <typename TEncoding>
void TLineEngine<TEncoding>::FlushCopy() {
  const TUnit* const From = FCopyBegin;
  const auto Count = static_cast<size_t>(FCopyEnd - From);
  FCopyBegin = FCopyEnd = nullptr;
  if (Count != 0) Write(From, Count);
}

template <typename TEncoding>
void TLineEngine<TEncoding>::Copy(const TUnit* From, const TUnit* To) {
  if (FSink == nullptr || From == To) return;
  if (From != FCopyEnd) {
    if (FCopyEnd != nullptr) FlushCopy();
    FCopyBegin = From;
  }
  FCopyEnd = To;
}

// Where Count (at most StageUnits) units may be written; FStaged then takes
// them.
template <typename TEncoding>
typename TLineEngine<TEncoding>::TUnit* TLineEngine<TEncoding>::Room(size_t Count) {
  if (FCopyEnd != nullptr) FlushCopy();
  if (Count > StageUnits - FStaged) Drain();
  return FStage + FStaged;
}

template <typename TEncoding>
void TLineEngine<TEncoding>::WriteBlank(uint8_t Kind, uint64_t Count) {
  using TRules = typename TRulesOf<TEncoding>::T;
  const size_t Length = TRules::BlankLength[Kind];
  while (Count != 0) {
    const auto Blanks = static_cast<size_t>(std::min<uint64_t>(Count, StageUnits / MaxCharUnits));
    FillBlanks(Room(Blanks * Length), Kind, Blanks);
    FStaged += Blanks * Length;
    Count -= Blanks;
  }
}

// Count blanks of Kind at To, in the stage: the stage has room for the
// units of a last store of sixteen bytes that lie past them, and what
// follows writes over them.
template <typename TEncoding>
void TLineEngine<TEncoding>::FillBlanks(TUnit* To, uint8_t Kind, size_t Count) {
  using TRules = typename TRulesOf<TEncoding>::T;
  const TUnit* const Units = TRules::Blank(Kind);
  const size_t Length = TRules::BlankLength[Kind];
  if (Length == 1) {
#ifdef QUILLET_SSE2
    const __m128i Fill = sizeof(TUnit) == 2 ? _mm_set1_epi16(static_cast<short>(Units[0]))
                                            : _mm_set1_epi8(static_cast<char>(Units[0]));
    for (TUnit* const Stop = To + Count; To < Stop; To += 16 / sizeof(TUnit)) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(To), Fill);
    }
#else
    std::fill_n(To, Count, Units[0]);
#endif
#ifdef QUILLET_SSE2
  } else if (sizeof(TUnit) == 1 && Length == 2) {
    // A UTF-16 or CP932 blank of two bytes, eight to a store.
    uint16_t Pair;
    std::memcpy(&Pair, Units, 2);
    const __m128i Fill = _mm_set1_epi16(static_cast<short>(Pair));
    for (TUnit* const Stop = To + 2 * Count; To < Stop; To += 16) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(To), Fill);
    }
#endif
  } else {
    for (size_t I = 0; I < Count; ++I, To += Length) {
      for (size_t K = 0; K < Length; ++K) To[K] = Units[K];
    }
  }
}

// --- Lines --------------------------------------------------------------------

template <typename TEncoding>
bool TLineEngine<TEncoding>::Selects(uint64_t Line) {
  if (FAll) return true;
  while (FNextRange < FRanges.size() && FRanges[FNextRange].Last < Line) ++FNextRange;
  // Ranges may overlap: a later one can still hold Line when this one
  // starts after it.
  for (size_t I = FNextRange; I < FRanges.size() && FRanges[I].First <= Line; ++I) {
    if (FRanges[I].Last >= Line) return true;
  }
  return false;
}

template <typename TEncoding>
void TLineEngine<TEncoding>::OpenLine(const TUnit* P) {
  ++FLine;
  FLineOpen = true;
  FLineBegin = P;
  FKinds = 0;
  FPhase = Selects(FLine) ? FSelectedPhase : phPass;
}

template <typename TEncoding>
void TLineEngine<TEncoding>::CloseLine() {
  if (FKinds != 0) FChanged = true;
  if (FReport && FKinds != 0 && FSink != nullptr) {
    FSink->LineChanged({FLine, FLineBegin != nullptr ? OffsetOf(FLineBegin) : FLineOffset, FKinds});
  }
  FLineOpen = false;
}

// Break is a CR or an LF; a CR takes the LF after it.
template <typename TEncoding>
const typename TLineEngine<TEncoding>::TUnit* TLineEngine<TEncoding>::EndLine(
    const TUnit* Break, const TUnit* End) {
  using TRules = typename TRulesOf<TEncoding>::T;
  const TUnit* After = Break + TRules::BreakUnits;
  if (TRules::IsCR(Break, End)) {
    if (After == End) {
      FAfterCR = true;
    } else if (TRules::IsLF(After, End)) {
      After += TRules::BreakUnits;
    }
  }
  Copy(Break, After);
  CloseLine();
  return After;
}

template <typename TEncoding>
const typename TLineEngine<TEncoding>::TUnit* TLineEngine<TEncoding>::CopyToBreak(
    const TUnit* P, const TUnit* End) {
  const TUnit* const Break = TRulesOf<TEncoding>::T::FindBreak(P, End);
  Copy(P, Break);
  return Break == End ? End : EndLine(Break, End);
}

// --- Indents ------------------------------------------------------------------

// The indent ends just before P: its new units are written, or, when they
// are the old ones and still at hand, those are copied.
template <typename TEncoding>
void TLineEngine<TEncoding>::EndIndent(const TUnit* P) {
  const TIndent& I = FIndent;
  bool Changed = I.Blanks != 0;
  if (FCommand <= 3) {
    // The indent the command gives: spaces only; full-width spaces and at
    // most one space after them; tabs and fewer spaces than a tab after them.
    const uint64_t Spaces = I.Blanks - I.Tabs - I.FullWidth;
    Changed = FCommand == 1   ? I.Tabs + I.FullWidth != 0
              : FCommand == 2 ? I.Tabs != 0 || Spaces > 1 || (Spaces == 1 && I.Last != BlankSpace)
                              : I.FullWidth != 0 || I.SpacesAfterTab != Spaces || Spaces >= FTabWidth;
    if (!Changed && FLineBegin != nullptr) {
      Copy(FLineBegin, P);
    } else if (FCommand == 1) {
      WriteBlank(BlankSpace, I.Spaces);
    } else if (FCommand == 2) {
      WriteBlank(BlankFullWidth, I.Spaces / 2);
      WriteBlank(BlankSpace, I.Spaces % 2);
    } else {
      WriteBlank(BlankTab, I.Spaces / FTabWidth);
      WriteBlank(BlankSpace, I.Spaces % FTabWidth);
    }
  } else if (FCommand == 5) {
    if (I.Unpaired != 0) WriteBlank(I.Unpaired, 1);
    Changed = I.Halved;
  }
  if (Changed) FKinds |= lkIndent;
}

#ifdef QUILLET_SSE2
// The blanks that the row of lanes at P starts with, up to End, where the
// rules find blanks by bits: their lanes by kind (a full-width space at its
// first), how many lanes they fill (a full-width space that starts in the
// row may end past it), and whether they end in the row, at a unit that is
// no blank or at End. The row and what the rules read past it must lie in
// the input.
struct TBlankRun {
  TBlankBits Bits;
  uint32_t Lanes;
  uint32_t Blanks;
  bool Ended;
};
template <typename TRules, typename TUnit>
QUILLET_LINE_STEP TBlankRun BlankRunAt(const TUnit* P, const TUnit* End) {
  constexpr uint32_t Wide = TRules::FullWidthLanes;
  constexpr uint32_t Row = TRules::BlankLanes;
  const TBlankBits Bits = TRules::BlankBits(P);
  // The lanes before End, as far as a full-width space from the row goes.
  const auto Left = static_cast<uint32_t>(
      std::min<size_t>(static_cast<size_t>(End - P) / TRules::LaneUnits, Row + Wide - 1));
  const uint32_t Fits = (1u << Left) - 1;
  const uint32_t FullWidth = Bits.FullWidth & (Fits >> (Wide - 1));
  uint32_t All = ((Bits.Spaces | Bits.Tabs) & Fits) | FullWidth;
  for (uint32_t K = 1; K < Wide; ++K) All |= FullWidth << K;
  const auto Lanes = static_cast<uint32_t>(std::countr_one(All));
  const uint32_t Within = (1u << Lanes) - 1;
  const TBlankBits In{Bits.Spaces & Within, Bits.Tabs & Within, FullWidth & Within};
  // (Where every blank is a lane, the lanes are the blanks.)
  const uint32_t Blanks =
      Wide == 1 ? Lanes : CountLaneBits<Row>(In.Spaces | In.Tabs | In.FullWidth);
  return {In, Lanes, Blanks, Lanes < Row};
}
#endif

// Counts the blanks from P on, up to End, into Indent, as the indent of a
// line goes on: branch-free, a space is one space and one column, a tab
// fills to the next stop, a full-width space is two spaces and its bytes.
// Units up to Limit (End or past it) may be read. Gives the end of the
// blanks.
template <typename TEncoding>
template <bool PowerOfTwo>
const typename TLineEngine<TEncoding>::TUnit* TLineEngine<TEncoding>::CountIndent(
    const TUnit* P, const TUnit* End, const TUnit* Limit, TIndent& Indent) const {
  using TRules = typename TRulesOf<TEncoding>::T;
  const uint32_t Step = FTabWidth;
  const uint32_t FullWidthColumns = FFullWidthColumns;
  // In locals: stores of units could alias the members.
  uint64_t Spaces = Indent.Spaces;
  uint64_t Blanks = Indent.Blanks;
  uint64_t Tabs = Indent.Tabs;
  uint64_t FullWidth = Indent.FullWidth;
  uint64_t SpacesAfterTab = Indent.SpacesAfterTab;
  uint32_t Column = Indent.Column;
  uint8_t Last = Indent.Last;
  bool Ended = false;  // in a row, by a unit that is no blank or by End
#ifdef QUILLET_SSE2
  if constexpr (requires { TRules::BlankBits(P); }) {
    // A row of lanes at a time while there are as many to read: the
    // blanks are counted by their bits, from tab to tab.
    while (static_cast<size_t>(Limit - P) >=
               TRules::BlankLanes * TRules::LaneUnits + TRules::BlankOverhang &&
           P != End) {
      constexpr uint32_t Row = TRules::BlankLanes;
      const TBlankRun Run = BlankRunAt<TRules>(P, End);
      const TBlankBits& Bits = Run.Bits;
      const auto AddBlanks = [&](uint32_t Part) {
        const uint32_t InSpaces = CountLaneBits<Row>(Bits.Spaces & Part);
        const uint32_t InFullWidth = CountLaneBits<Row>(Bits.FullWidth & Part);
        const uint32_t Add = InSpaces + FullWidthColumns * InFullWidth;
        Column = PowerOfTwo ? Column + Add : (Column + Add) % Step;
        Spaces += InSpaces + 2 * InFullWidth;
        SpacesAfterTab += InSpaces;
        FullWidth += InFullWidth;
      };
      uint32_t Within = (1u << Run.Lanes) - 1;
      for (uint32_t TabBits = Bits.Tabs; TabBits != 0; TabBits &= TabBits - 1) {
        const uint32_t Before = Within & ((TabBits & (0 - TabBits)) - 1);
        AddBlanks(Before);
        Within &= ~Before;
        const uint32_t Fill = Step - (PowerOfTwo ? Column & (Step - 1) : Column);
        Column = PowerOfTwo ? Column + Fill : 0;
        Spaces += Fill;
        SpacesAfterTab = 0;
        ++Tabs;
      }
      AddBlanks(Within);
      if (const uint32_t Starts = Bits.Spaces | Bits.Tabs | Bits.FullWidth; Starts != 0) {
        // (Where every blank is a lane, the last lane is the last blank.)
        const uint32_t LastBit = TRules::FullWidthLanes == 1
                                     ? (1u << Run.Lanes) >> 1
                                     : 1u << (31 - std::countl_zero(Starts));
        Last = static_cast<uint8_t>(((Bits.Spaces & LastBit) != 0) * BlankSpace +
                                    ((Bits.Tabs & LastBit) != 0) * BlankTab +
                                    ((Bits.FullWidth & LastBit) != 0) * BlankFullWidth);
      }
      Blanks += Run.Blanks;
      P += Run.Lanes * TRules::LaneUnits;
      if (Run.Ended) {
        Ended = true;
        break;
      }
    }
  }
#else
  static_cast<void>(Limit);
#endif
  for (TBlank Blank; !Ended && P != End && (Blank = TRules::BlankAt(P, End)).Units != 0;
       P += Blank.Units) {
    const uint32_t IsSpace = Blank.Kind == BlankSpace;
    const uint32_t IsTab = Blank.Kind == BlankTab;
    const uint32_t IsFullWidth = Blank.Kind == BlankFullWidth;
    const uint32_t Fill = IsTab * (Step - (PowerOfTwo ? Column & (Step - 1) : Column));
    const uint32_t Add = IsSpace + Fill + FullWidthColumns * IsFullWidth;
    Column = PowerOfTwo ? Column + Add : AddModulo(Column, Add, Step);
    Spaces += IsSpace + Fill + 2 * IsFullWidth;
    SpacesAfterTab = IsTab != 0 ? 0 : SpacesAfterTab + IsSpace;
    Tabs += IsTab;
    FullWidth += IsFullWidth;
    Last = Blank.Kind;
    ++Blanks;
  }
  Indent.Spaces = Spaces;
  Indent.Blanks = Blanks;
  Indent.Tabs = Tabs;
  Indent.FullWidth = FullWidth;
  Indent.SpacesAfterTab = SpacesAfterTab;
  Indent.Column = Column;
  Indent.Last = Last;
  return P;
}

// Command 1 stands for 1 to 3, which count the indent's half-width spaces
// and its form; 4 writes every blank twice as it reads it; 5 writes one of
// every pair of equal blanks, from the left; 6 only counts. Then the rest
// of the line is copied.
template <typename TEncoding>
template <uint8_t Command, bool PowerOfTwo>
const typename TLineEngine<TEncoding>::TUnit* TLineEngine<TEncoding>::ScanIndent(
    const TUnit* P, const TUnit* End) {
  using TRules = typename TRulesOf<TEncoding>::T;
  if (FLineBegin == P) FIndent = {};  // the line starts here
  // In locals: stores of units could alias the members.
  uint64_t Blanks = FIndent.Blanks;
  if constexpr (Command == 1) {
    TIndent Indent = FIndent;
    Indent.Blanks = Blanks;
    P = CountIndent<PowerOfTwo>(P, End, End, Indent);
    FIndent = Indent;
    Blanks = Indent.Blanks;
  } else if constexpr (Command == 4 || Command == 5) {
    // Command 4 needs no kinds, command 5 only with blanks of several lengths.
    const auto BlankOf = [](const TUnit* At, const TUnit* Last) -> TBlank {
      if constexpr (Command == 4 || TRules::FixedBlankLength != 0) {
        return {0, static_cast<uint8_t>(TRules::BlankUnitsAt(At, Last))};
      } else {
        return TRules::BlankAt(At, Last);
      }
    };
    // Room for a stretch of the indent at a time: command 4 writes two units
    // for each it reads, 5 one at most and the blank it held back; a pair
    // may reach past the stretch.
    constexpr size_t Stretch = StageUnits / 16;
    uint8_t Unpaired = FIndent.Unpaired;
    bool Halved = FIndent.Halved;
    if constexpr (Command == 5) {
      // The blank that the run before held back goes out, and pairs with
      // the first blank of this run when they are equal.
      if (Unpaired != 0 && P != End) {
        const TBlank Blank = TRules::BlankAt(P, End);
        if (Blank.Units != 0) {
          TUnit* To = Room(MaxCharUnits);
          for (size_t K = 0; K < TRules::BlankLength[Unpaired]; ++K) *To++ = FBlankUnits[Unpaired][K];
          FStaged = static_cast<size_t>(To - FStage);
          const bool Pair = Blank.Kind == Unpaired;
          Halved |= Pair;
          Unpaired = 0;
          if (Pair) P += Blank.Units;
        }
      }
    }
    // No room is taken for a line without an indent, whose copy then goes on.
    while (P != End && TRules::BlankUnitsAt(P, End) != 0) {
      const TUnit* const Stop = P + std::min<size_t>(static_cast<size_t>(End - P), Stretch);
      TUnit* To = Room(2 * (Stretch + MaxCharUnits));
#ifdef QUILLET_SSE2
      if constexpr (Command == 4 && requires { TRules::BlankBits(P); }) {
        if constexpr (TRules::LaneUnits * sizeof(TUnit) == 2) {
          // Eight units at a time, each written twice: the stores may reach
          // past the blanks, into the room taken.
          while (static_cast<size_t>(Stop - P) >= 8 * TRules::LaneUnits) {
            const TBlankRun Run = BlankRunAt<TRules>(P, Stop);
            const __m128i Units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(To), _mm_unpacklo_epi16(Units, Units));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(To + 8 * TRules::LaneUnits),
                             _mm_unpackhi_epi16(Units, Units));
            To += 2 * Run.Lanes * TRules::LaneUnits;
            P += Run.Lanes * TRules::LaneUnits;
            Blanks += Run.Blanks;
            if (Run.Ended) break;
          }
        }
      }
#endif
      for (TBlank Blank; P < Stop && (Blank = BlankOf(P, End)).Units != 0;) {
        const TUnit* const Next = P + Blank.Units;
        // The units of a blank, copied one by one unless all blanks are as
        // long, which the compiler can copy in one go.
        const auto CopyBlank = [](TUnit* To, const TUnit* From, size_t Units) {
          constexpr size_t Fixed = TRules::FixedBlankLength;
          for (size_t K = 0; K < (Fixed != 0 ? Fixed : Units); ++K) To[K] = From[K];
        };
        if constexpr (Command == 4) {
          ++Blanks;  // (halving changes a line when it halves, whatever the count)
          CopyBlank(To, P, Blank.Units);
          CopyBlank(To + Blank.Units, P, Blank.Units);
          To += 2 * Blank.Units;
          P = Next;
        } else {
          // Scanning from the left, a blank and the one after it, when they
          // are equal, become one; the last blank of a run waits for the next
          // run, which may hold its pair.
          if (Next == End) {
            Unpaired = TRules::BlankAt(P, End).Kind;
            P = Next;
            break;
          }
          CopyBlank(To, P, Blank.Units);
          To += Blank.Units;
          bool Pair;
          size_t AfterUnits;
          if constexpr (TRules::FixedBlankLength != 0) {
            // A unit equal to a blank is that blank.
            AfterUnits = TRules::FixedBlankLength;
            Pair = TRules::SameBlank(P, Next);
          } else {
            const TBlank After = TRules::BlankAt(Next, End);
            AfterUnits = After.Units;
            Pair = After.Units != 0 && After.Kind == Blank.Kind;
          }
          Halved |= Pair;
          P = Pair ? Next + AfterUnits : Next;
        }
      }
      FStaged = static_cast<size_t>(To - FStage);
      if (P < Stop || P == End) break;
    }
    FIndent.Unpaired = Unpaired;
    FIndent.Halved = Halved;
  } else {
#ifdef QUILLET_SSE2
    if constexpr (requires { TRules::BlankBits(P); }) {
      while (static_cast<size_t>(End - P) >=
             TRules::BlankLanes * TRules::LaneUnits + TRules::BlankOverhang) {
        const TBlankRun Run = BlankRunAt<TRules>(P, End);
        Blanks += Run.Blanks;
        P += Run.Lanes * TRules::LaneUnits;
        if (Run.Ended) break;
      }
    }
#endif
    for (size_t Units; P != End && (Units = TRules::BlankUnitsAt(P, End)) != 0; P += Units) ++Blanks;
  }
  FIndent.Blanks = Blanks;
  if (P == End) return End;  // the indent may go on in the next run
  EndIndent(P);
  FPhase = phRest;
  return CopyToBreak(P, End);
}

// --- Line ends ----------------------------------------------------------------

// Counts the blanks From .. To into Held, and with Measure their width,
// the content's column going on.
template <typename TEncoding>
template <bool Measure>
void TLineEngine<TEncoding>::CountBlanks(const TUnit* From, const TUnit* To, THeld& Held) {
  using TRules = typename TRulesOf<TEncoding>::T;
  const uint64_t FullWidthColumns = FFullWidthColumns;
  for (TBlank Blank; From != To && (Blank = TRules::BlankAt(From, To)).Units != 0;
       From += Blank.Units) {
    ++Held.Blanks;
    Held.Kinds |= static_cast<uint8_t>(1 << Blank.Kind);
    if constexpr (Measure) AddBlank(Blank.Kind, FullWidthColumns, FColumns.Column, Held.Width);
  }
}

// A blank of Kind at Column (its code page 932 column): Column and Width
// go past it.
template <typename TEncoding>
void TLineEngine<TEncoding>::AddBlank(uint8_t Kind, uint64_t FullWidthColumns, uint64_t& Column,
                                      uint64_t& Width) const {
  if (Kind == BlankTab) {
    const uint32_t Fill = TabFill(Column, FTabWidth);
    Column += Fill;
    Width += Fill;
  } else if (Kind == BlankSpace) {
    Column += 1;
    Width += 1;
  } else {
    Column += FullWidthColumns;
    Width += 2;
  }
}

// Adds the width of P .. End, taken as the start of a line, to Width: an
// indent of blanks as the indent commands count it, anything else as the
// rules measure it. Units up to Limit may be read.
template <typename TEncoding>
void TLineEngine<TEncoding>::MeasureStart(const TUnit* P, const TUnit* End, const TUnit* Limit,
                                          uint64_t& Width) const {
  using TRules = typename TRulesOf<TEncoding>::T;
  TIndent Indent;
  const TUnit* const Blanks = FPowerOfTwo ? CountIndent<true>(P, End, Limit, Indent)
                                          : CountIndent<false>(P, End, Limit, Indent);
  if (Blanks == End) {
    Width += Indent.Spaces;
    return;
  }
  uint64_t Column = 0;
  TRules::Measure(P, End, Width, Column, FTabWidth, false);
}

// The blanks held back, up to P, are inside the line: out they go, from the
// window or the input for the part before this run.
template <typename TEncoding>
void TLineEngine<TEncoding>::KeepHeldBlanks(const TUnit* P) {
  if (FHeld.Offset < FOffset) {
    if (FSink != nullptr) {
      if (!FHeld.WindowFull) {
        Write(FWindow, FHeld.Windowed);
      } else {
        FlushCopy();
        Drain();
        FSink->PutInput(FHeld.Offset, FOffset - FHeld.Offset);
      }
    }
    Copy(FBegin, P);
  } else {
    Copy(FBegin + (FHeld.Offset - FOffset), P);
  }
  FColumns.Width += FHeld.Width;
}

// PaddingCount of commands 8 and 9 for this engine's widest line, command
// 9's stop found once.
template <typename TEncoding>
uint64_t TLineEngine<TEncoding>::Padding(uint64_t Width) const {
  return FCommand == 8 ? PaddingCount(8, Width, FWidestIn, FTabWidth)
                       : TabsToStop(FPaddingStop, Width, FTabWidth);
}

// The content of a line Width columns wide ends at Break, and the Held
// blanks before it (Blanks: there are some), which start at HeldHere when
// they all lie in this run, end the line: they go, and commands 8 and 9 put
// their padding there.
template <typename TEncoding>
void TLineEngine<TEncoding>::EndContent(uint64_t Width, bool Blanks, const THeld& Held,
                                        const TUnit* HeldHere, const TUnit* Break) {
  FWidest = std::max(FWidest, Width);
  if (FSink == nullptr) return;
  if (FCommand == 7) {
    FKinds |= static_cast<uint8_t>(Blanks * lkTrailingBlanks);
    return;
  }
  const uint64_t Pad = Padding(Width);
  const uint8_t Kind = FCommand == 8 ? BlankSpace : BlankTab;
  const bool Same = Held.Blanks == Pad && (Pad == 0 || Held.Kinds == 1 << Kind);
  if (!Same) {
    if (Blanks) FKinds |= lkTrailingBlanks;
    if (Pad != 0) FKinds |= lkPadding;
  }
  if (Same && HeldHere != nullptr) {
    Copy(HeldHere, Break);
  } else {
    WriteBlank(Kind, Pad);
  }
}

// A line that lies whole in this run, P to its Break: nothing is held back
// across runs.
template <typename TEncoding>
const typename TLineEngine<TEncoding>::TUnit* TLineEngine<TEncoding>::WholeLine(
    const TUnit* P, const TUnit* Break, const TUnit* End) {
  using TRules = typename TRulesOf<TEncoding>::T;
  const TUnit* const Blanks = TRules::TrailingBlanks(P, Break);
  Copy(P, Blanks);
  uint64_t Width = 0;
  if (FMeasures) {
    uint64_t Column = 0;
    TRules::Measure(P, Blanks, Width, Column, FTabWidth, false);
  }
  if (FSink != nullptr && (FCommand == 8 || FCommand == 9)) {
    THeld Held;
    CountBlanks<false>(Blanks, Break, Held);
    EndContent(Width, Blanks != Break, Held, Blanks, Break);
  } else {
    EndContent(Width, Blanks != Break, THeld{}, Blanks, Break);
  }
  return EndLine(Break, End);
}

// Up to the line's break, or the end of the run: the blanks at the end are
// held back until what follows them shows whether they end the line.
template <typename TEncoding>
const typename TLineEngine<TEncoding>::TUnit* TLineEngine<TEncoding>::ScanContent(
    const TUnit* P, const TUnit* End) {
  using TRules = typename TRulesOf<TEncoding>::T;
  const TUnit* Break;
  if (FSink == nullptr) {
    // A measuring pass passes over a whole line that cannot be wider than
    // the widest so far.
    uint64_t Bound;
    Break = TRules::FindBreakBound(P, End, FTabWidth, Bound);
    if (Break != End && FLineBegin == P && Bound <= FWidest) return EndLine(Break, End);
  } else {
    Break = TRules::FindBreak(P, End);
  }
  const bool Ends = Break != End;
  if (FLineBegin == P) {  // the line starts here
    if (Ends) return WholeLine(P, Break, End);
    FColumns = {};
    FHeld = {};
    FHeld.Offset = OffsetOf(P);
  }
  const TUnit* const Blanks = TRules::TrailingBlanks(P, Break);
  if (Blanks != P) {
    KeepHeldBlanks(P);
    Copy(P, Blanks);
    if (FMeasures) TRules::Measure(P, Blanks, FColumns.Width, FColumns.Column, FTabWidth, !Ends);
    FHeld = {};
    FHeld.Offset = OffsetOf(Blanks);
  }
  // Blanks that may prove inner are measured now, while their column is
  // known; padding compares with the blanks that end the line.
  if (!Ends && FMeasures) {
    CountBlanks<true>(Blanks, Break, FHeld);
  } else if (FSink != nullptr && (FCommand == 8 || FCommand == 9)) {
    CountBlanks<false>(Blanks, Break, FHeld);
  }
  if (!Ends) return End;
  EndContent(FColumns.Width, FHeld.Offset < OffsetOf(Break), FHeld,
             FHeld.Offset >= FOffset ? FBegin + (FHeld.Offset - FOffset) : nullptr, Break);
  return EndLine(Break, End);
}

// --- Measuring every line -------------------------------------------------------

// Where a walk over every line is in a step of StepUnits units from Step:
// bits of the step's masks, a unit's bytes each.
template <typename TUnit>
struct TStepAt {
  const TUnit* Step;
  // The bit of Q, in the step or just past it.
  uint64_t Bit(const TUnit* Q) const { return static_cast<uint64_t>(Q - Step) * sizeof(TUnit); }
  // The bit of Q, or 0 for a unit before the step.
  uint64_t From(const TUnit* Q) const { return Q > Step ? Bit(Q) : 0; }
  // A break whose line ends at After: the breaks left in Pending are those
  // after it (the LF of a CR LF is no break of its own).
  void Pass(const TUnit* After, uint64_t& Pending) const {
    Pending &= ~BitsBetween(0, std::min<uint64_t>(Bit(After), 64));
  }
};

// The blanks that end the line Line .. Break in the step, from the step's
// bits: just past the last bit below the break that is no blank's (in this
// step, the break before the line is one). They may reach back past a step
// that the line started before, and where the bits mark only spaces and
// tabs, past a byte that may end a full-width space.
template <typename TRules, typename TUnit>
QUILLET_LINE_STEP const TUnit* TrailingBlanksOf(const TStepMasks& M, const TStepAt<TUnit>& At,
                                                const TUnit* Line, const TUnit* Break) {
  const uint64_t Other = ~M.Blanks & BitsBetween(0, At.Bit(Break));
  if (Other == 0) return Line < At.Step ? TRules::TrailingBlanks(Line, Break) : At.Step;
  const auto Last = static_cast<uint64_t>(63 - std::countl_zero(Other));
  if constexpr (requires { TRules::FullWidthLastByte; }) {
    if (Byte(At.Step + Last) == TRules::FullWidthLastByte) {
      return TRules::TrailingBlanks(Line, Break);
    }
  }
  return At.Step + (Last + 1) / sizeof(TUnit);
}

// A rewriting pass of command 7 over every line, in an encoding whose rules
// mark blanks by bits: from P, which starts a line, the lines that end in
// this run are taken 64 bytes at a time, each as WholeLine takes it. Gives
// the start of the first line not taken, as MeasureLines does.
template <typename TEncoding>
const typename TLineEngine<TEncoding>::TUnit* TLineEngine<TEncoding>::TrimLines(const TUnit* P,
                                                                                const TUnit* End) {
#ifdef QUILLET_SSE2
  using TRules = typename TRulesOf<TEncoding>::T;
  if constexpr (requires { TRules::BlanksByBits; }) {
    const TUnit* Line = P;  // where the current line starts
    for (const TUnit* Step = P;
         static_cast<size_t>(End - Step) >= StepUnits + TRules::StepOverhang &&
         Step - Line <= static_cast<ptrdiff_t>(LongLine);
         Step += StepUnits) {
      const TStepMasks M = TRules::template StepMasks<true, false>(Step);
      const TStepAt<TUnit> At{Step};
      for (uint64_t Pending = M.Breaks & ~BitsBetween(0, At.From(Line)); Pending != 0;) {
        const TUnit* const Break =
            Step + static_cast<size_t>(std::countr_zero(Pending)) / sizeof(TUnit);
        Pending &= Pending - 1;
        const TUnit* const Blanks = TrailingBlanksOf<TRules>(M, At, Line, Break);
        OpenLine(Line);
        FKinds = static_cast<uint8_t>((Blanks != Break) * lkTrailingBlanks);
        Copy(Line, Blanks);
        // (A CR that ends the run ends the walk; its LF may come in the next.)
        Line = EndLine(Break, End);
        At.Pass(Line, Pending);
      }
    }
    return Line;
  }
#endif
  (void)End;
  return P;
}

// A measuring pass over every line, in an encoding whose rules count widths
// by bits: from P, which starts a line, the lines that end in this run are
// taken 64 bytes at a time. A line's bound is its width as the steps' bits
// give it with each tab TabWidth columns wide and its trailing blanks
// still on (the narrow characters of UTF-8 as wide ones); a line whose
// bound beats the widest so far is measured as WholeLine measures it.
// Gives the start of the first line not taken: one that goes on past the
// last whole step, or a CR whose LF may follow in the next run.
template <typename TEncoding>
template <bool Popcount>
const typename TLineEngine<TEncoding>::TUnit* TLineEngine<TEncoding>::MeasureLinesBy(
    const TUnit* P, const TUnit* End) {
#ifdef QUILLET_SSE2
  using TRules = typename TRulesOf<TEncoding>::T;
  if constexpr (requires { TRules::template StepMasks<false>(P); }) {
    // The bits count a tab two columns; it may take TabWidth.
    const uint64_t TabExtra = FTabWidth > 2 ? FTabWidth - 2 : 0;
    const TUnit* Line = P;  // where the current line starts
    uint64_t Counted = 0;   // its bound in the steps before this one
    for (const TUnit* Step = P;
         static_cast<size_t>(End - Step) >= StepUnits + TRules::StepOverhang &&
         Step - Line <= static_cast<ptrdiff_t>(LongLine);
         Step += StepUnits) {
      const TStepMasks M = TRules::template StepMasks<false>(Step);
      const TStepAt<TUnit> At{Step};
      const auto BoundOf = [&M, TabExtra](uint64_t Lo, uint64_t Hi) -> uint64_t {
        if (Lo >= Hi) return 0;
        const uint64_t Tabs = M.Tabs & BitsBetween(Lo, Hi);
        return TRules::template StepWidth<Popcount>(M, Lo, Hi) +
               (Tabs == 0 ? 0 : TabExtra * CountBitsBy<Popcount>(Tabs));
      };
      uint64_t Start = At.From(Line);
      for (uint64_t Pending = M.Breaks & ~BitsBetween(0, Start); Pending != 0;) {
        const auto BreakBit = static_cast<uint64_t>(std::countr_zero(Pending));
        Pending &= Pending - 1;
        const TUnit* const Break = Step + BreakBit / sizeof(TUnit);
        if (Counted + BoundOf(Start, BreakBit) > FWidest) {
          uint64_t Width = 0;
          uint64_t Column = 0;
          TRules::Measure(Line, TRules::TrailingBlanks(Line, Break), Width, Column, FTabWidth, false);
          FWidest = std::max(FWidest, Width);
        }
        const TUnit* After = Break + TRules::BreakUnits;
        if (TRules::IsCR(Break, End)) {
          if (After == End) return Line;  // the LF may come in the next run
          if (TRules::IsLF(After, End)) After += TRules::BreakUnits;
        }
        At.Pass(After, Pending);
        ++FLine;
        Line = After;
        Counted = 0;
        Start = At.Bit(After);
        if (Start >= 64) break;  // the LF of a CR LF that ends the step
      }
      if (Line < Step + StepUnits) Counted += BoundOf(At.From(Line), 64);
    }
    return Line;
  }
#endif
  (void)End;
  return P;
}

// A line of PadLines, Width columns wide, Line to its Break, the blanks
// that end it from Blanks: as WholeLine puts it out, a changed line's new
// units put in the stage in one go when they fit. Gives the end of its
// break.
template <typename TEncoding>
const typename TLineEngine<TEncoding>::TUnit* TLineEngine<TEncoding>::PadLine(
    const TUnit* Line, const TUnit* Blanks, const TUnit* Break, const TUnit* End, uint64_t Width) {
  using TRules = typename TRulesOf<TEncoding>::T;
  OpenLine(Line);
  FWidest = std::max(FWidest, Width);
  const uint64_t Pad = Padding(Width);
  const uint8_t Kind = FCommand == 8 ? BlankSpace : BlankTab;
  const size_t Length = TRules::BlankLength[Kind];
  bool Same = Pad == 0 && Blanks == Break;
  // The blanks are the padding only if they are as many units.
  if (Pad != 0 && static_cast<uint64_t>(Break - Blanks) == Pad * Length) {
    THeld Held;
    CountBlanks<false>(Blanks, Break, Held);
    Same = Held.Blanks == Pad && Held.Kinds == 1 << Kind;
  }
  if (Same) {
    Copy(Line, Break);
    return EndLine(Break, End);
  }
  FKinds = static_cast<uint8_t>((Blanks != Break) * lkTrailingBlanks | (Pad != 0) * lkPadding);
  Copy(Line, Blanks);
  const auto Copied = static_cast<size_t>(FCopyEnd - FCopyBegin);
  if (Pad <= StageUnits && Copied <= StageUnits && Copied + Pad * Length <= StageUnits - FStaged) {
    TUnit* const To = FStage + FStaged;
    CopyBytes(reinterpret_cast<char*>(To), reinterpret_cast<const char*>(FCopyBegin),
              Copied * sizeof(TUnit));
    FCopyBegin = FCopyEnd = nullptr;
    FillBlanks(To + Copied, Kind, static_cast<size_t>(Pad));
    FStaged += Copied + static_cast<size_t>(Pad) * Length;
  } else {
    WriteBlank(Kind, Pad);
  }
  return EndLine(Break, End);
}

// A rewriting pass of command 8 or 9 over every line, in an encoding whose
// rules count widths by bits: from P, which starts a line, the lines that
// end in this run are taken 64 units of bytes at a time, each as WholeLine
// takes it. The width of a line is counted from the steps' bits after its
// last tab, and measured up to it; a line whose trailing blanks begin in a
// step before its break is measured whole. Gives the start of the first
// line not taken, as MeasureLines does.
template <typename TEncoding>
template <bool Popcount>
const typename TLineEngine<TEncoding>::TUnit* TLineEngine<TEncoding>::PadLinesBy(
    const TUnit* P, const TUnit* End) {
#ifdef QUILLET_SSE2
  using TRules = typename TRulesOf<TEncoding>::T;
  if constexpr (requires { TRules::template StepMasks<true>(P); }) {
    const TUnit* Line = P;   // where the current line starts
    const TUnit* From = P;   // where its width is counted from: after its last tab so far
    uint64_t Counted = 0;    // its width from From to the step
    for (const TUnit* Step = P;
         static_cast<size_t>(End - Step) >= StepUnits + TRules::StepOverhang &&
         Step - Line <= static_cast<ptrdiff_t>(LongLine);
         Step += StepUnits) {
      const TStepMasks M = TRules::template StepMasks<true>(Step);
      const TStepAt<TUnit> At{Step};
      const auto Width = [&M](uint64_t Lo, uint64_t Hi) {
        return Lo >= Hi ? 0 : TRules::template StepWidth<Popcount>(M, Lo, Hi);
      };
      // The last tab of the current line in bits Lo to Hi - 1: From goes past it.
      const auto PassTabs = [&](uint64_t Lo, uint64_t Hi) {
        const uint64_t Tabs = M.Tabs & BitsBetween(Lo, Hi);
        if (Tabs == 0) return false;
        From = Step + (63 - static_cast<uint64_t>(std::countl_zero(Tabs))) / sizeof(TUnit) +
               TRules::BreakUnits;
        return true;
      };
      uint64_t Start = At.From(Line);
      for (uint64_t Pending = M.Breaks & ~BitsBetween(0, Start); Pending != 0;) {
        const auto BreakBit = static_cast<uint64_t>(std::countr_zero(Pending));
        Pending &= Pending - 1;
        const TUnit* const Break = Step + BreakBit / sizeof(TUnit);
        const TUnit* const Blanks = TrailingBlanksOf<TRules>(M, At, Line, Break);
        uint64_t LineWidth = 0;
        if (Blanks < Step) {
          uint64_t Column = 0;
          TRules::Measure(Line, Blanks, LineWidth, Column, FTabWidth, false);
        } else {
          if (PassTabs(Start, At.Bit(Blanks))) Counted = 0;
          LineWidth = Counted + Width(At.From(From), At.Bit(Blanks));
          if (From != Line) MeasureStart(Line, From, End, LineWidth);
        }
        const TUnit* const After = PadLine(Line, Blanks, Break, End, LineWidth);
        if (FAfterCR) return After;  // a CR that ends the run: its LF comes in the next
        At.Pass(After, Pending);
        Line = From = After;
        Counted = 0;
        Start = At.Bit(After);
        if (Start >= 64) break;
      }
      if (Line < Step + StepUnits) {
        // The current line goes on into the next step.
        if (PassTabs(At.From(Line), 64)) {
          Counted = Width(At.Bit(From), 64);
        } else {
          Counted += Width(At.From(From), 64);
        }
      }
    }
    return Line;
  }
#endif
  (void)End;
  return P;
}

template <typename TEncoding>
const typename TLineEngine<TEncoding>::TUnit* TLineEngine<TEncoding>::MeasureLinesByPopcount(
    const TUnit* P, const TUnit* End) {
  return MeasureLinesBy<true>(P, End);
}
template <typename TEncoding>
const typename TLineEngine<TEncoding>::TUnit* TLineEngine<TEncoding>::PadLinesByPopcount(
    const TUnit* P, const TUnit* End) {
  return PadLinesBy<true>(P, End);
}
template <typename TEncoding>
const typename TLineEngine<TEncoding>::TUnit* TLineEngine<TEncoding>::MeasureLines(
    const TUnit* P, const TUnit* End) {
  return HasPopcount() ? MeasureLinesByPopcount(P, End) : MeasureLinesBy<false>(P, End);
}
template <typename TEncoding>
const typename TLineEngine<TEncoding>::TUnit* TLineEngine<TEncoding>::PadLines(
    const TUnit* P, const TUnit* End) {
  return HasPopcount() ? PadLinesByPopcount(P, End) : PadLinesBy<false>(P, End);
}

// --- Runs -----------------------------------------------------------------------

template <typename TEncoding>
void TLineEngine<TEncoding>::Run(const TUnit* Begin, const TUnit* End, uint64_t Offset) {
  using TRules = typename TRulesOf<TEncoding>::T;
  FBegin = Begin;
  FOffset = Offset;
  const TUnit* P = Begin;
  if (FAfterCR) {
    FAfterCR = false;
    if (TRules::IsLF(P, End)) {
      Copy(P, P + TRules::BreakUnits);
      P += TRules::BreakUnits;
    }
  }
  const uint8_t IndentCommand = FCommand <= 3 ? 1 : FCommand;
  const bool MeasuresAll = FSink == nullptr && FAll && FSelectedPhase == phContent;
  const bool PadsAll = FSink != nullptr && FAll && (FCommand == 8 || FCommand == 9);
  constexpr bool BlanksByBits = requires { TRules::BlanksByBits; };
  const bool TrimsAll = BlanksByBits && FSink != nullptr && FAll && FCommand == 7;
  while (P != End) {
    if (!FLineOpen) {
      if (MeasuresAll) {
        P = MeasureLines(P, End);
        if (P == End) break;
      } else if (PadsAll) {
        P = PadLines(P, End);
        if (P == End) break;
      } else if (TrimsAll) {
        P = TrimLines(P, End);
        if (P == End) break;
      }
      OpenLine(P);
    }
    switch (FPhase) {
      case phPass:
      case phRest:
        P = CopyToBreak(P, End);
        break;
      case phIndent:
        P = IndentCommand == 1   ? (FPowerOfTwo ? ScanIndent<1, true>(P, End) : ScanIndent<1>(P, End))
            : IndentCommand == 4 ? ScanIndent<4>(P, End)
            : IndentCommand == 5 ? ScanIndent<5>(P, End)
                                 : ScanIndent<6>(P, End);
        break;
      case phContent:
        P = ScanContent(P, End);
        break;
    }
  }
  // A line that goes on keeps where it started as an offset: the run's
  // units are gone after it.
  if (FLineOpen && FLineBegin != nullptr) {
    FLineOffset = OffsetOf(FLineBegin);
    FLineBegin = nullptr;
  }
  // The blanks held back that lie in this run go to the window while they
  // fit.
  if (FSink != nullptr && FLineOpen && FPhase == phContent && !FHeld.WindowFull) {
    const uint64_t From = std::max(FHeld.Offset, FOffset);
    const auto Count = static_cast<size_t>(OffsetOf(End) - From);
    if (FHeld.Windowed + Count <= WindowUnits) {
      std::copy_n(FBegin + (From - FOffset), Count, FWindow + FHeld.Windowed);
      FHeld.Windowed += Count;
    } else {
      FHeld.WindowFull = true;
    }
  }
  FlushCopy();
}

template <typename TEncoding>
void TLineEngine<TEncoding>::Feed(const TUnit* Units, size_t Count) {
  using TRules = typename TRulesOf<TEncoding>::T;
  const TUnit* P = Units;
  const TUnit* const End = Units + Count;
  if (FCarried != 0) {
    while (P != End && TRules::Wants(FCarry, FCarried) && TRules::Continues(FCarry, FCarried, *P)) {
      FCarry[FCarried++] = *P++;
    }
    if (P == End && TRules::Wants(FCarry, FCarried)) {
      FFed += Count;
      return;
    }
    Run(FCarry, FCarry + FCarried, FFed - FCarried + static_cast<uint64_t>(P - Units));
    FCarried = 0;
  }
  const TUnit* const Complete = TRules::CompleteEnd(P, End);
  if (P != Complete) Run(P, Complete, FFed + static_cast<uint64_t>(P - Units));
  FCarried = static_cast<size_t>(End - Complete);
  std::copy(Complete, End, FCarry);
  FFed += Count;
}

template <typename TEncoding>
void TLineEngine<TEncoding>::Finish() {
  if (FCarried != 0) Run(FCarry, FCarry + FCarried, FFed - FCarried);
  FCarried = 0;
  // An empty run at the end of the input.
  FBegin = FCarry;
  FOffset = FFed;
  if (FLineOpen) {
    if (FPhase == phIndent) EndIndent(FBegin);
    if (FPhase == phContent) EndContent(FColumns.Width, FHeld.Offset < FFed, FHeld, nullptr, FBegin);
    CloseLine();
  }
  if (FSink != nullptr) {
    FlushCopy();
    Drain();
  }
}

template class TLineEngine<TUtf16Text>;
template class TLineEngine<TUtf8Bytes>;
template class TLineEngine<TUtf16LEBytes>;
template class TLineEngine<TUtf16BEBytes>;
template class TLineEngine<TCp932Bytes>;

}  // namespace quillet
