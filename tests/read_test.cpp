// Reads end to end through the dispatch against the simulator, and the
// decoding of answers on its own.
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "commands/commands.h"
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
constexpr uint8_t kCIO = 0x80;

class ReadTest : public testing::PlantTest {
 protected:
  void SetUp() override {
    PlantTest::SetUp();
    gw = &AddGateway("127.0.7.2", {{.network = 1, .node = 5}, {.network = 2, .node = 9}});
    Start("1 = 127.0.7.2\n2 = 127.0.7.3\n1F001005!PLC_TIME=100\n");
    plc = &gw->controller(1, 5);
  }
  // The body of the last frame the gateway received.
  Bytes LastBody() {
    const auto frames = gw->requests();
    if (frames.empty()) return {};
    return Bytes(frames.back().begin() + 10, frames.back().end());
  }
  anynet_sim::Gateway* gw = nullptr;
  Controller* plc = nullptr;
};

struct ReadCase {
  const char* title;
  const char* gate;
  int32_t gateType;
  int32_t count;
  bool block;
  std::function<void(Controller&)> setup;
  Bytes body;      // request body sent
  Bytes expected;  // host buffer afterwards (the rest stays 0xEE)
};

TEST_F(ReadTest, GatesOfEveryKindReadIntoTheHostLayout) {
  const ReadCase cases[] = {
      {"FINS block of two words",
       "1F001005D00100",
       0,
       2,
       true,
       [](Controller& c) { c.writeWord(kDM, 100, 0x1234), c.writeWord(kDM, 101, 0x5678); },
       {0x01, 0x01, 0x82, 0x00, 0x64, 0x00, 0x00, 0x02},
       {0x34, 0x12, 0x78, 0x56}},
      {"C-mode block reaches the same memory",
       "1C001005D00100",
       0,
       2,
       true,
       [](Controller& c) { c.writeWord(kDM, 100, 0x1234), c.writeWord(kDM, 101, 0x5678); },
       {0x0A, 0x00, 0x64, 0x00, 0x02},
       {0x34, 0x12, 0x78, 0x56}},
      {"FINS A is offset by 0x0B00",
       "1F001005A00010",
       0,
       1,
       false,
       [](Controller& c) { c.writeWord(kCIO, 0x0B0A, 0xA0A0); },
       {0x01, 0x01, 0x80, 0x0B, 0x0A, 0x00, 0x00, 0x01},
       {0, 0, 0xA0, 0xA0}},
      {"FINS G is offset by 0x0A00",
       "1F001005G00002",
       0,
       1,
       false,
       [](Controller& c) { c.writeWord(kCIO, 0x0A02, 0x0102); },
       {0x01, 0x01, 0x80, 0x0A, 0x02, 0x00, 0x00, 0x01},
       {0, 0, 0x02, 0x01}},
      {"FINS C counter offset by 0x0800",
       "1F001005C00003",
       0,
       1,
       false,
       [](Controller& c) { c.writeWord(0x81, 0x0803, 0x0033); },
       {0x01, 0x01, 0x81, 0x08, 0x03, 0x00, 0x00, 0x01},
       {0, 0, 0x33, 0x00}},
      {"single 32-bit reads two words, low word first",
       "1F001005D00100",
       3,
       1,
       false,
       [](Controller& c) { c.writeWord(kDM, 100, 0x1234), c.writeWord(kDM, 101, 0x5678); },
       {0x01, 0x01, 0x82, 0x00, 0x64, 0x00, 0x00, 0x02},
       {0x34, 0x12, 0x78, 0x56}},
      {"single 16-bit",
       "1F001005D00100",
       0,
       1,
       false,
       [](Controller& c) { c.writeWord(kDM, 100, 0x1234); },
       {0x01, 0x01, 0x82, 0x00, 0x64, 0x00, 0x00, 0x01},
       {0, 0, 0x34, 0x12}},
      {"single 8-bit",
       "1F001005x00004",
       0,
       1,
       false,
       [](Controller& c) { c.writeByte(0x03, 4, 0x7F); },
       {0x01, 0x01, 0x03, 0x00, 0x04, 0x00, 0x00, 0x01},
       {0, 0, 0x7F, 0}},
      {"C-mode 8-bit timer flags",
       "1C001005t00004",
       0,
       1,
       false,
       [](Controller& c) { c.writeByte(0x01, 4, 0x01); },
       {0x08, 0x00, 0x04, 0x00, 0x01},
       {0, 0, 0x01, 0}},
      {"bit 15 of 0x8000",
       "1F001005D0010015",
       6,
       1,
       false,
       [](Controller& c) { c.writeWord(kDM, 100, 0x8000); },
       {0x01, 0x01, 0x82, 0x00, 0x64, 0x00, 0x00, 0x01},
       {0, 0, 1, 0}},
      {"bit 3 of 0x8000",
       "1F001005D0010003",
       6,
       1,
       false,
       [](Controller& c) { c.writeWord(kDM, 100, 0x8000); },
       {0x01, 0x01, 0x82, 0x00, 0x64, 0x00, 0x00, 0x01},
       {0, 0, 0, 0}},
      {"byte block is copied as it is",
       "1F001005S00010",
       0,
       3,
       true,
       [](Controller& c) {
         c.writeByte(0x44, 10, 1), c.writeByte(0x44, 11, 2), c.writeByte(0x44, 12, 3);
       },
       {0x01, 0x01, 0x44, 0x00, 0x0A, 0x00, 0x00, 0x03},
       {1, 2, 3}},
      {"single gate with count 5 reads one element",
       "1F001005D00100",
       0,
       5,
       false,
       [](Controller& c) { c.writeWord(kDM, 100, 0x0042); },
       {0x01, 0x01, 0x82, 0x00, 0x64, 0x00, 0x00, 0x01},
       {0, 0, 0x42, 0}},
      {"FINS status block",
       "1F001005!PLC_STATUS",
       0,
       4,
       true,
       [](Controller& c) { c.setMode(Mode::kRun); },
       {0x06, 0x01},
       {1, 0, 4, 0, 0, 0, 0, 0}},
      {"C-mode status block",
       "1C001005!PLC_STATUS",
       0,
       4,
       true,
       [](Controller& c) { c.setMode(Mode::kRun); },
       {0x10},
       {1, 0, 4, 0, 1, 0, 0, 0}},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.title);
    c.setup(*plc);
    const AddressInfo info = Parse(c.gate, c.gateType, c.count, c.block);
    std::vector<uint8_t> data(64, 0xEE);
    IoRecord io = Io(c.gate, info, data.data(), c.gateType, c.count);
    State().log.clear();
    ASSERT_EQ(Call(c.block ? BRELK_BLOCK_READ : BRELK_SINGLE_READ, io), 0)
        << ::testing::PrintToString(LogTexts());
    EXPECT_EQ(LastBody(), c.body);
    Bytes expected = c.expected;
    expected.resize(data.size(), 0xEE);
    EXPECT_EQ(data, expected);
    plc->setMode(Mode::kProgram);
  }
}

