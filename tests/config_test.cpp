// The INT file loader, the station keys and the clock locations.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "config/config.h"
#include "tests/support/fake_platform.h"

namespace brelk {
namespace {

using testing::Block;
using testing::LogTexts;
using testing::State;

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::Reset(); }
  int32_t Load(int32_t number = 0) {
    DriverRequest request{block.get(), BRELK_COLD_START, number, {}, nullptr};
    return LoadIntFile(p, &request);
  }
  platform::Platform p = testing::Fake(false);
  Block block;
};

TEST(KeyToIndexTest, MapsDigitsAndCapitalsOnly) {
  const std::pair<char, int> cases[] = {{'0', 0},  {'9', 9},   {'A', 10},   {'Z', 35}, {'a', -1},
                                        {'z', -1}, {' ', -1},  {'/', -1},   {':', -1}, {'@', -1},
                                        {'[', -1}, {'\0', -1}, {'\xC4', -1}};
  for (const auto& [key, index] : cases) EXPECT_EQ(KeyToIndex(key), index) << int(key);
}

struct NodeExpect {
  int index;
  const char* host;
  const char* address;
};
struct ClockExpect {
  const char* name;
  int32_t arWord;
};
struct LoadCase {
  const char* title;
  std::string file;
  std::vector<std::string> messages;  // after "BRELK.INT Int File Found."
  std::vector<NodeExpect> nodes;      // every other node stays undefined
  std::vector<ClockExpect> clocks;
};

std::string Summary(int legal, int lines) {
  return std::to_string(legal) + " legal lines were read successfuly out of " +
         std::to_string(lines) + " lines in INT file.";
}

TEST_F(ConfigTest, LinesAreJudgedAsTheLoaderDoes) {
  const std::string longHost(50, 'h');
  const std::string host49(49, 'h');
  const std::string longName(32, 'g');
  const std::string name31(31, 'g');
  const LoadCase cases[] = {
      {"empty file", "", {Summary(0, 0)}, {}, {}},
      {"blank line",
       "\n",
       {"Line:1 has an illegal format. Check your INT file!", Summary(0, 1)},
       {},
       {}},
      {"blank before key",
       " A = gw1\n",
       {"Line:1 has an illegal format. Check your INT file!", Summary(0, 1)},
       {},
       {}},
      {"lower-case key",
       "a = 127.0.0.1\n",
       {"Illegal Key:a found on Line:1!", Summary(0, 1)},
       {},
       {}},
      {"extra words and CRLF",
       "A = 127.0.0.9 spare\r\nB=127.0.0.10\r\n",
       {"Host 127.0.0.9 found in HOSTS on Line:1.", "Host 127.0.0.10 found in HOSTS on Line:2.",
        Summary(2, 2)},
       {{10, "127.0.0.9", "127.0.0.9"}, {11, "127.0.0.10", "127.0.0.10"}},
       {}},
      {"unknown host",
       "C = no-such-host.invalid\n",
       {"Host no-such-host.invalid not found on Line:1. Check your HOSTS file !", Summary(0, 1)},
       {},
       {}},
      {"later line for a key wins, both count",
       "B = 127.0.0.1\nB = 127.0.0.2\n",
       {"Host 127.0.0.1 found in HOSTS on Line:1.", "Host 127.0.0.2 found in HOSTS on Line:2.",
        Summary(2, 2)},
       {{11, "127.0.0.2", "127.0.0.2"}},
       {}},
      {"clock lines are logged, not counted",
       "1F001005!PLC_TIME=100\r\n1C001005!PLC_TIME = -7 x\n=5\n",
       {"Gate: 1F001005!PLC_TIME, Clock location AR 100",
        "Gate: 1C001005!PLC_TIME , Clock location AR -7", "Gate: , Clock location AR 5",
        Summary(0, 3)},
       {},
       {{"1F001005!PLC_TIME", 100}, {"1C001005!PLC_TIME ", -7}, {"", 5}}},
      {"a one-character name is a node line",
       "X = 18\n",
       {"Host 18 found in HOSTS on Line:1.", Summary(1, 1)},
       {{33, "18", "0.0.0.18"}},
       {}},
      {"equals without a number",
       "name=abc\nA =\n",
       {"Line:1 has an illegal format. Check your INT file!",
        "Line:2 has an illegal format. Check your INT file!", Summary(0, 2)},
       {},
       {}},
      {"host name of 49 fits, 50 is refused",
       "D = " + host49 + "\nE = " + longHost + "\n",
       {"Host " + host49 + " not found on Line:1. Check your HOSTS file !",
        "Host name on Line:2 is too long. Check your INT file!", Summary(0, 2)},
       {},
       {}},
      {"gate name of 31 fits, 32 is refused",
       name31 + "=1\n" + longName + "=2\n",
       {"Gate: " + name31 + ", Clock location AR 1",
        "Gate name on Line:2 is too long. Check your INT file!", Summary(0, 2)},
       {},
       {{name31.c_str(), 1}}},
  };
  for (const LoadCase& c : cases) {
    SCOPED_TRACE(c.title);
    testing::Reset();
    Block fresh;
    block = fresh;
    testing::WriteFile("BRELK.INT", c.file);
    ASSERT_EQ(Load(), 0);
    std::vector<std::string> expected = {"BRELK.INT Int File Found."};
    expected.insert(expected.end(), c.messages.begin(), c.messages.end());
    EXPECT_EQ(LogTexts(), expected);
    for (int i = 0; i < BRELK_NODE_COUNT; ++i) {
      const NodeEntry& node = block.block.nodes[i];
      const NodeExpect* want = nullptr;
      for (const NodeExpect& n : c.nodes) want = n.index == i ? &n : want;
      if (want == nullptr) {
        EXPECT_EQ(node.hostName, nullptr) << i;
        continue;
      }
      ASSERT_NE(node.hostName, nullptr) << i;
      EXPECT_STREQ(node.hostName, want->host);
      EXPECT_EQ(node.ipAddress, inet_addr(want->address));
      EXPECT_EQ(node.key, i < 10 ? '0' + i : 'A' + i - 10);
      EXPECT_EQ(node.socket, 0);
      EXPECT_EQ(node.connected, 0);
      EXPECT_EQ(node.failed, 0);
      EXPECT_EQ(node.networkType, -1);
    }
    for (size_t i = 0; i < BRELK_CLOCK_COUNT; ++i) {
      const ClockLocation& clock = block.block.clocks[i];
      if (i < c.clocks.size()) {
        EXPECT_STREQ(clock.gateName, c.clocks[i].name);
        EXPECT_EQ(clock.arWord, c.clocks[i].arWord);
      } else {
        EXPECT_EQ(clock.gateName[0], '\0') << i;
      }
    }
    ReleaseNodes(p, block.block);
  }
}

