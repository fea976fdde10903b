// PLC commands: reads, writes and command gates in the FINS and C-mode
// command sets, and the conversion between controller and host data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "address/tables.h"
#include "brelk/brelk.h"
#include "platform/platform.h"
#include "transport/transport.h"

namespace brelk {

int32_t SingleRead(const platform::Platform& p, DriverRequest* request);   // code 5
int32_t BlockRead(const platform::Platform& p, DriverRequest* request);    // code 6
int32_t SingleWrite(const platform::Platform& p, DriverRequest* request);  // code 7
int32_t BlockWrite(const platform::Platform& p, DriverRequest* request);   // code 10

// Builds, exchanges and decodes one read: 0, 1 or 2.
int32_t PlcRead(const platform::Platform& p, DriverRequest* request);
// Builds and exchanges one write of `value` (wire order; the bit write puts
// its word into the first two bytes): 0, 1 or 2.
int32_t PlcWrite(const platform::Platform& p, DriverRequest* request, uint8_t* value);

// Moves the answer's data (`available` bytes of it arrived) into the host's
// buffer: 0 done, 1 no rule for the gate's width, 2 answer too short.
int32_t DecodeReadData(const platform::Platform& p, DriverRequest* request,
                       const uint8_t* answerData, size_t available);

// The FINS word address of a memory gate, offset by its memory-type letter.
uint16_t FinsWordAddress(int32_t address, char letter);
// Four bytes b0 b1 b2 b3 as the 32-bit value whose bytes are b1 b0 b3 b2.
uint32_t SwapWordBytes(const uint8_t bytes[4]);
// The PC's local time as seven BCD bytes in the order of the series
// ('F' FINS, any other C-mode); false when the time is not available.
bool EncodeClock(const platform::Platform& p, uint8_t* destination, char series);

// What reads and writes take from a gate's record.
inline bool IsCommandGate(const IoRecord& io) {
  return io.text[address::kPosType] == address::kCommandMark;
}
inline uint16_t CommandCode(const IoRecord& io) {
  return static_cast<uint16_t>(io.info.areaWord & 0x7fff);
}
inline uint8_t AreaCode(const IoRecord& io) {
  return static_cast<uint8_t>(io.info.areaWord);
}

// The calling order every request shares, around the body the caller builds.
// Opens the gate's node: the node index, or a result to end the request with.
struct NodeOpening {
  int nodeIndex;
  int32_t result;  // 0 go on
};
NodeOpening OpenGateNode(const platform::Platform& p, DriverRequest& request);
// Sends the frame built for the node, keeps the `failed` mark and checks the
// response: 0 good (`received` bytes), else the result for the host.
int32_t Transact(const platform::Platform& p, DriverRequest& request, int nodeIndex,
                 AnyNetFrame& frame, size_t* received);

}  // namespace brelk
