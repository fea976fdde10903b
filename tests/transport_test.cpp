// Node connections and the AnyNet frame exchange, against the simulator.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/plant.h"
#include "transport/transport.h"

namespace brelk {
namespace {

using anynet_sim::Fault;
using anynet_sim::FaultKind;
using testing::LogTexts;
using testing::State;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

const Lines kFirstContact = {"Socket created sucessfully", "socket connected succesfully."};
const Lines kThreeRetries = {"Trying to connect to socket. Retry:1.",
                             "Trying to connect to socket. Retry:2.",
                             "Trying to connect to socket. Retry:3."};

Lines Join(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class TransportTest : public testing::PlantTest {};

TEST_F(TransportTest, FirstRequestConnectsAndQueriesOnceLaterOnesReuse) {
  auto& gw = AddGateway("127.0.6.2");
  gw.controller(1, 5).writeWord(0x82, 100, 0x1234);
  Start("1 = 127.0.6.2\n", 250);
  EXPECT_EQ(ReadWord("1F001005D00100"), 0x1234);
  EXPECT_EQ(LogTexts(), Join(kFirstContact, {"BRELK>Network of host 127.0.6.2 is SYSMAC SLK"}));
  EXPECT_EQ(State().portsAsked, std::vector<uint16_t>{1023});
  const auto frames = gw.requests();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], (Bytes{0xFF, 0x00, 0, 0, 0, 0, 0, 0, 0x0A, 0x00}));
  // FINS read of one word: 18 bytes, timeout 2.5 s as 25 tenths.
  EXPECT_EQ(frames[1], (Bytes{0x00, 0x00, 0x01, 0x05, 0, 0, 25, 0, 0x08, 0x00, 0x01, 0x01, 0x82,
                              0x00, 0x64, 0x00, 0x00, 0x01}));
  EXPECT_EQ(Node('1').networkType, 0);
  EXPECT_EQ(Node('1').connected, 1);

