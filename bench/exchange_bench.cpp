// Requests through the dispatch against the simulator on loopback, next to
// a raw socket client that sends the same bytes and reads the same answer.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "anynet_sim/sim.h"
#include "host/host.h"
#include "tests/support/plant.h"

namespace brelk {
namespace {

constexpr char kAddress[] = "127.0.9.2";

// One simulated gateway and a cold-started driver block, shared by all runs.
struct BenchPlant : testing::Plant {
  BenchPlant() {
    gateway = &AddGateway(kAddress);
    ColdStart(std::string("1 = ") + kAddress + "\n", 200);
  }
  AddressInfo Parse(const char* gate, int32_t gateType = 0, int32_t count = 1,
                    bool blockGate = false) {
    AddressInfo info{};
    ParseGate(gate, &info, gateType, count, blockGate);
    return info;
  }
  int32_t Run(int32_t code, const char* gate, const AddressInfo& info, void* data,
              int32_t gateType = 0, int32_t count = 1) {
    IoRecord io = Io(gate, info, data, gateType, count);
    return Call(code, io);
  }
  anynet_sim::Gateway* gateway = nullptr;
};

BenchPlant& ThePlant() {
  static BenchPlant plant;
  return plant;
}

void Check(benchmark::State& state, int32_t rc) {
  if (rc != 0) state.SkipWithError("request failed");
  testing::State().log.clear();
}

void BM_DriverSingleRead(benchmark::State& state) {
  BenchPlant& plant = ThePlant();
  const char* gate = "1F001005D00100";
  const AddressInfo info = plant.Parse(gate);
  uint8_t data[4];
  for (auto _ : state) Check(state, plant.Run(BRELK_SINGLE_READ, gate, info, data));
}
BENCHMARK(BM_DriverSingleRead);

// The same 18 bytes out and 16 back, with nothing but the socket calls.
void BM_RawExchange(benchmark::State& state) {
  BenchPlant& plant = ThePlant();
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(plant.gateway->port());
  to.sin_addr.s_addr = inet_addr(kAddress);
  if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
    state.SkipWithError("connect");
    return;
  }
  const uint8_t request[] = {0, 0,    1,    5,    0,    0,    20,   0,    8,
                             0, 0x01, 0x01, 0x82, 0x00, 0x64, 0x00, 0x00, 0x01};
  uint8_t answer[64];
  for (auto _ : state) {
    send(s, request, sizeof request, MSG_NOSIGNAL);
    size_t got = 0;
    while (got < 16) {
      const ssize_t n = recv(s, answer + got, sizeof answer - got, 0);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    benchmark::DoNotOptimize(answer);
  }
  close(s);
}
BENCHMARK(BM_RawExchange);

void BM_DriverBlockRead1000(benchmark::State& state) {
  BenchPlant& plant = ThePlant();
  const char* gate = "1F001005D00000";
  const AddressInfo info = plant.Parse(gate, 0, 1000, true);
  std::vector<uint8_t> data(2000);
  for (auto _ : state) Check(state, plant.Run(BRELK_BLOCK_READ, gate, info, data.data(), 0, 1000));
}
BENCHMARK(BM_DriverBlockRead1000);

// Connect, network-type query and read: the node is made to reopen each time.
void BM_DriverFirstRequestOnNode(benchmark::State& state) {
  BenchPlant& plant = ThePlant();
  const char* gate = "1F001005D00100";
  const AddressInfo info = plant.Parse(gate);
  uint8_t data[4];
  NodeEntry& node = plant.block.block.nodes[1];
  for (auto _ : state) {
    node.failed = 1;
    node.networkType = -1;
    Check(state, plant.Run(BRELK_SINGLE_READ, gate, info, data));
  }
}
BENCHMARK(BM_DriverFirstRequestOnNode);

void BM_DriverSingleWrite(benchmark::State& state) {
  BenchPlant& plant = ThePlant();
  const char* gate = "1F001005D00200";
  const AddressInfo info = plant.Parse(gate);
  uint8_t data[4] = {0, 0, 0x34, 0x12};
  for (auto _ : state) Check(state, plant.Run(BRELK_SINGLE_WRITE, gate, info, data));
}
BENCHMARK(BM_DriverSingleWrite);

void BM_DriverBitWrite(benchmark::State& state) {
  BenchPlant& plant = ThePlant();
  const char* gate = "1F001005D0020007";
  const AddressInfo info = plant.Parse(gate, BRELK_GATE_BIT);
  uint8_t data[4] = {0, 0, 1, 0};
  for (auto _ : state) {
    data[2] ^= 1;
    Check(state, plant.Run(BRELK_SINGLE_WRITE, gate, info, data, BRELK_GATE_BIT));
  }
}
BENCHMARK(BM_DriverBitWrite);

}  // namespace
}  // namespace brelk

BENCHMARK_MAIN();
