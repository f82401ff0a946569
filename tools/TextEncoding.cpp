#include "tools/TextEncoding.h"

#include "StringUnit/Columns.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cstring>
#include <stdexcept>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <tmmintrin.h>
#endif

namespace quillet {

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view Utf16LEBom = "\xFF\xFE";
constexpr std::string_view Utf16BEBom = "\xFE\xFF";

std::string_view BomOf(TEncoding Encoding) {
  switch (Encoding) {
    case TEncoding::Utf8:
      return Utf8Bom;
    case TEncoding::Utf16LE:
      return Utf16LEBom;
    case TEncoding::Utf16BE:
      return Utf16BEBom;
    default:
      return {};
  }
}

bool IsHighSurrogate(char32_t C) {
  return C >= 0xD800 && C <= 0xDBFF;
}
bool IsLowSurrogate(char32_t C) {
  return C >= 0xDC00 && C <= 0xDFFF;
}

// Eight bytes from P, in the machine's order; only the high bits are looked at.
uint64_t LoadEight(const uint8_t* P) {
  uint64_t Word;
  std::memcpy(&Word, P, sizeof Word);
  return Word;
}

constexpr uint64_t HighBits = 0x8080808080808080u;

// The strict UTF-8 decoder: the offset of the first invalid byte of
// In[0, Size), or NoError. With Store, the characters go to Out, one unit
// per byte at most (a four-byte sequence gives two); Units counts them
// either way.
template <bool Store>
size_t DecodeUtf8Units(const uint8_t* In, size_t Size, char16_t* Out, size_t& Units) {
  size_t Count = 0;
  const auto Put = [Out, &Count](char32_t C) {
    if constexpr (Store) Out[Count] = static_cast<char16_t>(C);
    ++Count;
  };
  size_t I = 0;
  size_t Error = NoError;
  while (I < Size) {
    // Runs of ASCII, eight bytes a step.
    for (; Size - I >= 8 && (LoadEight(In + I) & HighBits) == 0; I += 8) {
      for (size_t K = 0; K < 8; ++K) Put(In[I + K]);
    }
    // Runs of single ASCII bytes and of three-byte characters, the common
    // shapes of Japanese text, each in a loop of its own.
    for (; I < Size && In[I] < 0x80; ++I) Put(In[I]);
    for (; Size - I >= 3 && (In[I] & 0xF0) == 0xE0; I += 3) {
      const uint32_t B0 = In[I], B1 = In[I + 1], B2 = In[I + 2];
      const char32_t C = (B0 & 0x0F) << 12 | (B1 & 0x3F) << 6 | (B2 & 0x3F);
      if (((B1 | B2 << 8) & 0xC0C0) != 0x8080 || C < 0x800 || (C & 0xF800) == 0xD800) break;
      Put(C);
    }
    if (I == Size) break;
    const uint8_t Lead = In[I];
    const size_t Left = Size - I;
    if (Lead < 0x80) {
      Put(Lead);
      I += 1;
    } else if ((Lead & 0xF0) == 0xE0 && Left >= 3) {
      // Three bytes, as for kana and kanji: U+0800 to U+FFFF, no surrogates.
      const uint32_t B1 = In[I + 1], B2 = In[I + 2];
      const char32_t C = (Lead & 0x0F) << 12 | (B1 & 0x3F) << 6 | (B2 & 0x3F);
      if ((B1 & 0xC0) != 0x80 || (B2 & 0xC0) != 0x80 || C < 0x800 || IsHighSurrogate(C) ||
          IsLowSurrogate(C)) {
        Error = I;
        break;
      }
      Put(C);
      I += 3;
    } else if (Lead >= 0xC2 && Lead <= 0xDF && Left >= 2 && (In[I + 1] & 0xC0) == 0x80) {
      Put((Lead & 0x1F) << 6 | (In[I + 1] & 0x3F));
      I += 2;
    } else if (Lead >= 0xF0 && Lead <= 0xF4 && Left >= 4 && (In[I + 1] & 0xC0) == 0x80 &&
               (In[I + 2] & 0xC0) == 0x80 && (In[I + 3] & 0xC0) == 0x80) {
      const char32_t C = (Lead & 0x07) << 18 | (In[I + 1] & 0x3F) << 12 | (In[I + 2] & 0x3F) << 6 |
                         (In[I + 3] & 0x3F);
      if (C < 0x10000 || C > 0x10FFFF) {
        Error = I;
        break;
      }
      Put(0xD800 + ((C - 0x10000) >> 10));
      Put(0xDC00 + ((C - 0x10000) & 0x3FF));
      I += 4;
    } else {
      Error = I;
      break;
    }
  }
  Units = Count;
  return Error;
}

// Well-formed UTF-8 as a table-driven automaton: one table load and shift a
// byte, no branch on the bytes. Each state is a bit offset into the 64-bit
// row of the byte read, where six bits give the next state; the error state
// is offset 0, whose bits are 0 in every row, so that it never leaves.
enum TUtf8State : uint8_t {
  usError = 0,
  usAccept = 6,
  usTail1 = 12,    // one continuation byte to go
  usTail2 = 18,    // two
  usTail3 = 24,    // three
  usAfterE0 = 30,  // A0 to BF, no overlong three-byte form
  usAfterED = 36,  // 80 to 9F, no surrogate
  usAfterF0 = 42,  // 90 to BF, no overlong four-byte form
  usAfterF4 = 48,  // 80 to 8F, nothing beyond U+10FFFF
};

constexpr uint64_t Utf8Row(uint8_t Byte) {
  const auto Go = [](TUtf8State From, TUtf8State To) { return uint64_t{To} << From; };
  uint64_t Row = 0;
  if (Byte < 0x80) Row |= Go(usAccept, usAccept);
  if (Byte >= 0xC2 && Byte <= 0xDF) Row |= Go(usAccept, usTail1);
  if (Byte == 0xE0) Row |= Go(usAccept, usAfterE0);
  if ((Byte >= 0xE1 && Byte <= 0xEC) || Byte == 0xEE || Byte == 0xEF) Row |= Go(usAccept, usTail2);
  if (Byte == 0xED) Row |= Go(usAccept, usAfterED);
  if (Byte == 0xF0) Row |= Go(usAccept, usAfterF0);
  if (Byte >= 0xF1 && Byte <= 0xF3) Row |= Go(usAccept, usTail3);
  if (Byte == 0xF4) Row |= Go(usAccept, usAfterF4);
  if (Byte >= 0x80 && Byte <= 0xBF) {
    Row |= Go(usTail1, usAccept) | Go(usTail2, usTail1) | Go(usTail3, usTail2);
    if (Byte >= 0xA0) Row |= Go(usAfterE0, usTail1);
    if (Byte <= 0x9F) Row |= Go(usAfterED, usTail1);
    if (Byte >= 0x90) Row |= Go(usAfterF0, usTail2);
    if (Byte <= 0x8F) Row |= Go(usAfterF4, usTail2);
  }
  return Row;
}

struct TUtf8Table {
  uint64_t Rows[256];
  constexpr TUtf8Table() : Rows() {
    for (int Byte = 0; Byte < 256; ++Byte) Rows[Byte] = Utf8Row(static_cast<uint8_t>(Byte));
  }
};

constexpr TUtf8Table Utf8Table;

// The automaton's state after In[0, Size), from State.
uint64_t RunUtf8(const uint8_t* In, size_t Size, uint64_t State) {
  constexpr size_t Step = 16;
  size_t I = 0;
  while (I < Size) {
    if ((State & 63) == usAccept) {
      // Runs of ASCII, sixteen bytes a step.
      while (Size - I >= Step && ((LoadEight(In + I) | LoadEight(In + I + 8)) & HighBits) == 0) {
        I += Step;
      }
    }
    // Only the low six bits of State count; the shift looks at no others,
    // which keeps the step to a single instruction on common machines.
    const size_t End = std::min(Size, I + Step);
    for (; I < End; ++I) State = Utf8Table.Rows[In[I]] >> (State & 63);
    if ((State & 63) == usError) break;
  }
  return State;
}

// Whether In[0, Size) is all well-formed UTF-8: what DecodeUtf8Units finds,
// without saying where the first invalid byte is. A longer text is taken as
// two halves side by side, the second starting at a byte that begins a
// character, so that the steps of the two automata overlap; each half is
// well-formed exactly when the whole is.
bool IsValidUtf8(const uint8_t* In, size_t Size) {
  constexpr size_t Halving = 64;
  size_t Half = Size / 2;
  for (size_t K = 0; K < 3 && Half < Size && (In[Half] & 0xC0) == 0x80; ++K) ++Half;
  if (Size < Halving || (In[Half] & 0xC0) == 0x80) {
    return (RunUtf8(In, Size, usAccept) & 63) == usAccept;
  }
  // Sixteen bytes of each half a round, runs of ASCII skipped.
  constexpr ptrdiff_t Step = 16;
  const auto Ascii = [](const uint8_t* P) {
    return ((LoadEight(P) | LoadEight(P + 8)) & HighBits) == 0;
  };
  const uint8_t* First = In;
  const uint8_t* const FirstEnd = In + Half;
  const uint8_t* Second = FirstEnd;
  const uint8_t* const SecondEnd = In + Size;
  uint64_t FirstState = usAccept, SecondState = usAccept;
  while (FirstEnd - First >= Step && SecondEnd - Second >= Step) {
    const bool SkipFirst = (FirstState & 63) == usAccept && Ascii(First);
    const bool SkipSecond = (SecondState & 63) == usAccept && Ascii(Second);
    if (!SkipFirst && !SkipSecond) {
      for (ptrdiff_t I = 0; I < Step; ++I) {
        FirstState = Utf8Table.Rows[First[I]] >> (FirstState & 63);
        SecondState = Utf8Table.Rows[Second[I]] >> (SecondState & 63);
      }
    } else if (!SkipFirst) {
      FirstState = RunUtf8(First, Step, FirstState);
    } else if (!SkipSecond) {
      SecondState = RunUtf8(Second, Step, SecondState);
    }
    First += Step;
    Second += Step;
    if ((FirstState & 63) == usError || (SecondState & 63) == usError) return false;
  }
  FirstState = RunUtf8(First, static_cast<size_t>(FirstEnd - First), FirstState);
  SecondState = RunUtf8(Second, static_cast<size_t>(SecondEnd - Second), SecondState);
  return (FirstState & 63) == usAccept && (SecondState & 63) == usAccept;
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(QUILLET_NO_SIMD)
#define QUILLET_SSSE3_UTF8 1

// What the SSSE3 check finds wrong with a pair of bytes, one bit a kind of
// fault, looked up from the first byte's high and low half and the second
// byte's high half: a fault is found where all three lookups have its bit.
enum : uint8_t {
  ufTooShort = 1 << 0,          // a lead byte, then no continuation byte
  ufTooLong = 1 << 1,           // ASCII, then a continuation byte
  ufOverlong3 = 1 << 2,         // E0 80..9F
  ufTooLarge = 1 << 3,          // F4 90..BF, F5..FF
  ufSurrogate = 1 << 4,         // ED A0..BF
  ufOverlong2 = 1 << 5,         // C0, C1
  ufTooLarge1000 = 1 << 6,      // F5..FF 80..8F
  ufOverlong4 = 1 << 6,         // F0 80..8F
  ufTwoContinuations = 1 << 7,  // two continuations: right only as a third or fourth byte
  ufCarry = ufTooShort | ufTooLong | ufTwoContinuations,
};

#define QUILLET_SSSE3 __attribute__((target("ssse3")))

// Whether a text is well-formed UTF-8, sixteen bytes a step: every byte with
// the one before it is looked up (the faults above), and a second
// continuation byte is right exactly where a three- or four-byte lead lies
// two or three bytes back. The last step is the bytes left over, fewer than
// sixteen, and zeros: a sequence cut short at the end meets a zero byte.
class TUtf8Check {
 public:
  QUILLET_SSSE3 bool IsValid(const uint8_t* In, size_t Size) {
    size_t I = 0;
    for (; Size - I >= 16; I += 16) {
      const __m128i Bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(In + I));
      // ASCII after a finished character has nothing to look up.
      if (_mm_movemask_epi8(Bytes) == 0 && None(_mm_subs_epu8(Previous_, Unfinished()))) {
        Previous_ = Bytes;
        continue;
      }
      Step(Bytes);
      if (!None(Faults_)) return false;
    }
    alignas(16) uint8_t Last[16] = {};
    std::memcpy(Last, In + I, Size - I);
    Step(_mm_load_si128(reinterpret_cast<const __m128i*>(Last)));
    return None(Faults_);
  }

 private:
  static constexpr uint8_t Large = ufCarry | ufTooLarge | ufTooLarge1000;
  static constexpr uint8_t Continuation = ufTooLong | ufOverlong2 | ufTwoContinuations;
  using TTable = std::array<uint8_t, 16>;
  // By the first byte's high half, its low half, the second byte's high half;
  // four entries a row.
  // clang-format off
  static constexpr TTable FirstHigh{
      ufTooLong, ufTooLong, ufTooLong, ufTooLong,
      ufTooLong, ufTooLong, ufTooLong, ufTooLong,
      ufTwoContinuations, ufTwoContinuations, ufTwoContinuations, ufTwoContinuations,
      ufTooShort | ufOverlong2, ufTooShort, ufTooShort | ufOverlong3 | ufSurrogate,
      ufTooShort | ufTooLarge | ufTooLarge1000 | ufOverlong4};
  static constexpr TTable FirstLow{
      ufCarry | ufOverlong3 | ufOverlong2 | ufOverlong4, ufCarry | ufOverlong2, ufCarry, ufCarry,
      ufCarry | ufTooLarge, Large, Large, Large,
      Large, Large, Large, Large,
      Large, Large | ufSurrogate, Large, Large};
  static constexpr TTable SecondHigh{
      ufTooShort, ufTooShort, ufTooShort, ufTooShort,
      ufTooShort, ufTooShort, ufTooShort, ufTooShort,
      Continuation | ufOverlong3 | ufTooLarge1000 | ufOverlong4,
      Continuation | ufOverlong3 | ufTooLarge,
      Continuation | ufSurrogate | ufTooLarge,
      Continuation | ufSurrogate | ufTooLarge,
      ufTooShort, ufTooShort, ufTooShort, ufTooShort};
  // clang-format on

  QUILLET_SSSE3 static __m128i Load(const TTable& Table) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(Table.data()));
  }
  // Per byte: its high half, or its low half, as a table index.
  QUILLET_SSSE3 static __m128i HighHalf(__m128i Bytes) {
    return _mm_and_si128(_mm_srli_epi16(Bytes, 4), _mm_set1_epi8(0x0F));
  }
  QUILLET_SSSE3 static __m128i LowHalf(__m128i Bytes) {
    return _mm_and_si128(Bytes, _mm_set1_epi8(0x0F));
  }
  QUILLET_SSSE3 static bool None(__m128i Bits) {
    return _mm_movemask_epi8(_mm_cmpeq_epi8(Bits, _mm_setzero_si128())) == 0xFFFF;
  }
  // Subtracted from a step's bytes, leaves something only where a lead byte
  // among its last three needs a byte after the step.
  QUILLET_SSSE3 static __m128i Unfinished() {
    constexpr char All = static_cast<char>(0xFF);
    return _mm_setr_epi8(All, All, All, All, All, All, All, All, All, All, All, All, All,
                         static_cast<char>(0xF0 - 1), static_cast<char>(0xE0 - 1),
                         static_cast<char>(0xC0 - 1));
  }

  QUILLET_SSSE3 void Step(__m128i Bytes) {
    const __m128i Before1 = _mm_alignr_epi8(Bytes, Previous_, 15);
    const __m128i Found =
        _mm_and_si128(_mm_and_si128(_mm_shuffle_epi8(Load(FirstHigh), HighHalf(Before1)),
                                    _mm_shuffle_epi8(Load(FirstLow), LowHalf(Before1))),
                      _mm_shuffle_epi8(Load(SecondHigh), HighHalf(Bytes)));
    // Only 111xxxxx two back or 1111xxxx three back keep their high bit.
    const __m128i Before2 = _mm_alignr_epi8(Bytes, Previous_, 14);
    const __m128i Before3 = _mm_alignr_epi8(Bytes, Previous_, 13);
    const __m128i Needed = _mm_and_si128(
        _mm_or_si128(_mm_subs_epu8(Before2, _mm_set1_epi8(static_cast<char>(0xE0 - 0x80))),
                     _mm_subs_epu8(Before3, _mm_set1_epi8(static_cast<char>(0xF0 - 0x80)))),
        _mm_set1_epi8(static_cast<char>(0x80)));
    Faults_ = _mm_or_si128(Faults_, _mm_xor_si128(Needed, Found));
    Previous_ = Bytes;
  }

  __m128i Previous_ = _mm_setzero_si128();
  __m128i Faults_ = _mm_setzero_si128();
};
#endif