TEST_F(ReadTest, ClockReadsAsTextInBothSeries) {
  struct Case {
    const char* gate;
    Bytes body;
  };
  const Case cases[] = {
      {"1F001005!PLC_TIME", {0x07, 0x01}},
      {"1C001005!PLC_TIME", {0x1C, 0x00, 0x12, 0x00, 0x03}},  // AR 18: no INT line
      {"1C002009!PLC_TIME", {0x1C, 0x00, 0x12, 0x00, 0x03}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gate);
    plc->setClock(testing::Date(2024, 3, 15, 10, 30, 45));
    gw->controller(2, 9).setClock(testing::Date(2024, 3, 15, 10, 30, 45));
    const AddressInfo info = Parse(c.gate, BRELK_GATE_TEXT, 32);
    char text[40];
    std::memset(text, 'x', sizeof text);
    IoRecord io = Io(c.gate, info, text, BRELK_GATE_TEXT, 32);
    ASSERT_EQ(Call(BRELK_SINGLE_READ, io), 0);
    EXPECT_EQ(LastBody(), c.body);
    const std::string got(text);
    EXPECT_TRUE(got == "24-03-15 10:30:45" || got == "24-03-15 10:30:46") << got;
    for (int i = 18; i < 32; ++i) EXPECT_EQ(text[i], '\0') << i;
    EXPECT_EQ(text[32], 'x');
  }
}

