// The controller's memory: one set of stores that both command sets reach through their own
// area tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace anynet_sim::detail {

enum class Store : uint8_t {
  kCio,     // IR, LR (1000-1063), G (0x0A00-0x0AFF), A/AR (0x0B00-0x0CFF)
  kTcPv,    // timers 0x0000-0x07FF, counters 0x0800-0x0FFF
  kTcFlag,  // completion flags, same numbering
  kDm,
  kEm0,
  kEm1,
  kEm2,
  kEm3,
  kEm4,
  kEm5,
  kEm6,
  kEm7,
  kArea03,
  kArea04,
  kArea44,
  kArea9C,
  kHr,
};
inline constexpr size_t kStoreCount = static_cast<size_t>(Store::kHr) + 1;

struct StoreInfo {
  Store store;
  uint32_t size;  // elements
  bool byteWide;  // 1 byte per element on the wire
};

// clang-format off
inline constexpr StoreInfo kStores[kStoreCount] = {
    {Store::kCio,    0x0D00, false},
    {Store::kTcPv,   0x1000, false},
    {Store::kTcFlag, 0x1000, true},
    {Store::kDm,     0x8000, false},
    {Store::kEm0,    0x8000, false},
    {Store::kEm1,    0x8000, false},
    {Store::kEm2,    0x8000, false},
    {Store::kEm3,    0x8000, false},
    {Store::kEm4,    0x8000, false},
    {Store::kEm5,    0x8000, false},
    {Store::kEm6,    0x8000, false},
    {Store::kEm7,    0x8000, false},
    {Store::kArea03, 0x0800, true},
    {Store::kArea04, 0x0800, true},
    {Store::kArea44, 0x0800, true},
    {Store::kArea9C, 0x0100, false},
    {Store::kHr,     0x0200, false},
};
// clang-format on

inline constexpr uint32_t kArBase = 0x0B00;  // AR word n is CIO word 0x0B00 + n
inline constexpr uint32_t kArWords = 0x0200;
inline constexpr uint32_t kLrBase = 1000;

// A window of one store as one command set addresses it.
struct AreaView {
  uint8_t code;  // FINS memory-area code, or C-mode read command
  Store store;
  uint32_t base;  // first store element
  uint32_t size;  // addressable elements
  const char* name;
};

// clang-format off
inline constexpr AreaView kFinsAreas[] = {
    {0x80, Store::kCio,    0, 0x0D00, "CIO"},
    {0x81, Store::kTcPv,   0, 0x1000, "TC-PV"},
    {0x01, Store::kTcFlag, 0, 0x1000, "TC-flag"},
    {0x82, Store::kDm,     0, 0x8000, "DM"},
    {0x90, Store::kEm0,    0, 0x8000, "EM0"},
    {0x91, Store::kEm1,    0, 0x8000, "EM1"},
    {0x92, Store::kEm2,    0, 0x8000, "EM2"},
    {0x93, Store::kEm3,    0, 0x8000, "EM3"},
    {0x94, Store::kEm4,    0, 0x8000, "EM4"},
    {0x95, Store::kEm5,    0, 0x8000, "EM5"},
    {0x96, Store::kEm6,    0, 0x8000, "EM6"},
    {0x97, Store::kEm7,    0, 0x8000, "EM7"},
    {0x98, Store::kEm0,    0, 0x8000, "EM-current"},
    {0x03, Store::kArea03, 0, 0x0800, "area03"},
    {0x04, Store::kArea04, 0, 0x0800, "area04"},
    {0x44, Store::kArea44, 0, 0x0800, "area44"},
    {0x9C, Store::kArea9C, 0, 0x0100, "area9C"},
    {0xB2, Store::kHr,     0, 0x0200, "HR"},
};

// C-mode read codes; the write code is the read code + 1.
inline constexpr AreaView kCmodeAreas[] = {
    {0x00, Store::kCio,    0,       0x0A00,   "IR"},
    {0x02, Store::kCio,    kLrBase, 64,       "LR"},
    {0x04, Store::kHr,     0,       0x0200,   "HR"},
    {0x06, Store::kTcPv,   0,       0x1000,   "TC-PV"},
    {0x08, Store::kTcFlag, 0,       0x1000,   "TC-status"},
    {0x0A, Store::kDm,     0,       0x8000,   "DM"},
    {0x1C, Store::kCio,    kArBase, kArWords, "AR"},
};
// clang-format on

const AreaView* FindFinsArea(uint8_t code);
const AreaView* FindCmodeArea(uint8_t readCode);
inline bool IsByteWide(Store s) {
  return kStores[static_cast<size_t>(s)].byteWide;
}

class Memory {
 public:
  Memory();
  uint16_t get(Store s, uint32_t index) const { return cells_[static_cast<size_t>(s)][index]; }
  void set(Store s, uint32_t index, uint16_t v) {
    cells_[static_cast<size_t>(s)][index] = IsByteWide(s) ? static_cast<uint16_t>(v & 0xFF) : v;
  }

 private:
  std::array<std::vector<uint16_t>, kStoreCount> cells_;
};

}  // namespace anynet_sim::detail