size_t ValidateUtf8(std::string_view Bytes) {
  const auto* In = reinterpret_cast<const uint8_t*>(Bytes.data());
#ifdef QUILLET_SSSE3_UTF8
  static const bool Ssse3 = __builtin_cpu_supports("ssse3");
  const bool Valid = Ssse3 ? TUtf8Check().IsValid(In, Bytes.size()) : IsValidUtf8(In, Bytes.size());
#else
  const bool Valid = IsValidUtf8(In, Bytes.size());
#endif
  if (Valid) return NoError;
  size_t Units = 0;  // the slower decoder names the offset
  return DecodeUtf8Units<false>(In, Bytes.size(), nullptr, Units);
}

size_t DecodeUtf8(std::string_view Bytes, String& Text) {
  const size_t Start = Text.size();
  Text.resize(Start + Bytes.size());
  size_t Units = 0;
  const size_t Error = DecodeUtf8Units<true>(reinterpret_cast<const uint8_t*>(Bytes.data()),
                                             Bytes.size(), Text.data() + Start, Units);
  Text.resize(Start + Units);
  return Error;
}

size_t DecodeUtf16(std::string_view Bytes, bool BigEndian, String& Text) {
  if (Bytes.size() % 2 != 0) return Bytes.size() - 1;
  const int High = BigEndian ? 0 : 1;
  const size_t Start = Text.size();
  Text.resize(Start + Bytes.size() / 2);
  char16_t* Out = Text.data() + Start;
  for (size_t I = 0; I < Bytes.size(); I += 2) {
    const auto Hi = static_cast<uint8_t>(Bytes[I + High]);
    const auto Lo = static_cast<uint8_t>(Bytes[I + 1 - High]);
    *Out++ = static_cast<char16_t>(Hi << 8 | Lo);
  }
  return NoError;
}

