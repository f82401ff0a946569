#include "tools/Utf8Lines.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "StringUnit/AnsiCodePage.h"
#include "StringUnit/Simd.h"
#include "tools/TextEncoding.h"
#include "transforms/LineCommands.h"

namespace quillet {

namespace {

constexpr char16_t StandIn = u'x';
constexpr char16_t FullWidthSpace = u'\u3000';

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

// The end of Begin .. End without its trailing blanks.
const char* KeptEnd(const char* Begin, const char* End) {
  for (size_t Bytes; End != Begin && (Bytes = BlankBefore(Begin, End)) != 0;) End -= Bytes;
  return End;
}

char16_t BlankUnit(const char* P, size_t Bytes) {
  return Bytes == 3 ? FullWidthSpace : static_cast<char16_t>(*P);
}

// Bit I of Breaks says that byte I of the Count (at most 64) bytes at P is
// CR or LF; of Controls, that it is below 0x20.
void WindowMasks(const char* P, size_t Count, uint64_t& Breaks, uint64_t& Controls) {
  alignas(16) char Last[64];
  if (Count < 64) {
    std::memset(Last, 'a', sizeof Last);
    std::memcpy(Last, P, Count);
    P = Last;
  }
  Breaks = 0;
  Controls = 0;
#ifdef QUILLET_SSE2
  for (int Part = 0; Part < 4; ++Part) {
    const __m128i Bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P + 16 * Part));
    const __m128i Crs = _mm_cmpeq_epi8(Bytes, _mm_set1_epi8('\r'));
    const __m128i Lfs = _mm_cmpeq_epi8(Bytes, _mm_set1_epi8('\n'));
    const __m128i Low = _mm_cmpeq_epi8(_mm_min_epu8(Bytes, _mm_set1_epi8(0x1F)), Bytes);
    const auto Shift = static_cast<unsigned>(16 * Part);
    Breaks |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_or_si128(Crs, Lfs)))} << Shift;
    Controls |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(Low))} << Shift;
  }
#else
  for (unsigned I = 0; I < 64; ++I) {
    const auto Byte = static_cast<uint8_t>(P[I]);
    Breaks |= uint64_t{Byte == '\r' || Byte == '\n'} << I;
    Controls |= uint64_t{Byte < 0x20} << I;
  }
#endif
}

// Columns a byte adds to a line's display width: two a character, one for
// U+0020 to U+007F, two for each unit of a character beyond U+FFFF.
int32_t ByteWidth(uint8_t Byte) {
  return Byte < 0x20 ? 2 : Byte < 0x80 ? 1 : Byte < 0xC0 ? 0 : Byte < 0xF0 ? 2 : 4;
}

// Whether the three-byte character at P is one of the narrow ones, U+203E and
// U+FF61 to U+FF9F; P holds E2 or EF, and two more bytes of the character
// follow.
bool NarrowThreeBytes(const uint8_t* P) {
  if (P[0] == 0xE2) return P[1] == 0x80 && P[2] == 0xBE;
  return (P[1] == 0xBD && P[2] >= 0xA1) || (P[1] == 0xBE && P[2] <= 0x9F);
}

// ANSI bytes of the character at P, of Length bytes.
uint32_t CharacterAnsiBytes(const uint8_t* P, size_t Length) {
  if (Length == 1) return static_cast<uint32_t>(AnsiByteCount(P[0]));
  if (Length == 2) {
    return static_cast<uint32_t>(
        AnsiByteCount(static_cast<char16_t>((P[0] & 0x1F) << 6 | (P[1] & 0x3F))));
  }
  if (Length == 3) {
    return static_cast<uint32_t>(AnsiByteCount(
        static_cast<char16_t>((P[0] & 0x0F) << 12 | (P[1] & 0x3F) << 6 | (P[2] & 0x3F))));
  }
  const char32_t C =
      ((P[0] & 0x07) << 18 | (P[1] & 0x3F) << 12 | (P[2] & 0x3F) << 6 | (P[3] & 0x3F)) - 0x10000;
  return static_cast<uint32_t>(AnsiByteCount(static_cast<char16_t>(0xD800 + (C >> 10))) +
                               AnsiByteCount(static_cast<char16_t>(0xDC00 + (C & 0x3FF))));
}

size_t CharacterLength(uint8_t Lead) {
  return Lead < 0x80 ? 1 : Lead < 0xE0 ? 2 : Lead < 0xF0 ? 3 : 4;
}

