// Answers of any shape and size: the check and the decoders must never read
// a byte that was not received, nor write past the host's buffer.
#include <cstring>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "tests/support/fake_platform.h"

std::vector<std::string> FuzzSeeds() {
  return {
      std::string("\x00\x00\x00\x00\x01\x05\x00\x00\x0a\x00\x08\x00\x01\x01\x00\x00\x12\x34", 18),
      std::string("\x01\x00\x00\x01\x05\x00\x00\x0a\x00\x06\x00\x0a\x00\x12\x34\x56\x78", 17),
      std::string("\x02\x00\x00\x01\x05\x00\x00\x0a\x00\x0b\x00\x07\x01\x00\x00\x24\x03\x15\x10\x30"
                  "\x45\x05",
                  22)};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const brelk::platform::Platform p = [] {
    brelk::testing::Reset();
    return brelk::testing::Fake();
  }();
  struct Gate {
    const char* text;
    AddressInfo info;
    int32_t gateType, count, code;
  };
  static const Gate gates[] = {
      {"1F001005D00100", {5, 0x82, 100, -1, 16}, 0, 1, 5},
      {"1C001005D00100", {5, 0x0A, 100, -1, 16}, 0, 3, 6},
      {"1F001005!PLC_TIME", {5, 0x0701, 18, -1, 16}, 7, 18, 5},
      {"1C001005!PLC_TIME", {5, 0x0701, 18, -1, 16}, 7, 18, 5},
      {"1F001005!PLC_STATUS", {5, 0x0601, 0, -1, 16}, 0, 4, 6},
      {"1C001005!PLC_STATUS", {5, 0x0601, 0, -1, 16}, 0, 4, 6},
      {"1F001005x00100", {5, 0x03, 100, -1, 8}, 0, 5, 6},
      {"1F001005D00100", {5, 0x82, 100, -1, 32}, 3, 1, 5},
      {"1F001005D0010015", {5, 0x82, 100, 15, 16}, 6, 1, 5},
  };
  const Gate& gate = gates[data[0] % (sizeof gates / sizeof gates[0])];
  const size_t received = size - 1 < brelk::kMaxResponseSize ? size - 1 : brelk::kMaxResponseSize;
  // Exactly the received bytes, so reading one more is caught.
  std::vector<uint8_t> answer(data + 1, data + 1 + received);
  brelk::AnyNetFrame frame;
  std::memset(frame.bytes, 0, sizeof frame.bytes);
  if (!answer.empty()) std::memcpy(frame.bytes, answer.data(), answer.size());
  const char series = gate.text[1];
  if (brelk::ChkResponse(p, frame, received, gate.text, series, series == 'F' ? 0x0101 : 0x0A, 5) ==
      0) {
    const size_t offset = brelk::header::kSize + (series == 'F' ? 4 : 2);
    const size_t available = received > offset ? received - offset : 0;
    std::vector<uint8_t> host(
        static_cast<size_t>(gate.count) * 4 < 4 ? 4 : static_cast<size_t>(gate.count) * 4);
    IoRecord io{};
    io.text = gate.text;
    io.info = gate.info;
    io.gateType = gate.gateType;
    io.count = gate.count;
    io.data = host.data();
    DriverRequest request{nullptr, gate.code, 0, {}, &io};
    brelk::DecodeReadData(p, &request, answer.data() + (available ? offset : 0), available);
  }
  brelk::testing::State().log.clear();
  return 0;
}
