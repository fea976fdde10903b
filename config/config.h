// Configuration: the INT file, the node table and the clock locations.
#pragma once

#include <cstdint>
#include <cstdio>

#include "brelk/brelk.h"
#include "platform/platform.h"

namespace brelk {

inline constexpr int kLogLevel = 32;        // every message but one
inline constexpr int kLogLevelVersion = 8;  // the version line of ColdStart
inline constexpr int32_t kDefaultClockArWord = 18;
inline constexpr int16_t kNetworkUnknown = -1;
inline constexpr size_t kIntNameSize = 16;   // at most 15 characters
inline constexpr size_t kIntLineSize = 256;  // pieces of at most 255 characters
inline constexpr size_t kHostNameSize = 50;  // at most 49 characters
inline constexpr char kIntBase[] = "BRELK";

// Station key to node index 0-35, or -1.
int KeyToIndex(char key);

// Tries BASEnn.INT, BASEn.INT, BASE.INT; `name` (kIntNameSize bytes) holds the
// name last tried. A name that would not fit is skipped with a message.
std::FILE* OpenIntFile(const platform::Platform& p, const char* base, char* name, int32_t number);

// Reads the INT file into the node and clock tables: 0 read, 1 not read.
int32_t LoadIntFile(const platform::Platform& p, DriverRequest* request);

// The AR word that the INT file names for this gate text, else 18.
int32_t FindClockLocation(const DriverPrivate& block, const char* gateText);

// Shuts down and closes every open node socket, logging each one.
void CloseNodeSockets(const platform::Platform& p, DriverPrivate& block);

// Closes what is open and releases the host-name copies: every entry ends
// up not defined.
void ReleaseNodes(const platform::Platform& p, DriverPrivate& block);

// Shuts one socket down in both directions and closes it; results ignored.
void CloseSocket(const platform::Platform& p, int32_t socket);

}  // namespace brelk
