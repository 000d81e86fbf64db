// Code pages through the C library's iconv; Windows-1252 and UTF-8 without it.
#include "xbase/text.h"

#include <iconv.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "unicode_case.h"

namespace xbase {

namespace {

struct MarkPage {
  uint8_t mark;
  const char* name;
};

// The xBase language driver marks, as dBase, FoxPro and Visual FoxPro define them.
constexpr MarkPage kMarks[] = {
    {0x01, "cp437"},     {0x02, "cp850"},  {0x03, "cp1252"}, {0x04, "mac_roman"},    {0x08, "cp865"},
    {0x09, "cp437"},     {0x0A, "cp850"},  {0x0B, "cp437"},  {0x0D, "cp437"},        {0x0E, "cp850"},
    {0x0F, "cp437"},     {0x10, "cp850"},  {0x11, "cp437"},  {0x12, "cp850"},        {0x13, "cp932"},
    {0x14, "cp850"},     {0x15, "cp437"},  {0x16, "cp850"},  {0x17, "cp865"},        {0x18, "cp437"},
    {0x19, "cp437"},     {0x1A, "cp850"},  {0x1B, "cp437"},  {0x1C, "cp863"},        {0x1D, "cp850"},
    {0x1F, "cp852"},     {0x22, "cp852"},  {0x23, "cp852"},  {0x24, "cp860"},        {0x25, "cp850"},
    {0x26, "cp866"},     {0x37, "cp850"},  {0x40, "cp852"},  {0x4D, "cp936"},        {0x4E, "cp949"},
    {0x4F, "cp950"},     {0x50, "cp874"},  {0x57, "cp1252"}, {0x58, "cp1252"},       {0x59, "cp1252"},
    {0x64, "cp852"},     {0x65, "cp866"},  {0x66, "cp865"},  {0x67, "cp861"},        {0x6A, "cp737"},
    {0x6B, "cp857"},     {0x78, "cp950"},  {0x79, "cp949"},  {0x7A, "cp936"},        {0x7B, "cp932"},
    {0x7C, "cp874"},     {0x7D, "cp1255"}, {0x7E, "cp1256"}, {0x96, "mac_cyrillic"}, {0x97, "mac_latin2"},
    {0x98, "mac_greek"}, {0xC8, "cp1250"}, {0xC9, "cp1251"}, {0xCA, "cp1254"},       {0xCB, "cp1253"},
    {0xCC, "cp1257"},    {0xF0, "utf-8"},
};

// Windows-1252 bytes 0x80-0x9F; the bytes it leaves undefined keep their own number.
constexpr uint16_t kCp1252High[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                      0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

// The iconv name of a code page; empty for one the C library lacks.
std::string IconvName(std::string_view page) {
  if (page == "mac_roman") return "MACINTOSH";
  if (page == "mac_cyrillic") return "MAC-CYRILLIC";
  if (page == "mac_latin2") return "MAC-CENTRALEUROPE";
  if (page == "mac_greek") return {};
  std::string r(page);
  for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return r;
}

bool Known(const std::string& iconv_name) {
  if (iconv_name.empty()) return false;
  iconv_t cd = iconv_open("UTF-8", iconv_name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
}

bool DoubleByte(std::string_view page) {
  return page == "cp932" || page == "cp936" || page == "cp949" || page == "cp950";
}

void AppendUtf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The code point at text[i] and its length in bytes; length 0 for bytes that are not UTF-8
// (overlong forms, surrogates and values past U+10FFFF included).
uint32_t NextCodePoint(std::string_view text, size_t i, size_t* len) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = b(i);
  *len = 0;
  if (c < 0x80) {
    *len = 1;
    return c;
  }
  size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
  if (c >= 0xF5) n = 0;
  if (n == 0 || i + n > text.size()) return 0;
  uint32_t cp = c & (0xFF >> (n + 1));
  for (size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if ((n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
    return 0;
  *len = n;
  return cp;
}

template <size_t N>
std::string MapCase(std::string_view text, const unicode::CasePair (&table)[N]) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t len = 0;
    const uint32_t cp = NextCodePoint(text, i, &len);
    if (len == 0) {
      out.push_back(text[i++]);
      continue;
    }
    const auto* p = std::lower_bound(std::begin(table), std::end(table), cp,
                                     [](const unicode::CasePair& e, uint32_t v) { return e.from < v; });
    if (p != std::end(table) && p->from == cp)
      AppendUtf8(&out, p->to);
    else
      out.append(text.substr(i, len));
    i += len;
  }
  return out;
}

}  // namespace

const char* CodePageOfMark(uint8_t mark) {
  for (const MarkPage& m : kMarks)
    if (m.mark == mark) return m.name;
  return nullptr;
}

std::string CodePageOfCpg(std::string_view text) {
  std::string t = Lower(text);
  while (!t.empty() && std::isspace(static_cast<unsigned char>(t.back()))) t.pop_back();
  while (!t.empty() && std::isspace(static_cast<unsigned char>(t.front()))) t.erase(0, 1);
  for (const char* prefix : {"ansi ", "oem ", "windows-", "cp", "ibm"})
    if (t.starts_with(prefix) && t.size() > std::string_view(prefix).size())
      t.erase(0, std::string_view(prefix).size());
  if (t == "utf-8" || t == "utf8" || t == "65001") return kUtf8;
  if (t == "big5") return "cp950";
  if (t == "gbk" || t == "gb2312") return "cp936";
  if (t == "sjis" || t == "shift_jis") return "cp932";
  if (!t.empty() && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    if (t.starts_with("8859") && t.size() > 4)
      t = "iso-8859-" + t.substr(4);
    else
      t = "cp" + t;
  }
  return Known(IconvName(t)) ? t : std::string();
}

std::string DecodeText(std::string_view page, std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  if (page == kUtf8) {
    for (size_t i = 0; i < bytes.size();) {
      size_t len = 0;
      NextCodePoint(bytes, i, &len);
      if (len == 0) {
        out += "\xEF\xBF\xBD";
        ++i;
      } else {
        out.append(bytes.substr(i, len));
        i += len;
      }
    }
    return out;
  }
  const std::string name = page == kWindows1252 ? std::string() : IconvName(page);
  iconv_t cd = name.empty() ? reinterpret_cast<iconv_t>(-1) : iconv_open("UTF-8", name.c_str());
  const bool dbcs = DoubleByte(page);
  size_t i = 0;
  while (i < bytes.size()) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    if (cd == reinterpret_cast<iconv_t>(-1)) {  // Windows-1252, and code pages the C library lacks
      AppendUtf8(&out, c < 0xA0 && page == kWindows1252 ? kCp1252High[c - 0x80] : c);
      ++i;
      continue;
    }
    const size_t n = dbcs && IsLeadByte(page, c) && i + 1 < bytes.size() ? 2 : 1;
    char in_buf[2] = {bytes[i], n == 2 ? bytes[i + 1] : '\0'};
    char out_buf[16];
    char* in_p = in_buf;
    char* out_p = out_buf;
    size_t in_left = n, out_left = sizeof out_buf;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in_p, &in_left, &out_p, &out_left) != static_cast<size_t>(-1) && in_left == 0) {
      out.append(out_buf, static_cast<size_t>(out_p - out_buf));
    } else if (dbcs) {
      out += "\xEF\xBF\xBD";
    } else {
      AppendUtf8(&out, c);
    }
    i += n;
  }
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  return out;
}

