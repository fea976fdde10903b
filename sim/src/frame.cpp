#include "anynet_sim/frame.h"

#include "bytes.h"

namespace anynet_sim {

FrameCheck CheckFrame(std::span<const uint8_t> buffered) {
  if (buffered.size() < kHeaderSize) {
    return {FrameStatus::kNeedMore, kHeaderSize - buffered.size()};
  }
  const uint16_t type = detail::get16le(&buffered[0]);
  size_t total = kHeaderSize;
  switch (static_cast<FrameType>(type)) {
    case FrameType::kNetworkQuery:
      break;
    case FrameType::kFins:
    case FrameType::kCmode: {
      const size_t body = detail::get16le(&buffered[8]);
      if (body > kMaxRequestBody) {
        return {FrameStatus::kMalformed, 0, "body length above 2050"};
      }
      total += body;
      break;
    }
    default:
      return {FrameStatus::kMalformed, 0, "unknown frame type"};
  }
  if (buffered.size() < total) return {FrameStatus::kNeedMore, total - buffered.size()};
  return {FrameStatus::kComplete, total};
}

}  // namespace anynet_sim
