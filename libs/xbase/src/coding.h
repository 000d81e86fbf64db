// Explicit byte-order helpers. File structures are always encoded field by
// field through these; no struct is ever copied to or from disk.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

namespace xbase {

inline uint16_t DecodeLE16(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint16_t>(u[0] | (u[1] << 8));
}
inline uint32_t DecodeLE32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(u[0]) | (static_cast<uint32_t>(u[1]) << 8) | (static_cast<uint32_t>(u[2]) << 16) |
         (static_cast<uint32_t>(u[3]) << 24);
}
inline uint32_t DecodeBE32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return (static_cast<uint32_t>(u[0]) << 24) | (static_cast<uint32_t>(u[1]) << 16) |
         (static_cast<uint32_t>(u[2]) << 8) | static_cast<uint32_t>(u[3]);
}
inline uint16_t DecodeBE16(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint16_t>((u[0] << 8) | u[1]);
}
inline void EncodeLE16(char* p, uint16_t v) {
  p[0] = static_cast<char>(v & 0xff);
  p[1] = static_cast<char>(v >> 8);
}
inline void EncodeLE32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xff);
}
inline void EncodeBE32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * (3 - i))) & 0xff);
}
inline void EncodeBE16(char* p, uint16_t v) {
  p[0] = static_cast<char>(v >> 8);
  p[1] = static_cast<char>(v & 0xff);
}

// FNV-1a; detects torn or garbage index pages, not malice.
inline uint32_t Checksum(const char* p, size_t n) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < n; ++i) {
    h ^= static_cast<unsigned char>(p[i]);
    h *= 16777619u;
  }
  return h;
}

// A quick 64-bit hash of a record, eight bytes at a time, for telling whether bytes read
// back are the bytes written in the same process (not stored, not for keys, not against
// malice; the words are in the host's byte order).
inline uint64_t RecordHash(const char* p, size_t n) {
  // Two independent lanes of sixteen bytes, each word multiplied and the lane rotated, so
  // that the order of the words counts and the loop is not one long chain.
  uint64_t a = 0x9E3779B97F4A7C15ull ^ n, b = 0xC2B2AE3D27D4EB4Full;
  size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    uint64_t w0, w1;
    std::memcpy(&w0, p + i, sizeof w0);
    std::memcpy(&w1, p + i + 8, sizeof w1);
    a = std::rotl(a + w0 * 0x9E3779B97F4A7C15ull, 29);
    b = std::rotl(b + w1 * 0xC2B2AE3D27D4EB4Full, 31);
  }
  for (; i < n; ++i) a = (a ^ static_cast<unsigned char>(p[i])) * 0x100000001B3ull;
  return (a ^ (b * 0x165667B19E3779F9ull)) * 0x27D4EB2F165667C5ull;
}

}  // namespace xbase