void EncodeUtf16(StringView Text, bool BigEndian, std::string& Bytes) {
  const size_t Start = Bytes.size();
  Bytes.resize(Start + Text.size() * 2);
  char* Out = Bytes.data() + Start;
  for (const char16_t C : Text) {
    const char Hi = static_cast<char>(C >> 8);
    const char Lo = static_cast<char>(C & 0xFF);
    *Out++ = BigEndian ? Hi : Lo;
    *Out++ = BigEndian ? Lo : Hi;
  }
}

bool EncodeUtf8(StringView Text, std::string& Bytes) {
  // Three bytes a unit at most: a surrogate pair, two units, gives four.
  const size_t Start = Bytes.size();
  Bytes.resize(Start + Text.size() * 3);
  auto* Out = reinterpret_cast<uint8_t*>(Bytes.data() + Start);
  const size_t Size = Text.size();
  for (size_t I = 0; I < Size; ++I) {
    // Runs of ASCII, four units a step.
    for (; Size - I >= 4 && (Text[I] | Text[I + 1] | Text[I + 2] | Text[I + 3]) < 0x80;
         I += 4, Out += 4) {
      for (size_t K = 0; K < 4; ++K) Out[K] = static_cast<uint8_t>(Text[I + K]);
    }
    // Runs of single ASCII units and of three-byte characters, the common
    // shapes of Japanese text, each in a loop of its own.
    for (; I < Size && Text[I] < 0x80; ++I) *Out++ = static_cast<uint8_t>(Text[I]);
    for (; I < Size && Text[I] >= 0x800 && (Text[I] & 0xF800) != 0xD800; ++I, Out += 3) {
      const char16_t U = Text[I];
      Out[0] = static_cast<uint8_t>(0xE0 | U >> 12);
      Out[1] = static_cast<uint8_t>(0x80 | (U >> 6 & 0x3F));
      Out[2] = static_cast<uint8_t>(0x80 | (U & 0x3F));
    }
    if (I == Size) break;
    char32_t C = Text[I];
    if (C < 0x80) {
      *Out++ = static_cast<uint8_t>(C);
    } else if (C < 0x800) {
      *Out++ = static_cast<uint8_t>(0xC0 | C >> 6);
      *Out++ = static_cast<uint8_t>(0x80 | (C & 0x3F));
    } else if (!IsHighSurrogate(C) && !IsLowSurrogate(C)) {
      *Out++ = static_cast<uint8_t>(0xE0 | C >> 12);
      *Out++ = static_cast<uint8_t>(0x80 | (C >> 6 & 0x3F));
      *Out++ = static_cast<uint8_t>(0x80 | (C & 0x3F));
    } else if (IsHighSurrogate(C) && I + 1 < Size && IsLowSurrogate(Text[I + 1])) {
      C = 0x10000 + ((C - 0xD800) << 10) + (Text[++I] - 0xDC00);
      *Out++ = static_cast<uint8_t>(0xF0 | C >> 18);
      *Out++ = static_cast<uint8_t>(0x80 | (C >> 12 & 0x3F));
      *Out++ = static_cast<uint8_t>(0x80 | (C >> 6 & 0x3F));
      *Out++ = static_cast<uint8_t>(0x80 | (C & 0x3F));
    } else {
      return false;
    }
  }
  Bytes.resize(reinterpret_cast<char*>(Out) - Bytes.data());
  return true;
}