TEST_F(ConfigTest, LongLinesAreReadInPiecesOf255) {
  // 300 characters: the first piece is a node line, the rest is a line of its own.
  const std::string line = "A = 127.0.0.1" + std::string(300 - 13, ' ') + "\n";
  testing::WriteFile("BRELK.INT", line);
  ASSERT_EQ(Load(), 0);
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{
                            "BRELK.INT Int File Found.", "Host 127.0.0.1 found in HOSTS on Line:1.",
                            "Line:2 has an illegal format. Check your INT file!", Summary(1, 2)}));
  ReleaseNodes(p, block.block);
}

TEST_F(ConfigTest, FiftyClockLocationsFitTheFiftyFirstIsRefused) {
  std::string file;
  for (int i = 0; i < 51; ++i) file += "G" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  testing::WriteFile("BRELK.INT", file);
  ASSERT_EQ(Load(), 0);
  EXPECT_EQ(State().log[50].text, "Gate: G49, Clock location AR 49");
  EXPECT_EQ(State().log[51].text, "Too many clock locations on Line:51. Check your INT file!");
  EXPECT_EQ(FindClockLocation(block.block, "G49"), 49);
  EXPECT_EQ(FindClockLocation(block.block, "G50"), 18);
}

TEST_F(ConfigTest, LoadClearsOldClockLocationsAndLeavesNodesAlone) {
  std::memset(block.block.clocks, 'x', sizeof block.block.clocks);
  block.block.nodes[3].networkType = 7;
  testing::WriteFile("BRELK.INT", "");
  ASSERT_EQ(Load(), 0);
  for (const ClockLocation& clock : block.block.clocks) {
    EXPECT_EQ(clock.gateName[0], '\0');
    EXPECT_EQ(clock.arWord, 0);
  }
  EXPECT_EQ(block.block.nodes[3].networkType, 7);
}

TEST_F(ConfigTest, FindClockLocationTakesTheEarliestExactName) {
  testing::WriteFile("BRELK.INT", "1F001005!PLC_TIME=100\n1F001005!PLC_TIME=200\n=9\n");
  ASSERT_EQ(Load(), 0);
  EXPECT_EQ(FindClockLocation(block.block, "1F001005!PLC_TIME"), 100);
  EXPECT_EQ(FindClockLocation(block.block, "1F001005!PLC_TIM"), 18);
  EXPECT_EQ(FindClockLocation(block.block, "1F001005!PLC_TIME "), 18);
  EXPECT_EQ(FindClockLocation(block.block, ""), 9);  // the empty name of "=9" matches only ""
}

TEST_F(ConfigTest, FileNamesAreTriedInOrder) {
  struct Case {
    int32_t number;
    std::vector<std::string> present;
    const char* found;  // nullptr: none
  };
  const Case cases[] = {
      {7, {"BRELK07.INT", "BRELK7.INT", "BRELK.INT"}, "BRELK07.INT"},
      {7, {"BRELK7.INT", "BRELK.INT"}, "BRELK7.INT"},
      {7, {"BRELK.INT"}, "BRELK.INT"},
      {12, {"BRELK12.INT", "BRELK.INT"}, "BRELK12.INT"},
      {0, {"BRELK00.INT", "BRELK0.INT"}, "BRELK00.INT"},
      {7, {"brelk07.int"}, nullptr},
      {7, {}, nullptr},
  };
  for (const Case& c : cases) {
    testing::Reset();
    for (const std::string& name : c.present) testing::WriteFile(name, "");
    Block fresh;
    block = fresh;
    const int32_t rc = Load(c.number);
    if (c.found == nullptr) {
      EXPECT_EQ(rc, 1);
      EXPECT_EQ(LogTexts(),
                std::vector<std::string>{"Int File not found!. Check again your INT file name!"});
    } else {
      EXPECT_EQ(rc, 0);
      EXPECT_EQ(State().log.at(0).text, std::string(c.found) + " Int File Found.");
    }
  }
}

TEST_F(ConfigTest, NumberTooLongForTheNameFallsBackToTheBaseName) {
  testing::WriteFile("BRELK.INT", "");
  ASSERT_EQ(Load(1234567), 0);  // BRELK1234567.INT has 16 characters
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{"Int File name for number 1234567 is too long!",
                                                  "Int File name for number 1234567 is too long!",
                                                  "BRELK.INT Int File Found.", Summary(0, 0)}));
  testing::Reset();
  testing::WriteFile("BRELK123456.INT", "");
  ASSERT_EQ(Load(123456), 0);  // 15 characters fit
  EXPECT_EQ(State().log.at(0).text, "BRELK123456.INT Int File Found.");
}

}  // namespace
}  // namespace brelk
