// Dispatch, driver description, cold start and shutdown.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "tests/support/fake_platform.h"

namespace brelk {
namespace {

using testing::Block;
using testing::LogTexts;
using testing::State;

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::Reset(); }
  platform::Platform p = testing::Fake(false);
};

TEST_F(HostTest, CodesWithoutHandlerAnswer2AndTouchNothing) {
  for (int32_t code : {0, 8, 9, 12, 13, 15, 16, 17, 100, -1, INT32_MIN}) {
    unsigned char payload[64];
    std::memset(payload, 0xAB, sizeof payload);
    Block block;
    std::memset(block.get(), 0xCD, sizeof(DriverPrivate));
    DriverRequest request{block.get(), code, 7, {}, payload};
    EXPECT_EQ(Dispatch(p, &request), 2) << code;
    for (unsigned char b : payload) ASSERT_EQ(b, 0xAB) << code;
    const auto* raw = reinterpret_cast<const unsigned char*>(block.get());
    for (size_t i = 0; i < sizeof(DriverPrivate); ++i) ASSERT_EQ(raw[i], 0xCD) << code;
    EXPECT_EQ(request.code, code);
  }
  EXPECT_TRUE(State().log.empty());
}

TEST_F(HostTest, NullRequestAnswers2) {
  EXPECT_EQ(Dispatch(p, nullptr), 2);
}

TEST_F(HostTest, GetKelInfoWritesItsFieldsOnly) {
  unsigned char raw[sizeof(DriverInfo)];
  std::memset(raw, 0xFF, sizeof raw);
  DriverRequest request{nullptr, BRELK_GET_KEL_INFO, 0, {}, raw};
  ASSERT_EQ(Dispatch(p, &request), 0);
  DriverInfo info;
  std::memcpy(&info, raw, sizeof info);
  EXPECT_EQ(info.infoA, 70);
  EXPECT_STREQ(info.driverName, "Omron AnyNet TCP/IP");
  EXPECT_EQ(info.privateSize, static_cast<int32_t>(sizeof(DriverPrivate)));
  EXPECT_EQ(info.privateSize, BRELK_PTR_BITS == 32 ? 2636 : 2780);
  EXPECT_EQ(info.infoB, 1);
  EXPECT_EQ(info.infoC, 0);
  EXPECT_EQ(info.infoD, 3);
  for (size_t i = offsetof(DriverInfo, unused16); i < offsetof(DriverInfo, infoD); ++i)
    EXPECT_EQ(raw[i], 0xFF) << i;
  if (BRELK_PTR_BITS == 64) {
    for (size_t i = 4; i < 8; ++i) EXPECT_EQ(raw[i], 0xFF) << "padding " << i;
  }
  EXPECT_TRUE(State().log.empty());
}

TEST_F(HostTest, BannerIsTheBoxByteForByte) {
  const std::string rule(55, '\xC4');
  const std::string bits = BRELK_PTR_BITS == 32 ? "(32 bit driver)" : "(64 bit driver)";
  const std::string expected = "\r\n\xDA" + rule + "\xBF        \r\n" +
                               "\xB3  BRELK:  Omron AnyNet TCP/IP driver   " + bits +
                               " \xB3        \r\n" + "\xC0" + rule + "\xD9        \r\n";
  ASSERT_EQ(expected.size(), 203u);
  EXPECT_EQ(std::string(kBanner), expected);
  DriverInfo info{};
  DriverRequest request{nullptr, BRELK_GET_KEL_INFO, 0, {}, &info};
  ASSERT_EQ(Dispatch(p, &request), 0);
  EXPECT_EQ(std::string(info.banner), expected);
}

TEST_F(HostTest, GetKelInfoWithoutPayloadAnswers2) {
  DriverRequest request{nullptr, BRELK_GET_KEL_INFO, 0, {}, nullptr};
  EXPECT_EQ(Dispatch(p, &request), 2);
}

TEST_F(HostTest, WarmStartChangesNothing) {
  Block block;
  std::memset(block.get(), 0x5A, sizeof(DriverPrivate));
  DriverRequest request{block.get(), BRELK_WARM_START, 0, {}, nullptr};
  EXPECT_EQ(Dispatch(p, &request), 0);
  const auto* raw = reinterpret_cast<const unsigned char*>(block.get());
  for (size_t i = 0; i < sizeof(DriverPrivate); ++i) ASSERT_EQ(raw[i], 0x5A);
  EXPECT_TRUE(State().log.empty());
}