// Calls Visit(Line, Content, Controls) for every line of Block in order: the
// line runs from Line to its break at Content (the end of Block for a last
// line without one), and Controls counts its control characters other than
// the break. The lines are found
// 64 bytes at a time from bit masks, so that a line costs a few
// instructions rather than a search of its own.
template <typename TVisit>
void ForEachLine(std::string_view Block, TVisit Visit) {
  const char* const Text = Block.data();
  const size_t Size = Block.size();
  size_t Start = 0;     // where the line being read begins
  size_t Controls = 0;  // its control characters other than breaks so far
  bool SkipLf = false;  // the window starts with the LF of a CR LF
  for (size_t Window = 0; Window < Size; Window += 64) {
    uint64_t Breaks;
    uint64_t Others;
    WindowMasks(Text + Window, std::min<size_t>(64, Size - Window), Breaks, Others);
    Others &= ~Breaks;
    uint64_t Events = Breaks | Others;
    if (SkipLf) Events &= ~uint64_t{1};
    SkipLf = false;
    while (Events != 0) {
      const int Bit = std::countr_zero(Events);
      Events &= Events - 1;
      if ((Others >> Bit & 1) != 0) {
        ++Controls;
        continue;
      }
      const size_t At = Window + static_cast<size_t>(Bit);
      size_t Next = At + 1;
      if (Text[At] == '\r' && Next < Size && Text[Next] == '\n') {
        ++Next;
        if (Bit == 63) {
          SkipLf = true;
        } else {
          Events &= ~(uint64_t{2} << Bit);
        }
      }
      Visit(Text + Start, Text + At, Controls);
      Start = Next;
      Controls = 0;
    }
  }
  if (Start < Size) Visit(Text + Start, Text + Size, Controls);
}

}  // namespace

int32_t Utf8LineWidth(std::string_view Line) {
  const auto* P = reinterpret_cast<const uint8_t*>(Line.data());
  const size_t Size = Line.size();
  int32_t Width = 0;
  size_t Tabs = 0;  // just after the last tab; 0 when there is none
#ifdef QUILLET_SSE2
  if (Size >= 16) {
    // Sixteen bytes a step: each byte's columns from masks (ASCII one,
    // control characters two, first bytes of longer characters two, of
    // four-byte ones four), summed across the bytes; the narrow three-byte
    // characters one less. The last step takes the last sixteen bytes and
    // leaves out those already counted.
    const __m128i Zero = _mm_setzero_si128();
    const __m128i Ones = _mm_set1_epi8(1);
    const __m128i Twos = _mm_set1_epi8(2);
    const __m128i Positions = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m128i Sums = Zero;
    for (size_t I = 0; I < Size; I += 16) {
      const size_t At = std::min(I, Size - 16);
      const auto Skip = static_cast<char>(I - At);
      const __m128i Bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P + At));
      const __m128i Counted = _mm_cmpgt_epi8(Positions, _mm_set1_epi8(static_cast<char>(Skip - 1)));
      const __m128i Ascii = _mm_cmpgt_epi8(Bytes, _mm_set1_epi8(-1));
      const __m128i Control = _mm_cmplt_epi8(Bytes, _mm_set1_epi8(0x20));
      const __m128i Lead = _mm_cmpgt_epi8(Bytes, _mm_set1_epi8(static_cast<char>(0xBF)));
      const __m128i Four = _mm_cmpgt_epi8(Bytes, _mm_set1_epi8(static_cast<char>(0xEF)));
      const __m128i E2 = _mm_cmpeq_epi8(Bytes, _mm_set1_epi8(static_cast<char>(0xE2)));
      const __m128i EF = _mm_cmpeq_epi8(Bytes, _mm_set1_epi8(static_cast<char>(0xEF)));
      const uint32_t Fresh = ~0u << Skip;
      __m128i Narrow = Zero;  // the first bytes of narrow three-byte characters
      if (At + 18 <= Size) {
        // The two bytes after each, from loads one and two bytes on.
        const __m128i Second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P + At + 1));
        const __m128i Third = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P + At + 2));
        const auto Is = [](__m128i Units, int Byte) {
          return _mm_cmpeq_epi8(Units, _mm_set1_epi8(static_cast<char>(Byte)));
        };
        const auto AtLeast = [](__m128i Units, int Byte) {
          return _mm_cmpeq_epi8(_mm_max_epu8(Units, _mm_set1_epi8(static_cast<char>(Byte))), Units);
        };
        const auto AtMost = [](__m128i Units, int Byte) {
          return _mm_cmpeq_epi8(_mm_min_epu8(Units, _mm_set1_epi8(static_cast<char>(Byte))), Units);
        };
        const __m128i Overline =
            _mm_and_si128(E2, _mm_and_si128(Is(Second, 0x80), Is(Third, 0xBE)));
        const __m128i KanaLow = _mm_and_si128(Is(Second, 0xBD), AtLeast(Third, 0xA1));
        const __m128i KanaHigh = _mm_and_si128(Is(Second, 0xBE), AtMost(Third, 0x9F));
        Narrow = _mm_or_si128(Overline, _mm_and_si128(EF, _mm_or_si128(KanaLow, KanaHigh)));
      } else {
        // Too near the end to load the bytes after: one at a time.
        const auto Maybe = static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(E2, EF)));
        for (uint32_t Bits = Maybe & Fresh; Bits != 0; Bits &= Bits - 1) {
          Width -= NarrowThreeBytes(P + At + std::countr_zero(Bits));
        }
      }
      const __m128i Columns = _mm_sub_epi8(
          _mm_add_epi8(_mm_add_epi8(_mm_and_si128(Ascii, Ones),
                                    _mm_and_si128(_mm_and_si128(Control, Ascii), Ones)),
                       _mm_andnot_si128(Ascii, _mm_add_epi8(_mm_and_si128(Lead, Twos),
                                                            _mm_and_si128(Four, Twos)))),
          _mm_and_si128(Narrow, Ones));
      Sums = _mm_add_epi64(Sums, _mm_sad_epu8(_mm_and_si128(Columns, Counted), Zero));
      const auto TabBits =
          static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(Bytes, _mm_set1_epi8('\t'))));
      if ((TabBits & Fresh) != 0) Tabs = At + 32 - std::countl_zero(TabBits);
    }
    Width += _mm_cvtsi128_si32(Sums) + _mm_cvtsi128_si32(_mm_srli_si128(Sums, 8));
  } else
