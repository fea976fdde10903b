#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "anynet_sim/frame.h"
#include "bytes.h"
#include "controller_core.h"
#include "gateway_core.h"

namespace anynet_sim {
namespace detail {

namespace {

// Gateway error bytes (NSB) of this simulator.
// clang-format off
constexpr uint8_t kNsbUnknownNetwork = 0x01;  // no controller on that network
constexpr uint8_t kNsbUnknownNode    = 0x02;  // network known, node not
constexpr uint8_t kNsbBadFrame       = 0x10;  // the request could not be framed
// clang-format on

constexpr size_t kMaxRequestFrame = kHeaderSize + kMaxRequestBody;
constexpr size_t kRequestHistory = 4096;
constexpr int kMaxConnections = 64;
constexpr int kAcceptsPerRound = 64;
constexpr int kBacklog = 128;
constexpr size_t kMaxQueuedChunks = 256;
constexpr auto kRelistenRetry = std::chrono::milliseconds(100);

const Fault* FindFault(const std::vector<Fault>& faults, FaultKind kind) {
  for (const Fault& f : faults) {
    if (f.kind == kind) return &f;
  }
  return nullptr;
}

std::vector<uint8_t> AnswerFrame(uint16_t type, uint8_t network, uint8_t node, uint8_t timeout,
                                 uint8_t nsb, std::span<const uint8_t> body) {
  std::vector<uint8_t> frame(kHeaderSize + body.size(), 0);
  put16le(&frame[0], type);
  frame[2] = network;
  frame[3] = node;
  frame[6] = timeout;
  frame[7] = nsb;
  put16le(&frame[8], static_cast<uint16_t>(body.size()));
  std::copy(body.begin(), body.end(), frame.begin() + kHeaderSize);
  return frame;
}

std::string FaultText(const std::vector<Fault>& faults) {
  if (faults.empty()) return "";
  std::string text = " [fault ";
  for (size_t i = 0; i < faults.size(); ++i) {
    if (i > 0) text += ", ";
    text += DescribeFault(faults[i]);
  }
  return text + "]";
}

std::string Hex(uint8_t v) {
  char buf[4];
  std::snprintf(buf, sizeof buf, "%02X", v);
  return buf;
}

}  // namespace

GatewayCore::GatewayCore(const GatewayConfig& cfg, LogFn log, std::function<void()> wake)
    : address_(cfg.address),
      log_(std::move(log)),
      wake_(std::move(wake)),
      networkText_(cfg.networkText) {
  bindAddr_.sin_family = AF_INET;
  bindAddr_.sin_port = htons(cfg.port);
  if (inet_pton(AF_INET, cfg.address.c_str(), &bindAddr_.sin_addr) != 1) {
    throw std::invalid_argument("gateway address '" + cfg.address + "' is not an IPv4 address");
  }
  for (const ControllerConfig& c : cfg.controllers) addController(c);
  Listen();
}

void GatewayCore::Listen() {
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) throw BindError(std::string("socket: ") + std::strerror(errno), errno);
  const int on = 1;
  ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr = bindAddr_;
  if (port_ != 0) addr.sin_port = htons(port_);  // listen again on the port first bound
  const std::string where = address_ + ":" + std::to_string(ntohs(addr.sin_port));
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    const int err = errno;
    throw BindError("cannot bind " + where + ": " + std::strerror(err), err);
  }
  if (::listen(fd.get(), kBacklog) != 0) {
    const int err = errno;
    throw BindError("cannot listen on " + where + ": " + std::strerror(err), err);
  }
  if (port_ == 0) {  // first bind; port() reads it without the lock from then on
    socklen_t len = sizeof addr;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  listen_ = std::move(fd);
}

std::vector<std::vector<uint8_t>> GatewayCore::requests() const {
  std::lock_guard lock(mu_);
  return {requests_.begin(), requests_.end()};
}

void GatewayCore::clearRequests() {
  std::lock_guard lock(mu_);
  requests_.clear();
}

bool GatewayCore::waitForRequests(size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mu_);
  return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

bool GatewayCore::waitForOpenConnections(int count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mu_);
  return changed_.wait_for(lock, timeout, [&] { return static_cast<int>(conns_.size()) == count; });
}

int GatewayCore::connectionsAccepted() const {
  std::lock_guard lock(mu_);
  return accepted_;
}

