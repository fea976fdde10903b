// anynet-sim against its own API and a plain socket client. Requests are written out byte by
// byte here rather than built with the simulator's code, so a fault on one side cannot hide
// behind the same fault on the other.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "anynet_sim/frame.h"
#include "anynet_sim/plant.h"
#include "anynet_sim/sim.h"

namespace {

using anynet_sim::Controller;
using anynet_sim::Fault;
using anynet_sim::FaultKind;
using anynet_sim::Gateway;
using anynet_sim::Mode;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint16_t kFins = 0;
constexpr uint16_t kCmode = 1;
constexpr uint8_t kTimeoutTenths = 25;

Bytes Request(uint16_t type, uint8_t network, uint8_t node, const Bytes& body) {
  Bytes f = {static_cast<uint8_t>(type & 0xFF),
             static_cast<uint8_t>(type >> 8),
             network,
             node,
             0,
             0,
             kTimeoutTenths,
             0,
             static_cast<uint8_t>(body.size() & 0xFF),
             static_cast<uint8_t>(body.size() >> 8)};
  f.insert(f.end(), body.begin(), body.end());
  return f;
}

const Bytes kQuery = {0xFF, 0x00, 0, 0, 0, 0, 0, 0, 0x0A, 0x00};

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

long Ms(Clock::time_point since) {
  return static_cast<long>(std::chrono::duration_cast<milliseconds>(Clock::now() - since).count());
}

// A blocking-free TCP client with one deadline per read.
class Client {
 public:
  Client(const std::string& address, uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;  // split requests must leave as split
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    // Loopback connects complete or fail at once.
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) error_ = errno;
  }
  ~Client() { ::close(fd_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  int error() const { return error_; }
  bool eof() const { return eof_; }

  void Send(const Bytes& b) {
    size_t at = 0;
    while (at < b.size()) {
      const ssize_t n = ::send(fd_, b.data() + at, b.size() - at, MSG_NOSIGNAL);
      ASSERT_GT(n, 0) << std::strerror(errno);
      at += static_cast<size_t>(n);
    }
  }

  // Up to n bytes, returning early at end of stream or when the deadline passes.
  Bytes Read(size_t n, int timeoutMs) {
    Bytes out;
    const auto deadline = Clock::now() + milliseconds(timeoutMs);
    while (out.size() < n && !eof_) {
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
      pollfd p{fd_, POLLIN, 0};
      if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
      uint8_t buf[4096];
      const ssize_t got = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
      if (got <= 0) {
        eof_ = true;
        break;
      }
      out.insert(out.end(), buf, buf + got);
    }
    return out;
  }

  // One whole answer frame, framed by its own length field.
  Bytes Frame(int timeoutMs = 3000) {
    Bytes f = Read(anynet_sim::kHeaderSize, timeoutMs);
    if (f.size() < anynet_sim::kHeaderSize) return f;
    return Cat(f, Read(static_cast<size_t>(f[8] | f[9] << 8), timeoutMs));
  }

 private:
  int fd_ = -1;
  int error_ = 0;
  bool eof_ = false;
};

struct Ctl {
  uint8_t network;
  uint8_t node;
};
constexpr Ctl kProgram15 = {1, 5};  // program mode, clock at AR 18
constexpr Ctl kRun16 = {1, 6};      // run mode, clock at AR 20
constexpr Ctl kEcho21 = {2, 1};     // C-mode echo with bit 7

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    anynet_sim::GatewayConfig cfg;
    cfg.port = 0;
    cfg.controllers = {{.network = 1, .node = 5},
                       {.network = 1, .node = 6, .clockArWord = 20, .mode = Mode::kRun},
                       {.network = 2, .node = 1, .cmodeEchoBit7 = true}};
    gw = &sim.AddGateway(cfg);
  }

  Controller& ctl(Ctl c = kProgram15) { return gw->controller(c.network, c.node); }
  Client& client() {
    if (!client_) client_ = std::make_unique<Client>(gw->address(), gw->port());
    return *client_;
  }

  // Sends one request and returns the answer body after checking the answer header.
  Bytes Body(uint16_t type, const Bytes& body, Ctl c = kProgram15) {
    client().Send(Request(type, c.network, c.node, body));
    const Bytes f = client().Frame();
    if (f.size() < anynet_sim::kHeaderSize) {
      ADD_FAILURE() << "no answer header";
      return {};
    }
    const Bytes header(f.begin(), f.begin() + anynet_sim::kHeaderSize);
    const Bytes expectHeader = {static_cast<uint8_t>(type),
                                0,
                                c.network,
                                c.node,
                                0,
                                0,
                                kTimeoutTenths,
                                0,
                                static_cast<uint8_t>(f.size() - 10),
                                static_cast<uint8_t>((f.size() - 10) >> 8)};
    EXPECT_EQ(header, expectHeader);
    return Bytes(f.begin() + anynet_sim::kHeaderSize, f.end());
  }
  Bytes Fins(const Bytes& body, Ctl c = kProgram15) { return Body(kFins, body, c); }
  Bytes Cmode(const Bytes& body, Ctl c = kProgram15) { return Body(kCmode, body, c); }

  anynet_sim::Simulator sim;
  Gateway* gw = nullptr;
  std::unique_ptr<Client> client_;
};

// ---- framing

TEST(Framing, SaysNeedMoreUntilTheWholeFrameIsThere) {
  const Bytes frames[] = {
      Request(kFins, 1, 5, {0x01, 0x01, 0x82, 0x00, 0x64, 0x00, 0x00, 0x02}),
      Request(kCmode, 1, 5, {0x0B, 0x00, 0x64, 0x12, 0x34}),
      Request(kFins, 1, 5, {}),
      kQuery,
      {0xFF, 0x00, 0, 0, 0, 0, 0, 0, 0x00, 0x00},  // a query is 10 bytes whatever its length says
      {0xFF, 0x00, 0, 0, 0, 0, 0, 0, 0xFF, 0x07},
  };
  for (const Bytes& f : frames) {
    for (size_t have = 0; have < f.size(); ++have) {
      const auto check = anynet_sim::CheckFrame(std::span(f.data(), have));
      ASSERT_EQ(check.status, anynet_sim::FrameStatus::kNeedMore) << have;
      const size_t missing = have < 10 ? 10 - have : f.size() - have;
      EXPECT_EQ(check.bytes, missing) << have;
    }
    const Bytes withNext = Cat(f, {0x00, 0x00, 0x01});
    const auto check = anynet_sim::CheckFrame(withNext);
    EXPECT_EQ(check.status, anynet_sim::FrameStatus::kComplete);
    EXPECT_EQ(check.bytes, f.size());
  }
}