#endif
  {
    for (size_t I = 0; I < Size; ++I) {
      Width += ByteWidth(P[I]);
      if (P[I] == 0xE2 || P[I] == 0xEF) Width -= NarrowThreeBytes(P + I);
      if (P[I] == '\t') Tabs = I + 1;
    }
  }
  // Each tab counted two columns so far; it fills up to the next stop in ANSI
  // bytes, so these are counted up to the last tab.
  uint32_t Column = 0;  // only its remainder by TabWidth counts, so it may wrap
  for (size_t I = 0; I < Tabs;) {
    if (P[I] == '\t') {
      const uint32_t Fill = TabWidth - Column % TabWidth;
      Column += Fill;
      Width += static_cast<int32_t>(Fill) - 2;
      ++I;
    } else {
      const size_t Length = CharacterLength(P[I]);
      Column += CharacterAnsiBytes(P + I, Length);
      I += Length;
    }
  }
  return Width;
}

// A line is no wider than its bytes and three columns more for each control
// character: a byte of ASCII takes one column, two or more bytes of another
// character two columns or fewer, a control character two, a tab four at
// most. Only a line that may be wider than the widest so far is measured.
int32_t Utf8WidestTrimmedLine(std::string_view Block, uint64_t& Lines) {
  int32_t Widest = 0;
  ForEachLine(Block, [&Widest, &Lines](const char* Line, const char* Content, size_t Controls) {
    ++Lines;
    if (static_cast<size_t>(Content - Line) + 3 * Controls <= static_cast<size_t>(Widest)) return;
    const char* const Kept = KeptEnd(Line, Content);
    Widest =
        std::max(Widest, Utf8LineWidth(std::string_view(Line, static_cast<size_t>(Kept - Line))));
  });
  return Widest;
}

String LineOfWidth(int32_t Width) {
  if (Width <= 0) return String();
  const int32_t Letters = (Width - 1) % TabWidth + 1;
  String Line(static_cast<size_t>((Width - Letters) / TabWidth), u'\t');
  return Line.append(static_cast<size_t>(Letters), StandIn);
}

TUtf8LineRewriter::TUtf8LineRewriter(uint8_t Command, int32_t Widest)
    : Command_(Command), Widest_(Widest) {}

bool TUtf8LineRewriter::Rewrite(std::string_view Block) {
  OutputSize_ = 0;
  Copied_ = Block.data();
  BlockEnd_ = Block.data() + Block.size();
  const bool Changed = Command_ == lcTrim                           ? Trim(Block)
                       : Command_ == lcPad || Command_ == lcPadTabs ? Pad(Block)
                                                                    : RewriteIndents(Block);
  if (Changed) Put(Copied_, Block.data() + Block.size());
  return Changed;
}

void TUtf8LineRewriter::Grow(size_t Bytes) {
  Output_.resize(std::max(2 * Output_.size(), OutputSize_ + Bytes));
}

// The bytes of the block from where the last change ended to From, then
// none until To: those are rewritten.
void TUtf8LineRewriter::Skip(const char* From, const char* To) {
  Put(Copied_, From);
  Copied_ = To;
}