TEST_F(ReadTest, ClockLocationFromTheIntFileIsRead) {
  const AddressInfo info = Parse("1F001005!PLC_TIME", BRELK_GATE_TEXT, 32);
  EXPECT_EQ(info.address, 100);
}

TEST_F(ReadTest, CommandGatesTheReadDoesNotServeAreRefusedUnsent) {
  struct Case {
    int32_t code;
    const char* gate;
    int32_t gateType;
    bool block;
    const char* message;
  };
  const Case cases[] = {
      {BRELK_SINGLE_READ, "1F001005!RUN", 0, false,
       "BRELK> Can not do single read for command gate 1F001005!RUN"},
      {BRELK_SINGLE_READ, "1F001005!PLC_STATUS", 0, false,
       "BRELK> Can not do single read for command gate 1F001005!PLC_STATUS"},
      {BRELK_BLOCK_READ, "1F001005!PLC_TIME", 7, false,
       "BRELK> Can not do block read for command gate 1F001005!PLC_TIME"},
  };
  for (const Case& c : cases) {
    const AddressInfo info = Parse(c.gate, c.gateType, 32, c.block);
    uint8_t data[32] = {};
    IoRecord io = Io(c.gate, info, data, c.gateType, 32);
    State().log.clear();
    EXPECT_EQ(Call(c.code, io), 1);
    EXPECT_EQ(LogTexts(), Lines{c.message});
  }
  EXPECT_EQ(gw->connectionsAccepted(), 0);
}

TEST_F(ReadTest, RefusalsBeforeAnythingIsSent) {
  struct Case {
    const char* title;
    const char* gate;
    int32_t gateType;
    int32_t count;
    bool block;
    bool nullData;
    Lines messages;
  };
  const Case cases[] = {
      {"FINS block over 1017 words",
       "1F001005D00000",
       0,
       1018,
       true,
       false,
       {"BRELK> Block size 1018 of gate 1F001005D00000 is too large for one read"}},
      {"C-mode block over 1018 words",
       "1C001005D00000",
       0,
       1019,
       true,
       false,
       {"BRELK> Block size 1019 of gate 1C001005D00000 is too large for one read"}},
      {"FINS byte block over 2034 bytes",
       "1F001005S00000",
       0,
       2035,
       true,
       false,
       {"BRELK> Block size 2035 of gate 1F001005S00000 is too large for one read"}},
      {"clock text buffer under 18 bytes",
       "1F001005!PLC_TIME",
       7,
       17,
       false,
       false,
       {"BRELK> Text buffer of gate 1F001005!PLC_TIME is too short for the clock: 17 bytes"}},
      {"no data buffer", "1F001005D00000", 0, 1, false, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    const AddressInfo info = Parse(c.gate, c.gateType, c.count, c.block);
    std::vector<uint8_t> data(4096, 0xEE);
    IoRecord io = Io(c.gate, info, c.nullData ? nullptr : data.data(), c.gateType, c.count);
    State().log.clear();
    EXPECT_EQ(Call(c.block ? BRELK_BLOCK_READ : BRELK_SINGLE_READ, io), 1);
    EXPECT_EQ(LogTexts(), c.messages);
    EXPECT_EQ(data, std::vector<uint8_t>(4096, 0xEE));
  }
  EXPECT_EQ(gw->connectionsAccepted(), 0);
}

TEST_F(ReadTest, LargestBlocksThatFitAreRead) {
  struct Case {
    const char* gate;
    int32_t count;
    size_t bytes;
  };
  const Case cases[] = {{"1F001005D00000", 1017, 2034},
                        {"1C001005D00000", 1018, 2036},
                        {"1F001005S00000", 2034, 2034}};
  for (int i = 0; i < 1018; ++i)
    plc->writeWord(kDM, static_cast<uint32_t>(i), static_cast<uint16_t>(i * 3));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.gate);
    const AddressInfo info = Parse(c.gate, 0, c.count, true);
    std::vector<uint8_t> data(c.bytes + 8, 0xEE);
    IoRecord io = Io(c.gate, info, data.data(), 0, c.count);
    ASSERT_EQ(Call(BRELK_BLOCK_READ, io), 0);
    if (info.width == 16) {
      EXPECT_EQ(data[2 * 1000] | data[2 * 1000 + 1] << 8, 3000);
    }
    for (size_t i = c.bytes; i < data.size(); ++i) EXPECT_EQ(data[i], 0xEE) << i;
  }
}

