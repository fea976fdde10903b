#include "tests/support/plant.h"

#include "config/config.h"
#include "host/host.h"

namespace brelk::testing {

Plant::Plant() {
  Reset();
}

Plant::~Plant() {
  DriverRequest end{block.get(), BRELK_END_KEL, 0, {}, nullptr};
  Dispatch(p, &end);
  sim.Stop();
}

anynet_sim::Gateway& Plant::AddGateway(const std::string& address,
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

int32_t Plant::ColdStart(const std::string& intFile, int32_t timeout) {
  WriteFile("BRELK.INT", intFile);
  ColdStartParams params{};
  params.timeout = timeout;
  const int32_t rc = Call(BRELK_COLD_START, &params);
  State().log.clear();
  return rc;
}

int32_t Plant::ParseGate(const char* gate, AddressInfo* info, int32_t gateType, int32_t count,
                         bool blockGate) {
  ParseRecord record{};
  record.text = gate;
  record.gateType = gateType;
  record.count = count;
  const int32_t rc =
      Call(blockGate ? BRELK_BLOCK_ADDRESS_PARSER : BRELK_SINGLE_ADDRESS_PARSER, &record);
  *info = record.info;
  return rc;
}

IoRecord Plant::Io(const char* gate, const AddressInfo& info, void* data, int32_t gateType,
                   int32_t count) {
  IoRecord io{};
  io.text = gate;
  io.info = info;
  io.gateType = gateType;
  io.count = count;
  io.data = data;
  return io;
}

int32_t Plant::Call(int32_t code, IoRecord& io) {
  return Call(code, static_cast<void*>(&io));
}

int32_t Plant::Call(int32_t code, void* payload) {
  DriverRequest request{block.get(), code, 0, {}, payload};
  return Dispatch(p, &request);
}

NodeEntry& Plant::Node(char key) {
  return block.block.nodes[KeyToIndex(key)];
}

void PlantTest::Start(const std::string& intFile, int32_t timeout) {
  ASSERT_EQ(ColdStart(intFile, timeout), 0);
}

AddressInfo PlantTest::Parse(const std::string& gate, int32_t gateType, int32_t count,
                             bool blockGate) {
  AddressInfo info{};
  EXPECT_EQ(ParseGate(gate.c_str(), &info, gateType, count, blockGate), 0) << gate;
  return info;
}

std::optional<uint16_t> PlantTest::ReadWord(const std::string& gate) {
  const AddressInfo info = Parse(gate);
  uint8_t data[4] = {};
  IoRecord io = Io(gate.c_str(), info, data);
  if (Call(BRELK_SINGLE_READ, io) != 0) return std::nullopt;
  return static_cast<uint16_t>(data[2] | data[3] << 8);
}

double PlantTest::Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace brelk::testing
