// AnyNet transport: node connections and the exchange of one frame.
#pragma once

#include <cstddef>
#include <cstdint>

#include "brelk/brelk.h"
#include "platform/platform.h"

namespace brelk {

inline constexpr uint16_t kGatewayPort = 1023;
inline constexpr int kWaitTries = 3;

// PrepareNode results.
inline constexpr int kNetSysmacLink = 0;
inline constexpr int kNetSysmacNet = 1;
inline constexpr int kNetUndetermined = 0xFFFF;

// AnyNetHeader: offsets of its fields.
namespace header {
inline constexpr size_t kFrameType = 0;  // 16 bits, little-endian
inline constexpr size_t kNetwork = 2;
inline constexpr size_t kDestNode = 3;
inline constexpr size_t kTimeoutTenths = 6;
inline constexpr size_t kGatewayError = 7;
inline constexpr size_t kBodyLength = 8;  // 16 bits, little-endian
inline constexpr size_t kSize = 10;
}  // namespace header

inline constexpr uint16_t kFrameFins = 0;
inline constexpr uint16_t kFrameCMode = 1;
inline constexpr uint16_t kFrameNetworkQuery = 255;
inline constexpr uint16_t kDefaultBodyLength = 8;

inline constexpr size_t kFrameSize = 2060;  // header and 2050 body bytes
inline constexpr size_t kMaxBodySize = kFrameSize - header::kSize;
inline constexpr size_t kMaxResponseSize = 2048;

// One request frame, later overwritten by its response.
struct AnyNetFrame {
  uint8_t bytes[kFrameSize];
  uint8_t* body() { return bytes + header::kSize; }
  const uint8_t* body() const { return bytes + header::kSize; }
  void setBodyLength(uint16_t length);
  uint16_t bodyLength() const;
};

// ---- node connections
int CreateSock(const platform::Platform& p, int nodeIndex, NodeEntry* nodes);
int ConnectSock(const platform::Platform& p, int32_t socket, int nodeIndex, NodeEntry* nodes,
                const DriverPrivate& block);
// 0 ready; 1 not ready after `tries` timeouts, or the wait itself failed.
int ChkSock(const platform::Platform& p, int32_t socket, platform::WaitFor direction, int tries,
            const DriverPrivate& block);
int GetnetworkVer(const platform::Platform& p, int32_t socket, const DriverPrivate& block,
                  const char* hostName);
// 0/1 the connected node's network, 2 no connection, 0xFFFF undetermined.
int PrepareNode(const platform::Platform& p, DriverPrivate& block, int nodeIndex);

// ---- frame exchange
int BuildAnyNetHeader(const DriverRequest& request, AnyNetFrame& frame);
// Sends the whole frame and receives one whole response into it; `received`
// is the response's size. 0 or 2.
int SendRecv(const platform::Platform& p, int32_t socket, AnyNetFrame& frame,
             const DriverPrivate& block, size_t* received);
// 0 good response, 1 the command failed, 2 the gateway or network failed.
int ChkResponse(const platform::Platform& p, const AnyNetFrame& frame, size_t received,
                const char* gateText, char series, uint16_t sentCommand, uint8_t sentNode);

}  // namespace brelk