TEST(Framing, RejectsUnknownTypesAndOversizedBodies) {
  struct Case {
    Bytes header;
    anynet_sim::FrameStatus status;
  };
  const Case cases[] = {
      {{0x02, 0x00, 1, 5, 0, 0, 0, 0, 0, 0}, anynet_sim::FrameStatus::kMalformed},
      {{0x00, 0x01, 1, 5, 0, 0, 0, 0, 0, 0}, anynet_sim::FrameStatus::kMalformed},  // type 256
      {{0x00, 0x00, 1, 5, 0, 0, 0, 0, 0x03, 0x08}, anynet_sim::FrameStatus::kMalformed},  // 2051
      {{0x01, 0x00, 1, 5, 0, 0, 0, 0, 0x02, 0x08}, anynet_sim::FrameStatus::kNeedMore},   // 2050
  };
  for (const Case& c : cases) {
    EXPECT_EQ(anynet_sim::CheckFrame(c.header).status, c.status);
  }
}

TEST_F(SimTest, ReadsARequestSplitAtEveryByte) {
  const Bytes frames[] = {
      Request(kFins, 1, 5, {0x01, 0x02, 0x82, 0x00, 0x64, 0x00, 0x00, 0x01, 0xAB, 0xCD}),
      Request(kCmode, 1, 5, {0x0A, 0x00, 0x64, 0x00, 0x01}),
      kQuery,
  };
  for (const Bytes& f : frames) {
    for (size_t cut = 1; cut < f.size(); ++cut) {
      gw->clearRequests();
      client().Send(Bytes(f.begin(), f.begin() + cut));
      // Nothing may come back for half a frame.
      EXPECT_TRUE(client().Read(1, 10).empty()) << cut;
      client().Send(Bytes(f.begin() + cut, f.end()));
      const Bytes answer = client().Frame();
      ASSERT_GE(answer.size(), 10u) << cut;
      EXPECT_EQ(answer[0], f[0]) << cut;
      EXPECT_EQ(answer[7], 0) << cut;
      ASSERT_TRUE(gw->waitForRequests(1, milliseconds(2000)));
      EXPECT_EQ(gw->requests(), std::vector<Bytes>{f}) << cut;
    }
  }
  EXPECT_EQ(ctl().readWord(0x82, 100), 0xABCD);
}

TEST_F(SimTest, AnswersFramesThatArriveTogetherInOrder) {
  client().Send(
      Cat(Cat(Request(kFins, 1, 5, {0x07, 0x01}), kQuery), Request(kCmode, 1, 5, {0x10})));
  EXPECT_EQ(client().Frame()[0], 0x00);
  EXPECT_EQ(client().Frame()[0], 0xFF);
  EXPECT_EQ(client().Frame()[0], 0x01);
  EXPECT_EQ(gw->requests().size(), 3u);
}

// ---- network-type query and routing

TEST_F(SimTest, AnswersTheNetworkTypeQueryWithTheConfiguredText) {
  const std::optional<std::string> texts[] = {"SYSMAC SLK", "SYSMAC SNT", "SOMETHING ELSE",
                                              std::nullopt};
  for (const auto& text : texts) {
    gw->setNetworkText(text);
    client().Send(kQuery);
    const std::string t = text.value_or("");
    Bytes expect = {0xFF, 0x00, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(t.size()), 0};
    expect.insert(expect.end(), t.begin(), t.end());
    EXPECT_EQ(client().Frame(), expect) << t;
  }
}

TEST_F(SimTest, UnknownDestinationsGetAGatewayError) {
  struct Case {
    uint8_t network, node, nsb;
  };
  for (const Case c : {Case{1, 9, 0x02}, Case{7, 5, 0x01}}) {
    client().Send(Request(kFins, c.network, c.node, {0x07, 0x01}));
    const Bytes expect = {0x00, 0x00, c.network, c.node, 0, 0, kTimeoutTenths, c.nsb, 0, 0};
    EXPECT_EQ(client().Frame(), expect);
  }
}

TEST(Simulator, RunsSeveralGatewaysEachWithItsOwnControllers) {
  anynet_sim::Simulator sim;
  Gateway& a = sim.AddGateway({.address = "127.0.0.2", .port = 0, .controllers = {{1, 5}}});
  Gateway& b = sim.AddGateway(
      {.address = "127.0.0.3", .port = 0, .networkText = "SYSMAC SNT", .controllers = {{3, 7}}});
  a.controller(1, 5).writeWord(0x82, 0, 0x1111);
  b.controller(3, 7).writeWord(0x82, 0, 0x2222);
  EXPECT_THROW(a.controller(3, 7), std::out_of_range);

  struct Case {
    Gateway* gw;
    uint8_t network, node;
    Bytes answer;
  };
  const Case cases[] = {
      {&a, 1, 5, {0x00, 0x00, 1, 5, 0, 0, 25, 0, 6, 0, 0x01, 0x01, 0, 0, 0x11, 0x11}},
      {&b, 3, 7, {0x00, 0x00, 3, 7, 0, 0, 25, 0, 6, 0, 0x01, 0x01, 0, 0, 0x22, 0x22}},
      {&b, 1, 5, {0x00, 0x00, 1, 5, 0, 0, 25, 0x01, 0, 0}},
  };
  for (const Case& c : cases) {
    Client client(c.gw->address(), c.gw->port());
    client.Send(Request(kFins, c.network, c.node, {0x01, 0x01, 0x82, 0, 0, 0, 0, 1}));
    EXPECT_EQ(client.Frame(), c.answer) << c.gw->address();
  }
  Client query(b.address(), b.port());
  query.Send(kQuery);
  EXPECT_EQ(query.Frame(), Cat({0xFF, 0, 0, 0, 0, 0, 0, 0, 10, 0},
                               {'S', 'Y', 'S', 'M', 'A', 'C', ' ', 'S', 'N', 'T'}));
}

TEST(Simulator, AddGatewayReportsWhatCannotBeBound) {
  anynet_sim::Simulator sim;
  Gateway& first = sim.AddGateway({.address = "127.0.0.2", .port = 0});
  try {
    sim.AddGateway({.address = "127.0.0.2", .port = first.port()});
    ADD_FAILURE() << "bound the same port twice";
  } catch (const anynet_sim::BindError& e) {
    EXPECT_EQ(e.error(), EADDRINUSE);
    EXPECT_NE(std::string(e.what()).find("127.0.0.2:" + std::to_string(first.port())),
              std::string::npos);
  }
  EXPECT_THROW(sim.AddGateway({.address = "localhost", .port = 0}), std::invalid_argument);
  sim.Stop();
  EXPECT_THROW(sim.AddGateway({.address = "127.0.0.2", .port = 0}), std::logic_error);
}

// ---- FINS

struct AreaCase {
  uint8_t area;
  uint16_t address;
  uint32_t size;
  bool bytes;
};
// clang-format off
const AreaCase kFinsAreas[] = {
    {0x80, 10, 0x0D00, false},    // CIO
    {0x80, 0x0A05, 0x0D00, false},  // G5
    {0x80, 0x0B0A, 0x0D00, false},  // A10
    {0x81, 5, 0x1000, false},     // timer PV
    {0x81, 0x0805, 0x1000, false},  // counter PV
    {0x01, 0x0805, 0x1000, true},   // counter flag
    {0x82, 100, 0x8000, false},
    {0x90, 1, 0x8000, false}, {0x91, 1, 0x8000, false}, {0x92, 1, 0x8000, false},
    {0x93, 1, 0x8000, false}, {0x94, 1, 0x8000, false}, {0x95, 1, 0x8000, false},
    {0x96, 1, 0x8000, false}, {0x97, 1, 0x8000, false}, {0x98, 2, 0x8000, false},
    {0x03, 7, 0x0800, true}, {0x04, 7, 0x0800, true}, {0x44, 7, 0x0800, true},
    {0x9C, 3, 0x0100, false},
    {0xB2, 4, 0x0200, false},
};
// clang-format on