// Most runs are a line or two: those are copied as a whole Chunk, which
// costs no call, where the block has that many bytes from From on; the room
// asked for takes the overhang.
void TUtf8LineRewriter::Put(const char* From, const char* To) {
  constexpr size_t Chunk = 64;
  const auto Bytes = static_cast<size_t>(To - From);
  char* const Out = Room(Bytes + Chunk);
  if (Bytes <= Chunk && static_cast<size_t>(BlockEnd_ - From) >= Chunk) {
    std::memcpy(Out, From, Chunk);
  } else {
    std::memcpy(Out, From, Bytes);
  }
  OutputSize_ += Bytes;
}

// Each line that starts with a blank gets the indent that ApplyLineCommand
// gives it.
bool TUtf8LineRewriter::RewriteIndents(std::string_view Block) {
  bool Changed = false;
  ForEachLine(Block, [this, &Changed](const char* Line, const char* End, size_t) {
    const char* P = Line;
    for (size_t Bytes; P != End && (Bytes = BlankAt(P, End)) != 0;) P += Bytes;
    if (P == Line) return;
    const std::string_view Indent(Line, static_cast<size_t>(P - Line));
    const std::string_view New = NewIndentBytes(Indent);
    if (New == Indent) return;
    Changed = true;
    Skip(Line, P);
    // New has at least MaxNew bytes behind it (NewIndentBytes).
    constexpr size_t Chunk = TKnownIndent::MaxNew;
    char* const Out = Room(New.size() + Chunk);
    std::memcpy(Out, New.data(), New.size() <= Chunk ? Chunk : New.size());
    OutputSize_ += New.size();
  });
  return Changed;
}

// Files indent their lines in a few ways again and again, so the new bytes
// of a short indent are kept, by its bytes, for the next time it comes. The
// bytes returned have at least TKnownIndent::MaxNew bytes of room behind
// their start.
std::string_view TUtf8LineRewriter::NewIndentBytes(std::string_view Indent) {
  TKnownIndent* Known = nullptr;
  if (Indent.size() <= TKnownIndent::MaxOld) {
    uint64_t Halves[2] = {};
    std::memcpy(Halves, Indent.data(), Indent.size());
    const uint64_t Hash =
        (Halves[0] * 0x9E3779B97F4A7C15u + Indent.size()) ^ (Halves[1] * 0xC2B2AE3D27D4EB4Fu);
    if (KnownIndents_.empty()) KnownIndents_.resize(KnownIndentCount);
    Known = &KnownIndents_[(Hash >> 40) % KnownIndentCount];
    if (Known->OldSize == Indent.size() &&
        std::memcmp(Known->Old, Indent.data(), Indent.size()) == 0) {
      return {Known->New, Known->NewSize};
    }
  }
  Indent_.clear();
  const char* const End = Indent.data() + Indent.size();
  for (const char* P = Indent.data(); P != End;) {
    const size_t Bytes = BlankAt(P, End);
    Indent_.push_back(BlankUnit(P, Bytes));
    P += Bytes;
  }
  NewIndent_.clear();
  AppendNewIndent(Indent_, Command_, NewIndent_);
  NewBytes_.clear();
  EncodeText(NewIndent_, TEncoding::Utf8, NewBytes_);
  const size_t Size = NewBytes_.size();
  NewBytes_.resize(std::max(Size, TKnownIndent::MaxNew));
  const std::string_view New(NewBytes_.data(), Size);
  if (Known && New.size() <= TKnownIndent::MaxNew) {
    Known->OldSize = static_cast<uint8_t>(Indent.size());
    Known->NewSize = static_cast<uint8_t>(New.size());
    std::memcpy(Known->Old, Indent.data(), Indent.size());
    std::memcpy(Known->New, New.data(), New.size());
  }
  return New;
}

// Each line loses its trailing blanks.
bool TUtf8LineRewriter::Trim(std::string_view Block) {
  bool Changed = false;
  ForEachLine(Block, [this, &Changed](const char* Line, const char* Break, size_t) {
    const char* const Kept = KeptEnd(Line, Break);
    if (Kept == Break) return;
    Changed = true;
    Skip(Kept, Break);
  });
  return Changed;
}

// Each line: its bytes up to its trailing blanks, its padding, its break.
bool TUtf8LineRewriter::Pad(std::string_view Block) {
  bool Changed = false;
  ForEachLine(Block, [this, &Changed](const char* Line, const char* Break, size_t) {
    const char* const Kept = KeptEnd(Line, Break);
    const TPadding Padding = LinePadding(
        Command_, Utf8LineWidth(std::string_view(Line, static_cast<size_t>(Kept - Line))), Widest_);
    if (static_cast<size_t>(Break - Kept) == Padding.Count &&
        std::all_of(Kept, Break, [&Padding](char C) { return C == Padding.Unit; })) {
      return;
    }
    Changed = true;
    Skip(Kept, Break);
    std::memset(Room(Padding.Count), static_cast<char>(Padding.Unit), Padding.Count);
    OutputSize_ += Padding.Count;
  });
  return Changed;
}

}  // namespace quillet
