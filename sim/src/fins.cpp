// FINS commands as the controller answers them.
#include <cstdio>

#include "anynet_sim/frame.h"
#include "bytes.h"
#include "controller_core.h"

namespace anynet_sim::detail {

namespace {

struct EndCode {
  uint8_t main;
  uint8_t sub;
  const char* text;
};

// clang-format off
constexpr EndCode kNormal           = {0x00, 0x00, "normal"};
constexpr EndCode kUndefinedCommand = {0x04, 0x01, "undefined command"};
constexpr EndCode kCommandTooLong   = {0x10, 0x01, "command too long"};
constexpr EndCode kCommandTooShort  = {0x10, 0x02, "command too short"};
constexpr EndCode kDataMismatch     = {0x10, 0x03, "count and data differ"};
constexpr EndCode kNoSuchArea       = {0x11, 0x01, "no such area"};
constexpr EndCode kAddressRange     = {0x11, 0x03, "address out of range"};
constexpr EndCode kResponseTooLong  = {0x11, 0x0B, "response too long"};
constexpr EndCode kParameterError   = {0x11, 0x0C, "parameter error"};
constexpr EndCode kEndCodes[] = {kNormal, kUndefinedCommand, kCommandTooLong, kCommandTooShort,
                                 kDataMismatch, kNoSuchArea, kAddressRange, kResponseTooLong,
                                 kParameterError};
// clang-format on

constexpr size_t kReadRequestSize = 8;  // 01 01 area addrHi addrLo bit countHi countLo
// Room for data in an answer frame: header, command echo and end code come first.
constexpr size_t kAnswerDataRoom = kMaxAnswerFrame - kHeaderSize - 4;

// FINS mode byte of the RUN command and of the status answer.
constexpr uint8_t kFinsModeProgram = 0x00;
constexpr uint8_t kFinsModeMonitor = 0x02;
constexpr uint8_t kFinsModeRun = 0x04;

// Error word and message of a controller in the error state.
constexpr uint16_t kNonFatalFal = 0x0040;
constexpr uint16_t kFalNumber = 0x0001;
constexpr char kErrorMessage[] = "SIM FAL 001";
constexpr size_t kMessageSize = 16;

std::vector<uint8_t> Answer(std::span<const uint8_t> body, EndCode end) {
  std::vector<uint8_t> out;
  append8(out, body.size() > 0 ? body[0] : 0);
  append8(out, body.size() > 1 ? body[1] : 0);
  append8(out, end.main);
  append8(out, end.sub);
  return out;
}

// Length test shared by the fixed-size commands.
bool SizeIs(std::span<const uint8_t> body, size_t want, std::vector<uint8_t>& error) {
  if (body.size() == want) return true;
  error = Answer(body, body.size() < want ? kCommandTooShort : kCommandTooLong);
  return false;
}

uint8_t FinsModeByte(Mode m) {
  switch (m) {
    case Mode::kMonitor:
      return kFinsModeMonitor;
    case Mode::kRun:
      return kFinsModeRun;
    default:
      return kFinsModeProgram;
  }
}

bool ReadClock(std::span<const uint8_t> bcd, DateTime& t) {
  unsigned v[7] = {0, 0, 0, 0, 0, 0, 0};
  for (size_t i = 0; i < bcd.size(); ++i) {
    if (!fromBcd(bcd[i], v[i])) return false;
  }
  t.year = FullYear(v[0]);
  t.month = static_cast<int>(v[1]);
  t.day = static_cast<int>(v[2]);
  t.hour = static_cast<int>(v[3]);
  t.minute = static_cast<int>(v[4]);
  t.second = static_cast<int>(v[5]);
  // The day of week is derived from the date; a given one only has to be plausible.
  return IsValid(t) && (bcd.size() < 7 || v[6] <= 6);
}

}  // namespace

const ControllerCore::FinsCommand ControllerCore::kFinsCommands[8] = {
    {0x0101, "read", &ControllerCore::FinsRead},
    {0x0102, "write", &ControllerCore::FinsWrite},
    {0x0401, "run", &ControllerCore::FinsRun},
    {0x0402, "stop", &ControllerCore::FinsStop},
    {0x0601, "status-read", &ControllerCore::FinsStatus},
    {0x0701, "clock-read", &ControllerCore::FinsClockRead},
    {0x0702, "clock-write", &ControllerCore::FinsClockWrite},
    {0x2101, "error-clear", &ControllerCore::FinsErrorClear},
};

std::vector<uint8_t> ControllerCore::HandleFins(std::span<const uint8_t> body) {
  if (body.size() < 2) return Answer(body, kCommandTooShort);
  const uint16_t code = get16be(body.data());
  std::lock_guard lock(mu_);
  for (const FinsCommand& c : kFinsCommands) {
    if (c.code == code) return (this->*c.handler)(body);
  }
  return Answer(body, kUndefinedCommand);
}

std::vector<uint8_t> ControllerCore::FinsRead(std::span<const uint8_t> body) {
  std::vector<uint8_t> out;
  if (!SizeIs(body, kReadRequestSize, out)) return out;
  const AreaView* area = FindFinsArea(body[2]);
  if (area == nullptr) return Answer(body, kNoSuchArea);
  if (body[5] != 0) return Answer(body, kParameterError);  // word access only
  const uint32_t address = get16be(&body[3]);
  const uint32_t count = get16be(&body[6]);
  if (address + count > area->size) return Answer(body, kAddressRange);
  const bool bytes = IsByteWide(area->store);
  if (count * (bytes ? 1 : 2) > kAnswerDataRoom) return Answer(body, kResponseTooLong);
  out = Answer(body, kNormal);
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t v = Cell(area->store, area->base + address + i);
    if (bytes) {
      append8(out, static_cast<uint8_t>(v));
    } else {
      append16be(out, v);
    }
  }
  return out;
}

