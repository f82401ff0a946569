// Byte encodings of the command-line filter: detection, strict decoding into
// UTF-16 text and encoding back.
//
// Decoding and encoding work on buffers and append to their output, so that
// the filter's pipeline (decode, transform, encode) stays three separate steps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "StringUnit/LineBreaks.h"

namespace quillet {

// Utf16 is only ever asked for, never the encoding of a text: UTF-16 with a
// byte-order mark, in either byte order, which the mark then settles.
enum class TEncoding : uint8_t { Auto, Utf8, Utf16LE, Utf16BE, Cp932, Utf16 };

// A name that --encoding takes, in any letter case.
struct TEncodingName {
  std::string_view Name;
  TEncoding Encoding;
};

// Every name, in the order that the help and the messages list them: each
// encoding's own name first, then its aliases.
inline constexpr TEncodingName EncodingNames[] = {
    {"auto", TEncoding::Auto},         {"utf-8", TEncoding::Utf8},
    {"utf8", TEncoding::Utf8},         {"utf-16", TEncoding::Utf16},
    {"utf-16le", TEncoding::Utf16LE},  {"utf-16be", TEncoding::Utf16BE},
    {"cp932", TEncoding::Cp932},       {"sjis", TEncoding::Cp932},
    {"shift_jis", TEncoding::Cp932},   {"shift-jis", TEncoding::Cp932},
    {"windows-31j", TEncoding::Cp932}, {"ms932", TEncoding::Cp932},
};

// One of EncodingNames, in any letter case.
std::optional<TEncoding> ParseEncodingName(std::string_view Name);
// The name that error messages use: "UTF-8", "UTF-16LE", ...
const char* EncodingName(TEncoding Encoding);

// Marks "no invalid byte".
constexpr size_t NoError = SIZE_MAX;

// A byte-order mark: the encoding it names and its length in bytes.
struct TByteOrderMark {
  TEncoding Encoding = TEncoding::Auto;
  size_t Length = 0;
};

// The longest mark: how much of an input FindByteOrderMark needs to see.
constexpr size_t MaxByteOrderMarkLength = 3;

// The mark at the start of Bytes as Requested accepts it: with Auto any of the
// UTF-8, UTF-16LE and UTF-16BE marks, with Utf16 either UTF-16 mark, with a
// UTF encoding of one byte order its own only, with CP932 none. Without an
// accepted mark, Length is 0 and Encoding is Requested.
TByteOrderMark FindByteOrderMark(std::string_view Bytes, TEncoding Requested);

struct TDecodedText {
  TEncoding Encoding = TEncoding::Auto;  // the encoding used, never Auto
  size_t BomLength = 0;                  // bytes of the byte-order mark
  String Text;                           // the characters after the mark
  size_t ErrorOffset = NoError;          // first invalid byte, from the start of the input
};

// What the start of an input without a byte-order mark says about it, read
// with auto: text in a byte encoding (no zero byte), UTF-16 (zero bytes only
// at odd offsets for little-endian, only at even ones for big-endian, and
// nothing but text in the units), or binary data.
enum class TUnmarkedKind : uint8_t { Bytes, Utf16LE, Utf16BE, Binary };

struct TUnmarkedGuess {
  TUnmarkedKind Kind = TUnmarkedKind::Bytes;
  size_t FirstZero = NoError;  // offset of the first zero byte
};

// Head: the first bytes of the input (all of it when Complete). UTF-16 text
// here is whole units other than U+0000 to U+0008, U+000E to U+001F, U+FFFE
// and U+FFFF, every surrogate paired (one cut off at the end of an
// incomplete head aside), and at least one line break: a text with a stray
// NUL or two has its zero bytes on one side too, but its line breaks fall
// into units with other bytes.
TUnmarkedGuess GuessUnmarkedInput(std::string_view Head, bool Complete);

// How much of a text reads as UTF-8: its well-formed sequences of two to
// four bytes, and its bytes that are part of none and not ASCII.
struct TUtf8Evidence {
  uint64_t Characters = 0;
  uint64_t Strays = 0;
};

// Adds the evidence of Bytes to Evidence and returns how many bytes it took:
// all, or all but the start of a sequence cut off at the end (at most three
// bytes), which the caller puts in front of the bytes that follow. With
// AtEnd, all of them: a sequence cut off there is stray bytes.
size_t GatherUtf8Evidence(std::string_view Bytes, bool AtEnd, TUtf8Evidence& Evidence);

// Offset of the first zero byte of Bytes, or of the first U+0000 unit when
// Encoding is UTF-16 (Bytes starting at a unit); NoError when there is none.
size_t FindNul(std::string_view Bytes, TEncoding Encoding);

// Decodes a whole input. With Requested Auto, a byte-order mark decides
// between UTF-8, UTF-16LE and UTF-16BE; without one, valid UTF-8 is UTF-8 and
// anything else CP932. A forced UTF encoding recognises its own mark only;
// Utf16 needs one of the UTF-16 marks, and without one the input is invalid
// at offset 0. On an error, Text is unspecified. Throws std::runtime_error when the system
// has no CP932 conversion.
TDecodedText DecodeInput(std::string_view Bytes, TEncoding Requested);

// Appends the characters of Bytes (no byte-order mark) to Text and returns
// NoError, or returns the offset in Bytes of the first byte that starts no
// valid character. UTF-8 is strict: no overlong forms, no encoded surrogates,
// nothing beyond U+10FFFF, no truncated sequence. UTF-16 surrogates are taken
// as they are, paired or not; only an odd trailing byte is invalid.
size_t DecodeText(std::string_view Bytes, TEncoding Encoding, String& Text);

// What DecodeText returns for Bytes, without keeping the characters.
size_t ValidateText(std::string_view Bytes, TEncoding Encoding);

// Appends Text in Encoding to Bytes. False when a character has no form in
// it (a lone surrogate outside UTF-16, a character missing from CP932); Bytes
// is then unspecified. Text decoded from Encoding, with blanks and line breaks
// added, always has one.
bool EncodeText(StringView Text, TEncoding Encoding, std::string& Bytes);

// Offset of the first byte of Bytes that does not come back when Text, decoded
// from it, is encoded again; NoError when all do. Only CP932 can fail: it has
// several byte forms for some characters and writes back one of them.
size_t FindRoundTripLoss(std::string_view Bytes, StringView Text, TEncoding Encoding);

}  // namespace quillet
