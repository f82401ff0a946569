// Column measures: ANSI byte kinds, tab expansion and display widths.
// Tested by tests/Columns_test.cpp.
#include "StringUnit/Columns.h"

#include <algorithm>
#include <array>

#include "StringUnit/Simd.h"

#include "StringUnit/AnsiCodePage.h"
#include "StringUnit/Assertion.h"

namespace quillet {

namespace {

// Length of a UTF-16 or an ANSI string.
template <typename TText>
int32_t Length(const TText& S) {
  return static_cast<int32_t>(S.size());
}

// The kind of a byte given the kind of the byte before it (bkSingle before
// the first byte). Walking a string with it yields GetByteKind at every
// position: a byte follows a lead exactly when the run of lead-byte values
// before it is odd.
TByteKind NextByteKind(TByteKind Previous, uint8_t B) {
  if (Previous == bkLead) return bkTrail;
  return IsLeadByte(B) ? bkLead : bkSingle;
}

}  // namespace

// Platform-neutral half of the code page seam: the per-unit byte counts of
// ToAnsiString. Built on first use; the initialisation of a function-local
// static is thread-safe.
const uint8_t* AnsiByteCounts() {
  static const std::array<uint8_t, 0x10000> Table = [] {
    std::array<uint8_t, 0x10000> Counts{};
    for (uint32_t Unit = 0; Unit < Counts.size(); ++Unit) {
      const char16_t One = static_cast<char16_t>(Unit);
      Counts[Unit] = ToAnsiString(std::u16string_view(&One, 1)).size() >= 2 ? 2 : 1;
    }
    return Counts;
  }();
  return Table.data();
}

int32_t AnsiByteCount(char16_t C) {
  return AnsiByteCounts()[C];
}

bool IsLeadByte(uint8_t B) {
  return (B >= 0x81 && B <= 0x9F) || (B >= 0xE0 && B <= 0xFC);
}

TByteKind GetByteKind(const AnsiString& S, int32_t Pos) {
  if (Pos < 1 || Pos > Length(S)) return bkSingle;
  int32_t LeadRun = 0;
  for (int32_t P = Pos - 1; P >= 1 && IsLeadByte(S[P - 1]); --P) ++LeadRun;
  if (LeadRun % 2 == 1) return bkTrail;
  return IsLeadByte(S[Pos - 1]) ? bkLead : bkSingle;
}

int32_t CharsToBytes(const AnsiString& S, int32_t N) {
  if (N <= 0 || S.empty()) return 0;
  N = std::min(N, Length(S));
  int32_t Singles = 0;
  int32_t Trails = 0;
  TByteKind Kind = bkSingle;
  for (int32_t Pos = 1; Pos <= Length(S); ++Pos) {
    Kind = NextByteKind(Kind, S[Pos - 1]);
    switch (Kind) {
      case bkSingle:
        ++Singles;
        break;
      case bkTrail:
        ++Trails;
        break;
      case bkLead:
        break;
      default:
        RaiseAssertion("エラー", "StringUnit", 402);
    }
    if (Singles + Trails == N) return Pos;
  }
  return Length(S);
}

// The column of each tab is the ANSI byte length of the output before it.
// Since ToAnsiString converts unit by unit, that length is the running sum of
// AnsiByteCount over the output, spaces counting 1. Nothing after the last tab
// needs a column, and the units between tabs are copied as runs.
String ExpandTabs(StringView S, int32_t TabWidth) {
  const size_t LastTab = S.rfind(u'\t');
  if (LastTab == StringView::npos || TabWidth < 1) return String(S);
  const size_t Tabs = std::count(S.begin(), S.begin() + LastTab + 1, u'\t');
  String Out;
  Out.reserve(S.size() + Tabs * static_cast<size_t>(TabWidth - 1));
  int64_t Column = 0;
  size_t RunStart = 0;
  for (size_t I = 0; I <= LastTab; ++I) {
    if (S[I] != u'\t') {
      Column += AnsiByteCount(S[I]);
      continue;
    }
    Out.append(S.substr(RunStart, I - RunStart));
    const int32_t Spaces = TabWidth - static_cast<int32_t>(Column % TabWidth);
    Out.append(Spaces, u' ');
    Column += Spaces;
    RunStart = I + 1;
  }
  Out.append(S.substr(RunStart));
  return Out;
}

bool IsWideChar(char16_t C) {
  const bool Narrow = (C >= 0x0020 && C <= 0x007F) || C == 0x203E || (C >= 0xFF61 && C <= 0xFF9F);
  return !Narrow;
}

int32_t DisplayColumnOf(StringView S, int32_t N) {
  if (N < 1 || N > Length(S) + 1) return 0;
  int32_t Column = 1;
  for (char16_t C : S.substr(0, N - 1)) Column += IsWideChar(C) ? 2 : 1;
  return Column;
}

// Two columns a unit, less one for every narrow unit. Eight units at a time
// where the processor allows; a narrow range test is one signed comparison of
// the unit's offset from the range start, both moved by 0x8000.
int32_t DisplayWidth(StringView S) {
  size_t Narrow = 0;
  size_t I = 0;
#ifdef QUILLET_SSE2
  const auto Splat = [](int Value) { return _mm_set1_epi16(static_cast<short>(Value)); };
  const auto InRange = [&Splat](__m128i Units, int Low, int High) {
    const __m128i Offset = _mm_xor_si128(_mm_sub_epi16(Units, Splat(Low)), Splat(0x8000));
    return _mm_cmplt_epi16(Offset, Splat((High - Low + 1) ^ 0x8000));
  };
  // Sixteen-bit lane counts, emptied before they can overflow.
  constexpr size_t BlocksPerCount = 4096;
  while (S.size() - I >= 8) {
    __m128i Counts = _mm_setzero_si128();
    for (size_t Block = 0; Block < BlocksPerCount && S.size() - I >= 8; ++Block, I += 8) {
      const __m128i Units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(S.data() + I));
      const __m128i IsNarrow =
          _mm_or_si128(_mm_or_si128(InRange(Units, 0x0020, 0x007F), InRange(Units, 0xFF61, 0xFF9F)),
                       _mm_cmpeq_epi16(Units, Splat(0x203E)));
      Counts = _mm_sub_epi16(Counts, IsNarrow);
    }
    alignas(16) uint16_t Lanes[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(Lanes), Counts);
    for (uint16_t Lane : Lanes) Narrow += Lane;
  }
#endif
  for (; I < S.size(); ++I) Narrow += IsWideChar(S[I]) ? 0 : 1;
  return static_cast<int32_t>(2 * S.size() - Narrow);
}

}  // namespace quillet