// One iconv conversion, closed on every path.
class TIconv {
 public:
  TIconv(const char* To, const char* From) : Handle_(iconv_open(To, From)) {
    if (Handle_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("no conversion from ") + From + " to " + To);
    }
  }
  ~TIconv() { iconv_close(Handle_); }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;

  // Converts all of In into Out, which must be large enough. Returns the
  // offset in In of the first byte that could not be converted, or NoError.
  size_t Convert(std::string_view In, std::string& Out) {
    char* InPtr = const_cast<char*>(In.data());
    size_t InLeft = In.size();
    char* OutPtr = Out.data();
    size_t OutLeft = Out.size();
    const bool Failed =
        iconv(Handle_, &InPtr, &InLeft, &OutPtr, &OutLeft) == static_cast<size_t>(-1);
    Out.resize(Out.size() - OutLeft);
    return Failed ? static_cast<size_t>(InPtr - In.data()) : NoError;
  }

 private:
  iconv_t Handle_;
};

// CP932 goes through UTF-16LE, independent of the machine's byte order.
size_t DecodeCp932(std::string_view Bytes, String& Text) {
  std::string Units(Bytes.size() * 2, '\0');  // one byte or two give one unit
  const size_t Error = TIconv("UTF-16LE", "CP932").Convert(Bytes, Units);
  if (Error != NoError) return Error;
  return DecodeUtf16(Units, false, Text);
}