int GatewayCore::openConnections() const {
  std::lock_guard lock(mu_);
  return static_cast<int>(conns_.size());
}

Controller* GatewayCore::Find(uint8_t network, uint8_t node) {
  for (auto& c : controllers_) {
    if (c->network() == network && c->node() == node) return c.get();
  }
  return nullptr;
}

Controller& GatewayCore::controller(uint8_t network, uint8_t node) {
  std::lock_guard lock(mu_);
  Controller* c = Find(network, node);
  if (c == nullptr) {
    throw std::out_of_range("gateway " + address_ + " has no controller " +
                            std::to_string(network) + ":" + std::to_string(node));
  }
  return *c;
}

Controller& GatewayCore::addController(const ControllerConfig& cfg) {
  std::lock_guard lock(mu_);
  if (Find(cfg.network, cfg.node) != nullptr) {
    throw std::invalid_argument("controller " + std::to_string(cfg.network) + ":" +
                                std::to_string(cfg.node) + " is defined twice");
  }
  controllers_.push_back(std::unique_ptr<Controller>(new Controller(cfg)));
  return *controllers_.back();
}

void GatewayCore::injectFault(const Fault& f) {
  CheckFault(f);
  {
    std::lock_guard lock(mu_);
    if (f.kind == FaultKind::kStopListening) {
      StopListening(f, std::chrono::steady_clock::now());
    } else {
      faults_.add(f);
    }
  }
  wake_();
}

void GatewayCore::StopListening(const Fault& f, TimePoint now) {
  // shutdown() drops the listen state at once, even while poll() still holds the socket.
  if (listen_.valid()) ::shutdown(listen_.get(), SHUT_RDWR);
  listen_.reset();
  suspended_ = true;
  resumeAt_.reset();
  if (f.delayMs > 0) resumeAt_ = now + std::chrono::milliseconds(f.delayMs);
  Log(address_ + ":" + std::to_string(port_) + " stopped listening [fault " + DescribeFault(f) +
      "]");
}

void GatewayCore::clearFaults() {
  {
    std::lock_guard lock(mu_);
    faults_.clear();
    if (suspended_ && !shutDown_) {
      Listen();
      suspended_ = false;
      resumeAt_.reset();
      Log(address_ + ":" + std::to_string(port_) + " listening again");
    }
  }
  wake_();
}

void GatewayCore::setNetworkText(std::optional<std::string> text) {
  std::lock_guard lock(mu_);
  networkText_ = std::move(text);
}

void GatewayCore::Log(std::string line) {
  if (log_) pendingLog_.push_back(std::move(line));
}

std::string GatewayCore::Prefix(const Connection& c) const {
  return address_ + ":" + std::to_string(port_) + " #" + std::to_string(c.id) + " ";
}

void GatewayCore::CollectPoll(std::vector<pollfd>& fds, TimePoint now, TimePoint& wakeAt) {
  std::lock_guard lock(mu_);
  if (listen_.valid()) fds.push_back({listen_.get(), POLLIN, 0});
  if (resumeAt_) wakeAt = std::min(wakeAt, *resumeAt_);
  for (const auto& c : conns_) {
    // A client that sends without reading its answers gets no more reads until it catches up.
    short events = c->reading && c->out.size() < kMaxQueuedChunks ? POLLIN : 0;
    if (!c->out.empty()) {
      if (c->out.front().due <= now) {
        events |= POLLOUT;
      } else {
        wakeAt = std::min(wakeAt, c->out.front().due);
      }
    }
    fds.push_back({c->fd.get(), events, 0});
  }
}

void GatewayCore::Process(std::span<const pollfd> fds, TimePoint now) {
  std::vector<std::string> lines;
  {
    std::lock_guard lock(mu_);
    bool acceptable = false;
    for (const pollfd& p : fds) {
      if (p.revents == 0) continue;
      if (listen_.valid() && p.fd == listen_.get()) {
        acceptable = true;
        continue;
      }
      for (auto& c : conns_) {
        if (c->fd.get() != p.fd || c->dead) continue;
        if (p.revents & (POLLIN | POLLHUP | POLLERR)) Receive(*c, now);
        break;
      }
    }
    for (auto& c : conns_) {
      if (!c->dead) Flush(*c, now);
    }
    const size_t before = conns_.size();
    std::erase_if(conns_, [](const auto& c) { return c->dead; });
    if (conns_.size() != before) changed_.notify_all();
    if (acceptable) Accept();
    if (suspended_ && resumeAt_ && *resumeAt_ <= now) {
      try {
        Listen();
        suspended_ = false;
        resumeAt_.reset();
        Log(address_ + ":" + std::to_string(port_) + " listening again");
      } catch (const std::exception& e) {
        resumeAt_ = now + kRelistenRetry;
        Log(e.what());
      }
    }
    lines.swap(pendingLog_);
  }
  for (const std::string& line : lines) log_(line);
}

