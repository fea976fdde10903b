// Cost of parsing one gate address: a memory gate, a bit gate, a command gate.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "address/address.h"
#include "config/config.h"
#include "tests/support/fake_platform.h"

namespace brelk {
namespace {

// One node table for every benchmark, loaded as ColdStart would.
struct Setup {
  Setup() {
    testing::Reset();
    testing::WriteFile("BRELK.INT", "1 = 127.0.0.17\n3 = 127.0.0.5\n1F001005!PLC_TIME=100\n");
    DriverRequest request{block.get(), BRELK_COLD_START, 0, {}, nullptr};
    loaded = LoadIntFile(p, &request) == BRELK_OK;
  }
  ~Setup() { ReleaseNodes(p, block.block); }
  platform::Platform p = testing::Fake(false);
  testing::Block block;
  bool loaded = false;
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

void ParseGate(benchmark::State& state, const char* text, int32_t gateType, int32_t count) {
  Setup& setup = Shared();
  ParseRecord record{};
  record.text = text;
  record.gateType = gateType;
  record.count = count;
  DriverRequest request{setup.block.get(), BRELK_SINGLE_ADDRESS_PARSER, 0, {}, &record};
  // A refused gate would time a different path.
  if (!setup.loaded || ParseGateAddress(setup.p, &request) != BRELK_OK) {
    state.SkipWithError("gate not accepted");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(ParseGateAddress(setup.p, &request));
    benchmark::DoNotOptimize(record.info);
  }
}

void BM_MemoryGate(benchmark::State& state) {
  ParseGate(state, "1F001005D00100", 0, 1);
}
void BM_BitGate(benchmark::State& state) {
  ParseGate(state, "1F001005I0000107", BRELK_GATE_BIT, 1);
}
// A PLC_TIME gate that no clock line names: the lookup compares all 50 entries.
void BM_CommandGate(benchmark::State& state) {
  ParseGate(state, "3F001005!PLC_TIME", BRELK_GATE_TEXT, 32);
}

BENCHMARK(BM_MemoryGate);
BENCHMARK(BM_BitGate);
BENCHMARK(BM_CommandGate);

}  // namespace
}  // namespace brelk

BENCHMARK_MAIN();
