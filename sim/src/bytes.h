// Byte-level encoding helpers: every wire field goes through these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace anynet_sim::detail {

inline uint16_t get16le(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint16_t get16be(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

inline void put16le(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put16be(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v & 0xFF);
}

inline void append8(std::vector<uint8_t>& out, uint8_t v) {
  out.push_back(v);
}
inline void append16be(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v & 0xFF));
}

inline uint8_t toBcd(unsigned v) {
  return static_cast<uint8_t>(((v / 10 % 10) << 4) | (v % 10));
}

// Returns false for a nibble above 9.
inline bool fromBcd(uint8_t b, unsigned& v) {
  const unsigned hi = b >> 4;
  const unsigned lo = b & 0x0F;
  if (hi > 9 || lo > 9) return false;
  v = hi * 10 + lo;
  return true;
}

}  // namespace anynet_sim::detail