void GatewayCore::Accept() {
  for (int i = 0; i < kAcceptsPerRound; ++i) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    UniqueFd fd(::accept4(listen_.get(), reinterpret_cast<sockaddr*>(&peer), &len,
                          SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.valid()) return;  // EAGAIN, or an error on a connection that died in the backlog
    ++accepted_;
    char host[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, host, sizeof host);
    const int id = nextId_++;
    const std::string who = address_ + ":" + std::to_string(port_) + " #" + std::to_string(id) +
                            " connection from " + host + ":" + std::to_string(ntohs(peer.sin_port));
    if (faults_.takeRefusal()) {
      Log(who + " closed at once [fault refuse]");
    } else if (static_cast<int>(conns_.size()) >= kMaxConnections) {
      Log(who + " closed at once: " + std::to_string(kMaxConnections) + " connections open");
    } else {
      // Answers, and each piece of a pieces fault, leave at once.
      const int on = 1;
      ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      auto c = std::make_unique<Connection>();
      c->fd = std::move(fd);
      c->id = id;
      conns_.push_back(std::move(c));
      Log(who);
    }
    changed_.notify_all();
  }
}

void GatewayCore::Receive(Connection& c, TimePoint now) {
  uint8_t buf[kMaxRequestFrame];
  // Never more than one whole frame is buffered: a frame completes at kMaxRequestFrame.
  const size_t room = c.reading ? kMaxRequestFrame - c.in.size() : sizeof buf;
  const ssize_t n = ::recv(c.fd.get(), buf, room, 0);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    Log(Prefix(c) + (n == 0 ? "closed by client" : "closed: " + std::string(strerror(errno))));
    c.dead = true;
    return;
  }
  if (n < 0 || !c.reading) return;  // after a close fault the rest is dropped
  c.in.insert(c.in.end(), buf, buf + n);
  while (c.reading) {
    const FrameCheck check = CheckFrame(c.in);
    if (check.status == FrameStatus::kNeedMore) break;
    if (check.status == FrameStatus::kMalformed) {
      OnMalformed(c, check.reason, now);
      break;
    }
    const std::vector<uint8_t> frame(c.in.begin(), c.in.begin() + check.bytes);
    c.in.erase(c.in.begin(), c.in.begin() + check.bytes);
    OnFrame(c, frame, now);
  }
}

void GatewayCore::Flush(Connection& c, TimePoint now) {
  while (!c.out.empty() && c.out.front().due <= now) {
    Chunk& chunk = c.out.front();
    while (chunk.sent < chunk.bytes.size()) {
      const ssize_t n = ::send(c.fd.get(), chunk.bytes.data() + chunk.sent,
                               chunk.bytes.size() - chunk.sent, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
        Log(Prefix(c) + "closed: " + std::strerror(errno));
        c.dead = true;
        return;
      }
      chunk.sent += static_cast<size_t>(n);
    }
    if (chunk.closeAfter) {
      Log(Prefix(c) + "closed by the gateway");
      c.dead = true;
      return;
    }
    c.out.pop_front();
  }
}

void GatewayCore::OnFrame(Connection& c, std::span<const uint8_t> frame, TimePoint now) {
  requests_.emplace_back(frame.begin(), frame.end());
  if (requests_.size() > kRequestHistory) requests_.pop_front();
  changed_.notify_all();
  if (get16le(frame.data()) == static_cast<uint16_t>(FrameType::kNetworkQuery)) {
    OnQuery(c, now);
  } else {
    OnCommand(c, frame, now);
  }
}

// The faults that leave a request without an answer: true when one applied.
bool GatewayCore::SwallowOrClose(Connection& c, const std::vector<Fault>& faults,
                                 const std::string& line, TimePoint now) {
  if (FindFault(faults, FaultKind::kNoAnswer)) {
    Log(line + "no answer" + FaultText(faults));
    return true;
  }
  if (FindFault(faults, FaultKind::kClose)) {
    c.reading = false;
    c.out.push_back({{}, 0, now, true});
    Log(line + "connection closed" + FaultText(faults));
    return true;
  }
  return false;
}