TEST_F(SimTest, FinsReadsAndWritesEveryArea) {
  for (const AreaCase& c : kFinsAreas) {
    SCOPED_TRACE(testing::Message() << "area " << std::hex << int(c.area) << " at " << c.address);
    const uint8_t hi = static_cast<uint8_t>(c.address >> 8);
    const uint8_t lo = static_cast<uint8_t>(c.address);
    const Bytes data = c.bytes ? Bytes{0x5A, 0xA5} : Bytes{0x12, 0x34, 0xFE, 0xDC};
    EXPECT_EQ(Fins(Cat({0x01, 0x02, c.area, hi, lo, 0x00, 0x00, 0x02}, data)),
              (Bytes{0x01, 0x02, 0x00, 0x00}));
    EXPECT_EQ(ctl().readWord(c.area, c.address), c.bytes ? 0x5A : 0x1234);
    EXPECT_EQ(ctl().readWord(c.area, c.address + 1u), c.bytes ? 0xA5 : 0xFEDC);
    EXPECT_EQ(Fins({0x01, 0x01, c.area, hi, lo, 0x00, 0x00, 0x02}),
              Cat({0x01, 0x01, 0x00, 0x00}, data));

    // Bounds: the last element is there, one past it is not.
    const uint8_t lastHi = static_cast<uint8_t>((c.size - 1) >> 8);
    const uint8_t lastLo = static_cast<uint8_t>(c.size - 1);
    EXPECT_EQ(Fins({0x01, 0x01, c.area, lastHi, lastLo, 0x00, 0x00, 0x01}).size(),
              c.bytes ? 5u : 6u);
    EXPECT_EQ(Fins({0x01, 0x01, c.area, lastHi, lastLo, 0x00, 0x00, 0x02}),
              (Bytes{0x01, 0x01, 0x11, 0x03}));
    EXPECT_EQ(Fins(Cat({0x01, 0x02, c.area, lastHi, lastLo, 0x00, 0x00, 0x02}, data)),
              (Bytes{0x01, 0x02, 0x11, 0x03}));
  }
  EXPECT_EQ(ctl().readWord(0x98, 2), ctl().readWord(0x90, 2));  // current bank is bank 0
}

TEST_F(SimTest, FinsRefusesMalformedCommandsWithTheirEndCodes) {
  struct Case {
    Bytes request, answer;
  };
  const Case cases[] = {
      {{0x01, 0x01, 0x85, 0x00, 0x00, 0x00, 0x00, 0x01}, {0x01, 0x01, 0x11, 0x01}},  // no area
      {{0x01, 0x01, 0x82, 0x00, 0x00, 0x00, 0x00}, {0x01, 0x01, 0x10, 0x02}},        // short
      {{0x01, 0x01, 0x82, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00}, {0x01, 0x01, 0x10, 0x01}},
      {{0x01, 0x01, 0x82, 0x00, 0x00, 0x03, 0x00, 0x01}, {0x01, 0x01, 0x11, 0x0C}},  // bit 3
      {{0x01, 0x02, 0x82, 0x00, 0x00, 0x00, 0x00, 0x02, 0x12, 0x34}, {0x01, 0x02, 0x10, 0x03}},
      {{0x01, 0x02, 0x82, 0x00, 0x00, 0x00, 0x00}, {0x01, 0x02, 0x10, 0x02}},
      {{0x01, 0x01, 0x82, 0x00, 0x00, 0x00, 0x03, 0xFA}, {0x01, 0x01, 0x11, 0x0B}},  // 1018
      {{0x05, 0x01}, {0x05, 0x01, 0x04, 0x01}},  // not a command of this controller
      {{0x01}, {0x01, 0x00, 0x10, 0x02}},
      {{0x07, 0x01, 0x00}, {0x07, 0x01, 0x10, 0x01}},
      {{0x06, 0x01, 0x00}, {0x06, 0x01, 0x10, 0x01}},
      {{0x21, 0x01, 0xFF}, {0x21, 0x01, 0x10, 0x02}},
      {{0x04, 0x01, 0x00, 0x00, 0x07}, {0x04, 0x01, 0x11, 0x0C}},  // no such mode
      {{0x04, 0x01, 0x00}, {0x04, 0x01, 0x10, 0x02}},
      {{0x04, 0x02, 0x00}, {0x04, 0x02, 0x10, 0x02}},
      {{0x07, 0x02, 0x24, 0x13, 0x15, 0x10, 0x30, 0x45, 0x05}, {0x07, 0x02, 0x11, 0x0C}},  // month
      {{0x07, 0x02, 0x24, 0x02, 0x30, 0x10, 0x30}, {0x07, 0x02, 0x11, 0x0C}},  // 30 February
      {{0x07, 0x02, 0x24, 0x03, 0x1A, 0x10, 0x30}, {0x07, 0x02, 0x11, 0x0C}},  // not BCD
      {{0x07, 0x02, 0x24, 0x03, 0x15, 0x10}, {0x07, 0x02, 0x10, 0x02}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Fins(c.request), c.answer) << testing::PrintToString(c.request);
  }
  // The largest read that fits one answer frame.
  EXPECT_EQ(Fins({0x01, 0x01, 0x82, 0x00, 0x00, 0x00, 0x03, 0xF9}).size(), 4u + 2 * 1017);
}

TEST_F(SimTest, FinsRunStopAndStatus) {
  struct Case {
    Bytes request;
    Mode mode;
    Bytes statusHead;  // operating status, mode byte
  };
  const Case cases[] = {
      {{0x04, 0x01, 0x00, 0x00, 0x04}, Mode::kRun, {0x01, 0x04}},
      {{0x04, 0x02}, Mode::kProgram, {0x00, 0x00}},
      {{0x04, 0x01, 0x00, 0x00, 0x02}, Mode::kMonitor, {0x01, 0x02}},
      {{0x04, 0x02, 0xFF, 0xFF}, Mode::kProgram, {0x00, 0x00}},
      {{0x04, 0x01}, Mode::kMonitor, {0x01, 0x02}},
      {{0x04, 0x01, 0xFF, 0xFF}, Mode::kMonitor, {0x01, 0x02}},
  };
  const Bytes spaces(16, ' ');
  for (const Case& c : cases) {
    EXPECT_EQ(Fins(c.request), Cat({c.request[0], c.request[1]}, {0x00, 0x00}));
    EXPECT_EQ(ctl().mode(), c.mode);
    EXPECT_EQ(
        Fins({0x06, 0x01}),
        Cat(Cat(Cat({0x06, 0x01, 0x00, 0x00}, c.statusHead), {0, 0, 0, 0, 0, 0, 0, 0}), spaces));
  }

  ctl().setErrorState(true);
  const std::string message = "SIM FAL 001     ";
  EXPECT_EQ(Fins({0x06, 0x01}), Cat({0x06, 0x01, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x40,
                                     0x00, 0x00, 0x00, 0x01},
                                    Bytes(message.begin(), message.end())));
  EXPECT_EQ(Fins({0x21, 0x01, 0xFF, 0xFF}), (Bytes{0x21, 0x01, 0x00, 0x00}));
  EXPECT_FALSE(ctl().errorState());
}

