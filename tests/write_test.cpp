// Writes and command gates end to end through the dispatch against the
// simulator.
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "host/host.h"
#include "tests/support/plant.h"

namespace brelk {
namespace {

using anynet_sim::Controller;
using anynet_sim::Fault;
using anynet_sim::FaultKind;
using anynet_sim::Mode;
using testing::LogTexts;
using testing::State;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

constexpr uint8_t kDM = 0x82;

class WriteTest : public testing::PlantTest {
 protected:
  void SetUp() override {
    PlantTest::SetUp();
    gw = &AddGateway("127.0.8.2");
    Start("1 = 127.0.8.2\n2 = 127.0.8.99\n");
    plc = &gw->controller(1, 5);
  }
  std::vector<Bytes> Bodies() {
    std::vector<Bytes> bodies;
    for (const auto& frame : gw->requests())
      if (frame[0] != 0xFF) bodies.emplace_back(frame.begin() + 10, frame.end());
    return bodies;
  }
  // Writes through the dispatch as the host does: parse, then write.
  int32_t Write(const std::string& gate, std::vector<uint8_t> data, int32_t gateType = 0,
                int32_t count = 1, bool block = false) {
    const AddressInfo info = Parse(gate, gateType, count, block);
    IoRecord io = Io(gate.c_str(), info, data.data(), gateType, count);
    return Call(block ? BRELK_BLOCK_WRITE : BRELK_SINGLE_WRITE, io);
  }
  anynet_sim::Gateway* gw = nullptr;
  Controller* plc = nullptr;
};

struct WriteCase {
  const char* title;
  const char* gate;
  int32_t gateType;
  int32_t count;
  bool block;
  Bytes data;  // the host's buffer
  Bytes body;  // the body sent
  std::function<void(const Controller&)> check;
};

TEST_F(WriteTest, MemoryWritesInBothSeriesAndAllWidths) {
  const WriteCase cases[] = {
      {"FINS block",
       "1F001005D00100",
       0,
       2,
       true,
       {0x34, 0x12, 0x78, 0x56},
       {0x01, 0x02, 0x82, 0x00, 0x64, 0x00, 0x00, 0x02, 0x12, 0x34, 0x56, 0x78},
       [](const Controller& c) {
         EXPECT_EQ(c.readWord(kDM, 100), 0x1234);
         EXPECT_EQ(c.readWord(kDM, 101), 0x5678);
       }},
      {"C-mode block",
       "1C001005D00200",
       0,
       2,
       true,
       {0x34, 0x12, 0x78, 0x56},
       {0x0B, 0x00, 0xC8, 0x12, 0x34, 0x56, 0x78},
       [](const Controller& c) {
         EXPECT_EQ(c.readWord(kDM, 200), 0x1234);
         EXPECT_EQ(c.readWord(kDM, 201), 0x5678);
       }},
      {"FINS single 32-bit",
       "1F001005D00100",
       3,
       1,
       false,
       {0x34, 0x12, 0x78, 0x56},
       {0x01, 0x02, 0x82, 0x00, 0x64, 0x00, 0x00, 0x02, 0x12, 0x34, 0x56, 0x78},
       [](const Controller& c) {
         EXPECT_EQ(c.readWord(kDM, 100), 0x1234);
         EXPECT_EQ(c.readWord(kDM, 101), 0x5678);
       }},
      {"C-mode single 32-bit",
       "1C001005D00300",
       3,
       1,
       false,
       {0x34, 0x12, 0x78, 0x56},
       {0x0B, 0x01, 0x2C, 0x12, 0x34, 0x56, 0x78},
       [](const Controller& c) { EXPECT_EQ(c.readWord(kDM, 301), 0x5678); }},
      {"FINS single 16-bit",
       "1F001005D00100",
       0,
       1,
       false,
       {0xAA, 0xAA, 0xFF, 0x00},
       {0x01, 0x02, 0x82, 0x00, 0x64, 0x00, 0x00, 0x01, 0x00, 0xFF},
       [](const Controller& c) { EXPECT_EQ(c.readWord(kDM, 100), 0x00FF); }},
      {"C-mode single 16-bit",
       "1C001005H00007",
       0,
       1,
       false,
       {0, 0, 0x34, 0x12},
       {0x05, 0x00, 0x07, 0x12, 0x34},
       nullptr},
      {"FINS single 8-bit",
       "1F001005x00004",
       0,
       1,
       false,
       {0, 0, 0x7F, 0},
       {0x01, 0x02, 0x03, 0x00, 0x04, 0x00, 0x00, 0x01, 0x7F},
       [](const Controller& c) { EXPECT_EQ(c.readByte(0x03, 4), 0x7F); }},
      {"C-mode single 8-bit",
       "1C001005t00004",
       0,
       1,
       false,
       {0, 0, 0x01, 0},
       {0x09, 0x00, 0x04, 0x01},
       nullptr},
      {"FINS byte block",
       "1F001005S00010",
       0,
       3,
       true,
       {7, 8, 9},
       {0x01, 0x02, 0x44, 0x00, 0x0A, 0x00, 0x00, 0x03, 7, 8, 9},
       [](const Controller& c) { EXPECT_EQ(c.readByte(0x44, 12), 9); }},
      {"single write with count 5 writes one element",
       "1F001005D00400",
       0,
       5,
       false,
       {0, 0, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00},
       {0x01, 0x02, 0x82, 0x01, 0x90, 0x00, 0x00, 0x01, 0x00, 0x01},
       [](const Controller& c) { EXPECT_EQ(c.readWord(kDM, 401), 0); }},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.title);
    gw->clearRequests();
    State().log.clear();
    ASSERT_EQ(Write(c.gate, c.data, c.gateType, c.count, c.block), 0)
        << ::testing::PrintToString(LogTexts());
    ASSERT_FALSE(Bodies().empty());
    EXPECT_EQ(Bodies().back(), c.body);
    const auto frame = gw->requests().back();
    EXPECT_EQ(frame[8] | frame[9] << 8, static_cast<int>(c.body.size()));
    if (c.check) c.check(*plc);
  }
}

TEST_F(WriteTest, BitWriteReadsTheWordThenWritesItBack) {
  struct Case {
    uint16_t current;
    uint16_t hostWord;
    uint16_t written;
  };
  const Case cases[] = {{0x0100, 0x0001, 0x0110},
                        {0x0110, 0x0000, 0x0100},
                        {0x0110, 0x0002, 0x0100},
                        {0x0100, 0x0101, 0x0110},
                        {0xFFFF, 0x0000, 0xFFEF}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hostWord);
    plc->writeWord(kDM, 100, c.current);
    gw->clearRequests();
    const std::string gate = "1F001005D0010004";
    const AddressInfo info = Parse(gate, BRELK_GATE_BIT);
    uint8_t data[4] = {0xAB, 0xCD, static_cast<uint8_t>(c.hostWord),
                       static_cast<uint8_t>(c.hostWord >> 8)};
    const Bytes before(data, data + 4);
    IoRecord io = Io(gate.c_str(), info, data, BRELK_GATE_BIT);
    DriverRequest request{block.get(), BRELK_SINGLE_WRITE, 0, {}, &io};
    ASSERT_EQ(Dispatch(p, &request), 0);
    EXPECT_EQ(plc->readWord(kDM, 100), c.written);
    const auto bodies = Bodies();
    ASSERT_EQ(bodies.size(), 2u);
    EXPECT_EQ(bodies[0], (Bytes{0x01, 0x01, 0x82, 0x00, 0x64, 0x00, 0x00, 0x01}));
    EXPECT_EQ(bodies[1],
              (Bytes{0x01, 0x02, 0x82, 0x00, 0x64, 0x00, 0x00, 0x01,
                     static_cast<uint8_t>(c.written >> 8), static_cast<uint8_t>(c.written)}));
    EXPECT_EQ(Bytes(data, data + 4), before);
    EXPECT_EQ(request.code, BRELK_SINGLE_WRITE);
    EXPECT_EQ(io.info.bitNumber, 4);
    EXPECT_EQ(io.gateType, BRELK_GATE_BIT);
  }
}