void GatewayCore::OnQuery(Connection& c, TimePoint now) {
  const std::vector<Fault> faults = faults_.take(FrameKind::kQuery, kNetworkQuery);
  std::string line = Prefix(c) + "network-type query -> ";
  if (SwallowOrClose(c, faults, line, now)) return;
  const std::string text = networkText_.value_or("");
  const Fault* nsb = FindFault(faults, FaultKind::kGatewayError);
  const Fault* node = FindFault(faults, FaultKind::kWrongNode);
  std::vector<uint8_t> answer = AnswerFrame(
      static_cast<uint16_t>(FrameType::kNetworkQuery), 0, node ? node->node : 0, 0,
      nsb ? nsb->nsb : 0, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  Log(line + (networkText_ ? "\"" + text + "\"" : "header only") + FaultText(faults));
  Deliver(c, std::move(answer), faults, now);
}

void GatewayCore::OnCommand(Connection& c, std::span<const uint8_t> frame, TimePoint now) {
  const uint16_t type = get16le(frame.data());
  const bool fins = type == static_cast<uint16_t>(FrameType::kFins);
  const uint8_t network = frame[2];
  const uint8_t node = frame[3];
  const std::span<const uint8_t> body = frame.subspan(kHeaderSize);
  uint16_t command = 0;
  if (fins) {
    command = body.size() >= 2 ? get16be(body.data()) : 0;
  } else {
    command = body.empty() ? 0 : body[0];
  }
  const FrameKind kind = fins ? FrameKind::kFins : FrameKind::kCmode;
  Controller* ctrl = Find(network, node);
  std::vector<Fault> faults = faults_.take(kind, command);
  if (ctrl != nullptr) {
    std::vector<Fault> own = ctrl->core_->TakeFaults(kind, command);
    faults.insert(faults.end(), own.begin(), own.end());
  }
  std::string line = Prefix(c) + (fins ? "FINS " : "C-mode ") + std::to_string(network) + ":" +
                     std::to_string(node) + " " +
                     (fins ? DescribeFins(body) : DescribeCmode(body)) + " -> ";
  if (SwallowOrClose(c, faults, line, now)) return;
  std::vector<uint8_t> answer;
  uint8_t nsb = 0;
  const Fault* f = nullptr;
  if ((f = FindFault(faults, FaultKind::kGatewayError)) != nullptr) {
    nsb = f->nsb;
  } else if (ctrl == nullptr) {
    const bool networkKnown = std::any_of(controllers_.begin(), controllers_.end(),
                                          [&](const auto& x) { return x->network() == network; });
    nsb = networkKnown ? kNsbUnknownNode : kNsbUnknownNetwork;
  } else if ((f = FindFault(faults, FaultKind::kFinsEndCode)) != nullptr) {
    answer = {body.size() > 0 ? body[0] : uint8_t{0}, body.size() > 1 ? body[1] : uint8_t{0},
              f->finsMain, f->finsSub};
    if (f->finsMain & 0x80) answer.insert(answer.end(), {f->relay1, f->relay2});
  } else if ((f = FindFault(faults, FaultKind::kCmodeEndCode)) != nullptr) {
    answer = {static_cast<uint8_t>(command | (ctrl->core_->cmodeEchoBit7() ? 0x80 : 0)),
              f->cEndCode};
  } else {
    answer = fins ? ctrl->core_->HandleFins(body) : ctrl->core_->HandleCmode(body);
  }
  if ((f = FindFault(faults, FaultKind::kWrongEcho)) != nullptr) {
    if (fins && answer.size() >= 2) {
      put16be(answer.data(), f->echo);
    } else if (!fins && !answer.empty()) {
      answer[0] = static_cast<uint8_t>(f->echo);
    }
  }
  const char* meaning = nullptr;
  if (nsb != 0) {
    line += "NSB " + Hex(nsb);
    if (nsb == kNsbUnknownNetwork) meaning = "no such network";
    if (nsb == kNsbUnknownNode) meaning = "no such node";
  } else if (fins) {
    line += "end " + Hex(answer[2]) + " " + Hex(answer[3]);
    meaning = FinsEndText(answer[2], answer[3]);
  } else {
    line += "end " + Hex(answer[1]);
    meaning = CmodeEndText(answer[1]);
  }
  if (meaning != nullptr && (nsb != 0 || meaning != std::string_view("normal"))) {
    line += std::string(" (") + meaning + ")";
  }
  const Fault* wrongNode = FindFault(faults, FaultKind::kWrongNode);
  Log(line + FaultText(faults));
  Deliver(c, AnswerFrame(type, network, wrongNode ? wrongNode->node : node, frame[6], nsb, answer),
          faults, now);
}

void GatewayCore::OnMalformed(Connection& c, const char* reason, TimePoint now) {
  // The stream has lost its framing: answer with a gateway error and hang up.
  const uint16_t type = get16le(c.in.data());
  c.out.push_back({AnswerFrame(type, c.in[2], c.in[3], c.in[6], kNsbBadFrame, {}), 0, now, true});
  c.reading = false;
  c.in.clear();
  Log(Prefix(c) + "malformed frame (" + reason + ") -> NSB " + Hex(kNsbBadFrame) +
      ", connection closed");
}

void GatewayCore::Deliver(Connection& c, std::vector<uint8_t> answer,
                          const std::vector<Fault>& faults, TimePoint now) {
  if (const Fault* f = FindFault(faults, FaultKind::kTruncate)) {
    answer.resize(std::min<size_t>(answer.size(), f->length));
  }
  if (const Fault* f = FindFault(faults, FaultKind::kGarbage)) {
    answer.resize(f->length);
    for (uint8_t& b : answer) {
      garbageSeed_ ^= garbageSeed_ << 13;
      garbageSeed_ ^= garbageSeed_ >> 17;
      garbageSeed_ ^= garbageSeed_ << 5;
      b = static_cast<uint8_t>(garbageSeed_ >> 24);
    }
  }
  TimePoint due = now;
  if (const Fault* f = FindFault(faults, FaultKind::kDelay)) {
    due += std::chrono::milliseconds(f->delayMs);
  }
  const Fault* pieces = FindFault(faults, FaultKind::kPieces);
  if (pieces == nullptr || answer.size() <= pieces->pieceSize) {
    c.out.push_back({std::move(answer), 0, due, false});
    return;
  }
  for (size_t at = 0; at < answer.size(); at += pieces->pieceSize) {
    const size_t end = std::min(answer.size(), at + pieces->pieceSize);
    c.out.push_back({{answer.begin() + at, answer.begin() + end}, 0, due, false});
    due += std::chrono::milliseconds(pieces->pauseMs);
  }
}

void GatewayCore::Shutdown() {
  std::lock_guard lock(mu_);
  shutDown_ = true;
  listen_.reset();
  suspended_ = false;
  resumeAt_.reset();
  conns_.clear();
  changed_.notify_all();
}

}  // namespace detail