// Seconds between two BCD clock readings given as (year, month, day, hour, minute, second).
long ClockSeconds(const uint8_t bcd[6]) {
  auto v = [&](int i) { return (bcd[i] >> 4) * 10 + (bcd[i] & 0x0F); };
  std::tm t{};
  t.tm_year = 100 + v(0);
  t.tm_mon = v(1) - 1;
  t.tm_mday = v(2);
  t.tm_hour = v(3);
  t.tm_min = v(4);
  t.tm_sec = v(5);
  return static_cast<long>(timegm(&t));
}

TEST_F(SimTest, FinsClockWriteThenReadRunsOnFromTheWrittenTime) {
  const Bytes set = {0x24, 0x03, 0x15, 0x10, 0x30, 0x45, 0x05};  // Friday 2024-03-15 10:30:45
  EXPECT_EQ(Fins(Cat({0x07, 0x02}, set)), (Bytes{0x07, 0x02, 0x00, 0x00}));
  const Bytes got = Fins({0x07, 0x01});
  ASSERT_EQ(got.size(), 11u);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 4), (Bytes{0x07, 0x01, 0x00, 0x00}));
  const long drift = ClockSeconds(&got[4]) - ClockSeconds(set.data());
  EXPECT_GE(drift, 0);
  EXPECT_LE(drift, 3);
  EXPECT_EQ(got[10], 0x05);

  const std::tm tm = ctl().clock();
  EXPECT_EQ(tm.tm_year, 124);
  EXPECT_EQ(tm.tm_mon, 2);
  EXPECT_EQ(tm.tm_mday, 15);
  EXPECT_EQ(tm.tm_wday, 5);

  // Two-digit years: 70-99 are 19xx, 00-69 are 20xx; the day of week follows the date.
  EXPECT_EQ(Fins({0x07, 0x02, 0x75, 0x12, 0x31, 0x23, 0x00}), (Bytes{0x07, 0x02, 0x00, 0x00}));
  EXPECT_EQ(ctl().clock().tm_year, 75);
  EXPECT_EQ(ctl().clock().tm_wday, 3);
  EXPECT_EQ(Fins({0x07, 0x02, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00}), (Bytes{0x07, 0x02, 0, 0}));
  EXPECT_EQ(ctl().clock().tm_year, 100);
  EXPECT_EQ(ctl().clock().tm_wday, 6);
}

// ---- C-mode, and the memory both command sets share

struct SharedCase {
  uint8_t code;  // C-mode read code
  uint16_t cAddress;
  uint8_t finsArea;
  uint16_t finsAddress;
  uint32_t cSize;
  bool bytes;
};
// clang-format off
const SharedCase kShared[] = {
    {0x00, 10, 0x80, 10,     0x0A00, false},  // IR = CIO
    {0x02, 3,  0x80, 1003,   64,     false},  // LR = CIO 1000 + n
    {0x04, 7,  0xB2, 7,      0x0200, false},  // HR
    {0x06, 9,  0x81, 9,      0x1000, false},  // timer/counter PV
    {0x08, 9,  0x01, 9,      0x1000, true},   // timer/counter status
    {0x0A, 100, 0x82, 100,   0x8000, false},  // DM
    {0x1C, 5,  0x80, 0x0B05, 0x0200, false},  // AR = A
};
// clang-format on

TEST_F(SimTest, CmodeAndFinsShareOneMemory) {
  for (const SharedCase& c : kShared) {
    SCOPED_TRACE(testing::Message() << "C-mode code " << std::hex << int(c.code));
    const uint8_t fHi = static_cast<uint8_t>(c.finsAddress >> 8);
    const uint8_t fLo = static_cast<uint8_t>(c.finsAddress);
    const uint8_t cHi = static_cast<uint8_t>(c.cAddress >> 8);
    const uint8_t cLo = static_cast<uint8_t>(c.cAddress);
    const uint8_t write = static_cast<uint8_t>(c.code + 1);
    const Bytes one = c.bytes ? Bytes{0x01, 0x00} : Bytes{0x12, 0x34, 0x56, 0x78};
    const Bytes two = c.bytes ? Bytes{0x00, 0x01} : Bytes{0x9A, 0xBC, 0xDE, 0xF0};

    // FINS write, C-mode read.
    Fins(Cat({0x01, 0x02, c.finsArea, fHi, fLo, 0x00, 0x00, 0x02}, one));
    EXPECT_EQ(Cmode({c.code, cHi, cLo, 0x00, 0x02}), Cat({c.code, 0x00}, one));
    // C-mode write, FINS read.
    EXPECT_EQ(Cmode(Cat({write, cHi, cLo}, two)), (Bytes{write, 0x00}));
    EXPECT_EQ(Fins({0x01, 0x01, c.finsArea, fHi, fLo, 0x00, 0x00, 0x02}),
              Cat({0x01, 0x01, 0x00, 0x00}, two));

    // Bounds of the C-mode window.
    const uint8_t lastHi = static_cast<uint8_t>((c.cSize - 1) >> 8);
    const uint8_t lastLo = static_cast<uint8_t>(c.cSize - 1);
    EXPECT_EQ(Cmode({c.code, lastHi, lastLo, 0x00, 0x01}).size(), c.bytes ? 3u : 4u);
    EXPECT_EQ(Cmode({c.code, lastHi, lastLo, 0x00, 0x02}), (Bytes{c.code, 0x04}));
    EXPECT_EQ(Cmode(Cat({write, lastHi, lastLo}, two)), (Bytes{write, 0x04}));

    // In RUN mode writes are refused and change nothing.
    ctl().setMode(Mode::kRun);
    EXPECT_EQ(Cmode(Cat({write, cHi, cLo}, one)), (Bytes{write, 0x01}));
    EXPECT_EQ(Cmode({c.code, cHi, cLo, 0x00, 0x02}), Cat({c.code, 0x00}, two));
    ctl().setMode(Mode::kProgram);
  }
}

