// Pending faults of a gateway or a controller and which frames they catch.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "anynet_sim/sim.h"

namespace anynet_sim::detail {

enum class FrameKind : uint8_t { kFins, kCmode, kQuery };

bool IsConnectionFault(FaultKind);
// Throws std::invalid_argument for remaining == 0.
void CheckFault(const Fault&);
// "delay 200ms", "fins-end 11 03", ...: for the log.
std::string DescribeFault(const Fault&);

class FaultList {
 public:
  void add(const Fault& f) { faults_.push_back(f); }
  void clear() { faults_.clear(); }
  // Every frame fault that catches this frame, each using up one of its count.
  std::vector<Fault> take(FrameKind frame, uint16_t command);
  // A kRefuseConnection fault, used up by one connection.
  bool takeRefusal();

 private:
  static bool catches(const Fault& f, FrameKind frame, uint16_t command);
  std::vector<Fault> faults_;
};

}  // namespace anynet_sim::detail
