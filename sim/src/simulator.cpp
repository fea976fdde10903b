#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "fd.h"
#include "gateway_core.h"

namespace anynet_sim {
namespace detail {

// The one simulator thread: a poll() loop over every gateway's sockets and timers.
class Loop {
 public:
  explicit Loop(std::function<void(const std::string&)> log) : log_(std::move(log)) {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
      throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    }
    wakeRead_ = UniqueFd(fds[0]);
    wakeWrite_ = UniqueFd(fds[1]);
    thread_ = std::thread([this] { Run(); });
  }
  ~Loop() { Stop(); }

  Gateway& Add(const GatewayConfig& cfg) {
    std::lock_guard lock(mu_);
    if (stopped_) throw std::logic_error("simulator already stopped");
    gateways_.push_back(std::unique_ptr<Gateway>(new Gateway(cfg, log_, [this] { Wake(); })));
    Wake();
    return *gateways_.back();
  }

  void Stop() {
    {
      std::lock_guard lock(mu_);
      if (stopped_) return;
      stopped_ = true;
    }
    stop_ = true;
    Wake();
    thread_.join();
    for (auto& g : gateways_) g->core_->Shutdown();
  }

 private:
  void Wake() {
    const uint8_t b = 1;
    // A full pipe already means a pending wake-up.
    [[maybe_unused]] ssize_t n = ::write(wakeWrite_.get(), &b, 1);
  }

  void Run() {
    using Clock = std::chrono::steady_clock;
    constexpr auto kLongestWait = std::chrono::milliseconds(1000);
    std::vector<pollfd> fds;
    std::vector<std::pair<GatewayCore*, size_t>> slices;  // gateway, first descriptor
    while (!stop_) {
      slices.clear();
      {
        std::lock_guard lock(mu_);
        for (auto& g : gateways_) slices.emplace_back(g->core_.get(), 0);
      }
      fds.assign(1, {wakeRead_.get(), POLLIN, 0});
      auto now = Clock::now();
      auto wakeAt = now + kLongestWait;
      for (auto& [core, first] : slices) {
        first = fds.size();
        core->CollectPoll(fds, now, wakeAt);
      }
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wakeAt - now);
      const int rc =
          ::poll(fds.data(), fds.size(), static_cast<int>(std::max<int64_t>(0, wait.count())));
      if (rc < 0 && errno != EINTR) {
        if (log_) log_(std::string("poll: ") + std::strerror(errno));
        return;
      }
      if (fds[0].revents != 0) {
        uint8_t drain[64];
        while (::read(wakeRead_.get(), drain, sizeof drain) > 0) {
        }
      }
      now = Clock::now();
      for (size_t i = 0; i < slices.size(); ++i) {
        const size_t end = i + 1 < slices.size() ? slices[i + 1].second : fds.size();
        const size_t first = slices[i].second;
        slices[i].first->Process(std::span<const pollfd>(fds).subspan(first, end - first), now);
      }
    }
  }

  const std::function<void(const std::string&)> log_;
  std::mutex mu_;
  bool stopped_ = false;
  std::vector<std::unique_ptr<Gateway>> gateways_;
  UniqueFd wakeRead_;
  UniqueFd wakeWrite_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace detail

Simulator::Simulator(std::function<void(const std::string&)> log)
    : loop_(std::make_unique<detail::Loop>(std::move(log))) {}
Simulator::~Simulator() {
  Stop();
}
Gateway& Simulator::AddGateway(const GatewayConfig& cfg) {
  return loop_->Add(cfg);
}
void Simulator::Stop() {
  loop_->Stop();
}

}  // namespace anynet_sim