TEST_F(WriteTest, BitWriteWhoseReadFailsLeavesEverythingAsPassed) {
  ASSERT_TRUE(ReadWord("1F001005D00100"));  // connected
  plc->injectFault(
      {.kind = FaultKind::kFinsEndCode, .command = 0x0101, .finsMain = 0x11, .finsSub = 0x03});
  gw->clearRequests();
  const std::string gate = "1F001005D0010004";
  const AddressInfo info = Parse(gate, BRELK_GATE_BIT);
  uint8_t data[4] = {1, 2, 1, 0};
  IoRecord io = Io(gate.c_str(), info, data, BRELK_GATE_BIT, 1);
  const IoRecord passed = io;
  DriverRequest request{block.get(), BRELK_SINGLE_WRITE, 0, {}, &io};
  State().log.clear();
  EXPECT_EQ(Dispatch(p, &request), 1);
  EXPECT_EQ(
      LogTexts(),
      Lines{"BRELK>Error (FINS commands) (1F001005D0010004): main code = 0x11, subcode = 0x3"});
  EXPECT_EQ(Bodies().size(), 1u);  // the read, no write
  EXPECT_EQ(request.code, BRELK_SINGLE_WRITE);
  EXPECT_EQ(std::memcmp(&io, &passed, sizeof io), 0);
  EXPECT_EQ(Bytes(data, data + 4), (Bytes{1, 2, 1, 0}));
}