// Which bytes and byte pairs the CP932 conversion takes as characters,
// asked of it once, so that input can be checked without converting it.
struct TCp932Table {
  std::array<bool, 256> Single{};
  std::array<std::array<uint64_t, 4>, 256> PairBits{};  // a bit per second byte
  bool AsciiSingle = true;  // every byte below 0x80 is a character alone
  // Every pair starts with a lead byte (81..9F, E0..FC) and no lead byte is
  // a character alone: then where characters start follows from the runs of
  // lead bytes alone, and the check can go 64 bytes a step.
  bool ByRuns = true;
  // The bytes from 0x80 up, not lead bytes, that are no character alone.
  std::array<uint8_t, 8> Refused{};
  size_t RefusedCount = 0;

  bool Pair(uint8_t First, uint8_t Second) const {
    return (PairBits[First][Second >> 6] >> (Second & 63) & 1) != 0;
  }

  TCp932Table() {
    TIconv Conversion("UTF-16LE", "CP932");
    std::string Units(4, '\0');
    const auto Decodes = [&Conversion, &Units](std::string_view Bytes) {
      Units.assign(4, '\0');
      return Conversion.Convert(Bytes, Units) == NoError && Units.size() == 2;
    };
    for (int Byte = 0; Byte < 256; ++Byte) {
      const char B = static_cast<char>(Byte);
      Single[Byte] = Decodes(std::string_view(&B, 1));
      if (Byte < 0x80) AsciiSingle = AsciiSingle && Single[Byte];
      if (Byte < 0x80) continue;
      const bool Lead = IsLeadByte(static_cast<uint8_t>(Byte));
      if (Lead && Single[Byte]) ByRuns = false;
      if (!Lead && !Single[Byte]) {
        if (RefusedCount == Refused.size()) ByRuns = false;
        else Refused[RefusedCount++] = static_cast<uint8_t>(Byte);
      }
      for (int Trail = 0; Trail < 256; ++Trail) {
        const char Bytes[2] = {B, static_cast<char>(Trail)};
        if (!Decodes(std::string_view(Bytes, 2))) continue;
        PairBits[Byte][Trail >> 6] |= uint64_t{1} << (Trail & 63);
        if (!Lead) ByRuns = false;
      }
    }
    ByRuns = ByRuns && AsciiSingle;
  }
};

