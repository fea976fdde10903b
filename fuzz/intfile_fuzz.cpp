// INT files of any content: the loader must stay within its buffers and the
// records, and release what it took.
#include <cstdio>
#include <string>
#include <vector>

#include "config/config.h"
#include "tests/support/fake_platform.h"

std::vector<std::string> FuzzSeeds() {
  return {"A = 127.0.0.1\n1F001005!PLC_TIME=100\n\n", "a = x\r\n =5\nZ=1.2.3.4 spare\n",
          std::string(300, 'x') + "=1\n" + "B = " + std::string(60, 'h') + "\n"};
}

namespace {
std::string gFile;
std::FILE* OpenFromMemory(const char*) {
  return gFile.empty() ? std::tmpfile() : fmemopen(gFile.data(), gFile.size(), "r");
}
bool NumericOnly(const char* name, uint32_t* address) {
  // No name service while fuzzing: dotted literals only.
  unsigned a, b, c, d;
  char tail;
  if (std::sscanf(name, "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4) return false;
  *address = a | b << 8 | c << 16 | d << 24;
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const brelk::platform::Platform p = [] {
    brelk::testing::Reset();
    brelk::platform::Platform fake = brelk::testing::Fake();
    fake.openText = &OpenFromMemory;
    fake.lookupHost = &NumericOnly;
    return fake;
  }();
  gFile.assign(reinterpret_cast<const char*>(data), size);
  brelk::testing::Block block;
  DriverRequest request{block.get(), BRELK_COLD_START, 0, {}, nullptr};
  brelk::LoadIntFile(p, &request);
  for (const ClockLocation& clock : block.block.clocks) {
    if (std::string(clock.gateName, sizeof clock.gateName).find('\0') == std::string::npos)
      __builtin_trap();
  }
  brelk::ReleaseNodes(p, block.block);
  brelk::testing::State().log.clear();
  return 0;
}