TEST_F(SimTest, CmodeRefusesMalformedCommandsWithTheirEndCodes) {
  struct Case {
    Bytes request, answer;
  };
  const Case cases[] = {
      {{0x0A, 0x00, 0x00, 0x00}, {0x0A, 0x14}},              // short read
      {{0x0A, 0x00, 0x00, 0x00, 0x01, 0x00}, {0x0A, 0x14}},  // long read
      {{0x0B, 0x00, 0x00}, {0x0B, 0x14}},                    // write without data
      {{0x0B, 0x00, 0x00, 0x12}, {0x0B, 0x14}},              // half a word
      {{0x0A, 0x00, 0x00, 0x03, 0xFB}, {0x0A, 0x18}},        // 1019 words: answer too long
      {{0x0C, 0x00, 0x00, 0x00, 0x01}, {0x0C, 0x16}},        // no such command
      {{0x11, 0x09}, {0x11, 0x15}},                          // no such mode
      {{0x11}, {0x11, 0x14}},
      {{0x10, 0x00}, {0x10, 0x14}},
      {{0x2D, 0x30, 0x45, 0x15, 0x10, 0x24, 0x13, 0x05}, {0x2D, 0x15}},  // month 13
      {{0x2D, 0x30, 0x45, 0x15, 0x10, 0x24, 0x03}, {0x2D, 0x14}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Cmode(c.request), c.answer) << testing::PrintToString(c.request);
  }
  EXPECT_EQ(Cmode({0x0A, 0x00, 0x00, 0x03, 0xFA}).size(), 2u + 2 * 1018);
}

TEST_F(SimTest, CmodeModeChangeAndStatus) {
  struct Case {
    uint8_t modeByte;
    Mode mode;
    Bytes status;  // d0..d4
  };
  const Case cases[] = {
      {0x04, Mode::kRun, {0x04, 0x01, 0x00, 0x01, 0x00}},
      {0x01, Mode::kProgram, {0x01, 0x00, 0x00, 0x01, 0x00}},  // allowed from RUN
      {0x02, Mode::kMonitor, {0x02, 0x01, 0x00, 0x01, 0x00}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Cmode({0x11, c.modeByte}), (Bytes{0x11, 0x00}));
    EXPECT_EQ(ctl().mode(), c.mode);
    EXPECT_EQ(Cmode({0x10}), Cat({0x10, 0x00}, c.status));
  }
  ctl().setErrorState(true);
  EXPECT_EQ(Cmode({0x10}), (Bytes{0x10, 0x00, 0x02, 0x01, 0x40, 0x01, 0x00}));
}

TEST_F(SimTest, CmodeClockWriteShowsInTheClockArWords) {
  // minute second day hour year month weekday: 2024-03-15 10:30:45, a Friday.
  const Bytes write = {0x2D, 0x30, 0x45, 0x15, 0x10, 0x24, 0x03, 0x05};
  struct Case {
    Ctl controller;
    uint8_t arWord;
  };
  for (const Case c : {Case{kProgram15, 18}, Case{kRun16, 20}}) {
    SCOPED_TRACE(int(c.arWord));
    const bool running = ctl(c.controller).mode() == Mode::kRun;
    EXPECT_EQ(Cmode(write, c.controller), (Bytes{0x2D, running ? uint8_t{0x01} : uint8_t{0x00}}));
    if (running) {
      ctl(c.controller).setMode(Mode::kMonitor);
      EXPECT_EQ(Cmode(write, c.controller), (Bytes{0x2D, 0x00}));
    }
    const Bytes ar = Cmode({0x1C, 0x00, c.arWord, 0x00, 0x03}, c.controller);
    ASSERT_EQ(ar.size(), 8u);
    const uint8_t asFins[6] = {ar[6], ar[7], ar[4], ar[5], ar[2], ar[3]};
    const uint8_t written[6] = {0x24, 0x03, 0x15, 0x10, 0x30, 0x45};
    const long drift = ClockSeconds(asFins) - ClockSeconds(written);
    EXPECT_GE(drift, 0);
    EXPECT_LE(drift, 3);
    // The same words through FINS (A area) and the API; writes to them do not stick.
    const uint16_t a = static_cast<uint16_t>(0x0B00 + c.arWord);
    EXPECT_EQ(ctl(c.controller).readWord(0x80, a + 2u), 0x2403);
    ctl(c.controller).writeWord(0x80, a + 2u, 0x0000);
    EXPECT_EQ(ctl(c.controller).readWord(0x80, a + 2u), 0x2403);
    const Bytes fins = Fins(
        {0x01, 0x01, 0x80, static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a), 0x00, 0x00, 0x03},
        c.controller);
    EXPECT_EQ(Bytes(fins.begin() + 8, fins.end()), (Bytes{0x24, 0x03}));
  }
}

TEST_F(SimTest, CmodeEchoCanCarryBit7) {
  EXPECT_EQ(Cmode({0x10}, kEcho21)[0], 0x90);
  EXPECT_EQ(Cmode({0x0A, 0x00, 0x00, 0x00, 0x01}, kEcho21), (Bytes{0x8A, 0x00, 0x00, 0x00}));
}

// ---- faults

struct FaultCase {
  const char* name;
  Fault fault;
  bool onController;  // else on the gateway
  Bytes request;      // to 1:5
  // Expected answer; nullopt = none at all.
  std::optional<Bytes> answer;
  bool closes = false;
  bool executes = true;  // the write of DM 0 lands
};

const Bytes kWriteDm0 = {0x01, 0x02, 0x82, 0x00, 0x00, 0x00, 0x00, 0x01, 0xBE, 0xEF};
const Bytes kCWriteDm0 = {0x0B, 0x00, 0x00, 0xBE, 0xEF};

Bytes FinsAnswer(const Bytes& body, uint8_t node = 5, uint8_t nsb = 0) {
  return Cat({0, 0, 1, node, 0, 0, kTimeoutTenths, nsb, static_cast<uint8_t>(body.size()), 0},
             body);
}
Bytes CAnswer(const Bytes& body) {
  return Cat({1, 0, 1, 5, 0, 0, kTimeoutTenths, 0, static_cast<uint8_t>(body.size()), 0}, body);
}