const TCp932Table& Cp932Table() {
  static const TCp932Table Table;
  return Table;
}

// What DecodeCp932 returns, from the table, for In[I, Size) where I starts a
// character: a pair where the two bytes make one, else a byte alone.
size_t ValidateCp932From(const TCp932Table& Table, const uint8_t* In, size_t Size, size_t I) {
  while (I < Size) {
    if (Table.AsciiSingle) {
      for (; Size - I >= 8 && (LoadEight(In + I) & HighBits) == 0; I += 8) {
      }
      if (I == Size) break;
    }
    const uint8_t B = In[I];
    if (B >= 0x80 && I + 1 < Size && Table.Pair(B, In[I + 1])) {
      I += 2;
    } else if (Table.Single[B]) {
      I += 1;
    } else {
      return I;
    }
  }
  return NoError;
}

#if defined(__x86_64__) && defined(__GNUC__) && !defined(QUILLET_NO_SIMD)
#define QUILLET_SSE2_CP932 1

// Of a run of 64 bytes, given a bit per lead byte that starts no character
// of the run before (Leads), the bits of those that start a character: in
// each run of such bytes, the first, third, fifth and so on. A run starts
// with a character, for the byte before it is a byte alone or the second of
// a pair.
uint64_t LeadsThatStart(uint64_t Leads) {
  constexpr uint64_t Even = 0x5555555555555555u;
  const uint64_t RunStarts = Leads & ~(Leads << 1);
  // Adding a run's first bit clears the run: the runs that start on an even
  // bit are the bits the addition cleared.
  const uint64_t EvenRuns = Leads & ~(Leads + (RunStarts & Even));
  const uint64_t OddRuns = Leads & ~EvenRuns;
  return (EvenRuns & Even) | (OddRuns & ~Even);
}

// A bit per byte of In[0, 64) for which Test gives all ones.
template <typename TTest>
uint64_t BitsOf64(const uint8_t* In, TTest Test) {
  uint64_t Bits = 0;
  for (int Part = 0; Part < 4; ++Part) {
    const __m128i Bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(In + 16 * Part));
    Bits |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(Test(Bytes))))
            << (16 * Part);
  }
  return Bits;
}

// ValidateCp932From from 0, 64 bytes a step: the runs of lead bytes tell
// where characters start, and only the pairs are looked up one by one.
size_t ValidateCp932ByRuns(const TCp932Table& Table, const uint8_t* In, size_t Size) {
  const auto Splat = [](int B) { return _mm_set1_epi8(static_cast<char>(B)); };
  const auto Within = [&Splat](__m128i V, int Low, int High) {
    return _mm_cmpeq_epi8(_mm_min_epu8(_mm_max_epu8(V, Splat(Low)), Splat(High)), V);
  };
  size_t I = 0;
  uint64_t Carry = 0;  // In[I] is the second byte of a pair
  // One byte more than the step: the pair that starts on its last byte.
  for (; Size - I > 64; I += 64) {
    const uint8_t* const P = In + I;
    const uint64_t High = BitsOf64(P, [](__m128i V) { return V; });
    if (High == 0) {
      Carry = 0;
      continue;
    }
    const uint64_t Leads = BitsOf64(P, [&Within](__m128i V) {
      return _mm_or_si128(Within(V, 0x81, 0x9F), Within(V, 0xE0, 0xFC));
    });
    const uint64_t Refused = BitsOf64(P, [&Table, &Splat](__m128i V) {
      __m128i Any = _mm_setzero_si128();
      for (size_t K = 0; K < Table.RefusedCount; ++K) {
        Any = _mm_or_si128(Any, _mm_cmpeq_epi8(V, Splat(Table.Refused[K])));
      }
      return Any;
    });
    const uint64_t Starts = LeadsThatStart(Leads & ~Carry);
    const uint64_t Alone = Refused & ~(Starts << 1 | Carry);
    const uint64_t Limit = Alone == 0 ? 64 : static_cast<uint64_t>(std::countr_zero(Alone));
    for (uint64_t Pairs = Starts; Pairs != 0; Pairs &= Pairs - 1) {
      const auto Bit = static_cast<uint64_t>(std::countr_zero(Pairs));
      if (Bit > Limit) break;
      if (!Table.Pair(P[Bit], P[Bit + 1])) return I + Bit;
    }
    if (Alone != 0) return I + Limit;
    Carry = Starts >> 63;
  }
  return ValidateCp932From(Table, In, Size, I + Carry);
}
#endif