  State().log.clear();
  const int created = State().socketsCreated;
  EXPECT_EQ(ReadWord("1F001005D00100"), 0x1234);
  EXPECT_TRUE(State().log.empty());
  EXPECT_EQ(State().socketsCreated, created);
  EXPECT_EQ(gw.connectionsAccepted(), 1);
}

TEST_F(TransportTest, NetworkTypeComesFromTheAnswerText) {
  struct Case {
    std::optional<std::string> text;
    int16_t type;  // -1: undetermined
    const char* message;
  };
  const Case cases[] = {
      {"SYSMAC SLK", 0, "BRELK>Network of host 127.0.6.%d is SYSMAC SLK"},
      {"SNT", 1, "BRELK>Network of host 127.0.6.%d is SNT"},
      {"SNT and SLK", 0, "BRELK>Network of host 127.0.6.%d is SNT and SLK"},
      {"ETHERNET", -1, "BRELK>Network of anynet 127.0.6.%d is unknown!"},
      {std::nullopt, -1, "BRELK>Network of anynet 127.0.6.%d is unknown!"},
  };
  std::string file;
  for (int i = 0; i < 5; ++i) {
    AddGateway("127.0.6." + std::to_string(10 + i), {{}}, cases[i].text);
    file +=
        std::string(1, static_cast<char>('A' + i)) + " = 127.0.6." + std::to_string(10 + i) + "\n";
  }
  Start(file);
  for (int i = 0; i < 5; ++i) {
    const Case& c = cases[i];
    State().log.clear();
    const std::string gate = std::string(1, static_cast<char>('A' + i)) + "F001005D00100";
    const auto value = ReadWord(gate);
    EXPECT_EQ(value.has_value(), c.type >= 0) << i;
    char expected[128];
    std::snprintf(expected, sizeof expected, c.message, 10 + i);
    EXPECT_EQ(LogTexts(), Join(kFirstContact, {expected})) << i;
    const NodeEntry& node = Node(static_cast<char>('A' + i));
    EXPECT_EQ(node.networkType, c.type) << i;
    EXPECT_EQ(node.failed, c.type >= 0 ? 0 : 1) << i;
  }
}

TEST_F(TransportTest, UndeterminedNetworkIsQueriedAgainOnAFreshConnection) {
  auto& gw = AddGateway("127.0.6.3", {{}}, "ETHERNET");
  Start("1 = 127.0.6.3\n");
  EXPECT_FALSE(ReadWord("1F001005D00100"));
  EXPECT_FALSE(ReadWord("1F001005D00100"));
  EXPECT_EQ(gw.connectionsAccepted(), 2);
  gw.setNetworkText("SNT");
  State().log.clear();
  EXPECT_TRUE(ReadWord("1F001005D00100"));
  EXPECT_EQ(LogTexts(), Join({"Closing TCP/IP socket."},
                             Join(kFirstContact, {"BRELK>Network of host 127.0.6.3 is SNT"})));
  EXPECT_EQ(Node('1').networkType, 1);

  // Once known, a reconnect after a failure asks no more.
  gw.injectFault({.kind = FaultKind::kClose});
  EXPECT_FALSE(ReadWord("1F001005D00100"));
  gw.clearRequests();
  State().log.clear();
  EXPECT_TRUE(ReadWord("1F001005D00100"));
  EXPECT_EQ(LogTexts(), Join({"Closing TCP/IP socket."}, kFirstContact));
  ASSERT_EQ(gw.requests().size(), 1u);
  EXPECT_EQ(gw.requests()[0][0], 0x00);  // the read, no query
}

TEST_F(TransportTest, RefusedConnectionFailsAndIsReopenedNextTime) {
  AddGateway("127.0.6.4");
  Start("1 = 127.0.6.98\n");  // nothing listens there
  const auto start = Clock::now();
  EXPECT_FALSE(ReadWord("1F001005D00100"));
  EXPECT_LT(Since(start), 0.5);
  EXPECT_EQ(LogTexts(), (Lines{"Socket created sucessfully",
                               "Socket was not connected, iRC=" + std::to_string(ECONNREFUSED)}));
  EXPECT_EQ(Node('1').failed, 1);
  EXPECT_EQ(Node('1').connected, 0);
  EXPECT_NE(Node('1').socket, 0);  // stays open until the next request
  State().log.clear();
  EXPECT_FALSE(ReadWord("1F001005D00100"));
  EXPECT_EQ(State().log.at(0).text, "Closing TCP/IP socket.");
  EXPECT_EQ(State().closes.size(), 1u);
}

// A listener whose backlog is full: connects neither succeed nor fail.
class StuckListener {
 public:
  StuckListener(const char* address, uint16_t port) {
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = inet_addr(address);
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    EXPECT_EQ(listen(listener_, 0), 0);
    for (int i = 0; i < 4; ++i) {
      const int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      connect(c, reinterpret_cast<sockaddr*>(&at), sizeof at);
      clients_.push_back(c);
    }
    usleep(50000);  // lets the handshakes that can complete do so
  }
  ~StuckListener() {
    for (int c : clients_) close(c);
    close(listener_);
  }