TEST_F(ReadTest, UnreachableNodeAnswers2AndIsReopenedNextTime) {
  const AddressInfo info = Parse("2F001005D00000");
  uint8_t data[4] = {};
  IoRecord io = Io("2F001005D00000", info, data);
  EXPECT_EQ(Call(BRELK_SINGLE_READ, io), 2);
  EXPECT_EQ(Node('2').failed, 1);
  State().log.clear();
  EXPECT_EQ(Call(BRELK_SINGLE_READ, io), 2);
  EXPECT_EQ(State().log.at(0).text, "Closing TCP/IP socket.");
}

TEST_F(ReadTest, UndefinedStationIsRefusedQuietly) {
  AddressInfo info{5, 0x7F010082, 0, -1, 16};
  uint8_t data[4] = {};
  IoRecord io = Io("3F001005D00000", info, data);
  EXPECT_EQ(Call(BRELK_SINGLE_READ, io), 1);
  IoRecord lower = Io("aF001005D00000", info, data);
  EXPECT_EQ(Call(BRELK_SINGLE_READ, lower), 1);
  EXPECT_TRUE(State().log.empty());
}

// ---- decoding on its own, from the answer's data bytes

struct DecodeCase {
  const char* title;
  int32_t code;
  const char* gate;
  AddressInfo info;
  int32_t gateType;
  int32_t count;
  Bytes answer;
  int32_t result;
  Bytes expected;  // host buffer afterwards; the rest stays 0xEE
};