size_t ValidateCp932(std::string_view Bytes) {
  const TCp932Table& Table = Cp932Table();
  const auto* In = reinterpret_cast<const uint8_t*>(Bytes.data());
#ifdef QUILLET_SSE2_CP932
  if (Table.ByRuns) return ValidateCp932ByRuns(Table, In, Bytes.size());
#endif
  return ValidateCp932From(Table, In, Bytes.size(), 0);
}

bool EncodeCp932(StringView Text, std::string& Bytes) {
  std::string Units;
  EncodeUtf16(Text, false, Units);
  std::string Out(Units.size(), '\0');  // one unit gives at most two bytes
  if (TIconv("CP932", "UTF-16LE").Convert(Units, Out) != NoError) return false;
  Bytes += Out;
  return true;
}

}  // namespace

std::optional<TEncoding> ParseEncodingName(std::string_view Name) {
  // ASCII letters alone, whatever the locale.
  const auto Lower = [](char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C + 32) : C; };
  for (const TEncodingName& Known : EncodingNames) {
    if (std::ranges::equal(Name, Known.Name, {}, Lower)) return Known.Encoding;
  }
  return std::nullopt;
}

const char* EncodingName(TEncoding Encoding) {
  switch (Encoding) {
    case TEncoding::Utf8:
      return "UTF-8";
    case TEncoding::Utf16LE:
      return "UTF-16LE";
    case TEncoding::Utf16BE:
      return "UTF-16BE";
    case TEncoding::Cp932:
      return "CP932";
    case TEncoding::Utf16:
      return "UTF-16";
    default:
      return "auto";
  }
}

TByteOrderMark FindByteOrderMark(std::string_view Bytes, TEncoding Requested) {
  for (const TEncoding Marked : {TEncoding::Utf8, TEncoding::Utf16LE, TEncoding::Utf16BE}) {
    const bool Accepted = Requested == TEncoding::Auto || Requested == Marked ||
                          (Requested == TEncoding::Utf16 && Marked != TEncoding::Utf8);
    if (Accepted && Bytes.starts_with(BomOf(Marked))) {
      return {Marked, BomOf(Marked).size()};
    }
  }
  return {Requested, 0};
}

TUnmarkedGuess GuessUnmarkedInput(std::string_view Head, bool Complete) {
  TUnmarkedGuess Guess;
  Guess.FirstZero = Head.find('\0');
  if (Guess.FirstZero == std::string_view::npos) {
    Guess.FirstZero = NoError;
    return Guess;
  }
  // Zero bytes fall on both sides in UTF-16 text (U+3000 is 00 30 in
  // little-endian order), mostly on the side of the high byte of ASCII: that
  // order is tried first. An order fits when every unit is a character of
  // text and a line break is among them.
  size_t ZerosAtEven = 0;
  size_t ZerosAtOdd = 0;
  for (size_t I = Guess.FirstZero; I < Head.size(); ++I) {
    if (Head[I] == '\0') ++(I % 2 == 0 ? ZerosAtEven : ZerosAtOdd);
  }
  Guess.Kind = TUnmarkedKind::Binary;
  if (Complete && Head.size() % 2 != 0) return Guess;
  const size_t Units = Head.size() / 2;
  const auto Fits = [&Head, Units, Complete](bool BigEndian) {
    const auto Unit = [&Head, BigEndian](size_t I) {
      const auto First = static_cast<uint8_t>(Head[2 * I]);
      const auto Second = static_cast<uint8_t>(Head[2 * I + 1]);
      return static_cast<char32_t>(BigEndian ? First << 8 | Second : Second << 8 | First);
    };
    bool Breaks = false;
    for (size_t I = 0; I < Units; ++I) {
      const char32_t C = Unit(I);
      if ((C < 0x20 && (C < 0x09 || C > 0x0D)) || C == 0xFFFE || C == 0xFFFF) return false;
      Breaks = Breaks || C == u'\n' || C == u'\r';
      if (IsLowSurrogate(C)) return false;
      if (IsHighSurrogate(C)) {
        if (I + 1 == Units) return !Complete && Breaks;
        if (!IsLowSurrogate(Unit(I + 1))) return false;
        ++I;
      }
    }
    return Breaks;
  };
  const bool BigEndianFirst = ZerosAtEven > ZerosAtOdd;
  for (const bool BigEndian : {BigEndianFirst, !BigEndianFirst}) {
    if (Fits(BigEndian)) {
      Guess.Kind = BigEndian ? TUnmarkedKind::Utf16BE : TUnmarkedKind::Utf16LE;
      break;
    }
  }
  return Guess;
}

