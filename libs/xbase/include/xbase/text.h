// Text of tables: code pages, the .cpg file and case mapping.
//
// The engine stores text as the bytes it is given. A table says how its bytes are to be read
// by the code page mark in its header (byte 29) and, as many readers expect, by a `.cpg` file
// beside the `.dbf` naming the encoding ("UTF-8", "1251", ...). Code pages are named as
// Python names its codecs: "cp1252", "cp866", "cp950", "utf-8", "mac_cyrillic".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace xbase {

inline constexpr uint8_t kMarkWindows1252 = 0x03;
// The mark python3-dbf reads as UTF-8; tables converted to UTF-8 carry it and a .cpg file.
inline constexpr uint8_t kMarkUtf8 = 0xF0;
inline constexpr char kUtf8[] = "utf-8";
inline constexpr char kWindows1252[] = "cp1252";

// The code page a header mark names (the xBase language driver list); nullptr for 0x00 and
// for marks the list does not define.
const char* CodePageOfMark(uint8_t mark);
// The code page a .cpg file's text names ("UTF-8", "65001", "1251", "ANSI 1251", "CP866",
// "OEM 866", "ISO-8859-5", "88595", "BIG5", ...); empty when it names none this engine knows.
std::string CodePageOfCpg(std::string_view text);

// The bytes of `code_page` as UTF-8. A byte the code page leaves undefined reads as the code
// point of the same number in single-byte code pages, as U+FFFD elsewhere (so do broken UTF-8
// sequences).
std::string DecodeText(std::string_view code_page, std::string_view bytes);
// UTF-8 as bytes of `code_page`. False when some character has no bytes there (it is written
// as '?') or `utf8` is not UTF-8.
bool EncodeText(std::string_view code_page, std::string_view utf8, std::string* out);
// Whether `b` starts a two-byte character in `code_page` (Shift-JIS, GBK, UHC and Big5).
bool IsLeadByte(std::string_view code_page, unsigned char b);
// The length of the longest start of `text` (UTF-8) that is whole characters and at most
// `max_bytes` long: where a field of that width cuts it without halving a character.
size_t Utf8FitLength(std::string_view text, size_t max_bytes);
// Characters (code points) in UTF-8 text.
size_t Utf8Length(std::string_view text);

// The case mapping of upper() and lower() in UTF-8 tables: every code point with a simple
// (one to one) mapping in Unicode is mapped; bytes that are not UTF-8 stay as they are.
std::string UpperUtf8(std::string_view text);
std::string LowerUtf8(std::string_view text);

}  // namespace xbase