std::vector<uint8_t> ControllerCore::FinsWrite(std::span<const uint8_t> body) {
  if (body.size() < kReadRequestSize) return Answer(body, kCommandTooShort);
  const AreaView* area = FindFinsArea(body[2]);
  if (area == nullptr) return Answer(body, kNoSuchArea);
  if (body[5] != 0) return Answer(body, kParameterError);
  const uint32_t address = get16be(&body[3]);
  const uint32_t count = get16be(&body[6]);
  const bool bytes = IsByteWide(area->store);
  const std::span<const uint8_t> data = body.subspan(kReadRequestSize);
  if (data.size() != count * (bytes ? 1u : 2u)) return Answer(body, kDataMismatch);
  if (address + count > area->size) return Answer(body, kAddressRange);
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t v = bytes ? data[i] : get16be(&data[2 * i]);
    SetCell(area->store, area->base + address + i, v);
  }
  return Answer(body, kNormal);
}

std::vector<uint8_t> ControllerCore::FinsRun(std::span<const uint8_t> body) {
  // 04 01 [program number hi lo [mode]]; without a mode byte the controller goes to monitor.
  if (body.size() == 3) return Answer(body, kCommandTooShort);
  if (body.size() > 5) return Answer(body, kCommandTooLong);
  Mode next = Mode::kMonitor;
  if (body.size() == 5) {
    if (body[4] == kFinsModeRun) {
      next = Mode::kRun;
    } else if (body[4] != kFinsModeMonitor) {
      return Answer(body, kParameterError);
    }
  }
  mode_ = next;
  return Answer(body, kNormal);
}

std::vector<uint8_t> ControllerCore::FinsStop(std::span<const uint8_t> body) {
  if (body.size() != 2 && body.size() != 4) {
    return Answer(body, body.size() < 4 ? kCommandTooShort : kCommandTooLong);
  }
  mode_ = Mode::kProgram;
  return Answer(body, kNormal);
}

std::vector<uint8_t> ControllerCore::FinsStatus(std::span<const uint8_t> body) {
  std::vector<uint8_t> out;
  if (!SizeIs(body, 2, out)) return out;
  out = Answer(body, kNormal);
  append8(out, mode_ == Mode::kProgram ? 0x00 : 0x01);  // operating status: 01 = running
  append8(out, FinsModeByte(mode_));
  append16be(out, 0);                                    // fatal errors
  append16be(out, error_ ? kNonFatalFal : uint16_t{0});  // non-fatal errors
  append16be(out, 0);                                    // message flags
  append16be(out, error_ ? kFalNumber : uint16_t{0});
  const char* message = error_ ? kErrorMessage : "";
  bool ended = false;
  for (size_t i = 0; i < kMessageSize; ++i) {
    ended = ended || message[i] == '\0';
    append8(out, ended ? ' ' : static_cast<uint8_t>(message[i]));
  }
  return out;
}

std::vector<uint8_t> ControllerCore::FinsClockRead(std::span<const uint8_t> body) {
  std::vector<uint8_t> out;
  if (!SizeIs(body, 2, out)) return out;
  const DateTime t = Now();
  out = Answer(body, kNormal);
  for (int v : {t.year % 100, t.month, t.day, t.hour, t.minute, t.second, t.weekday}) {
    append8(out, toBcd(static_cast<unsigned>(v)));
  }
  return out;
}

std::vector<uint8_t> ControllerCore::FinsClockWrite(std::span<const uint8_t> body) {
  // year month day hour minute [second [day of week]]
  if (body.size() < 7) return Answer(body, kCommandTooShort);
  if (body.size() > 9) return Answer(body, kCommandTooLong);
  DateTime t;
  if (!ReadClock(body.subspan(2), t)) return Answer(body, kParameterError);
  SetNow(t);
  return Answer(body, kNormal);
}

std::vector<uint8_t> ControllerCore::FinsErrorClear(std::span<const uint8_t> body) {
  // Any error code clears: the simulated controller has only one error to clear.
  std::vector<uint8_t> out;
  if (!SizeIs(body, 4, out)) return out;
  error_ = false;
  return Answer(body, kNormal);
}

const char* FinsEndText(uint8_t main, uint8_t sub) {
  if (main & 0x80) return "relay error";
  for (const EndCode& e : kEndCodes) {
    if (e.main == main && e.sub == sub) return e.text;
  }
  return nullptr;
}

std::string DescribeFins(std::span<const uint8_t> body) {
  char buf[128];
  if (body.size() < 2) return "short FINS body";
  const uint16_t code = get16be(body.data());
  const char* name = "unknown";
  for (const auto& c : ControllerCore::kFinsCommands) {
    if (c.code == code) name = c.name;
  }
  if ((code == 0x0101 || code == 0x0102) && body.size() >= kReadRequestSize) {
    const AreaView* area = FindFinsArea(body[2]);
    char areaName[16];
    if (area != nullptr) {
      std::snprintf(areaName, sizeof areaName, "%s", area->name);
    } else {
      std::snprintf(areaName, sizeof areaName, "area%02X", body[2]);
    }
    std::snprintf(buf, sizeof buf, "%04X %s %s(%02X) addr %u count %u", code, name, areaName,
                  body[2], get16be(&body[3]), get16be(&body[6]));
  } else if (code == 0x0401 && body.size() == 5) {
    std::snprintf(buf, sizeof buf, "%04X %s mode %02X", code, name, body[4]);
  } else {
    std::snprintf(buf, sizeof buf, "%04X %s", code, name);
  }
  return buf;
}

}  // namespace anynet_sim::detail