// ---- cold start

int32_t ColdStartWith(const platform::Platform& p, DriverPrivate* block, int32_t timeout,
                      int32_t file = 0) {
  ColdStartParams params{};
  params.timeout = timeout;
  DriverRequest request{block, BRELK_COLD_START, file, {}, &params};
  return Dispatch(p, &request);
}

std::string VersionLine() {
  return std::string("BRELK> version compiled on ") + __DATE__ + " at time ";
}

TEST_F(HostTest, TimeoutIsSplitIntoSecondsAndMicroseconds) {
  struct Case {
    int32_t timeout, sec, usec;
    const char* logged;
  };
  const Case cases[] = {
      {0, 1, 0, "0 Sec and 0 Micro's"},
      {5, 0, 50000, "0 Sec and 50000 Micro's"},
      {99, 0, 990000, "0 Sec and 990000 Micro's"},
      {250, 2, 500000, "2 Sec and 500000 Micro's"},
      {-150, -1, -500000, "-1 Sec and -500000 Micro's"},
  };
  for (const Case& c : cases) {
    testing::Reset();
    testing::WriteFile("BRELK.INT", "");
    Block block;
    EXPECT_EQ(ColdStartWith(p, block.get(), c.timeout), 0) << c.timeout;
    EXPECT_EQ(block.block.timeoutSec, c.sec) << c.timeout;
    EXPECT_EQ(block.block.timeoutUsec, c.usec) << c.timeout;
    EXPECT_EQ(State().log.back().text,
              std::string("Timeout used for the TCP/IP Sockect is: ") + c.logged);
  }
}

TEST_F(HostTest, MissingIntFileLogsInOrderAndAnswers1) {
  Block block;
  EXPECT_EQ(ColdStartWith(p, block.get(), 250), 1);
  ASSERT_EQ(State().log.size(), 3u);
  EXPECT_EQ(State().log[0].level, 8);
  EXPECT_EQ(State().log[0].text.rfind(VersionLine(), 0), 0u) << State().log[0].text;
  EXPECT_EQ(State().log[0].text.size(), VersionLine().size() + 8);  // hh:mm:ss
  EXPECT_EQ(State().log[1],
            (testing::LogLine{32, "Int File not found!. Check again your INT file name!"}));
  EXPECT_EQ(
      State().log[2],
      (testing::LogLine{32, "Timeout used for the TCP/IP Sockect is: 2 Sec and 500000 Micro's"}));
  EXPECT_EQ(block.block.timeoutSec, 2);
}

TEST_F(HostTest, SocketStartupFailuresAnswer2BeforeLoading) {
  struct Case {
    int rc;
    uint16_t version;
    const char* message;
  };
  const Case cases[] = {
      {10091, 0x0101, "Could not find a useable WinSock DLL, rc=10091\n"},
      {0, 0x0001, "Could not find the required WinSock DLL ver 2.0 and higher\n"},  // 1.0
      {0, 0x0102, "Could not find the required WinSock DLL ver 2.0 and higher\n"},  // 2.1
      {0, 0x0202, "Could not find the required WinSock DLL ver 2.0 and higher\n"},
  };
  for (const Case& c : cases) {
    testing::Reset();
    testing::WriteFile("BRELK.INT", "A = 127.0.0.1\n");
    State().startupRc = c.rc;
    State().startupVersion = c.version;
    Block block;
    EXPECT_EQ(ColdStartWith(p, block.get(), 100), 2);
    ASSERT_EQ(State().log.size(), 2u);
    EXPECT_EQ(State().log[1], (testing::LogLine{32, c.message}));
    EXPECT_EQ(block.block.nodes[10].hostName, nullptr);
    EXPECT_EQ(block.block.timeoutSec, 0);
  }
}

