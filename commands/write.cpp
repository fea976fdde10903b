#include <cstring>

#include "address/tables.h"
#include "commands/commands.h"
#include "config/config.h"
#include "transport/bytes.h"

namespace brelk {

namespace {

using namespace address;

constexpr uint8_t kFinsMemoryWrite[] = {0x01, 0x02};
constexpr uint8_t kCModeChange = 0x11;
constexpr uint8_t kCStopMode = 0x01;
constexpr uint8_t kCWriteClock = 0x2D;
constexpr size_t kClockBytes = 7;
constexpr size_t kConversionSize = 2048;
constexpr size_t kFinsWriteHead = 8;  // 01 02 area address bit count
constexpr size_t kCWriteHead = 3;     // code address

bool IsSingleWrite(const DriverRequest& request) {
  return request.code == BRELK_SINGLE_WRITE;
}

int32_t ElementBytes(const IoRecord& io) {
  return io.info.width / 8;
}

// Elements a write carries: a single gate writes exactly one.
int32_t Elements(const DriverRequest& request, const IoRecord& io) {
  return IsSingleWrite(request) ? 1 : io.count;
}

// The largest block the body (and the conversion buffer) can carry.
bool FitsWrite(const platform::Platform& p, const DriverRequest& request, const IoRecord& io) {
  if (IsCommandGate(io)) return true;
  const size_t head = io.text[1] == 'F' ? kFinsWriteHead : kCWriteHead;
  const size_t room = std::min(kMaxBodySize - head, kConversionSize);
  const int64_t bytes = int64_t{Elements(request, io)} * ElementBytes(io);
  if (bytes < 0 || static_cast<uint64_t>(bytes) > room) {
    p.log(kLogLevel, "BRELK> Block size %d of gate %s is too large for one write", io.count,
          io.text);
    return false;
  }
  return true;
}

// Reads the controller word through the single-read path and folds the
// host's bit into it; the request and record are the host's again after.
int32_t ComputeBitWord(const platform::Platform& p, DriverRequest* request, uint8_t* value) {
  auto& io = *static_cast<IoRecord*>(request->payload);
  auto* data = static_cast<uint8_t*>(io.data);
  const int32_t bitNumber = io.info.bitNumber;
  const int32_t gateType = io.gateType;
  uint8_t saved[4];
  std::memcpy(saved, data, sizeof saved);

  request->code = BRELK_SINGLE_READ;
  io.info.bitNumber = -1;
  io.gateType = 0;
  const int32_t read = SingleRead(p, request);
  const uint16_t current = Get16le(data + 2);
  std::memcpy(data, saved, sizeof saved);
  request->code = BRELK_SINGLE_WRITE;
  io.info.bitNumber = bitNumber;
  io.gateType = gateType;
  if (read != BRELK_OK) return BRELK_REFUSED;

  const auto mask = static_cast<uint16_t>(bitNumber >= 0 && bitNumber < 16 ? 1u << bitNumber : 0);
  const uint16_t word = value[1] == 1 ? static_cast<uint16_t>(current | mask)
                                      : static_cast<uint16_t>(current & ~mask);
  Put16be(value, word);
  return BRELK_OK;
}

// 0 built; otherwise the request ends with that result.
int32_t BuildCommandBody(const platform::Platform& p, const IoRecord& io, const uint8_t* value,
                         AnyNetFrame& frame) {
  uint8_t* body = frame.body();
  const uint16_t command = CommandCode(io);
  if (io.text[1] == 'F') {
    Put16be(body, command);
    switch (command) {
      case kCmdRun:
        body[2] = 0x00;  // program number
        body[3] = 0x00;
        body[4] = value[1];
        frame.setBodyLength(5);
        return BRELK_OK;
      case kCmdErrorClear:
        body[2] = value[0];
        body[3] = value[1];
        frame.setBodyLength(4);
        return BRELK_OK;
      case kCmdTimeSync:
        if (!EncodeClock(p, body + 2, 'F')) break;
        frame.setBodyLength(2 + kClockBytes);
        return BRELK_OK;
      default:
        frame.setBodyLength(2);
        return BRELK_OK;
    }
  } else {
    switch (command) {
      case kCmdRun:
        body[0] = kCModeChange;
        body[1] = value[1];
        frame.setBodyLength(2);
        return BRELK_OK;
      case kCmdStop:
        body[0] = kCModeChange;
        body[1] = kCStopMode;
        frame.setBodyLength(2);
        return BRELK_OK;
      case kCmdTimeSync:
        body[0] = kCWriteClock;
        if (!EncodeClock(p, body + 1, 'C')) break;
        return BRELK_OK;  // the preset length 8
      default:
        p.log(kLogLevel, "BRELK> This command(%s) gate is not supported!", io.text);
        return BRELK_REFUSED;
    }
  }
  p.log(kLogLevel, "BRELK> Local time of the PC is not available");
  return BRELK_REFUSED;
}

void BuildMemoryBody(const DriverRequest& request, const IoRecord& io, const uint8_t* value,
                     AnyNetFrame& frame) {
  uint8_t* body = frame.body();
  const int32_t elements = Elements(request, io);
  const auto dataLength = static_cast<size_t>(elements * ElementBytes(io));
  const uint8_t area = AreaCode(io);
  if (io.text[1] == 'F') {
    body[0] = kFinsMemoryWrite[0];
    body[1] = kFinsMemoryWrite[1];
    body[2] = area;
    Put16be(body + 3, FinsWordAddress(io.info.address, io.text[kPosType]));
    body[5] = 0;  // bit position
    Put16be(body + 6, static_cast<uint16_t>(io.info.width == 32 ? elements * 2 : elements));
    std::memcpy(body + kFinsWriteHead, value, dataLength);
    frame.setBodyLength(static_cast<uint16_t>(kFinsWriteHead + dataLength));
    return;
  }
  body[0] = static_cast<uint8_t>(area + 1);
  Put16be(body + 1, static_cast<uint16_t>(io.info.address));
  std::memcpy(body + kCWriteHead, value, dataLength);
  frame.setBodyLength(static_cast<uint16_t>(kCWriteHead + dataLength));
}

bool UsableRecord(const DriverRequest* request) {
  const auto* io = static_cast<const IoRecord*>(request->payload);
  return io != nullptr && io->text != nullptr && io->data != nullptr &&
         request->privateBlock != nullptr && std::strlen(io->text) > kPosType;
}

}  // namespace

bool EncodeClock(const platform::Platform& p, uint8_t* destination, char series) {
  std::tm now{};
  if (!p.localTime(&now)) return false;
  const auto bcd = [](int value) {
    value %= 100;
    return static_cast<uint8_t>((value / 10) << 4 | value % 10);
  };
  const uint8_t year = bcd(now.tm_year + 1900), month = bcd(now.tm_mon + 1), day = bcd(now.tm_mday),
                hour = bcd(now.tm_hour), minute = bcd(now.tm_min), second = bcd(now.tm_sec),
                weekday = bcd(now.tm_wday);
  const uint8_t fins[kClockBytes] = {year, month, day, hour, minute, second, weekday};
  const uint8_t cmode[kClockBytes] = {minute, second, day, hour, year, month, weekday};
  std::memcpy(destination, series == 'F' ? fins : cmode, kClockBytes);
  return true;
}

int32_t PlcWrite(const platform::Platform& p, DriverRequest* request, uint8_t* value) {
  const auto& io = *static_cast<const IoRecord*>(request->payload);
  const NodeOpening opened = OpenGateNode(p, *request);
  if (opened.result != BRELK_OK) return opened.result;

  AnyNetFrame frame;
  BuildAnyNetHeader(*request, frame);
  if (IsSingleWrite(*request) && io.gateType == BRELK_GATE_BIT &&
      ComputeBitWord(p, request, value) != BRELK_OK) {
    return BRELK_REFUSED;
  }
  if (IsCommandGate(io)) {
    const int32_t built = BuildCommandBody(p, io, value, frame);
    if (built != BRELK_OK) return built;
  } else {
    BuildMemoryBody(*request, io, value, frame);
  }
  size_t received = 0;
  return Transact(p, *request, opened.nodeIndex, frame, &received);
}

int32_t SingleWrite(const platform::Platform& p, DriverRequest* request) {
  if (!UsableRecord(request)) return BRELK_REFUSED;
  const auto& io = *static_cast<const IoRecord*>(request->payload);
  const auto* data = static_cast<const uint8_t*>(io.data);
  uint8_t value[4] = {};
  switch (io.info.width) {
    case 8:
      value[0] = data[2];
      break;
    case 32:
      // Low word to the lower address, each word high byte first.
      value[0] = data[1];
      value[1] = data[0];
      value[2] = data[3];
      value[3] = data[2];
      break;
    default:
      Put16be(value, Get16le(data + 2));
      break;
  }
  return PlcWrite(p, request, value) == BRELK_OK ? BRELK_OK : BRELK_REFUSED;
}

int32_t BlockWrite(const platform::Platform& p, DriverRequest* request) {
  if (!UsableRecord(request)) return BRELK_REFUSED;
  const auto& io = *static_cast<const IoRecord*>(request->payload);
  if (!FitsWrite(p, *request, io)) return BRELK_REFUSED;
  const auto* data = static_cast<const uint8_t*>(io.data);
  uint8_t converted[kConversionSize];
  const size_t count = io.count < 0 ? 0 : static_cast<size_t>(io.count);
  const size_t bytes = IsCommandGate(io) ? std::min(count * 2, kConversionSize)
                                         : count * static_cast<size_t>(ElementBytes(io));
  std::memcpy(converted, data, bytes);
  if (io.info.width == 16) {
    for (size_t i = 0; i + 1 < bytes; i += 2) Put16be(converted + i, Get16le(data + i));
  }
  return PlcWrite(p, request, converted) == BRELK_OK ? BRELK_OK : BRELK_REFUSED;
}

}  // namespace brelk