TEST_F(WriteTest, CommandGatesInBothSeries) {
  struct Case {
    const char* gate;
    uint16_t hostWord;
    Bytes body;
    Mode modeAfter;
  };
  const Case cases[] = {
      {"1F001005!RUN", 0x0002, {0x04, 0x01, 0x00, 0x00, 0x02}, Mode::kMonitor},
      {"1F001005!STOP", 0x1234, {0x04, 0x02}, Mode::kProgram},
      {"1C001005!RUN", 0x0004, {0x11, 0x04}, Mode::kRun},
      {"1C001005!STOP", 0x0000, {0x11, 0x01}, Mode::kProgram},
      {"1F001005!ERROR_CLEAR", 0xFFFF, {0x21, 0x01, 0xFF, 0xFF}, Mode::kProgram},
  };
  plc->setErrorState(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gate);
    gw->clearRequests();
    ASSERT_EQ(Write(c.gate, {0, 0, static_cast<uint8_t>(c.hostWord),
                             static_cast<uint8_t>(c.hostWord >> 8)}),
              0)
        << ::testing::PrintToString(LogTexts());
    EXPECT_EQ(Bodies().back(), c.body);
    EXPECT_EQ(plc->mode(), c.modeAfter);
  }
  EXPECT_FALSE(plc->errorState());
}

