// One gateway: its listening socket, its connections and the controllers behind it.
#pragma once

#include <netinet/in.h>
#include <poll.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "anynet_sim/sim.h"
#include "fault_list.h"
#include "fd.h"

namespace anynet_sim::detail {

class GatewayCore {
 public:
  using LogFn = std::function<void(const std::string&)>;
  using TimePoint = std::chrono::steady_clock::time_point;

  GatewayCore(const GatewayConfig& cfg, LogFn log, std::function<void()> wake);

  // Gateway API, same names.
  const std::string& address() const { return address_; }
  uint16_t port() const { return port_; }
  std::vector<std::vector<uint8_t>> requests() const;
  void clearRequests();
  bool waitForRequests(size_t count, std::chrono::milliseconds timeout) const;
  bool waitForOpenConnections(int count, std::chrono::milliseconds timeout) const;
  int connectionsAccepted() const;
  int openConnections() const;
  Controller& controller(uint8_t network, uint8_t node);
  Controller& addController(const ControllerConfig& cfg);
  void injectFault(const Fault& f);
  void clearFaults();
  void setNetworkText(std::optional<std::string> text);

  // Simulator thread: append this gateway's descriptors, lower wakeAt to its next timer,
  // then handle what poll() reported for those descriptors.
  void CollectPoll(std::vector<pollfd>& fds, TimePoint now, TimePoint& wakeAt);
  void Process(std::span<const pollfd> fds, TimePoint now);
  // Closes every socket; called once the simulator thread has stopped.
  void Shutdown();

 private:
  struct Chunk {
    std::vector<uint8_t> bytes;
    size_t sent = 0;
    TimePoint due;
    bool closeAfter = false;
  };
  struct Connection {
    UniqueFd fd;
    int id = 0;
    std::vector<uint8_t> in;
    std::deque<Chunk> out;
    bool reading = true;
    bool dead = false;
  };

  void Listen();  // throws BindError
  void StopListening(const Fault& f, TimePoint now);
  void Accept();
  void Receive(Connection& c, TimePoint now);
  void Flush(Connection& c, TimePoint now);
  void OnFrame(Connection& c, std::span<const uint8_t> frame, TimePoint now);
  bool SwallowOrClose(Connection& c, const std::vector<Fault>& faults, const std::string& line,
                      TimePoint now);
  void OnQuery(Connection& c, TimePoint now);
  void OnCommand(Connection& c, std::span<const uint8_t> frame, TimePoint now);
  void OnMalformed(Connection& c, const char* reason, TimePoint now);
  // Applies the delivery faults (truncate, garbage, delay, pieces) and queues the answer.
  void Deliver(Connection& c, std::vector<uint8_t> answer, const std::vector<Fault>& faults,
               TimePoint now);
  Controller* Find(uint8_t network, uint8_t node);
  std::string Prefix(const Connection& c) const;
  void Log(std::string line);  // queued while mu_ is held, written after

  const std::string address_;
  sockaddr_in bindAddr_{};
  uint16_t port_ = 0;
  const LogFn log_;
  const std::function<void()> wake_;

  mutable std::mutex mu_;
  mutable std::condition_variable changed_;
  UniqueFd listen_;
  bool suspended_ = false;             // stop-listening fault in force
  bool shutDown_ = false;              // the simulator has stopped: never listen again
  std::optional<TimePoint> resumeAt_;  // when a timed stop-listening ends
  std::optional<std::string> networkText_;
  std::vector<std::unique_ptr<Controller>> controllers_;
  FaultList faults_;
  std::vector<std::unique_ptr<Connection>> conns_;
  std::deque<std::vector<uint8_t>> requests_;
  std::vector<std::string> pendingLog_;
  int accepted_ = 0;
  int nextId_ = 1;
  uint32_t garbageSeed_ = 0x2545F491u;
};

}  // namespace anynet_sim::detail