 private:
  int listener_;
  std::vector<int> clients_;
};

TEST_F(TransportTest, GatewayThatNeverAcceptsFailsAfterThreeTimeouts) {
  AddGateway("127.0.6.5");
  StuckListener stuck("127.0.6.51", port);
  Start("1 = 127.0.6.51\n", 20);
  const auto start = Clock::now();
  EXPECT_FALSE(ReadWord("1F001005D00100"));
  const double took = Since(start);
  EXPECT_GE(took, 0.55);
  EXPECT_LT(took, 2.0);
  EXPECT_EQ(LogTexts(), Join(Join({"Socket created sucessfully"}, kThreeRetries),
                             {"Socket was not connected!"}));
  EXPECT_EQ(Node('1').failed, 1);
  EXPECT_NE(Node('1').socket, 0);
}

TEST_F(TransportTest, SilentGatewayFailsAfterThreeTimeoutsAndIsReopened) {
  auto& gw = AddGateway("127.0.6.6");
  gw.controller(1, 5).writeWord(0x82, 7, 77);
  Start("1 = 127.0.6.6\n", 20);
  ASSERT_TRUE(ReadWord("1F001005D00007"));
  gw.injectFault({.kind = FaultKind::kNoAnswer});
  State().log.clear();
  const auto start = Clock::now();
  EXPECT_FALSE(ReadWord("1F001005D00007"));
  const double took = Since(start);
  EXPECT_GE(took, 0.55);
  EXPECT_LT(took, 2.0);
  EXPECT_EQ(LogTexts(), kThreeRetries);
  EXPECT_EQ(Node('1').failed, 1);
  State().log.clear();
  EXPECT_EQ(ReadWord("1F001005D00007"), 77);
  EXPECT_EQ(LogTexts(), Join({"Closing TCP/IP socket."}, kFirstContact));
  EXPECT_EQ(Node('1').failed, 0);
  EXPECT_EQ(gw.connectionsAccepted(), 2);
}

TEST_F(TransportTest, AnswersInPiecesAreJoined) {
  auto& gw = AddGateway("127.0.6.7");
  gw.controller(1, 5).writeWord(0x82, 9, 0xBEEF);
  Start("1 = 127.0.6.7\n", 50);
  for (uint32_t piece : {1u, 3u, 11u}) {
    gw.injectFault({.kind = FaultKind::kPieces, .pieceSize = piece, .pauseMs = 5});
    EXPECT_EQ(ReadWord("1F001005D00009"), 0xBEEF) << piece;
  }
  EXPECT_EQ(gw.connectionsAccepted(), 1);
}

TEST_F(TransportTest, ClosedOrShortAnswerIsAFailedExchange) {
  struct Case {
    Fault fault;
    std::string message;
  };
  const Case cases[] = {
      {{.kind = FaultKind::kClose}, "BRELK> recv() failed!, connection closed by the gateway"},
      {{.kind = FaultKind::kTruncate, .length = 13}, "BRELK> recv() stopped short: 13 of 16 bytes"},
  };
  auto& gw = AddGateway("127.0.6.8");
  Start("1 = 127.0.6.8\n", 10);
  ASSERT_TRUE(ReadWord("1F001005D00001"));
  for (const Case& c : cases) {
    gw.injectFault(c.fault);
    State().log.clear();
    EXPECT_FALSE(ReadWord("1F001005D00001"));
    EXPECT_EQ(LogTexts(), Lines{c.message});
    EXPECT_EQ(Node('1').failed, 1);
    EXPECT_TRUE(ReadWord("1F001005D00001"));
  }
}

TEST_F(TransportTest, RejectedAnswerKeepsTheConnection) {
  struct Case {
    const char* gate;
    Fault fault;
    int32_t result;
    Lines messages;
  };
  const Case cases[] = {
      {"1F001005D00002",
       {.kind = FaultKind::kGatewayError, .nsb = 0x05},
       2,
       {"BRELK> Error (1F001005D00002) from Omron NSB: Error code = 0x5"}},
      {"1F001005D00002",
       {.kind = FaultKind::kWrongNode, .node = 3},
       1,
       {"BRELK> Error: Command was sent to node 5, reponse came from 3"}},
      {"1F001005D00002",
       {.kind = FaultKind::kFinsEndCode,
        .finsMain = 0x81,
        .finsSub = 0x02,
        .relay1 = 0x12,
        .relay2 = 0x34},
       1,
       {"BRELK>Error (FINS commands) (1F001005D00002): main code = 0x81, subcode = 0x2",
        "BRELK>Relay Error additional information: Byte1=0x12, Byte2=0x34"}},
      {"1C001005D00002",
       {.kind = FaultKind::kCmodeEndCode, .cEndCode = 0x13},
       1,
       {"BRELK>Error (C commands) (1C001005D00002): code = 0x13"}},
  };
  auto& gw = AddGateway("127.0.6.9");
  Start("1 = 127.0.6.9\n");
  ASSERT_TRUE(ReadWord("1F001005D00002"));
  for (const Case& c : cases) {
    gw.injectFault(c.fault);
    State().log.clear();
    const AddressInfo info = Parse(c.gate);
    uint8_t data[4] = {9, 9, 9, 9};
    IoRecord io = Io(c.gate, info, data);
    EXPECT_EQ(Call(BRELK_SINGLE_READ, io), c.result) << c.gate;
    EXPECT_EQ(LogTexts(), c.messages);
    EXPECT_EQ(Node('1').failed, 0);
    EXPECT_EQ(data[0] + data[1] + data[2] + data[3], 36);  // untouched
  }
  EXPECT_TRUE(ReadWord("1F001005D00002"));
  EXPECT_EQ(gw.connectionsAccepted(), 1);
}

TEST_F(TransportTest, ManyOpenDescriptorsDoNotDisturbTheWaits) {
  auto& gw = AddGateway("127.0.6.12");
  gw.controller(1, 5).writeWord(0x82, 3, 303);
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_max < 1200) GTEST_SKIP() << "descriptor limit " << limit.rlim_max;
  const rlimit saved = limit;
  limit.rlim_cur = limit.rlim_max < 4096 ? limit.rlim_max : 4096;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
  std::vector<int> held;
  for (int i = 0; i < 1100; ++i) held.push_back(open("/dev/null", O_RDONLY | O_CLOEXEC));
  ASSERT_GE(held.back(), 1100);
  Start("1 = 127.0.6.12\n", 50);
  EXPECT_EQ(ReadWord("1F001005D00003"), 303);
  EXPECT_GE(Node('1').socket, 1024);
  for (int fd : held) close(fd);
  setrlimit(RLIMIT_NOFILE, &saved);
}

