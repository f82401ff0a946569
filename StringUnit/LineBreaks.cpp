// Line breaks and blank runs at the ends of a line.
// Tested by tests/LineBreaks_test.cpp.
#include "StringUnit/LineBreaks.h"

#include <bit>

#include "StringUnit/Simd.h"

namespace quillet {

namespace {

constexpr char16_t CR = u'\r';
constexpr char16_t LF = u'\n';

int32_t Length(StringView S) {
  return static_cast<int32_t>(S.size());
}

bool InSet(char16_t C, StringView CharSet) {
  return CharSet.find(C) != StringView::npos;
}

}  // namespace

TLineBreakKind GetLineBreakKind(StringView S) {
  const int32_t Len = Length(S);
  if (Len >= 2 && S[Len - 2] == CR && S[Len - 1] == LF) return lbCRLF;
  if (Len >= 1 && S[Len - 1] == LF) return lbLF;
  if (Len >= 1 && S[Len - 1] == CR) return lbCR;
  return lbNone;
}

size_t FindLineBreak(StringView S, size_t From) {
  size_t I = From;
#ifdef QUILLET_SSE2
  const __m128i CRs = _mm_set1_epi16(static_cast<short>(CR));
  const __m128i LFs = _mm_set1_epi16(static_cast<short>(LF));
  for (; I + 8 <= S.size(); I += 8) {
    const __m128i Units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(S.data() + I));
    const __m128i Breaks = _mm_or_si128(_mm_cmpeq_epi16(Units, CRs), _mm_cmpeq_epi16(Units, LFs));
    const auto Mask = static_cast<uint32_t>(_mm_movemask_epi8(Breaks));
    if (Mask != 0) return I + std::countr_zero(Mask) / 2;
  }
#endif
  // CR is the larger of the two: ordinary text costs one comparison a unit.
  while (I < S.size() && !(S[I] <= CR && (S[I] == CR || S[I] == LF))) ++I;
  return I;
}

StringView LineBreakString(TLineBreakKind Kind) {
  switch (Kind) {
    case lbCRLF:
      return u"\r\n";
    case lbCR:
      return u"\r";
    case lbLF:
      return u"\n";
    default:
      return u"";
  }
}

void DeleteLastChars(String& S, int32_t N) {
  if (N <= 0 || N > Length(S)) return;
  S.erase(S.size() - N);
}

void StripLineBreak(String& S) {
  DeleteLastChars(S, Length(LineBreakString(GetLineBreakKind(S))));
}

String CopyWithoutLineBreak(StringView S) {
  String Result(S);
  StripLineBreak(Result);
  return Result;
}

String InsertBeforeLineBreak(StringView S, StringView Insert) {
  const StringView Break = LineBreakString(GetLineBreakKind(S));
  String Result;
  Result.reserve(S.size() + Insert.size());
  Result.append(S.substr(0, S.size() - Break.size()));
  Result.append(Insert);
  Result.append(Break);
  return Result;
}

int32_t CountLeadingChars(StringView S, StringView CharSet) {
  int32_t Count = 0;
  while (Count < Length(S) && InSet(S[Count], CharSet)) ++Count;
  return Count;
}

int32_t CountTrailingChars(StringView S, StringView CharSet) {
  int32_t Count = 0;
  while (Count < Length(S) && InSet(S[Length(S) - 1 - Count], CharSet)) ++Count;
  return Count;
}

String TrimLeftChars(StringView S, StringView CharSet) {
  return String(S.substr(CountLeadingChars(S, CharSet)));
}

String TrimRightChars(StringView S, StringView CharSet) {
  return String(S.substr(0, S.size() - CountTrailingChars(S, CharSet)));
}

String RepeatString(StringView S, int32_t N) {
  String Result;
  if (N <= 0 || S.empty()) return Result;
  Result.reserve(S.size() * static_cast<size_t>(N));
  for (int32_t I = 0; I < N; ++I) Result.append(S);
  return Result;
}

}  // namespace quillet
