#include "memory.h"

namespace anynet_sim::detail {

namespace {
template <size_t N>
const AreaView* Find(const AreaView (&table)[N], uint8_t code) {
  for (const AreaView& a : table) {
    if (a.code == code) return &a;
  }
  return nullptr;
}
}  // namespace

const AreaView* FindFinsArea(uint8_t code) {
  return Find(kFinsAreas, code);
}
const AreaView* FindCmodeArea(uint8_t readCode) {
  return Find(kCmodeAreas, readCode);
}

Memory::Memory() {
  for (const StoreInfo& s : kStores) cells_[static_cast<size_t>(s.store)].assign(s.size, 0);
}

}  // namespace anynet_sim::detail
