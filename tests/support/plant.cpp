#include "tests/support/plant.h"

#include "config/config.h"
#include "host/host.h"

namespace brelk::testing {

void PlantTest::SetUp() {
  Reset();
}

void PlantTest::TearDown() {
  DriverRequest end{block.get(), BRELK_END_KEL, 0, {}, nullptr};
  Dispatch(p, &end);
  sim.Stop();
}

anynet_sim::Gateway& PlantTest::AddGateway(const std::string& address,
                                           std::vector<anynet_sim::ControllerConfig> controllers,
                                           std::optional<std::string> networkText) {
  anynet_sim::GatewayConfig config;
  config.address = address;
  config.port = port;
  config.networkText = std::move(networkText);
  config.controllers = std::move(controllers);
  anynet_sim::Gateway& gateway = sim.AddGateway(config);
  port = gateway.port();
  State().connectPort = port;
  return gateway;
}

void PlantTest::Start(const std::string& intFile, int32_t timeout) {
  WriteFile("BRELK.INT", intFile);
  ColdStartParams params{};
  params.timeout = timeout;
  DriverRequest request{block.get(), BRELK_COLD_START, 0, {}, &params};
  ASSERT_EQ(Dispatch(p, &request), 0);
  State().log.clear();
}

AddressInfo PlantTest::Parse(const std::string& gate, int32_t gateType, int32_t count,
                             bool blockGate) {
  ParseRecord record{};
  record.text = gate.c_str();
  record.gateType = gateType;
  record.count = count;
  DriverRequest request{block.get(),
                        blockGate ? BRELK_BLOCK_ADDRESS_PARSER : BRELK_SINGLE_ADDRESS_PARSER,
                        0,
                        {},
                        &record};
  EXPECT_EQ(Dispatch(p, &request), 0) << gate;
  return record.info;
}

IoRecord PlantTest::Io(const char* gate, const AddressInfo& info, void* data, int32_t gateType,
                       int32_t count) {
  IoRecord io{};
  io.text = gate;
  io.info = info;
  io.gateType = gateType;
  io.count = count;
  io.data = data;
  return io;
}

int32_t PlantTest::Call(int32_t code, IoRecord& io) {
  return Call(code, static_cast<void*>(&io));
}

int32_t PlantTest::Call(int32_t code, void* payload) {
  DriverRequest request{block.get(), code, 0, {}, payload};
  return Dispatch(p, &request);
}

std::optional<uint16_t> PlantTest::ReadWord(const std::string& gate) {
  const AddressInfo info = Parse(gate);
  uint8_t data[4] = {};
  IoRecord io = Io(gate.c_str(), info, data);
  if (Call(BRELK_SINGLE_READ, io) != 0) return std::nullopt;
  return static_cast<uint16_t>(data[2] | data[3] << 8);
}

NodeEntry& PlantTest::Node(char key) {
  return block.block.nodes[KeyToIndex(key)];
}

double PlantTest::Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace brelk::testing
