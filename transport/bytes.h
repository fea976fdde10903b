// Byte-level encoding helpers: AnyNet headers are little-endian, FINS and
// C-mode data big-endian.
#pragma once

#include <cstdint>

namespace brelk {

inline void Put16le(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}
inline uint16_t Get16le(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] | (at[1] << 8));
}
inline void Put16be(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value);
}
inline uint16_t Get16be(const uint8_t* at) {
  return static_cast<uint16_t>((at[0] << 8) | at[1]);
}

}  // namespace brelk