bool EncodeText(std::string_view page, std::string_view utf8, std::string* out) {
  out->clear();
  out->reserve(utf8.size());
  bool whole = true;
  const std::string name = page == kUtf8 || page == kWindows1252 ? std::string() : IconvName(page);
  iconv_t cd = name.empty() ? reinterpret_cast<iconv_t>(-1) : iconv_open(name.c_str(), "UTF-8");
  for (size_t i = 0; i < utf8.size();) {
    size_t len = 0;
    const uint32_t cp = NextCodePoint(utf8, i, &len);
    if (len == 0) {
      out->push_back('?');
      whole = false;
      ++i;
      continue;
    }
    if (cp < 0x80 || page == kUtf8) {
      out->append(utf8.substr(i, len));
    } else if (page == kWindows1252) {
      char byte = cp >= 0xA0 && cp < 0x100 ? static_cast<char>(cp) : '\0';
      for (int k = 0; k < 32 && byte == '\0'; ++k)
        if (kCp1252High[k] == cp && kCp1252High[k] >= 0x100) byte = static_cast<char>(0x80 + k);
      if (byte == '\0') byte = '?', whole = false;
      out->push_back(byte);
    } else {
      char in_buf[4];
      std::copy_n(utf8.data() + i, len, in_buf);
      char out_buf[8];
      char* in_p = in_buf;
      char* out_p = out_buf;
      size_t in_left = len, out_left = sizeof out_buf;
      if (cd != reinterpret_cast<iconv_t>(-1)) iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (cd != reinterpret_cast<iconv_t>(-1) &&
          iconv(cd, &in_p, &in_left, &out_p, &out_left) != static_cast<size_t>(-1) && in_left == 0) {
        out->append(out_buf, static_cast<size_t>(out_p - out_buf));
      } else {
        out->push_back('?');
        whole = false;
      }
    }
    i += len;
  }
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  return whole;
}

bool IsLeadByte(std::string_view page, unsigned char b) {
  if (page == "cp932") return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  return DoubleByte(page) && b >= 0x81 && b <= 0xFE;
}

size_t Utf8FitLength(std::string_view text, size_t max_bytes) {
  size_t i = 0;
  while (i < text.size()) {
    size_t len = 0;
    NextCodePoint(text, i, &len);
    if (len == 0) len = 1;
    if (i + len > max_bytes) break;
    i += len;
  }
  return i;
}

size_t Utf8Length(std::string_view text) {
  size_t n = 0;
  for (size_t i = 0; i < text.size(); ++n) {
    size_t len = 0;
    NextCodePoint(text, i, &len);
    i += len == 0 ? 1 : len;
  }
  return n;
}

std::string UpperUtf8(std::string_view text) { return MapCase(text, unicode::kUpper); }
std::string LowerUtf8(std::string_view text) { return MapCase(text, unicode::kLower); }

}  // namespace xbase
