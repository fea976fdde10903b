// Controller state and the two command sets that work on it.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "anynet_sim/sim.h"
#include "clock.h"
#include "fault_list.h"
#include "memory.h"

namespace anynet_sim::detail {

// A person's reading of a request body, for the log ("0101 read DM addr 100 count 2").
std::string DescribeFins(std::span<const uint8_t> body);
std::string DescribeCmode(std::span<const uint8_t> body);
// Meaning of an end code, or nullptr when this controller never sends it.
const char* FinsEndText(uint8_t main, uint8_t sub);
const char* CmodeEndText(uint8_t code);

class ControllerCore {
 public:
  explicit ControllerCore(const ControllerConfig& cfg);

  // Answer bodies: command echo, end code, data.
  std::vector<uint8_t> HandleFins(std::span<const uint8_t> body);
  std::vector<uint8_t> HandleCmode(std::span<const uint8_t> body);
  std::vector<Fault> TakeFaults(FrameKind frame, uint16_t command);
  bool cmodeEchoBit7() const { return cfg_.cmodeEchoBit7; }

  // Controller API, same names.
  uint8_t network() const { return cfg_.network; }
  uint8_t node() const { return cfg_.node; }
  uint16_t readWord(uint8_t area, uint32_t address) const;
  void writeWord(uint8_t area, uint32_t address, uint16_t value);
  Mode mode() const;
  void setMode(Mode m);
  std::tm clock() const;
  void setClock(const std::tm& t);
  bool errorState() const;
  void setErrorState(bool on);
  void injectFault(const Fault& f);
  void clearFaults();

  // Dispatch tables, also read by the Describe functions.
  using FinsHandler = std::vector<uint8_t> (ControllerCore::*)(std::span<const uint8_t>);
  struct FinsCommand {
    uint16_t code;
    const char* name;
    FinsHandler handler;
  };
  static const FinsCommand kFinsCommands[8];
  using CmodeHandler = std::vector<uint8_t> (ControllerCore::*)(std::span<const uint8_t>);
  struct CmodeCommand {
    uint8_t code;
    const char* name;
    CmodeHandler handler;
  };
  static const CmodeCommand kCmodeCommands[3];

 private:
  std::vector<uint8_t> FinsRead(std::span<const uint8_t> body);
  std::vector<uint8_t> FinsWrite(std::span<const uint8_t> body);
  std::vector<uint8_t> FinsRun(std::span<const uint8_t> body);
  std::vector<uint8_t> FinsStop(std::span<const uint8_t> body);
  std::vector<uint8_t> FinsStatus(std::span<const uint8_t> body);
  std::vector<uint8_t> FinsClockRead(std::span<const uint8_t> body);
  std::vector<uint8_t> FinsClockWrite(std::span<const uint8_t> body);
  std::vector<uint8_t> FinsErrorClear(std::span<const uint8_t> body);

  std::vector<uint8_t> CmodeRead(const AreaView& area, std::span<const uint8_t> body);
  std::vector<uint8_t> CmodeWrite(const AreaView& area, std::span<const uint8_t> body);
  std::vector<uint8_t> CmodeStatus(std::span<const uint8_t> body);
  std::vector<uint8_t> CmodeModeChange(std::span<const uint8_t> body);
  std::vector<uint8_t> CmodeClockWrite(std::span<const uint8_t> body);

  // Memory through the clock overlay; callers hold mu_.
  uint16_t Cell(Store s, uint32_t index) const;
  void SetCell(Store s, uint32_t index, uint16_t v);
  const AreaView& ApiArea(uint8_t area, uint32_t address) const;
  DateTime Now() const;
  void SetNow(const DateTime& t);

  const ControllerConfig cfg_;
  mutable std::mutex mu_;
  Memory memory_;
  Mode mode_;
  bool error_ = false;
  int64_t clockOffset_ = 0;  // seconds ahead of this PC's local time
  FaultList faults_;
};

}  // namespace anynet_sim::detail
