// C-mode commands as the controller answers them.
#include <cstdio>

#include "anynet_sim/frame.h"
#include "bytes.h"
#include "controller_core.h"

namespace anynet_sim::detail {

namespace {

struct EndCode {
  uint8_t code;
  const char* text;
};
// clang-format off
constexpr EndCode kNormal       = {0x00, "normal"};
constexpr EndCode kRunMode      = {0x01, "not executable in RUN mode"};
constexpr EndCode kAddressOver  = {0x04, "address over"};
constexpr EndCode kFormatError  = {0x14, "format error"};
constexpr EndCode kEntryData    = {0x15, "entry data error"};
constexpr EndCode kNotSupported = {0x16, "command not supported"};
constexpr EndCode kFrameLength  = {0x18, "answer too long"};
constexpr EndCode kEndCodes[] = {kNormal, kRunMode, kAddressOver, kFormatError, kEntryData,
                                 kNotSupported, kFrameLength};

// Mode byte of the mode change command and of the status answer.
constexpr uint8_t kCmodeProgram = 0x01;
constexpr uint8_t kCmodeMonitor = 0x02;
constexpr uint8_t kCmodeRun     = 0x04;

// Status answer bytes 2-4.
constexpr uint8_t kStatusErrorFlag = 0x40;  // the controller is in its error state
constexpr uint8_t kNetworkInRing   = 0x01;  // the node takes part in the network
constexpr uint8_t kLanNormal       = 0x00;
// clang-format on

constexpr size_t kReadRequestSize = 5;  // code addrHi addrLo countHi countLo
constexpr size_t kAnswerDataRoom = kMaxAnswerFrame - kHeaderSize - 2;
constexpr size_t kClockWriteSize = 8;  // 2D mm ss dd hh yy MM dow

uint8_t ModeByte(Mode m) {
  switch (m) {
    case Mode::kMonitor:
      return kCmodeMonitor;
    case Mode::kRun:
      return kCmodeRun;
    default:
      return kCmodeProgram;
  }
}

}  // namespace

const ControllerCore::CmodeCommand ControllerCore::kCmodeCommands[3] = {
    {0x10, "status-read", &ControllerCore::CmodeStatus},
    {0x11, "mode-change", &ControllerCore::CmodeModeChange},
    {0x2D, "clock-write", &ControllerCore::CmodeClockWrite},
};

std::vector<uint8_t> ControllerCore::HandleCmode(std::span<const uint8_t> body) {
  const uint8_t code = body.empty() ? 0 : body[0];
  const uint8_t echo = static_cast<uint8_t>(code | (cfg_.cmodeEchoBit7 ? 0x80 : 0x00));
  std::vector<uint8_t> out;
  std::lock_guard lock(mu_);
  if (body.empty()) {
    out = {echo, kFormatError.code};
  } else if (const AreaView* read = FindCmodeArea(code)) {
    out = CmodeRead(*read, body);
  } else if (const AreaView* write = FindCmodeArea(static_cast<uint8_t>(code - 1));
             write != nullptr && (code & 1) != 0) {
    out = CmodeWrite(*write, body);
  } else {
    out = {code, kNotSupported.code};
    for (const CmodeCommand& c : kCmodeCommands) {
      if (c.code == code) out = (this->*c.handler)(body);
    }
  }
  out[0] = echo;
  return out;
}

std::vector<uint8_t> ControllerCore::CmodeRead(const AreaView& area,
                                               std::span<const uint8_t> body) {
  if (body.size() != kReadRequestSize) return {body[0], kFormatError.code};
  const uint32_t address = get16be(&body[1]);
  const uint32_t count = get16be(&body[3]);
  if (address + count > area.size) return {body[0], kAddressOver.code};
  const bool bytes = IsByteWide(area.store);
  if (count * (bytes ? 1 : 2) > kAnswerDataRoom) return {body[0], kFrameLength.code};
  std::vector<uint8_t> out = {body[0], kNormal.code};
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t v = Cell(area.store, area.base + address + i);
    if (bytes) {
      append8(out, static_cast<uint8_t>(v));
    } else {
      append16be(out, v);
    }
  }
  return out;
}

