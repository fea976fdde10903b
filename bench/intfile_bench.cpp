// Loading an INT file of 36 node lines (dotted addresses) and 50 clock lines.
#include <benchmark/benchmark.h>

#include <string>

#include "config/config.h"
#include "tests/support/fake_platform.h"

namespace brelk {
namespace {

void BM_LoadFullIntFile(benchmark::State& state) {
  testing::Reset();
  std::string file;
  for (int i = 0; i < 36; ++i) {
    const char key = static_cast<char>(i < 10 ? '0' + i : 'A' + i - 10);
    file += std::string(1, key) + " = 127.0.1." + std::to_string(i + 1) + "\n";
  }
  for (int i = 0; i < 50; ++i)
    file += "1F0010" + std::to_string(10 + i) + "!PLC_TIME=" + std::to_string(i) + "\n";
  testing::WriteFile("BRELK.INT", file);
  const platform::Platform p = testing::Fake();
  testing::Block block;
  DriverRequest request{block.get(), BRELK_COLD_START, 0, {}, nullptr};
  for (auto _ : state) {
    if (LoadIntFile(p, &request) != 0) state.SkipWithError("load failed");
    testing::State().log.clear();
    ReleaseNodes(p, block.block);
  }
}
BENCHMARK(BM_LoadFullIntFile);

}  // namespace
}  // namespace brelk

BENCHMARK_MAIN();
