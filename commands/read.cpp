#include <algorithm>
#include <cstdio>
#include <cstring>

#include "address/tables.h"
#include "commands/commands.h"
#include "config/config.h"
#include "transport/bytes.h"

namespace brelk {

namespace {

using address::kCmdPlcTime;
using address::kCmdStatus;

constexpr size_t kFinsDataOffset = 4;  // command code, end code
constexpr size_t kCDataOffset = 2;     // command byte, end code
constexpr uint8_t kCReadClock = 0x1C;  // also the read of memory type 'a'
constexpr uint16_t kCClockWords = 3;
constexpr uint8_t kCReadStatus = 0x10;
constexpr uint8_t kFinsMemoryRead[] = {0x01, 0x01};
constexpr size_t kClockTextSize = 18;  // 17 characters and the NUL

bool IsSingle(const DriverRequest& request) {
  return request.code == BRELK_SINGLE_READ;
}

// Controller elements a read asks for; a single gate reads one element.
int64_t ElementCount(const DriverRequest& request, const IoRecord& io) {
  const int64_t elements = IsSingle(request) ? 1 : io.count;
  return io.info.width == 32 ? elements * 2 : elements;
}

// A block whose answer would not fit the receive area, or a clock text that
// would not fit the host's buffer, is refused before anything is sent.
bool FitsReceiveArea(const platform::Platform& p, const DriverRequest& request,
                     const IoRecord& io) {
  if (IsCommandGate(io)) {
    if (CommandCode(io) == kCmdPlcTime && io.count < static_cast<int32_t>(kClockTextSize)) {
      p.log(kLogLevel, "BRELK> Text buffer of gate %s is too short for the clock: %d bytes",
            io.text, io.count);
      return false;
    }
    return true;
  }
  const size_t dataOffset = io.text[1] == 'F' ? kFinsDataOffset : kCDataOffset;
  const int64_t elements = ElementCount(request, io);
  const size_t room =
      (kMaxResponseSize - header::kSize - dataOffset) / (io.info.width == 8 ? 1 : 2);
  if (elements < 0 || static_cast<size_t>(elements) > room) {
    p.log(kLogLevel, "BRELK> Block size %d of gate %s is too large for one read", io.count,
          io.text);
    return false;
  }
  return true;
}

void BuildReadBody(const DriverRequest& request, const IoRecord& io, AnyNetFrame& frame) {
  uint8_t* body = frame.body();
  const bool fins = io.text[1] == 'F';
  const auto elements = static_cast<uint16_t>(ElementCount(request, io));
  if (IsCommandGate(io)) {
    const uint16_t command = CommandCode(io);
    if (fins) {
      Put16be(body, command);
      frame.setBodyLength(2);
    } else if (command == kCmdPlcTime) {
      body[0] = kCReadClock;
      Put16be(body + 1, static_cast<uint16_t>(io.info.address));
      Put16be(body + 3, kCClockWords);
      frame.setBodyLength(5);
    } else {
      body[0] = kCReadStatus;
      frame.setBodyLength(1);
    }
    return;
  }
  if (fins) {
    body[0] = kFinsMemoryRead[0];
    body[1] = kFinsMemoryRead[1];
    body[2] = AreaCode(io);
    Put16be(body + 3, FinsWordAddress(io.info.address, io.text[address::kPosType]));
    body[5] = 0;  // bit position
    Put16be(body + 6, elements);
    return;  // the preset length 8
  }
  body[0] = AreaCode(io);
  Put16be(body + 1, static_cast<uint16_t>(io.info.address));
  Put16be(body + 3, elements);
  frame.setBodyLength(5);
}

// The entry gates differ only in the one command gate they let through.
int32_t EnterRead(const platform::Platform& p, DriverRequest* request, uint16_t allowedCommand,
                  const char* refusal) {
  const auto* io = static_cast<const IoRecord*>(request->payload);
  if (io == nullptr || io->text == nullptr || request->privateBlock == nullptr)
    return BRELK_REFUSED;
  if (std::strlen(io->text) <= address::kPosType) return BRELK_REFUSED;
  if (IsCommandGate(*io) && CommandCode(*io) != allowedCommand) {
    p.log(kLogLevel, refusal, io->text);
    return BRELK_REFUSED;
  }
  return PlcRead(p, request);
}

}  // namespace

uint16_t FinsWordAddress(int32_t address, char letter) {
  // Areas that share a FINS area code with another, told apart by an offset.
  struct Offset {
    char letter;
    uint16_t offset;
  };
  static constexpr Offset kOffsets[] = {{'A', 0x0B00}, {'G', 0x0A00}, {'C', 0x0800}, {'c', 0x0800}};
  uint32_t sum = static_cast<uint32_t>(address);
  for (const Offset& o : kOffsets) {
    if (o.letter == letter) sum += o.offset;
  }
  return static_cast<uint16_t>(sum);
}

uint32_t SwapWordBytes(const uint8_t bytes[4]) {
  return static_cast<uint32_t>(bytes[1]) | static_cast<uint32_t>(bytes[0]) << 8 |
         static_cast<uint32_t>(bytes[3]) << 16 | static_cast<uint32_t>(bytes[2]) << 24;
}

int32_t SingleRead(const platform::Platform& p, DriverRequest* request) {
  return EnterRead(p, request, kCmdPlcTime, "BRELK> Can not do single read for command gate %s");
}

int32_t BlockRead(const platform::Platform& p, DriverRequest* request) {
  return EnterRead(p, request, kCmdStatus, "BRELK> Can not do block read for command gate %s");
}

int32_t PlcRead(const platform::Platform& p, DriverRequest* request) {
  const auto& io = *static_cast<const IoRecord*>(request->payload);
  if (io.data == nullptr) return BRELK_REFUSED;
  if (!FitsReceiveArea(p, *request, io)) return BRELK_REFUSED;
  const NodeOpening opened = OpenGateNode(p, *request);
  if (opened.result != BRELK_OK) return opened.result;

  AnyNetFrame frame;
  BuildAnyNetHeader(*request, frame);
  BuildReadBody(*request, io, frame);
  size_t received = 0;
  const int32_t checked = Transact(p, *request, opened.nodeIndex, frame, &received);
  if (checked != 0) return checked;
  const size_t offset = header::kSize + (io.text[1] == 'F' ? kFinsDataOffset : kCDataOffset);
  const size_t available = received > offset ? received - offset : 0;
  return DecodeReadData(p, request, frame.bytes + offset, available);
}

int32_t DecodeReadData(const platform::Platform& p, DriverRequest* request, const uint8_t* d,
                       size_t available) {
  const auto& io = *static_cast<const IoRecord*>(request->payload);
  auto* out = static_cast<uint8_t*>(io.data);
  const bool fins = io.text[1] == 'F';
  const uint16_t command = CommandCode(io);
  const int32_t count = io.count < 0 ? 0 : io.count;
  const auto tooShort = [&](size_t needed) {
    if (available >= needed) return false;
    p.log(kLogLevel, "BRELK> Error (%s): response too short, %d bytes", io.text,
          static_cast<int>(available));
    return true;
  };

  if (command == kCmdPlcTime) {
    if (tooShort(6)) return BRELK_COMM_FAILURE;
    // BCD digits print as decimal digits in hexadecimal.
    const int order[2][6] = {{0, 1, 2, 3, 4, 5}, {4, 5, 2, 3, 0, 1}};
    const int* o = order[fins ? 0 : 1];
    char text[kClockTextSize];
    std::snprintf(text, sizeof text, "%02x-%02x-%02x %02x:%02x:%02x", d[o[0]], d[o[1]], d[o[2]],
                  d[o[3]], d[o[4]], d[o[5]]);
    // Never past `count` bytes; the read refuses a buffer under 18 before sending.
    std::memset(out, 0, static_cast<size_t>(count));
    std::memcpy(out, text, std::min(sizeof text, static_cast<size_t>(count)));
    return BRELK_OK;
  }
  if (command == kCmdStatus) {
    // FINS: status, mode, then words; C-mode: bytes in the controller's order.
    const int32_t items = count;
    if (fins) {
      const auto n = static_cast<size_t>(items);
      if (tooShort(n <= 2 ? n : 2 * n - 2)) return BRELK_COMM_FAILURE;
      for (int32_t i = 0; i < items; ++i) {
        const uint16_t value = i < 2 ? d[i] : Get16be(d + 2 * i - 2);
        Put16le(out + 2 * i, value);
      }
    } else {
      constexpr size_t kCStatusOrder[] = {1, 0, 3, 4};
      const int32_t used = items < 4 ? items : 4;
      size_t needed = 0;
      for (int32_t i = 0; i < used; ++i) needed = std::max(needed, kCStatusOrder[i] + 1);
      if (tooShort(needed)) return BRELK_COMM_FAILURE;
      for (int32_t i = 0; i < used; ++i) Put16le(out + 2 * i, d[kCStatusOrder[i]]);
    }
    return BRELK_OK;
  }

  if (request->code == BRELK_SINGLE_READ) {
    switch (io.info.width) {
      case 8:
        if (tooShort(1)) return BRELK_COMM_FAILURE;
        Put16le(out, 0);
        Put16le(out + 2, d[0]);
        return BRELK_OK;
      case 16: {
        if (tooShort(2)) return BRELK_COMM_FAILURE;
        const uint16_t value = Get16be(d);
        Put16le(out, 0);
        const int32_t bit = io.info.bitNumber;
        const bool bitGate = io.gateType == BRELK_GATE_BIT;
        Put16le(out + 2, !bitGate               ? value
                         : bit >= 0 && bit < 16 ? static_cast<uint16_t>((value >> bit) & 1)
                                                : 0);
        return BRELK_OK;
      }
      case 32: {
        if (tooShort(4)) return BRELK_COMM_FAILURE;
        const uint32_t value = SwapWordBytes(d);
        Put16le(out, static_cast<uint16_t>(value));
        Put16le(out + 2, static_cast<uint16_t>(value >> 16));
        return BRELK_OK;
      }
      default:
        return BRELK_REFUSED;
    }
  }
  switch (io.info.width) {
    case 8:
      if (tooShort(static_cast<size_t>(count))) return BRELK_COMM_FAILURE;
      std::memcpy(out, d, static_cast<size_t>(count));
      return BRELK_OK;
    case 16:
      if (tooShort(2 * static_cast<size_t>(count))) return BRELK_COMM_FAILURE;
      for (int32_t i = 0; i < count; ++i) Put16le(out + 2 * i, Get16be(d + 2 * i));
      return BRELK_OK;
    default:
      return count == 0 ? BRELK_OK : BRELK_REFUSED;
  }
}

}  // namespace brelk