std::vector<uint8_t> ControllerCore::CmodeWrite(const AreaView& area,
                                                std::span<const uint8_t> body) {
  if (mode_ == Mode::kRun) return {body[0], kRunMode.code};
  const size_t width = IsByteWide(area.store) ? 1 : 2;
  if (body.size() < 3 + width || (body.size() - 3) % width != 0)
    return {body[0], kFormatError.code};
  const uint32_t address = get16be(&body[1]);
  const std::span<const uint8_t> data = body.subspan(3);
  const uint32_t count = static_cast<uint32_t>(data.size() / width);
  if (address + count > area.size) return {body[0], kAddressOver.code};
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t v = width == 1 ? data[i] : get16be(&data[2 * i]);
    SetCell(area.store, area.base + address + i, v);
  }
  return {body[0], kNormal.code};
}

std::vector<uint8_t> ControllerCore::CmodeStatus(std::span<const uint8_t> body) {
  if (body.size() != 1) return {body[0], kFormatError.code};
  return {body[0],
          kNormal.code,
          ModeByte(mode_),
          static_cast<uint8_t>(mode_ == Mode::kProgram ? 0x00 : 0x01),
          static_cast<uint8_t>(error_ ? kStatusErrorFlag : 0x00),
          kNetworkInRing,
          kLanNormal};
}

std::vector<uint8_t> ControllerCore::CmodeModeChange(std::span<const uint8_t> body) {
  // Allowed in RUN mode: it is how a running controller is stopped.
  if (body.size() != 2) return {body[0], kFormatError.code};
  switch (body[1]) {
    case kCmodeProgram:
      mode_ = Mode::kProgram;
      break;
    case kCmodeMonitor:
      mode_ = Mode::kMonitor;
      break;
    case kCmodeRun:
      mode_ = Mode::kRun;
      break;
    default:
      return {body[0], kEntryData.code};
  }
  return {body[0], kNormal.code};
}

std::vector<uint8_t> ControllerCore::CmodeClockWrite(std::span<const uint8_t> body) {
  if (mode_ == Mode::kRun) return {body[0], kRunMode.code};
  if (body.size() != kClockWriteSize) return {body[0], kFormatError.code};
  unsigned v[7];
  for (size_t i = 0; i < 7; ++i) {
    if (!fromBcd(body[1 + i], v[i])) return {body[0], kEntryData.code};
  }
  DateTime t;
  t.minute = static_cast<int>(v[0]);
  t.second = static_cast<int>(v[1]);
  t.day = static_cast<int>(v[2]);
  t.hour = static_cast<int>(v[3]);
  t.year = FullYear(v[4]);
  t.month = static_cast<int>(v[5]);
  // The day of week is derived from the date; the given one only has to be plausible.
  if (!IsValid(t) || v[6] > 6) return {body[0], kEntryData.code};
  SetNow(t);
  return {body[0], kNormal.code};
}

const char* CmodeEndText(uint8_t code) {
  for (const EndCode& e : kEndCodes) {
    if (e.code == code) return e.text;
  }
  return nullptr;
}

std::string DescribeCmode(std::span<const uint8_t> body) {
  char buf[128];
  if (body.empty()) return "empty C-mode body";
  const uint8_t code = body[0];
  const AreaView* read = FindCmodeArea(code);
  const AreaView* write = (code & 1) ? FindCmodeArea(static_cast<uint8_t>(code - 1)) : nullptr;
  if (read != nullptr && body.size() >= kReadRequestSize) {
    std::snprintf(buf, sizeof buf, "%02X read %s addr %u count %u", code, read->name,
                  get16be(&body[1]), get16be(&body[3]));
  } else if (write != nullptr && body.size() >= 3) {
    const size_t width = IsByteWide(write->store) ? 1 : 2;
    std::snprintf(buf, sizeof buf, "%02X write %s addr %u count %zu", code, write->name,
                  get16be(&body[1]), (body.size() - 3) / width);
  } else {
    const char* name = read != nullptr ? "read" : (write != nullptr ? "write" : "unknown");
    for (const auto& c : ControllerCore::kCmodeCommands) {
      if (c.code == code) name = c.name;
    }
    if (code == 0x11 && body.size() == 2) {
      std::snprintf(buf, sizeof buf, "%02X %s mode %02X", code, name, body[1]);
    } else {
      std::snprintf(buf, sizeof buf, "%02X %s", code, name);
    }
  }
  return buf;
}

}  // namespace anynet_sim::detail