// Whether descriptor 0 was this process's standard input when it started;
// later it may be anybody's (the simulator's, when it started closed).
const bool kStdinOpenAtStart = fcntl(0, F_GETFD) != -1;

TEST_F(TransportTest, HostWithStandardInputClosedGetsANonZeroSocket) {
  const bool stdinOpen = kStdinOpenAtStart;
  auto& gw = AddGateway("127.0.6.13");
  gw.controller(1, 5).writeWord(0x82, 4, 404);
  Start("1 = 127.0.6.13\n", 50);
  if (!stdinOpen && fcntl(0, F_GETFD) != -1) GTEST_SKIP() << "descriptor 0 is the simulator's";
  const int savedStdin = stdinOpen ? dup(0) : -1;
  if (stdinOpen) close(0);
  const auto value = ReadWord("1F001005D00004");
  const int32_t socket = Node('1').socket;
  // The simulator may have taken descriptor 0 for its side: stop it first.
  sim.Stop();
  if (savedStdin >= 0) {
    dup2(savedStdin, 0);
    close(savedStdin);
  }
  EXPECT_EQ(value, 404);
  EXPECT_GT(socket, 0);
}

TEST_F(TransportTest, RealGatewayPort) {
  if (geteuid() != 0) GTEST_SKIP() << "port 1023 needs root";
  anynet_sim::GatewayConfig config;
  config.address = "127.0.6.200";
  config.controllers = {{}};
  try {
    sim.AddGateway(config).controller(1, 5).writeWord(0x82, 1, 11);
  } catch (const anynet_sim::BindError& e) {
    GTEST_SKIP() << e.what();
  }
  State().connectPort = 0;
  Start("1 = 127.0.6.200\n", 50);
  EXPECT_EQ(ReadWord("1F001005D00001"), 11);
}

// ---- the pieces on their own

TEST(WaitTest, NegativeTimeoutIsAFailedWaitAtOnce) {
  testing::Reset();
  const platform::Platform p = testing::Fake();
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  testing::Block block;
  block.block.timeoutSec = -1;
  block.block.timeoutUsec = -500000;
  const auto start = Clock::now();
  EXPECT_EQ(ChkSock(p, pair[0], platform::WaitFor::kReadable, 3, block.block), 1);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 0.1);
  EXPECT_TRUE(State().log.empty());
  block.block.timeoutSec = 0;
  block.block.timeoutUsec = 10000;
  EXPECT_EQ(ChkSock(p, pair[0], platform::WaitFor::kWritable, 3, block.block), 0);
  EXPECT_EQ(ChkSock(p, pair[0], platform::WaitFor::kReadable, 2, block.block), 1);
  EXPECT_EQ(LogTexts(), (Lines{"Trying to connect to socket. Retry:1.",
                               "Trying to connect to socket. Retry:2."}));
  close(pair[0]);
  close(pair[1]);
}