size_t GatherUtf8Evidence(std::string_view Bytes, bool AtEnd, TUtf8Evidence& Evidence) {
  const auto* In = reinterpret_cast<const uint8_t*>(Bytes.data());
  const size_t Size = Bytes.size();
  size_t I = 0;
  while (I < Size) {
    if (In[I] < 0x80) {
      ++I;
      continue;
    }
    // The automaton from a lead byte accepts its sequence, or fails within
    // it, or meets the end first.
    uint64_t State = usAccept;
    size_t K = I;
    do {
      State = Utf8Table.Rows[In[K++]] >> (State & 63);
    } while ((State & 63) != usAccept && (State & 63) != usError && K < Size);
    if ((State & 63) == usAccept) {
      ++Evidence.Characters;
      I = K;
    } else if ((State & 63) != usError && !AtEnd) {
      return I;
    } else {
      ++Evidence.Strays;
      ++I;
    }
  }
  return Size;
}

size_t FindNul(std::string_view Bytes, TEncoding Encoding) {
  if (Encoding != TEncoding::Utf16LE && Encoding != TEncoding::Utf16BE) {
    const size_t At = Bytes.find('\0');
    return At == std::string_view::npos ? NoError : At;
  }
  for (size_t At = Bytes.find('\0'); At != std::string_view::npos; At = Bytes.find('\0', At + 1)) {
    const size_t Unit = At - At % 2;
    if (Unit + 1 < Bytes.size() && Bytes[Unit] == '\0' && Bytes[Unit + 1] == '\0') return Unit;
  }
  return NoError;
}

TDecodedText DecodeInput(std::string_view Bytes, TEncoding Requested) {
  TDecodedText Result;
  const TByteOrderMark Mark = FindByteOrderMark(Bytes, Requested);
  Result.BomLength = Mark.Length;
  Result.Encoding = Mark.Encoding;
  if (Result.Encoding == TEncoding::Auto) {
    Result.Encoding = TEncoding::Utf8;
    if (DecodeUtf8(Bytes, Result.Text) == NoError) return Result;
    Result.Text.clear();
    Result.Encoding = TEncoding::Cp932;
  }
  if (Result.Encoding == TEncoding::Utf16) {
    Result.ErrorOffset = 0;
    return Result;
  }
  const size_t Error = DecodeText(Bytes.substr(Result.BomLength), Result.Encoding, Result.Text);
  if (Error != NoError) Result.ErrorOffset = Result.BomLength + Error;
  return Result;
}

size_t DecodeText(std::string_view Bytes, TEncoding Encoding, String& Text) {
  switch (Encoding) {
    case TEncoding::Utf8:
      return DecodeUtf8(Bytes, Text);
    case TEncoding::Utf16LE:
      return DecodeUtf16(Bytes, false, Text);
    case TEncoding::Utf16BE:
      return DecodeUtf16(Bytes, true, Text);
    case TEncoding::Cp932:
      return DecodeCp932(Bytes, Text);
    default:
      return 0;
  }
}

size_t ValidateText(std::string_view Bytes, TEncoding Encoding) {
  switch (Encoding) {
    case TEncoding::Utf8:
      return ValidateUtf8(Bytes);
    case TEncoding::Utf16LE:
    case TEncoding::Utf16BE:
      return Bytes.size() % 2 != 0 ? Bytes.size() - 1 : NoError;
    case TEncoding::Cp932:
      return ValidateCp932(Bytes);
    default: {
      String Text;
      return DecodeText(Bytes, Encoding, Text);
    }
  }
}

bool EncodeText(StringView Text, TEncoding Encoding, std::string& Bytes) {
  switch (Encoding) {
    case TEncoding::Utf8:
      return EncodeUtf8(Text, Bytes);
    case TEncoding::Utf16LE:
      EncodeUtf16(Text, false, Bytes);
      return true;
    case TEncoding::Utf16BE:
      EncodeUtf16(Text, true, Bytes);
      return true;
    case TEncoding::Cp932:
      return EncodeCp932(Text, Bytes);
    default:
      return false;
  }
}

size_t FindRoundTripLoss(std::string_view Bytes, StringView Text, TEncoding Encoding) {
  if (Encoding != TEncoding::Cp932) return NoError;  // the UTF forms are unique
  std::string Again;
  if (!EncodeText(Text, Encoding, Again)) return 0;
  const auto [Left, Right] = std::mismatch(Bytes.begin(), Bytes.end(), Again.begin(), Again.end());
  return Left == Bytes.end() && Right == Again.end() ? NoError : Left - Bytes.begin();
}

}  // namespace quillet