Gateway::Gateway(const GatewayConfig& cfg, std::function<void(const std::string&)> log,
                 std::function<void()> wake)
    : core_(std::make_unique<detail::GatewayCore>(cfg, std::move(log), std::move(wake))) {}
Gateway::~Gateway() = default;

const std::string& Gateway::address() const {
  return core_->address();
}
uint16_t Gateway::port() const {
  return core_->port();
}
std::vector<std::vector<uint8_t>> Gateway::requests() const {
  return core_->requests();
}
void Gateway::clearRequests() {
  core_->clearRequests();
}
bool Gateway::waitForRequests(size_t count, std::chrono::milliseconds timeout) const {
  return core_->waitForRequests(count, timeout);
}
bool Gateway::waitForOpenConnections(int count, std::chrono::milliseconds timeout) const {
  return core_->waitForOpenConnections(count, timeout);
}
int Gateway::connectionsAccepted() const {
  return core_->connectionsAccepted();
}
int Gateway::openConnections() const {
  return core_->openConnections();
}
Controller& Gateway::controller(uint8_t network, uint8_t node) {
  return core_->controller(network, node);
}
Controller& Gateway::addController(const ControllerConfig& cfg) {
  return core_->addController(cfg);
}
void Gateway::injectFault(const Fault& f) {
  core_->injectFault(f);
}
void Gateway::clearFaults() {
  core_->clearFaults();
}
void Gateway::setNetworkText(std::optional<std::string> text) {
  core_->setNetworkText(std::move(text));
}

}  // namespace anynet_sim