TEST_F(SimTest, EachFaultChangesTheNextAnswerOnly) {
  const Bytes fine = FinsAnswer({0x01, 0x02, 0x00, 0x00});
  const std::vector<FaultCase> cases = {
      {"no answer", {.kind = FaultKind::kNoAnswer}, false, kWriteDm0, std::nullopt, false, false},
      {"close", {.kind = FaultKind::kClose}, true, kWriteDm0, Bytes{}, true, false},
      {"nsb",
       {.kind = FaultKind::kGatewayError, .nsb = 0x21},
       false,
       kWriteDm0,
       FinsAnswer({}, 5, 0x21),
       false,
       false},
      {"wrong node",
       {.kind = FaultKind::kWrongNode, .node = 9},
       true,
       kWriteDm0,
       FinsAnswer({0x01, 0x02, 0x00, 0x00}, 9)},
      {"fins end",
       {.kind = FaultKind::kFinsEndCode, .finsMain = 0x02, .finsSub = 0x05},
       true,
       kWriteDm0,
       FinsAnswer({0x01, 0x02, 0x02, 0x05}),
       false,
       false},
      {"fins relay",
       {.kind = FaultKind::kFinsEndCode,
        .finsMain = 0x81,
        .finsSub = 0x01,
        .relay1 = 0x12,
        .relay2 = 0x34},
       false,
       kWriteDm0,
       FinsAnswer({0x01, 0x02, 0x81, 0x01, 0x12, 0x34}),
       false,
       false},
      {"c end",
       {.kind = FaultKind::kCmodeEndCode, .cEndCode = 0x13},
       true,
       kCWriteDm0,
       CAnswer({0x0B, 0x13}),
       false,
       false},
      {"wrong echo fins",
       {.kind = FaultKind::kWrongEcho, .echo = 0x0101},
       false,
       kWriteDm0,
       FinsAnswer({0x01, 0x01, 0x00, 0x00})},
      {"wrong echo c",
       {.kind = FaultKind::kWrongEcho, .echo = 0x0C},
       true,
       kCWriteDm0,
       CAnswer({0x0C, 0x00})},
      {"truncate",
       {.kind = FaultKind::kTruncate, .length = 12},
       false,
       kWriteDm0,
       Bytes(fine.begin(), fine.begin() + 12)},
  };
  uint16_t value = 0;
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    ctl().writeWord(0x82, 0, ++value);
    gw->clearRequests();
    c.onController ? ctl().injectFault(c.fault) : gw->injectFault(c.fault);
    client().Send(Request(c.request[0] == 0x0B ? kCmode : kFins, 1, 5, c.request));
    ASSERT_TRUE(gw->waitForRequests(1, milliseconds(2000)));
    const Bytes got = client().Read(c.answer ? c.answer->size() : 1, c.answer ? 3000 : 100);
    EXPECT_EQ(got, c.answer.value_or(Bytes{}));
    // Nothing beyond the expected bytes; for a close, the end of the stream.
    EXPECT_TRUE(client().Read(1, c.closes ? 3000 : 20).empty());
    EXPECT_EQ(client().eof(), c.closes);
    EXPECT_EQ(ctl().readWord(0x82, 0), c.executes ? 0xBEEF : value);
    if (c.closes) client_.reset();
    // Used up: the same request is answered normally.
    const bool cmode = c.request[0] == 0x0B;
    client().Send(Request(cmode ? kCmode : kFins, 1, 5, c.request));
    EXPECT_EQ(client().Frame(), cmode ? CAnswer({0x0B, 0x00}) : fine);
  }
}

TEST_F(SimTest, GarbageReplacesTheAnswer) {
  gw->injectFault({.kind = FaultKind::kGarbage, .length = 32});
  client().Send(Request(kFins, 1, 5, kWriteDm0));
  const Bytes got = client().Read(32, 3000);
  EXPECT_EQ(got.size(), 32u);
  EXPECT_NE(Bytes(got.begin(), got.begin() + 14), FinsAnswer({0x01, 0x02, 0x00, 0x00}));
  EXPECT_TRUE(client().Read(1, 20).empty());
}

TEST_F(SimTest, DelayAndPiecesHoldTheAnswerBack) {
  const Bytes read = {0x01, 0x01, 0x82, 0x00, 0x00, 0x00, 0x00, 0x04};  // 18-byte answer
  const Bytes answer = FinsAnswer({0x01, 0x01, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0});
  struct Case {
    Fault fault;
    long atLeastMs;
  };
  const Case cases[] = {
      {{.kind = FaultKind::kDelay, .delayMs = 150}, 150},
      {{.kind = FaultKind::kPieces, .pieceSize = 5, .pauseMs = 40}, 3 * 40},  // 4 pieces
      {{.kind = FaultKind::kPieces, .pieceSize = 100, .pauseMs = 500}, 0},    // one piece
  };
  for (const Case& c : cases) {
    ctl().injectFault(c.fault);
    const auto start = Clock::now();
    client().Send(Request(kFins, 1, 5, read));
    EXPECT_EQ(client().Frame(), answer);
    EXPECT_GE(Ms(start), c.atLeastMs);
  }
}

TEST_F(SimTest, FaultsCatchOnlyTheirCommandTargetAndCount) {
  const Bytes read = {0x01, 0x01, 0x82, 0x00, 0x00, 0x00, 0x00, 0x01};
  const Bytes readAnswer = FinsAnswer({0x01, 0x01, 0x00, 0x00, 0x00, 0x00});
  const Bytes status = {0x10};
  auto nsbOf = [&](uint16_t type, const Bytes& body, Ctl c = kProgram15) {
    client().Send(Request(type, c.network, c.node, body));
    const Bytes f = client().Frame();
    return f.size() >= 10 ? f[7] : 0xEE;
  };
  const Fault nsb = {.kind = FaultKind::kGatewayError, .nsb = 0x30};

  // By command: FINS write only; C-mode 10 only.
  Fault byCommand = nsb;
  byCommand.command = 0x0102;
  gw->injectFault(byCommand);
  EXPECT_EQ(nsbOf(kFins, read), 0);
  EXPECT_EQ(nsbOf(kFins, kWriteDm0), 0x30);
  byCommand.command = 0x10;
  gw->injectFault(byCommand);
  EXPECT_EQ(nsbOf(kFins, {0x00, 0x10}), 0);  // FINS code 0010 is not C-mode code 10
  EXPECT_EQ(nsbOf(kCmode, {0x0A, 0, 0, 0, 1}), 0);
  EXPECT_EQ(nsbOf(kCmode, status), 0x30);

  // By controller: the other node is untouched.
  ctl(kRun16).injectFault(nsb);
  EXPECT_EQ(nsbOf(kFins, read), 0);
  EXPECT_EQ(nsbOf(kFins, read, kRun16), 0x30);

  // By count: two, then none; every one until cleared.
  Fault twice = nsb;
  twice.remaining = 2;
  gw->injectFault(twice);
  EXPECT_EQ(nsbOf(kFins, read), 0x30);
  EXPECT_EQ(nsbOf(kCmode, status), 0x30);
  EXPECT_EQ(nsbOf(kFins, read), 0);
  Fault always = nsb;
  always.remaining = -1;
  ctl().injectFault(always);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(nsbOf(kFins, read), 0x30);
  ctl().clearFaults();
  client().Send(Request(kFins, 1, 5, read));
  EXPECT_EQ(client().Frame(), readAnswer);

  // Unfiltered faults leave the network-type query alone; a query filter catches only it.
  gw->injectFault({.kind = FaultKind::kNoAnswer});
  client().Send(kQuery);
  EXPECT_EQ(client().Frame().size(), 20u);
  gw->clearFaults();
  gw->injectFault(
      {.kind = FaultKind::kNoAnswer, .remaining = -1, .command = anynet_sim::kNetworkQuery});
  for (int i = 0; i < 2; ++i) {
    gw->clearRequests();
    client().Send(kQuery);
    ASSERT_TRUE(gw->waitForRequests(1, milliseconds(2000)));
    EXPECT_TRUE(client().Read(1, 50).empty());
  }
  client().Send(Request(kFins, 1, 5, read));
  EXPECT_EQ(client().Frame(), readAnswer);
}