TEST_F(HostTest, EndKelClosesOpenSocketsInIndexOrder) {
  testing::WriteFile("BRELK.INT", "0 = 127.0.0.1\nZ = 127.0.0.1\n");
  Block block;
  ASSERT_EQ(ColdStartWith(p, block.get(), 100), 0);
  DriverRequest end{block.get(), BRELK_END_KEL, 0, {}, nullptr};

  State().log.clear();
  EXPECT_EQ(Dispatch(p, &end), 0);
  EXPECT_TRUE(State().log.empty());  // nothing open
  EXPECT_TRUE(State().closes.empty());

  ASSERT_EQ(ColdStartWith(p, block.get(), 100), 0);
  block.block.nodes[35].socket = 71;
  block.block.nodes[35].connected = 1;
  block.block.nodes[0].socket = 70;
  State().log.clear();
  EXPECT_EQ(Dispatch(p, &end), 0);
  EXPECT_EQ(LogTexts(),
            (std::vector<std::string>{"Closing TCP/IP socket.", "Closing TCP/IP socket."}));
  EXPECT_EQ(State().closes, (std::vector<int>{70, 71}));
  EXPECT_EQ(State().shutdowns, (std::vector<int>{70, 71}));
  for (const NodeEntry& node : block.block.nodes) {
    EXPECT_EQ(node.socket, 0);
    EXPECT_EQ(node.connected, 0);
    EXPECT_EQ(node.hostName, nullptr);
  }
}

TEST_F(HostTest, SecondColdStartClosesWhatIsOpenAndForgetsOldNodes) {
  testing::WriteFile("BRELK.INT", "A = 127.0.0.1\nB = 127.0.0.2\n");
  Block block;
  ASSERT_EQ(ColdStartWith(p, block.get(), 100), 0);
  block.block.nodes[10].socket = 33;
  testing::WriteFile("BRELK.INT", "B = 127.0.0.3\n");
  State().log.clear();
  ASSERT_EQ(ColdStartWith(p, block.get(), 100), 0);
  EXPECT_EQ(State().closes, std::vector<int>{33});
  EXPECT_EQ(State().log[1].text, "Closing TCP/IP socket.");
  EXPECT_EQ(block.block.nodes[10].hostName, nullptr);
  ASSERT_NE(block.block.nodes[11].hostName, nullptr);
  EXPECT_STREQ(block.block.nodes[11].hostName, "127.0.0.3");
  DriverRequest end{block.get(), BRELK_END_KEL, 0, {}, nullptr};
  EXPECT_EQ(Dispatch(p, &end), 0);
}

TEST_F(HostTest, ColdStartOnAnUnzeroedBlockClosesAndFreesNothingOfTheHosts) {
  testing::WriteFile("BRELK.INT", "C = 127.0.0.1\n");
  Block block;
  std::memset(block.get(), 0xA5, sizeof(DriverPrivate));
  ASSERT_EQ(ColdStartWith(p, block.get(), 100), 0);
  EXPECT_TRUE(State().closes.empty());
  EXPECT_STREQ(block.block.nodes[12].hostName, "127.0.0.1");
  EXPECT_EQ(block.block.nodes[13].hostName, nullptr);
  DriverRequest end{block.get(), BRELK_END_KEL, 0, {}, nullptr};
  EXPECT_EQ(Dispatch(p, &end), 0);
}

// Run under valgrind or LeakSanitizer, this is where a leak would show.
TEST_F(HostTest, ThousandColdStartsKeepOnlyOneLoad) {
  testing::WriteFile("BRELK.INT", "A = 127.0.0.1\nA = 127.0.0.2\nB = localhost\n");
  Block block;
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(ColdStartWith(p, block.get(), 100), 0);
  EXPECT_STREQ(block.block.nodes[10].hostName, "127.0.0.2");
  DriverRequest end{block.get(), BRELK_END_KEL, 0, {}, nullptr};
  EXPECT_EQ(Dispatch(p, &end), 0);
}

TEST_F(HostTest, StartAndStopWithoutBlockAreRefused) {
  ColdStartParams params{};
  DriverRequest start{nullptr, BRELK_COLD_START, 0, {}, &params};
  EXPECT_EQ(Dispatch(p, &start), 2);
  Block block;
  DriverRequest noParams{block.get(), BRELK_COLD_START, 0, {}, nullptr};
  EXPECT_EQ(Dispatch(p, &noParams), 2);
  DriverRequest end{nullptr, BRELK_END_KEL, 0, {}, nullptr};
  EXPECT_EQ(Dispatch(p, &end), 0);
}

}  // namespace
}  // namespace brelk
