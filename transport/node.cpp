#include <cstring>
#include <string_view>

#include "config/config.h"
#include "transport/bytes.h"
#include "transport/transport.h"

namespace brelk {

using platform::SocketCondition;
using platform::WaitFor;

int CreateSock(const platform::Platform& p, int nodeIndex, NodeEntry* nodes) {
  const int handle = p.socketCreate();
  if (handle <= 0) {
    p.log(kLogLevel, "Cannot create socket");
    return 1;
  }
  p.log(kLogLevel, "Socket created sucessfully");
  nodes[nodeIndex].socket = handle;
  return 0;
}

int ChkSock(const platform::Platform& p, int32_t socket, WaitFor direction, int tries,
            const DriverPrivate& block) {
  const int32_t sec = block.timeoutSec;
  const int32_t usec = block.timeoutUsec;
  for (int tried = 0;;) {
    const int rc = p.wait(socket, direction, sec, usec);
    if (rc > 0) return 0;
    if (rc < 0) return 1;
    ++tried;
    p.log(kLogLevel, "Trying to connect to socket. Retry:%d.", tried);
    if (tried >= tries) return 1;
  }
}

int ConnectSock(const platform::Platform& p, int32_t socket, int nodeIndex, NodeEntry* nodes,
                const DriverPrivate& block) {
  p.setNonBlocking(socket);
  if (p.connect(socket, nodes[nodeIndex].ipAddress, kGatewayPort) != 0) {
    const int code = p.lastError();
    switch (p.classify(code)) {
      case SocketCondition::kWouldBlock:
      case SocketCondition::kInProgress: {
        if (ChkSock(p, socket, WaitFor::kWritable, kWaitTries, block) != 0) {
          p.log(kLogLevel, "Socket was not connected!");
          return 1;
        }
        // Writable also means a refused connect here: only an established
        // connection counts.
        const int outcome = p.pendingError(socket);
        if (outcome != 0) {
          p.log(kLogLevel, "Socket was not connected, iRC=%d", outcome);
          return outcome;
        }
        break;
      }
      case SocketCondition::kAlreadyConnected:
        p.log(kLogLevel, "Socket was already connected");
        break;
      case SocketCondition::kTimedOut:
        p.log(kLogLevel, "Socket was not connect due to timeout - ");
        p.log(kLogLevel, "- Probably Server not ready or not found");
        return code;
      case SocketCondition::kOther:
        p.log(kLogLevel, "Socket was not connected, iRC=%d", code);
        return code != 0 ? code : 1;
    }
  }
  p.log(kLogLevel, "socket connected succesfully.");
  return 0;
}

int GetnetworkVer(const platform::Platform& p, int32_t socket, const DriverPrivate& block,
                  const char* hostName) {
  uint8_t query[header::kSize] = {};
  Put16le(query + header::kFrameType, kFrameNetworkQuery);
  Put16le(query + header::kBodyLength, header::kSize);
  if (p.send(socket, query, sizeof query) < 0) {
    p.log(kLogLevel, "BRELK>Send failed in GetnetworkVer, rc=%d", p.lastError());
    return kNetUndetermined;
  }
  const int waited = ChkSock(p, socket, WaitFor::kReadable, kWaitTries, block);
  if (waited != 0) {
    p.log(kLogLevel, "BRELK>ChkSock failed in GetnetworkVer, rc=%d", waited);
    return kNetUndetermined;
  }
  char answer[kMaxResponseSize + 1];
  const long got = p.recv(socket, answer, kMaxResponseSize);
  if (got < 0) {
    p.log(kLogLevel, "BRELK>Recv failed in GetnetworkVer, rc=%d", p.lastError());
    return kNetUndetermined;
  }
  // The text runs from behind the header to the data's end or its first NUL.
  const size_t size = static_cast<size_t>(got);
  const char* text = answer + header::kSize;
  const size_t textLength = size > header::kSize ? strnlen(text, size - header::kSize) : 0;
  answer[header::kSize + textLength] = '\0';

  const std::string_view name(text, textLength);
  if (name.find("SLK") != std::string_view::npos) {
    p.log(kLogLevel, "BRELK>Network of host %s is %s", hostName, text);
    return kNetSysmacLink;
  }
  if (name.find("SNT") != std::string_view::npos) {
    p.log(kLogLevel, "BRELK>Network of host %s is %s", hostName, text);
    return kNetSysmacNet;
  }
  p.log(kLogLevel, "BRELK>Network of anynet %s is unknown!", hostName);
  return kNetUndetermined;
}

int PrepareNode(const platform::Platform& p, DriverPrivate& block, int nodeIndex) {
  NodeEntry& node = block.nodes[nodeIndex];
  if (node.failed == 1) {
    if (node.socket != 0) {
      p.log(kLogLevel, "Closing TCP/IP socket.");
      CloseSocket(p, node.socket);
    }
    node.connected = 0;
    node.socket = 0;
  }
  if (node.socket == 0 && CreateSock(p, nodeIndex, block.nodes) != 0) return 2;
  if (node.connected == 0) {
    if (ConnectSock(p, node.socket, nodeIndex, block.nodes, block) != 0) return 2;
    node.connected = 1;
  }
  if (static_cast<uint16_t>(node.networkType) == kNetUndetermined) {
    const int type = GetnetworkVer(p, node.socket, block, node.hostName);
    node.networkType = static_cast<int16_t>(type);
    return type;
  }
  return static_cast<uint16_t>(node.networkType);
}

}  // namespace brelk
