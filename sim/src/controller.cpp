#include <stdexcept>

#include "bytes.h"
#include "controller_core.h"

namespace anynet_sim {
namespace detail {

ControllerCore::ControllerCore(const ControllerConfig& cfg) : cfg_(cfg), mode_(cfg.mode) {
  if (cfg.clockArWord + 3u > kArWords) {
    throw std::invalid_argument("clock AR word must leave room for three words below AR " +
                                std::to_string(kArWords));
  }
}

uint16_t ControllerCore::Cell(Store s, uint32_t index) const {
  const uint32_t first = kArBase + cfg_.clockArWord;
  if (s != Store::kCio || index < first || index >= first + 3) return memory_.get(s, index);
  const DateTime t = Now();
  switch (index - first) {
    case 0:
      return static_cast<uint16_t>(toBcd(t.minute) << 8 | toBcd(t.second));
    case 1:
      return static_cast<uint16_t>(toBcd(t.day) << 8 | toBcd(t.hour));
    default:
      return static_cast<uint16_t>(toBcd(t.year % 100) << 8 | toBcd(t.month));
  }
}

void ControllerCore::SetCell(Store s, uint32_t index, uint16_t v) {
  // The clock words are refreshed from the clock on every scan, so writes to them vanish.
  const uint32_t first = kArBase + cfg_.clockArWord;
  if (s == Store::kCio && index >= first && index < first + 3) return;
  memory_.set(s, index, v);
}

DateTime ControllerCore::Now() const {
  return FromSeconds(LocalNowSeconds() + clockOffset_);
}

void ControllerCore::SetNow(const DateTime& t) {
  clockOffset_ = ToSeconds(t) - LocalNowSeconds();
}

const AreaView& ControllerCore::ApiArea(uint8_t area, uint32_t address) const {
  const AreaView* view = FindFinsArea(area);
  if (view == nullptr) throw std::out_of_range("unknown FINS memory area " + std::to_string(area));
  if (address >= view->size) {
    throw std::out_of_range(std::string(view->name) + " has no address " + std::to_string(address));
  }
  return *view;
}

uint16_t ControllerCore::readWord(uint8_t area, uint32_t address) const {
  std::lock_guard lock(mu_);
  const AreaView& view = ApiArea(area, address);
  return Cell(view.store, view.base + address);
}

void ControllerCore::writeWord(uint8_t area, uint32_t address, uint16_t value) {
  std::lock_guard lock(mu_);
  const AreaView& view = ApiArea(area, address);
  SetCell(view.store, view.base + address, value);
}

Mode ControllerCore::mode() const {
  std::lock_guard lock(mu_);
  return mode_;
}

void ControllerCore::setMode(Mode m) {
  std::lock_guard lock(mu_);
  mode_ = m;
}

std::tm ControllerCore::clock() const {
  std::lock_guard lock(mu_);
  return ToTm(Now());
}

void ControllerCore::setClock(const std::tm& tm) {
  const DateTime t = FromTm(tm);
  if (!IsValid(t)) throw std::invalid_argument("controller clock holds 1970-2069 only");
  std::lock_guard lock(mu_);
  SetNow(t);
}

bool ControllerCore::errorState() const {
  std::lock_guard lock(mu_);
  return error_;
}

void ControllerCore::setErrorState(bool on) {
  std::lock_guard lock(mu_);
  error_ = on;
}

void ControllerCore::injectFault(const Fault& f) {
  CheckFault(f);
  if (IsConnectionFault(f.kind)) {
    throw std::invalid_argument(std::string(FaultKindName(f.kind)) +
                                " is a gateway fault, not a controller fault");
  }
  std::lock_guard lock(mu_);
  faults_.add(f);
}

void ControllerCore::clearFaults() {
  std::lock_guard lock(mu_);
  faults_.clear();
}

std::vector<Fault> ControllerCore::TakeFaults(FrameKind frame, uint16_t command) {
  std::lock_guard lock(mu_);
  return faults_.take(frame, command);
}

}  // namespace detail

Controller::Controller(const ControllerConfig& cfg)
    : core_(std::make_unique<detail::ControllerCore>(cfg)) {}
Controller::~Controller() = default;

uint8_t Controller::network() const {
  return core_->network();
}
uint8_t Controller::node() const {
  return core_->node();
}
uint16_t Controller::readWord(uint8_t area, uint32_t address) const {
  return core_->readWord(area, address);
}
void Controller::writeWord(uint8_t area, uint32_t address, uint16_t value) {
  core_->writeWord(area, address, value);
}
uint8_t Controller::readByte(uint8_t area, uint32_t address) const {
  return static_cast<uint8_t>(core_->readWord(area, address) & 0xFF);
}
void Controller::writeByte(uint8_t area, uint32_t address, uint8_t value) {
  core_->writeWord(area, address, value);
}
Mode Controller::mode() const {
  return core_->mode();
}
void Controller::setMode(Mode m) {
  core_->setMode(m);
}
std::tm Controller::clock() const {
  return core_->clock();
}
void Controller::setClock(const std::tm& t) {
  core_->setClock(t);
}
bool Controller::errorState() const {
  return core_->errorState();
}
void Controller::setErrorState(bool on) {
  core_->setErrorState(on);
}
void Controller::injectFault(const Fault& f) {
  core_->injectFault(f);
}
void Controller::clearFaults() {
  core_->clearFaults();
}

}  // namespace anynet_sim
