// Table and index files byte by byte: other programs' tables, index pages edited with checksums set right.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace xbase::testing {

inline std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}
inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << bytes;
}

inline uint32_t GetLE(const std::string& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + static_cast<size_t>(i)]);
  return v;
}
inline void PutLE(std::string* b, size_t at, int bytes, uint32_t v) {
  for (int i = 0; i < bytes; ++i) (*b)[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A Visual FoxPro compound index (root at 1024, key length 10): recognised, not readable.
inline std::string ForeignIndex() {
  std::string cdx(1536, '\0');
  PutLE(&cdx, 0, 4, 1024);
  PutLE(&cdx, 4, 4, 0xFFFFFFFFu);
  PutLE(&cdx, 12, 2, 10);
  cdx[14] = static_cast<char>(0xE0);
  cdx[15] = 0x01;
  PutLE(&cdx, 1024, 2, 3);
  return cdx;
}

// Changes the record count a table file's header claims.
inline void SetHeaderRecordCount(const std::string& path, uint32_t count) {
  std::string bytes = ReadAll(path);
  PutLE(&bytes, 4, 4, count);
  WriteAll(path, bytes);
}

struct RawField {
  std::string name;  // bytes, at most 10
  char type;
  uint8_t length;
  uint8_t decimals = 0;
};

// A table file: header, fields, 0x0D, `extra` bytes (FoxPro's backlink area), whole records, 0x1A.
inline std::string RawTable(uint8_t version, uint8_t code_page, const std::vector<RawField>& fields,
                            const std::vector<std::string>& records, size_t extra = 0) {
  const size_t header = 32 + 32 * fields.size() + 1 + extra;
  std::string b(header, '\0');
  b[0] = static_cast<char>(version);
  b[1] = 126, b[2] = 12, b[3] = 7;  // 2026-12-07
  PutLE(&b, 4, 4, static_cast<uint32_t>(records.size()));
  PutLE(&b, 8, 2, static_cast<uint32_t>(header));
  b[29] = static_cast<char>(code_page);
  uint32_t offset = 1;
  for (size_t i = 0; i < fields.size(); ++i) {
    const size_t d = 32 + 32 * i;
    b.replace(d, fields[i].name.size(), fields[i].name);
    b[d + 11] = fields[i].type;
    PutLE(&b, d + 12, 4, offset);
    b[d + 16] = static_cast<char>(fields[i].length);
    b[d + 17] = static_cast<char>(fields[i].decimals);
    offset += fields[i].length;
  }
  PutLE(&b, 10, 2, offset);  // the record length
  b[32 + 32 * fields.size()] = 0x0D;
  for (size_t i = 0; i < extra; ++i) b[32 + 32 * fields.size() + 1 + i] = static_cast<char>('a' + i % 26);
  for (const std::string& r : records) b += r;
  b += '\x1A';
  return b;
}

// An index file in this engine's layout (README.md, "Index file"), edited in memory.
class IndexBytes {
 public:
  static constexpr size_t kPage = 4096;
  explicit IndexBytes(std::string bytes) : b_(std::move(bytes)) {}
  const std::string& bytes() const { return b_; }

  // Key length and root page of a tag, from the directory in the header.
  bool FindTag(const std::string& name, uint32_t* key_len, uint32_t* root) const {
    size_t at = 40;
    for (uint32_t t = 0; t < GetLE(b_, 28, 4); ++t) {
      const std::string tag = b_.substr(at + 2, GetLE(b_, at, 2));
      for (int text = 0; text < 3; ++text) at += 2 + GetLE(b_, at, 2);
      *key_len = GetLE(b_, at + 1, 2);
      *root = GetLE(b_, at + 3, 4);
      at += 7;
      if (tag == name) return true;
    }
    return false;
  }
  // The tag's leaf pages in chain order.
  std::vector<uint32_t> Leaves(const std::string& tag) const {
    uint32_t key_len = 0, page = 0;
    if (!FindTag(tag, &key_len, &page)) return {};
    while (b_[page * kPage] != 1) page = GetLE(b_, page * kPage + 12 + key_len + 4, 4);
    std::vector<uint32_t> r;
    for (; page != 0; page = GetLE(b_, page * kPage + 4, 4)) r.push_back(page);
    return r;
  }
  uint32_t Count(uint32_t page) const { return GetLE(b_, page * kPage + 2, 2); }
  void SetCount(uint32_t page, uint32_t n) { PutLE(&b_, page * kPage + 2, 2, n); }
  // Entry i of a leaf: the key and the record number.
  std::string Entry(uint32_t page, uint32_t key_len, uint32_t i) const {
    return b_.substr(page * kPage + 12 + i * (key_len + 4), key_len + 4);
  }
  void SetEntry(uint32_t page, uint32_t key_len, uint32_t i, const std::string& e) {
    b_.replace(page * kPage + 12 + i * (key_len + 4), key_len + 4, e);
  }
  uint32_t EntryRecno(uint32_t page, uint32_t key_len, uint32_t i) const {
    return GetLE(b_, page * kPage + 12 + i * (key_len + 4) + key_len, 4);
  }
  // The table's record count as the header gives it, with the header's checksum set right.
  void SetTableCount(uint32_t n) {
    PutLE(&b_, 16, 4, n);
    PutLE(&b_, 36, 4, 0);
    PutLE(&b_, 36, 4, Fnv(0));
  }
  // FNV-1a of the page with its checksum bytes (8-11) taken as zero.
  void FixChecksum(uint32_t page) {
    PutLE(&b_, page * kPage + 8, 4, 0);
    PutLE(&b_, page * kPage + 8, 4, Fnv(page));
  }

 private:
  uint32_t Fnv(uint32_t page) const {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < kPage; ++i) {
      h ^= static_cast<unsigned char>(b_[page * kPage + i]);
      h *= 16777619u;
    }
    return h;
  }
  std::string b_;
};

}  // namespace xbase::testing
