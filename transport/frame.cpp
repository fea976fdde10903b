#include <algorithm>

#include "config/config.h"
#include "transport/bytes.h"
#include "transport/transport.h"

namespace brelk {

using platform::WaitFor;

void AnyNetFrame::setBodyLength(uint16_t length) {
  Put16le(bytes + header::kBodyLength, length);
}
uint16_t AnyNetFrame::bodyLength() const {
  return Get16le(bytes + header::kBodyLength);
}

namespace {

constexpr int64_t kMaxTenths = 255;
constexpr size_t kFinsCheckedBody = 4;  // command code, end code
constexpr size_t kRelayInfoBody = 6;    // and two relay error bytes
constexpr size_t kCCheckedBody = 2;     // command byte, end code
constexpr uint8_t kRelayError = 0x80;
constexpr uint8_t kLastNetworkMainCode = 0x03;
constexpr uint8_t kCEndRunMode = 0x01;

int64_t TimeoutMs(const DriverPrivate& block) {
  return int64_t{block.timeoutSec} * 1000 + block.timeoutUsec / 1000;
}

// Sends every byte, waiting for room within the three-timeout bound.
bool SendAll(const platform::Platform& p, int32_t socket, const uint8_t* data, size_t size,
             const DriverPrivate& block) {
  const int64_t deadline = p.monotonicMs() + int64_t{kWaitTries} * TimeoutMs(block);
  while (size > 0) {
    const long sent = p.send(socket, data, size);
    if (sent > 0) {
      data += sent;
      size -= static_cast<size_t>(sent);
      continue;
    }
    if (sent < 0 && p.classify(p.lastError()) != platform::SocketCondition::kWouldBlock) {
      p.log(kLogLevel, "BRELK> send() failed!, iRC=%d", p.lastError());
      return false;
    }
    if (p.monotonicMs() >= deadline ||
        p.wait(socket, WaitFor::kWritable, block.timeoutSec, block.timeoutUsec) <= 0) {
      p.log(kLogLevel, "BRELK> send() failed!, iRC=%d", p.lastError());
      return false;
    }
  }
  return true;
}

// Reads the 10-byte header, then the body it announces. What would not fit
// the receive area is read and dropped, so the next answer starts clean.
// The first byte gets the three tries of any wait; the rest must follow
// within three timeouts of the start.
bool ReceiveWhole(const platform::Platform& p, int32_t socket, AnyNetFrame& frame,
                  const DriverPrivate& block, size_t* received) {
  const int64_t timeoutMs = TimeoutMs(block);
  const int64_t deadline = p.monotonicMs() + kWaitTries * timeoutMs;
  size_t got = 0;
  size_t want = header::kSize;   // what the frame keeps
  size_t total = header::kSize;  // what the gateway sends
  uint8_t dropped[256];
  int timeouts = 0;
  bool pending = false;  // the last receive filled what it asked: more may wait
  while (got < total) {
    int ready = 1;
    if (pending) {
      // Try before waiting: the body mostly comes with its header.
    } else if (got == 0) {
      ready = p.wait(socket, WaitFor::kReadable, block.timeoutSec, block.timeoutUsec);
      if (ready == 0) {
        ++timeouts;
        p.log(kLogLevel, "Trying to connect to socket. Retry:%d.", timeouts);
        if (timeouts >= kWaitTries) return false;
        continue;
      }
    } else {
      const int64_t left = std::min(deadline - p.monotonicMs(), timeoutMs);
      ready = left > 0 ? p.wait(socket, WaitFor::kReadable, static_cast<int32_t>(left / 1000),
                                static_cast<int32_t>(left % 1000) * 1000)
                       : 0;
      if (ready == 0) {
        if (left > 0) continue;
        p.log(kLogLevel, "BRELK> recv() stopped short: %d of %d bytes", static_cast<int>(got),
              static_cast<int>(total));
        return false;
      }
    }
    if (ready < 0) return false;
    const long n = got < want ? p.recv(socket, frame.bytes + got, want - got)
                              : p.recv(socket, dropped, std::min(sizeof dropped, total - got));
    pending = false;
    if (n < 0) {
      if (p.classify(p.lastError()) == platform::SocketCondition::kWouldBlock) continue;
      p.log(kLogLevel, "BRELK> recv() failed!, iRC=%d", p.lastError());
      return false;
    }
    if (n == 0) {
      p.log(kLogLevel, "BRELK> recv() failed!, connection closed by the gateway");
      return false;
    }
    got += static_cast<size_t>(n);
    if (total == header::kSize && got == header::kSize) {
      total += frame.bodyLength();
      want = std::min(total, kMaxResponseSize);
      pending = true;
    }
  }
  *received = want;
  return true;
}

bool TooShort(const platform::Platform& p, size_t received, size_t needed, const char* gateText) {
  if (received >= needed) return false;
  p.log(kLogLevel, "BRELK> Error (%s): response too short, %d bytes", gateText,
        static_cast<int>(received));
  return true;
}

}  // namespace

int BuildAnyNetHeader(const DriverRequest& request, AnyNetFrame& frame) {
  const auto& io = *static_cast<const IoRecord*>(request.payload);
  const DriverPrivate& block = *request.privateBlock;
  uint8_t* h = frame.bytes;
  Put16le(h + header::kFrameType, io.text[1] == 'C' ? kFrameCMode : kFrameFins);
  h[header::kNetwork] = static_cast<uint8_t>(static_cast<uint32_t>(io.info.areaWord) >> 16);
  h[header::kDestNode] = static_cast<uint8_t>(io.info.node);
  h[4] = 0;
  h[5] = 0;
  // Clamped, not wrapped: 30 s must not tell the gateway 4.4 s.
  const int64_t tenths = int64_t{block.timeoutSec} * 10 + block.timeoutUsec / 100000;
  h[header::kTimeoutTenths] = static_cast<uint8_t>(std::clamp<int64_t>(tenths, 0, kMaxTenths));
  h[header::kGatewayError] = 0;
  frame.setBodyLength(kDefaultBodyLength);
  return 0;
}

int SendRecv(const platform::Platform& p, int32_t socket, AnyNetFrame& frame,
             const DriverPrivate& block, size_t* received) {
  *received = 0;
  const size_t size = std::min<size_t>(header::kSize + frame.bodyLength(), kFrameSize);
  if (!SendAll(p, socket, frame.bytes, size, block)) return 2;
  return ReceiveWhole(p, socket, frame, block, received) ? 0 : 2;
}

int ChkResponse(const platform::Platform& p, const AnyNetFrame& frame, size_t received,
                const char* gateText, char series, uint16_t sentCommand, uint8_t sentNode) {
  if (TooShort(p, received, header::kSize, gateText)) return 2;
  const uint8_t* h = frame.bytes;
  const uint8_t* body = frame.body();
  if (h[header::kGatewayError] != 0) {
    p.log(kLogLevel, "BRELK> Error (%s) from Omron NSB: Error code = 0x%x", gateText,
          h[header::kGatewayError]);
    return 2;
  }
  if (h[header::kDestNode] != sentNode) {
    p.log(kLogLevel, "BRELK> Error: Command was sent to node %d, reponse came from %d", sentNode,
          h[header::kDestNode]);
    return 1;
  }
  if (series == 'F') {
    if (TooShort(p, received, header::kSize + kFinsCheckedBody, gateText)) return 2;
    const uint8_t main = body[2];
    if (main != 0) {
      p.log(kLogLevel, "BRELK>Error (FINS commands) (%s): main code = 0x%x, subcode = 0x%x",
            gateText, main, body[3]);
      if (main & kRelayError) {
        if (TooShort(p, received, header::kSize + kRelayInfoBody, gateText)) return 1;
        p.log(kLogLevel, "BRELK>Relay Error additional information: Byte1=0x%x, Byte2=0x%x",
              body[4], body[5]);
        return 1;
      }
      return main <= kLastNetworkMainCode ? 2 : 1;
    }
    const uint16_t echoed = Get16be(body);
    if (echoed != sentCommand) {
      p.log(kLogLevel, "Error: Command sent was 0x%x but response is 0x%x", sentCommand, echoed);
      return 1;
    }
    return 0;
  }
  if (TooShort(p, received, header::kSize + kCCheckedBody, gateText)) return 2;
  const uint8_t end = body[1];
  if (end == kCEndRunMode) {
    p.log(kLogLevel, "BRELK>Error: (C commands) Can not write to PLC when in RUN Mode!");
    return 1;
  }
  if (end != 0) {
    p.log(kLogLevel, "BRELK>Error (C commands) (%s): code = 0x%x", gateText, end);
    return 1;
  }
  if ((body[0] & 0x7F) != sentCommand) {
    p.log(kLogLevel, "Error: Command sent was 0x%x but response is 0x%x", sentCommand, body[0]);
    return 1;
  }
  return 0;
}

}  // namespace brelk