TEST(DecodeTest, AnswerDataBecomesTheHostLayout) {
  const AddressInfo word{5, 0x82, 100, -1, 16};
  const AddressInfo byte{5, 0x03, 100, -1, 8};
  const AddressInfo dword{5, 0x82, 100, -1, 32};
  const AddressInfo clock{5, 0x0701, 18, -1, 16};
  const AddressInfo status{5, 0x0601, 0, -1, 16};
  const DecodeCase cases[] = {
      {"single word", 5, "1F001005D00100", word, 0, 1, {0x12, 0x34}, 0, {0, 0, 0x34, 0x12}},
      {"single byte", 5, "1F001005x00100", byte, 0, 1, {0x7F}, 0, {0, 0, 0x7F, 0}},
      {"single dword",
       5,
       "1F001005D00100",
       dword,
       3,
       1,
       {0x12, 0x34, 0x56, 0x78},
       0,
       {0x34, 0x12, 0x78, 0x56}},
      {"bit 15",
       5,
       "1F001005D0010015",
       {5, 0x82, 100, 15, 16},
       6,
       1,
       {0x80, 0x00},
       0,
       {0, 0, 1, 0}},
      {"bit 0 of 0x0001",
       5,
       "1F001005D0010000",
       {5, 0x82, 100, 0, 16},
       6,
       1,
       {0x00, 0x01},
       0,
       {0, 0, 1, 0}},
      {"block words",
       6,
       "1F001005D00100",
       word,
       0,
       2,
       {0x12, 0x34, 0x56, 0x78},
       0,
       {0x34, 0x12, 0x78, 0x56}},
      {"block bytes", 6, "1F001005x00100", byte, 0, 3, {9, 8, 7}, 0, {9, 8, 7}},
      {"block of 0 elements", 6, "1F001005D00100", {5, 0x82, 100, -1, 24}, 0, 0, {}, 0, {}},
      {"no rule for width 24 (single)",
       5,
       "1F001005D00100",
       {5, 0x82, 100, -1, 24},
       0,
       1,
       {1, 2, 3},
       1,
       {}},
      {"no rule for width 32 (block)", 6, "1F001005D00100", dword, 0, 1, {1, 2, 3, 4}, 1, {}},
      {"FINS clock",
       5,
       "1F001005!PLC_TIME",
       clock,
       7,
       18,
       {0x24, 0x03, 0x15, 0x10, 0x30, 0x45, 0x05},
       0,
       Bytes{'2', '4', '-', '0', '3', '-', '1', '5', ' ', '1', '0', ':', '3', '0', ':', '4', '5',
             0}},
      {"C-mode clock",
       5,
       "1C001005!PLC_TIME",
       clock,
       7,
       20,
       {0x30, 0x45, 0x15, 0x10, 0x24, 0x03},
       0,
       Bytes{'2', '4', '-', '0', '3', '-', '1', '5', ' ', '1',
             '0', ':', '3', '0', ':', '4', '5', 0,   0,   0}},
      {"FINS status",
       6,
       "1F001005!PLC_STATUS",
       status,
       0,
       4,
       {0x01, 0x02, 0x00, 0x00, 0x00, 0x40},
       0,
       {1, 0, 2, 0, 0, 0, 0x40, 0}},
      {"C-mode status",
       6,
       "1C001005!PLC_STATUS",
       status,
       0,
       4,
       {0x0A, 0x0B, 0x0C, 0x0D, 0x0E},
       0,
       {0x0B, 0, 0x0A, 0, 0x0D, 0, 0x0E, 0}},
      {"C-mode status of 2",
       6,
       "1C001005!PLC_STATUS",
       status,
       0,
       2,
       {0x0A, 0x0B},
       0,
       {0x0B, 0, 0x0A, 0}},
      {"short word answer", 5, "1F001005D00100", word, 0, 1, {0x12}, 2, {}},
      {"short block answer", 6, "1F001005D00100", word, 0, 3, {1, 2, 3, 4}, 2, {}},
      {"short clock answer", 5, "1F001005!PLC_TIME", clock, 7, 18, {0x24, 0x03}, 2, {}},
      {"short status answer", 6, "1F001005!PLC_STATUS", status, 0, 4, {1, 2, 0, 0}, 2, {}},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.title);
    testing::Reset();
    const platform::Platform p = testing::Fake();
    std::vector<uint8_t> data(40, 0xEE);
    IoRecord io{};
    io.text = c.gate;
    io.info = c.info;
    io.gateType = c.gateType;
    io.count = c.count;
    io.data = data.data();
    DriverRequest request{nullptr, c.code, 0, {}, &io};
    EXPECT_EQ(DecodeReadData(p, &request, c.answer.data(), c.answer.size()), c.result);
    Bytes expected = c.expected;
    expected.resize(data.size(), 0xEE);
    EXPECT_EQ(data, expected);
    if (c.result == 2) {
      EXPECT_EQ(LogTexts(),
                Lines{"BRELK> Error (" + std::string(c.gate) + "): response too short, " +
                      std::to_string(c.answer.size()) + " bytes"});
    }
  }
}

TEST(WordOrderTest, SwapWordBytesAndFinsOffsets) {
  const uint8_t b[4] = {0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(SwapWordBytes(b), 0x56781234u);
  const std::pair<char, uint16_t> offsets[] = {{'A', 0x0B00}, {'G', 0x0A00}, {'C', 0x0800},
                                               {'c', 0x0800}, {'D', 0},      {'I', 0}};
  for (const auto& [letter, offset] : offsets) EXPECT_EQ(FinsWordAddress(10, letter), 10 + offset);
  EXPECT_EQ(FinsWordAddress(0xFFFF, 'A'), 0x0AFF);  // cut to 16 bits
}

}  // namespace
}  // namespace brelk