TEST_F(WriteTest, TimeSyncSendsTheLocalTimeInEachSeriesOrder) {
  struct Case {
    std::tm time;
    const char* gate;
    Bytes body;
  };
  const Case cases[] = {
      {testing::Date(2024, 3, 15, 10, 30, 45),
       "1F001005!TIME_SYNC",
       {0x07, 0x02, 0x24, 0x03, 0x15, 0x10, 0x30, 0x45, 0x05}},
      {testing::Date(2024, 3, 15, 10, 30, 45),
       "1C001005!TIME_SYNC",
       {0x2D, 0x30, 0x45, 0x15, 0x10, 0x24, 0x03, 0x05}},
      {testing::Date(2000, 1, 2, 3, 4, 5),
       "1F001005!TIME_SYNC",
       {0x07, 0x02, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gate);
    State().time = c.time;
    gw->clearRequests();
    ASSERT_EQ(Write(c.gate, {0, 0, 0, 0}), 0) << ::testing::PrintToString(LogTexts());
    EXPECT_EQ(Bodies().back(), c.body);
    const std::tm now = plc->clock();
    EXPECT_EQ(now.tm_year, c.time.tm_year);
    EXPECT_EQ(now.tm_mon, c.time.tm_mon);
    EXPECT_EQ(now.tm_mday, c.time.tm_mday);
  }
}

TEST_F(WriteTest, TimeSyncWithTheRealClock) {
  plc->setClock(testing::Date(2001, 1, 1, 0, 0, 0));
  const std::time_t before = std::time(nullptr);
  ASSERT_EQ(Write("1F001005!TIME_SYNC", {0, 0, 0, 0}), 0);
  const std::time_t after = std::time(nullptr);
  std::tm set = plc->clock();
  const std::time_t got = std::mktime(&set);
  EXPECT_GE(got, before);
  EXPECT_LE(got, after + 1);
}

TEST_F(WriteTest, RefusalsAndFailuresAllAnswer1) {
  struct Case {
    const char* title;
    const char* gate;
    int32_t gateType;
    int32_t count;
    bool block;
    bool nullData;
    std::function<void()> setup;
    Lines messages;
    bool sent;
  };
  const Case cases[] = {
      {"C-mode clock gate not supported",
       "1C001005!PLC_TIME",
       7,
       32,
       false,
       false,
       nullptr,
       {"BRELK> This command(1C001005!PLC_TIME) gate is not supported!"},
       false},
      {"C-mode status gate not supported",
       "1C001005!PLC_MODE",
       0,
       1,
       false,
       false,
       nullptr,
       {"BRELK> This command(1C001005!PLC_MODE) gate is not supported!"},
       false},
      {"C-mode write in RUN mode",
       "1C001005D00100",
       0,
       1,
       false,
       false,
       [this] { plc->setMode(Mode::kRun); },
       {"BRELK>Error: (C commands) Can not write to PLC when in RUN Mode!"},
       true},
      {"FINS block over 1021 words",
       "1F001005D00000",
       0,
       1022,
       true,
       false,
       nullptr,
       {"BRELK> Block size 1022 of gate 1F001005D00000 is too large for one write"},
       false},
      {"C-mode block over 1023 words",
       "1C001005D00000",
       0,
       1024,
       true,
       false,
       nullptr,
       {"BRELK> Block size 1024 of gate 1C001005D00000 is too large for one write"},
       false},
      {"no data buffer", "1F001005D00000", 0, 1, false, true, nullptr, {}, false},
      {"rejected answer",
       "1F001005D00100",
       0,
       1,
       false,
       false,
       [this] { plc->injectFault({.kind = FaultKind::kWrongEcho, .echo = 0x0103}); },
       {"Error: Command sent was 0x102 but response is 0x103"},
       true},
  };
  ASSERT_TRUE(ReadWord("1F001005D00100"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    if (c.setup) c.setup();
    gw->clearRequests();
    const AddressInfo info = Parse(c.gate, c.gateType, c.count, c.block);
    std::vector<uint8_t> data(4096, 0);
    IoRecord io = Io(c.gate, info, c.nullData ? nullptr : data.data(), c.gateType, c.count);
    State().log.clear();
    EXPECT_EQ(Call(c.block ? BRELK_BLOCK_WRITE : BRELK_SINGLE_WRITE, io), 1);
    EXPECT_EQ(LogTexts(), c.messages);
    EXPECT_EQ(!Bodies().empty(), c.sent);
    EXPECT_EQ(Node('1').failed, 0);
    plc->setMode(Mode::kProgram);
  }
  EXPECT_EQ(gw->connectionsAccepted(), 1);
}

TEST_F(WriteTest, LargestBlocksThatFitAreWritten) {
  struct Case {
    const char* gate;
    int32_t count;
  };
  for (const Case& c : {Case{"1F001005D00000", 1021}, Case{"1C001005D01100", 1023}}) {
    SCOPED_TRACE(c.gate);
    std::vector<uint8_t> data(static_cast<size_t>(c.count) * 2);
    for (int32_t i = 0; i < c.count; ++i) data[2 * i] = static_cast<uint8_t>(i);
    ASSERT_EQ(Write(c.gate, data, 0, c.count, true), 0) << ::testing::PrintToString(LogTexts());
    const uint32_t base = c.gate[1] == 'F' ? 0 : 1100;
    EXPECT_EQ(plc->readWord(kDM, base + static_cast<uint32_t>(c.count) - 1), (c.count - 1) & 0xFF);
  }
}

TEST_F(WriteTest, UnreachableGatewayAnswers1NotAs2) {
  EXPECT_EQ(Write("2F001005D00000", {0, 0, 1, 0}), 1);
  EXPECT_EQ(Node('2').failed, 1);
  EXPECT_EQ(Write("2F001005D00000", {0, 0, 1, 0}, 0, 2, true), 1);
}

TEST(EncodeClockTest, SevenBcdBytesInTheSeriesOrder) {
  testing::Reset();
  testing::State().time = testing::Date(2099, 12, 31, 23, 59, 58);
  const platform::Platform p = testing::Fake();
  uint8_t fins[7], cmode[7];
  ASSERT_TRUE(EncodeClock(p, fins, 'F'));
  ASSERT_TRUE(EncodeClock(p, cmode, 'C'));
  EXPECT_EQ(Bytes(fins, fins + 7), (Bytes{0x99, 0x12, 0x31, 0x23, 0x59, 0x58, 0x04}));
  EXPECT_EQ(Bytes(cmode, cmode + 7), (Bytes{0x59, 0x58, 0x31, 0x23, 0x99, 0x12, 0x04}));
}

}  // namespace
}  // namespace brelk