TEST_F(SimTest, RefuseAndStopListening) {
  gw->injectFault({.kind = FaultKind::kRefuseConnection, .remaining = 2});
  for (int i = 0; i < 2; ++i) {
    Client refused(gw->address(), gw->port());
    ASSERT_EQ(refused.error(), 0);
    EXPECT_TRUE(refused.Read(1, 3000).empty());
    EXPECT_TRUE(refused.eof());
  }
  EXPECT_EQ(gw->connectionsAccepted(), 2);
  {
    Client ok(gw->address(), gw->port());
    ok.Send(kQuery);
    EXPECT_EQ(ok.Frame().size(), 20u);
    EXPECT_EQ(gw->openConnections(), 1);
  }
  EXPECT_TRUE(gw->waitForOpenConnections(0, milliseconds(2000)));

  // Until cleared: connects are refused, then the same port listens again.
  gw->injectFault({.kind = FaultKind::kStopListening});
  EXPECT_EQ(Client(gw->address(), gw->port()).error(), ECONNREFUSED);
  gw->clearFaults();
  Client again(gw->address(), gw->port());
  again.Send(kQuery);
  EXPECT_EQ(again.Frame().size(), 20u);

  // For a time: the gateway comes back by itself.
  gw->injectFault({.kind = FaultKind::kStopListening, .delayMs = 100});
  const auto start = Clock::now();
  EXPECT_EQ(Client(gw->address(), gw->port()).error(), ECONNREFUSED);
  int error = ECONNREFUSED;
  while (error != 0 && Ms(start) < 5000) {
    ::poll(nullptr, 0, 20);  // the timer runs in the simulator thread
    error = Client(gw->address(), gw->port()).error();
  }
  EXPECT_EQ(error, 0);
  EXPECT_GE(Ms(start), 100);
}

TEST_F(SimTest, FaultArgumentsAreChecked) {
  EXPECT_THROW(gw->injectFault({.kind = FaultKind::kDelay, .remaining = 0}), std::invalid_argument);
  EXPECT_THROW(ctl().injectFault({.kind = FaultKind::kRefuseConnection}), std::invalid_argument);
  EXPECT_THROW(ctl().injectFault({.kind = FaultKind::kPieces, .pieceSize = 0}),
               std::invalid_argument);
  EXPECT_THROW(gw->injectFault({.kind = FaultKind::kRefuseConnection, .command = 0x0101}),
               std::invalid_argument);
}

// ---- malformed input

TEST_F(SimTest, MalformedFramesCloseOnlyTheirConnection) {
  const Bytes bad[] = {
      {0x07, 0x00, 1, 5, 0, 0, 25, 0, 0, 0},        // unknown frame type
      {0x00, 0x00, 1, 5, 0, 0, 25, 0, 0x03, 0x08},  // body of 2051 bytes
      {0x01, 0x00, 1, 5, 0, 0, 25, 0, 0xFF, 0xFF},
  };
  Client other(gw->address(), gw->port());
  for (const Bytes& b : bad) {
    Client c(gw->address(), gw->port());
    c.Send(b);
    Bytes expect = b;
    expect[7] = 0x10;
    expect[8] = expect[9] = 0;
    EXPECT_EQ(c.Frame(), expect);
    EXPECT_TRUE(c.Read(1, 3000).empty());
    EXPECT_TRUE(c.eof());
  }
  other.Send(kQuery);
  EXPECT_EQ(other.Frame().size(), 20u);

  // Noise from many clients, some hanging up mid-frame, must not bring the gateway down.
  uint32_t seed = 12345;
  for (int i = 0; i < 40; ++i) {
    Client noisy(gw->address(), gw->port());
    Bytes noise(static_cast<size_t>(2 + i * 37 % 300));
    for (uint8_t& b : noise) {
      seed = seed * 1103515245u + 12345u;
      b = static_cast<uint8_t>(seed >> 16);
    }
    noise[0] = static_cast<uint8_t>(i % 3 == 0 ? 0x00 : noise[0]);
    noise[1] = 0;
    noisy.Send(noise);
  }
  other.Send(Request(kFins, 1, 5, {0x07, 0x01}));
  EXPECT_EQ(other.Frame().size(), 21u);
}

TEST_F(SimTest, RecordsRequestsAndConnections) {
  const Bytes frames[] = {kQuery, Request(kFins, 1, 5, {0x06, 0x01}),
                          Request(kCmode, 4, 4, {0x10})};
  for (const Bytes& f : frames) {
    client().Send(f);
    client().Frame();
  }
  EXPECT_EQ(gw->requests(), std::vector<Bytes>(std::begin(frames), std::end(frames)));
  EXPECT_EQ(gw->openConnections(), 1);
  client_.reset();
  EXPECT_TRUE(gw->waitForOpenConnections(0, milliseconds(2000)));
  EXPECT_EQ(gw->connectionsAccepted(), 1);
  gw->clearRequests();
  EXPECT_TRUE(gw->requests().empty());
}

// ---- API of the controller

TEST_F(SimTest, ControllerApiChecksItsArguments) {
  EXPECT_THROW(ctl().readWord(0x85, 0), std::out_of_range);
  EXPECT_THROW(ctl().readWord(0x82, 0x8000), std::out_of_range);
  EXPECT_THROW(ctl().writeByte(0x03, 0x0800, 1), std::out_of_range);
  EXPECT_THROW(gw->controller(1, 99), std::out_of_range);
  EXPECT_THROW(gw->addController({.network = 1, .node = 5}), std::invalid_argument);
  EXPECT_THROW(gw->addController({.network = 1, .node = 7, .clockArWord = 510}),
               std::invalid_argument);
  std::tm bad{};
  bad.tm_year = 124;
  bad.tm_mon = 1;
  bad.tm_mday = 30;
  EXPECT_THROW(ctl().setClock(bad), std::invalid_argument);

  ctl().writeByte(0x03, 5, 0xAB);
  EXPECT_EQ(ctl().readByte(0x03, 5), 0xAB);
  ctl().writeWord(0x01, 5, 0x1234);  // byte-wide: only the low byte stays
  EXPECT_EQ(ctl().readWord(0x01, 5), 0x34);
  Controller& added = gw->addController({.network = 1, .node = 7});
  EXPECT_EQ(&gw->controller(1, 7), &added);
}

// ---- log

TEST(Simulator, LogsOneDecodedLinePerFrame) {
  std::mutex mu;
  std::vector<std::string> lines;
  anynet_sim::Simulator sim([&](const std::string& line) {
    std::lock_guard lock(mu);
    lines.push_back(line);
  });
  Gateway& gw = sim.AddGateway({.address = "127.0.0.2", .port = 0, .controllers = {{1, 5}}});
  gw.injectFault({.kind = FaultKind::kDelay, .command = 0x0A, .delayMs = 1});
  Client c(gw.address(), gw.port());
  c.Send(Request(kFins, 1, 5, {0x01, 0x01, 0x82, 0x00, 0x64, 0x00, 0x00, 0x02}));
  c.Frame();
  c.Send(Request(kCmode, 1, 5, {0x0A, 0x00, 0x64, 0x00, 0x02}));
  c.Frame();
  c.Send(Request(kFins, 1, 9, {0x04, 0x01, 0x00, 0x00, 0x04}));
  c.Frame();
  sim.Stop();  // every line is out once the thread has stopped
  const std::string prefix = "127.0.0.2:" + std::to_string(gw.port()) + " #1 ";
  const std::vector<std::string> expect = {
      prefix + "connection from 127.0.0.1",
      prefix + "FINS 1:5 0101 read DM(82) addr 100 count 2 -> end 00 00",
      prefix + "C-mode 1:5 0A read DM addr 100 count 2 -> end 00 [fault delay 1ms]",
      prefix + "FINS 1:9 0401 run mode 04 -> NSB 02 (no such node)",
  };
  ASSERT_GE(lines.size(), expect.size());
  for (size_t i = 0; i < expect.size(); ++i) {
    EXPECT_EQ(lines[i].substr(0, expect[i].size()), expect[i]);
  }
}

