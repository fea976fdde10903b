// anynet-sim: an AnyNet TCP/IP gateway with Omron controllers behind it, for tests.
//
// Usage in a test fixture:
//
//   anynet_sim::Simulator sim;                       // starts the background poll thread
//   anynet_sim::GatewayConfig cfg;                    // 127.0.0.2:1023, "SYSMAC SLK"
//   cfg.port = 0;                                     // any free port; see Gateway::port()
//   cfg.controllers.push_back({.network = 1, .node = 5});
//   anynet_sim::Gateway& gw = sim.AddGateway(cfg);    // listening when this returns
//   gw.controller(1, 5).writeWord(0x82, 100, 0x1234); // DM100
//   gw.injectFault({.kind = anynet_sim::FaultKind::kDelay, .delayMs = 200});
//   ... drive the client ...
//   sim.Stop();                                       // also done by ~Simulator
//
// Every Gateway and Controller method is thread-safe and may be called while the simulator runs.
// References returned by AddGateway() and controller() stay valid until the Simulator is
// destroyed (also after Stop(), so recorded requests can still be read).
//
// Memory is addressed through FINS memory-area codes (see README.md for the table and for how
// the C-mode codes reach the same memory):
//   0x80 CIO (IR 0-2559, LR at 1000-1063, G at 0x0A00, A/AR at 0x0B00), 0x81 timer/counter PV,
//   0x01 timer/counter flags (bytes), 0x82 DM, 0x90-0x97 EM banks, 0x98 EM current bank (bank 0),
//   0x03 / 0x04 / 0x44 byte areas, 0x9C registers, 0xB2 HR.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace anynet_sim {

namespace detail {
class ControllerCore;
class GatewayCore;
class Loop;
}  // namespace detail

enum class Mode : uint8_t { kProgram, kMonitor, kRun };

struct ControllerConfig {
  uint8_t network = 1;
  uint8_t node = 5;
  uint16_t clockArWord = 18;  // first of the three AR words that show the clock
  Mode mode = Mode::kProgram;
  bool cmodeEchoBit7 = false;  // C-mode answers echo the command byte with bit 7 set
};

struct GatewayConfig {
  std::string address = "127.0.0.2";  // IPv4 literal
  uint16_t port = 1023;               // 0 = any free port
  // Text after the header of the network-type answer; nullopt = header only.
  std::optional<std::string> networkText = "SYSMAC SLK";
  std::vector<ControllerConfig> controllers = {};
};

enum class FaultKind : uint8_t {
  kNoAnswer,          // swallow the request; it is not executed
  kDelay,             // answer after delayMs
  kClose,             // close the connection instead of answering; not executed
  kPieces,            // send the answer pieceSize bytes at a time, pauseMs apart
  kGatewayError,      // header-only answer with NSB = nsb; not executed
  kWrongNode,         // answer header names node `node`
  kFinsEndCode,       // FINS answer with end code finsMain/finsSub (+relay bytes when bit 7)
  kCmodeEndCode,      // C-mode answer with end code cEndCode; not executed
  kWrongEcho,         // FINS: echo 16-bit `echo`; C-mode: echo its low byte
  kTruncate,          // send only the first `length` bytes of the answer frame
  kGarbage,           // send `length` pseudo-random bytes instead of the answer
  kRefuseConnection,  // gateway only: accept a new connection and close it at once
  kStopListening,     // gateway only: close the listening socket (connects are refused)
};

// Filter value that selects the network-type query instead of a FINS or C-mode command.
inline constexpr uint16_t kNetworkQuery = 0xFFFF;

struct Fault {
  FaultKind kind = FaultKind::kNoAnswer;
  // Frames (or, for kRefuseConnection, connections) this fault still applies to; -1 = all.
  // Ignored by kStopListening.
  int remaining = 1;
  // nullopt: every FINS and C-mode frame (never the network-type query).
  // 0x0000-0x00FF: the C-mode command byte; 0x0100-0xFFFE: the FINS command code;
  // kNetworkQuery: only the network-type query.
  std::optional<uint16_t> command = std::nullopt;
  uint32_t delayMs = 0;     // kDelay: answer delay; kStopListening: duration, 0 = until cleared
  uint32_t pieceSize = 1;   // kPieces
  uint32_t pauseMs = 50;    // kPieces
  uint8_t nsb = 0x01;       // kGatewayError
  uint8_t node = 0;         // kWrongNode
  uint8_t finsMain = 0x01;  // kFinsEndCode
  uint8_t finsSub = 0x01;
  uint8_t relay1 = 0;  // sent after the end code when finsMain has bit 7 set
  uint8_t relay2 = 0;
  uint8_t cEndCode = 0x01;  // kCmodeEndCode
  uint16_t echo = 0;        // kWrongEcho
  uint32_t length = 0;      // kTruncate: bytes kept; kGarbage: bytes sent
};