TEST(ExchangeTest, OversizedAnswerIsCutAndTheRestDropped) {
  testing::Reset();
  const platform::Platform p = testing::Fake();
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  testing::Block block;
  block.block.timeoutSec = 1;
  // An answer announcing 3000 body bytes, then a proper one.
  Bytes answers = {0, 0, 1, 5, 0, 0, 10, 0, 0xB8, 0x0B};
  for (int i = 0; i < 3000; ++i) answers.push_back(static_cast<uint8_t>(i));
  const Bytes second = {0, 0, 1, 5, 0, 0, 10, 0, 6, 0, 0x01, 0x01, 0, 0, 0x12, 0x34};
  answers.insert(answers.end(), second.begin(), second.end());
  ASSERT_EQ(write(pair[1], answers.data(), answers.size()), static_cast<ssize_t>(answers.size()));

  AnyNetFrame frame;
  size_t received = 0;
  frame.setBodyLength(8);
  ASSERT_EQ(SendRecv(p, pair[0], frame, block.block, &received), 0);
  EXPECT_EQ(received, kMaxResponseSize);
  EXPECT_EQ(frame.bytes[kMaxResponseSize - 1], static_cast<uint8_t>(kMaxResponseSize - 11));
  frame.setBodyLength(8);
  ASSERT_EQ(SendRecv(p, pair[0], frame, block.block, &received), 0);
  EXPECT_EQ(Bytes(frame.bytes, frame.bytes + received), second);
  close(pair[0]);
  close(pair[1]);
}

TEST(HeaderTest, HeaderBytesFollowTheGateAndTimeout) {
  struct Case {
    const char* text;
    int32_t areaWord, node, sec, usec;
    Bytes header;
  };
  const Case cases[] = {
      {"1F001005D00100", 0x11010082, 5, 2, 500000, {0x00, 0x00, 0x01, 0x05, 0, 0, 25, 0, 8, 0}},
      {"1C002003D00100", 0x1102000A, 3, 1, 0, {0x01, 0x00, 0x02, 0x03, 0, 0, 10, 0, 8, 0}},
      // network 999 overlaps the octet: only bits 16-23 reach the header
      {"1F999005D00100",
       static_cast<int32_t>(0x11000000u | (999u << 16) | 0x82),
       0x105,
       30,
       0,
       {0x00, 0x00, 0xE7, 0x05, 0, 0, 255, 0, 8, 0}},
      {"1F001005D00100", 0x00010082, 5, 25, 600000, {0x00, 0x00, 0x01, 0x05, 0, 0, 255, 0, 8, 0}},
      {"1F001005D00100", 0x00010082, 5, 0, 50000, {0x00, 0x00, 0x01, 0x05, 0, 0, 0, 0, 8, 0}},
  };
  for (const Case& c : cases) {
    testing::Block block;
    block.block.timeoutSec = c.sec;
    block.block.timeoutUsec = c.usec;
    IoRecord io{};
    io.text = c.text;
    io.info = {c.node, c.areaWord, 100, -1, 16};
    DriverRequest request{block.get(), BRELK_SINGLE_READ, 0, {}, &io};
    AnyNetFrame frame;
    std::memset(frame.bytes, 0xEE, sizeof frame.bytes);
    EXPECT_EQ(BuildAnyNetHeader(request, frame), 0);
    EXPECT_EQ(Bytes(frame.bytes, frame.bytes + 10), c.header) << c.text << " " << c.sec;
  }
}

