// A plant for end-to-end tests and benchmarks: simulated gateways on
// loopback addresses, an INT file that names them, and a cold-started
// driver block.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "anynet_sim/sim.h"
#include "tests/support/fake_platform.h"

namespace brelk::testing {

class Plant {
 public:
  Plant();
  ~Plant();

  // Every gateway of a plant shares one port (connects are redirected to it).
  anynet_sim::Gateway& AddGateway(const std::string& address,
                                  std::vector<anynet_sim::ControllerConfig> controllers = {{}},
                                  std::optional<std::string> networkText = "SYSMAC SLK");
  // Writes BRELK.INT and cold-starts (timeout in hundredths of a second);
  // the driver's result.
  int32_t ColdStart(const std::string& intFile, int32_t timeout = 20);

  // Parses a gate as the host does: the driver's result, the words in `info`.
  int32_t ParseGate(const char* gate, AddressInfo* info, int32_t gateType = 0, int32_t count = 1,
                    bool block = false);
  IoRecord Io(const char* gate, const AddressInfo& info, void* data, int32_t gateType = 0,
              int32_t count = 1);
  int32_t Call(int32_t code, IoRecord& io);
  int32_t Call(int32_t code, void* payload);

  NodeEntry& Node(char key);

  anynet_sim::Simulator sim;
  platform::Platform p = Fake();
  Block block;
  uint16_t port = 0;
};

class PlantTest : public ::testing::Test, public Plant {
 protected:
  // Cold-starts; the test fails unless the INT file loads.
  void Start(const std::string& intFile, int32_t timeout = 20);
  // Parses a gate; the test fails on a refusal.
  AddressInfo Parse(const std::string& gate, int32_t gateType = 0, int32_t count = 1,
                    bool block = false);
  // Single read of a 16-bit gate: the value, or nullopt on failure.
  std::optional<uint16_t> ReadWord(const std::string& gate);

  // Seconds since `start`.
  static double Since(std::chrono::steady_clock::time_point start);
};

}  // namespace brelk::testing
