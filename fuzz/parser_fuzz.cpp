// Gate address texts of any shape: the parser must refuse or accept them
// without reading past the text's end.
#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <vector>

#include "address/address.h"
#include "tests/support/fake_platform.h"

std::vector<std::string> FuzzSeeds() {
  return {std::string("\x06\x01") + "1F001005D0010015", std::string("\x00\x01") + "1C001005D00100",
          std::string("\x07\x20") + "1F001005!PLC_TIME",
          std::string("\x00\x04") + "1C001005!PLC_STATUS",
          std::string("\x03\x01") + "AF999005t00000"};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const brelk::platform::Platform p = [] {
    brelk::testing::Reset();
    return brelk::testing::Fake();
  }();
  static brelk::testing::Block block = [] {
    brelk::testing::Block b;
    static char host[] = "gw";
    for (int i : {1, 10, 12}) {
      b.block.nodes[i].hostName = host;
      b.block.nodes[i].ipAddress = inet_addr("127.0.0.17");
    }
    return b;
  }();
  // The text gets exactly its own bytes, so a read past its end is caught.
  std::vector<char> text(data + 2, data + size);
  text.push_back('\0');
  ParseRecord record{};
  record.text = text.data();
  record.gateType = data[0] % 8;
  record.count = data[1] % 8;
  DriverRequest request{block.get(), (data[0] & 0x80) ? 4 : 3, 0, {}, &record};
  brelk::ParseGateAddress(p, &request);
  brelk::testing::State().log.clear();
  return 0;
}