// ---- plant description

TEST(Plant, ParsesTheConfigFormat) {
  const anynet_sim::Plant plant = anynet_sim::ParsePlant(R"(
# two gateways
gateway 127.0.0.2 port=0 network=SNT
controller 1:5 clock=20 mode=run
controller 1:6, echo-bit7   # commas work as blanks
fault delay ms=010 cmd=0101 count=3 at=1:5
fault no-answer cmd=query count=every
gateway 127.0.0.3 network="text:MY NET"
fault fins-end main=0x81 sub=02 relay=1234 cmd=0A
fault refuse count=2
)");
  ASSERT_EQ(plant.gateways.size(), 2u);
  const auto& a = plant.gateways[0];
  EXPECT_EQ(a.config.address, "127.0.0.2");
  EXPECT_EQ(a.config.port, 0);
  EXPECT_EQ(a.config.networkText, "SYSMAC SNT");
  ASSERT_EQ(a.config.controllers.size(), 2u);
  EXPECT_EQ(a.config.controllers[0].clockArWord, 20);
  EXPECT_EQ(a.config.controllers[0].mode, Mode::kRun);
  EXPECT_TRUE(a.config.controllers[1].cmodeEchoBit7);
  ASSERT_EQ(a.faults.size(), 2u);
  EXPECT_EQ(a.faults[0].fault.kind, FaultKind::kDelay);
  EXPECT_EQ(a.faults[0].fault.delayMs, 10u);  // decimal, not octal
  EXPECT_EQ(a.faults[0].fault.command, 0x0101);
  EXPECT_EQ(a.faults[0].fault.remaining, 3);
  EXPECT_EQ(a.faults[0].controller, (std::pair<uint8_t, uint8_t>{1, 5}));
  EXPECT_EQ(a.faults[1].fault.command, anynet_sim::kNetworkQuery);
  EXPECT_EQ(a.faults[1].fault.remaining, -1);
  const auto& b = plant.gateways[1];
  EXPECT_EQ(b.config.networkText, "MY NET");
  EXPECT_EQ(b.config.port, 1023);
  const Fault& relay = b.faults[0].fault;
  EXPECT_EQ(relay.finsMain, 0x81);
  EXPECT_EQ(relay.finsSub, 0x02);
  EXPECT_EQ(relay.relay1, 0x12);
  EXPECT_EQ(relay.relay2, 0x34);
  EXPECT_EQ(relay.command, 0x0A);  // two digits: a C-mode code
  EXPECT_EQ(b.faults[1].fault.kind, FaultKind::kRefuseConnection);
  EXPECT_EQ(b.faults[1].fault.remaining, 2);
  EXPECT_NO_THROW(anynet_sim::CheckPlant(plant));
}

TEST(Plant, RejectsWhatItDoesNotKnow) {
  const char* bad[] = {
      "controller 1:5",  // before any gateway
      "gateway 127.0.0.2 prot=1023",
      "gateway 127.0.0.2 network=SLX",
      "gateway 127.0.0.2 port=70000",
      "gateway 127.0.0.2\ncontroller 1-5",
      "gateway 127.0.0.2\ncontroller 1:256",
      "gateway 127.0.0.2\ncontroller 1:5 mode=running",
      "gateway 127.0.0.2\ncontroller 1:5 clock=510",
      "gateway 127.0.0.2\nfault dealy ms=5",
      "gateway 127.0.0.2\nfault delay",
      "gateway 127.0.0.2\nfault delay ms=5x",
      "gateway 127.0.0.2\nfault delay ms=-5",
      "gateway 127.0.0.2\nfault delay ms=5 size=3",
      "gateway 127.0.0.2\nfault delay ms=5 ms=6",
      "gateway 127.0.0.2\nfault nsb code=1G",
      "gateway 127.0.0.2\nfault nsb count=0",
      "gateway 127.0.0.2\nfault nsb cmd=00FF",
      "gateway 127.0.0.2\nfault nsb cmd=12345",
      "gateway 127.0.0.2\nfault refuse cmd=0101",
      "gateway 127.0.0.2\nfault stop-listening count=2",
      "gateway 127.0.0.2\nfault truncate",
      "gateway 127.0.0.2\nfaults close",
      "gateway 127.0.0.2 network=\"text:open",
  };
  for (const char* text : bad) {
    EXPECT_THROW(anynet_sim::ParsePlant(text), anynet_sim::ConfigError) << text;
  }
  try {
    anynet_sim::ParsePlant("gateway 127.0.0.2\n\nfault dealy ms=5");
    ADD_FAILURE();
  } catch (const anynet_sim::ConfigError& e) {
    EXPECT_EQ(std::string(e.what()).substr(0, 7), "line 3:");
  }
  const char* inconsistent[] = {
      "",
      "gateway 127.0.0.2\ncontroller 1:5\ncontroller 1:5",
      "gateway 127.0.0.2\ncontroller 1:5\nfault close at=1:6",
  };
  for (const char* text : inconsistent) {
    EXPECT_THROW(anynet_sim::CheckPlant(anynet_sim::ParsePlant(text)), anynet_sim::ConfigError)
        << text;
  }
}

TEST(Plant, TheExampleFileStartsAndServes) {
  std::ifstream in(ANYNET_SIM_EXAMPLE);
  ASSERT_TRUE(in) << ANYNET_SIM_EXAMPLE;
  std::stringstream text;
  text << in.rdbuf();
  anynet_sim::Plant plant = anynet_sim::ParsePlant(text.str());
  for (auto& g : plant.gateways) g.config.port = 0;  // 1023 may be taken by other tests
  anynet_sim::Simulator sim;
  const std::vector<Gateway*> gws = anynet_sim::ApplyPlant(sim, plant);
  ASSERT_EQ(gws.size(), plant.gateways.size());
  for (Gateway* g : gws) {
    // The example refuses some first connections on purpose; a second one must be served.
    Bytes answer;
    for (int attempt = 0; attempt < 2 && answer.empty(); ++attempt) {
      Client c(g->address(), g->port());
      c.Send(kQuery);
      answer = c.Frame();
    }
    EXPECT_GE(answer.size(), 10u) << g->address();
  }
}

}  // namespace