// Thrown by AddGateway() when the socket cannot be bound; error() is the errno value.
class BindError : public std::runtime_error {
 public:
  BindError(const std::string& what, int error) : std::runtime_error(what), error_(error) {}
  int error() const { return error_; }

 private:
  int error_;
};

class Controller {
 public:
  ~Controller();
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  uint8_t network() const;
  uint8_t node() const;

  // Throw std::out_of_range for an unknown area or an address outside it. Byte-wide areas
  // hold values 0-255; writeByte() on a word area sets the whole word to the byte.
  uint16_t readWord(uint8_t finsArea, uint32_t address) const;
  void writeWord(uint8_t finsArea, uint32_t address, uint16_t value);
  uint8_t readByte(uint8_t finsArea, uint32_t address) const;
  void writeByte(uint8_t finsArea, uint32_t address, uint8_t value);

  Mode mode() const;
  void setMode(Mode);

  // The controller's clock: local time of this PC plus the offset that clock writes set.
  // setClock() throws std::invalid_argument for a date it cannot hold (years 1970-2069).
  std::tm clock() const;
  void setClock(const std::tm&);

  bool errorState() const;
  void setErrorState(bool);

  // Throws std::invalid_argument for gateway-only kinds or remaining == 0.
  void injectFault(const Fault&);
  void clearFaults();

 private:
  friend class detail::GatewayCore;
  explicit Controller(const ControllerConfig&);
  std::unique_ptr<detail::ControllerCore> core_;
};

class Gateway {
 public:
  ~Gateway();
  Gateway(const Gateway&) = delete;
  Gateway& operator=(const Gateway&) = delete;

  const std::string& address() const;
  uint16_t port() const;  // the bound port, also when configured as 0

  // Every whole frame received (header + body), oldest first, network-type queries
  // included; the oldest are dropped past 4096 frames.
  std::vector<std::vector<uint8_t>> requests() const;
  void clearRequests();
  // Bounded waits for the simulator thread to catch up; true when reached in time.
  bool waitForRequests(size_t count, std::chrono::milliseconds timeout) const;
  bool waitForOpenConnections(int count, std::chrono::milliseconds timeout) const;

  int connectionsAccepted() const;  // refused ones included
  int openConnections() const;

  // Throws std::out_of_range when the gateway has no such controller.
  Controller& controller(uint8_t network, uint8_t node);
  // Throws std::invalid_argument when (network, node) already exists.
  Controller& addController(const ControllerConfig&);

  // Applies to every frame through this gateway, whatever its destination; kStopListening
  // takes effect before injectFault() returns. Throws std::invalid_argument for remaining == 0.
  void injectFault(const Fault&);
  void clearFaults();  // also listens again after kStopListening
  void setNetworkText(std::optional<std::string>);

 private:
  friend class Simulator;
  friend class detail::Loop;
  Gateway(const GatewayConfig&, std::function<void(const std::string&)> log,
          std::function<void()> wake);
  std::unique_ptr<detail::GatewayCore> core_;
};

class Simulator {
 public:
  // log receives one decoded line per frame and connection event (from the simulator thread);
  // an empty function logs nothing.
  explicit Simulator(std::function<void(const std::string&)> log = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Binds and listens before returning. Throws BindError when the address cannot be bound,
  // std::invalid_argument for a bad address or duplicate controllers, std::logic_error after
  // Stop().
  Gateway& AddGateway(const GatewayConfig&);
  // Closes every socket and joins the thread; idempotent.
  void Stop();

 private:
  std::unique_ptr<detail::Loop> loop_;
};

// Names used by the log, the command line and the config file ("no-answer", "delay", ...).
const char* FaultKindName(FaultKind);

}  // namespace anynet_sim
