#include "commands/commands.h"
#include "config/config.h"
#include "transport/bytes.h"

namespace brelk {

NodeOpening OpenGateNode(const platform::Platform& p, DriverRequest& request) {
  const auto& io = *static_cast<const IoRecord*>(request.payload);
  DriverPrivate& block = *request.privateBlock;
  const int index = KeyToIndex(io.text[0]);
  if (index < 0 || block.nodes[index].hostName == nullptr) return {index, BRELK_REFUSED};
  const int prepared = PrepareNode(p, block, index);
  if (prepared == 2 || prepared == kNetUndetermined) {
    block.nodes[index].failed = 1;
    return {index, BRELK_COMM_FAILURE};
  }
  return {index, BRELK_OK};
}

int32_t Transact(const platform::Platform& p, DriverRequest& request, int nodeIndex,
                 AnyNetFrame& frame, size_t* received) {
  const auto& io = *static_cast<const IoRecord*>(request.payload);
  NodeEntry& node = request.privateBlock->nodes[nodeIndex];
  const char series = io.text[1];
  // The response overwrites the frame: keep what the check compares.
  const uint16_t sentCommand = series == 'F' ? Get16be(frame.body()) : frame.body()[0];
  const uint8_t sentNode = frame.bytes[header::kDestNode];
  const int sent = SendRecv(p, node.socket, frame, *request.privateBlock, received);
  if (sent != 0) {
    node.failed = 1;
    return sent;
  }
  node.failed = 0;
  return ChkResponse(p, frame, *received, io.text, series, sentCommand, sentNode);
}

}  // namespace brelk