TEST(ResponseCheckTest, EachTestInItsOrder) {
  struct Case {
    const char* title;
    char series;
    uint16_t sent;
    Bytes response;  // header and body
    int result;
    Lines messages;
  };
  const Bytes h = {0, 0, 1, 5, 0, 0, 10, 0, 0, 0};
  const auto frame = [&](Bytes body, uint8_t node = 5, uint8_t nsb = 0) {
    Bytes f = h;
    f[3] = node;
    f[7] = nsb;
    f[8] = static_cast<uint8_t>(body.size());
    f.insert(f.end(), body.begin(), body.end());
    return f;
  };
  const Case cases[] = {
      {"gateway error wins",
       'F',
       0x0101,
       frame({0x09, 0x09, 0x81, 0}, 3, 0x21),
       2,
       {"BRELK> Error (G) from Omron NSB: Error code = 0x21"}},
      {"other node, before the body",
       'F',
       0x0101,
       frame({0x01, 0x01, 0x04, 0}, 3),
       1,
       {"BRELK> Error: Command was sent to node 5, reponse came from 3"}},
      {"FINS main 2",
       'F',
       0x0101,
       frame({0x01, 0x01, 0x02, 0x01}),
       2,
       {"BRELK>Error (FINS commands) (G): main code = 0x2, subcode = 0x1"}},
      {"FINS main 4",
       'F',
       0x0101,
       frame({0x01, 0x01, 0x04, 0x01}),
       1,
       {"BRELK>Error (FINS commands) (G): main code = 0x4, subcode = 0x1"}},
      {"FINS relay",
       'F',
       0x0101,
       frame({0x01, 0x01, 0x81, 0x02, 0xAB, 0xCD}),
       1,
       {"BRELK>Error (FINS commands) (G): main code = 0x81, subcode = 0x2",
        "BRELK>Relay Error additional information: Byte1=0xab, Byte2=0xcd"}},
      {"FINS sub code alone is fine", 'F', 0x0101, frame({0x01, 0x01, 0x00, 0x40}), 0, {}},
      {"FINS echo",
       'F',
       0x0101,
       frame({0x01, 0x02, 0x00, 0x00}),
       1,
       {"Error: Command sent was 0x101 but response is 0x102"}},
      {"C echo with bit 7", 'C', 0x10, frame({0x90, 0x00}), 0, {}},
      {"C wrong echo",
       'C',
       0x10,
       frame({0x11, 0x00}),
       1,
       {"Error: Command sent was 0x10 but response is 0x11"}},
      {"C run mode",
       'C',
       0x0A,
       frame({0x0A, 0x01}),
       1,
       {"BRELK>Error: (C commands) Can not write to PLC when in RUN Mode!"}},
      {"C other end code",
       'C',
       0x0A,
       frame({0x0A, 0x22}),
       1,
       {"BRELK>Error (C commands) (G): code = 0x22"}},
      {"FINS body too short",
       'F',
       0x0101,
       frame({0x01, 0x01, 0x00}),
       2,
       {"BRELK> Error (G): response too short, 13 bytes"}},
      {"C body too short",
       'C',
       0x0A,
       frame({0x0A}),
       2,
       {"BRELK> Error (G): response too short, 11 bytes"}},
      {"relay bytes missing",
       'F',
       0x0101,
       frame({0x01, 0x01, 0x81, 0x02}),
       1,
       {"BRELK>Error (FINS commands) (G): main code = 0x81, subcode = 0x2",
        "BRELK> Error (G): response too short, 14 bytes"}},
  };
  for (const Case& c : cases) {
    testing::Reset();
    const platform::Platform p = testing::Fake();
    AnyNetFrame f;
    std::memset(f.bytes, 0, sizeof f.bytes);  // bytes past the answer must not count
    std::memcpy(f.bytes, c.response.data(), c.response.size());
    EXPECT_EQ(ChkResponse(p, f, c.response.size(), "G", c.series, c.sent, 5), c.result) << c.title;
    EXPECT_EQ(LogTexts(), c.messages) << c.title;
  }
}

TEST(SocketTest, SystemSocketIsNeverDescriptorZero) {
  if (!kStdinOpenAtStart && fcntl(0, F_GETFD) != -1) GTEST_SKIP() << "descriptor 0 is taken";
  const int savedStdin = kStdinOpenAtStart ? dup(0) : -1;
  if (kStdinOpenAtStart) close(0);
  const int s = platform::System().socketCreate();
  const bool zeroFree = fcntl(0, F_GETFD) == -1;
  if (savedStdin >= 0) {
    dup2(savedStdin, 0);
    close(savedStdin);
  }
  EXPECT_GT(s, 0);
  EXPECT_TRUE(zeroFree);
  close(s);
}

}  // namespace
}  // namespace brelk
