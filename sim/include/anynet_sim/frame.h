// Request framing of the gateway: how many bytes make one whole AnyNet frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace anynet_sim {

inline constexpr size_t kHeaderSize = 10;
inline constexpr size_t kMaxRequestBody = 2050;  // largest body a client may send
inline constexpr size_t kMaxAnswerFrame = 2048;  // clients receive at most this much at once

enum class FrameType : uint16_t {
  kFins = 0,
  kCmode = 1,
  kNetworkQuery = 255,
};

enum class FrameStatus : uint8_t { kNeedMore, kComplete, kMalformed };

struct FrameCheck {
  FrameStatus status;
  // kNeedMore: bytes still missing (at least); kComplete: length of the first frame.
  size_t bytes = 0;
  const char* reason = nullptr;  // kMalformed only
};

// Looks at the start of what has arrived on a connection. A network-type query is always
// the bare 10-byte header, whatever its length field says.
FrameCheck CheckFrame(std::span<const uint8_t> buffered);

}  // namespace anynet_sim
