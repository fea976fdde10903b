#include "config/config.h"
#include "host/host.h"

namespace brelk {

namespace {
constexpr uint16_t kSocketsVersion = 0x0101;  // 1.1: major in the low byte
constexpr int32_t kHundredthsPerSecond = 100;
constexpr int32_t kMicrosPerHundredth = 10000;
}  // namespace

int32_t ColdStart(const platform::Platform& p, DriverRequest* request) {
  DriverPrivate* block = request->privateBlock;
  const auto* params = static_cast<const ColdStartParams*>(request->payload);
  if (block == nullptr || params == nullptr) return BRELK_COMM_FAILURE;

  p.log(kLogLevelVersion, "BRELK> version compiled on %s at time %s", __DATE__, __TIME__);

  uint16_t provided = 0;
  const int rc = p.startup(kSocketsVersion, &provided);
  if (rc != 0) {
    p.log(kLogLevel, "Could not find a useable WinSock DLL, rc=%d\n", rc);
    return BRELK_COMM_FAILURE;
  }
  if ((provided & 0xFF) != 1 || (provided >> 8) != 1) {
    p.log(kLogLevel, "Could not find the required WinSock DLL ver 2.0 and higher\n");
    return BRELK_COMM_FAILURE;
  }

  // A block that was started before: nothing of the old load survives.
  ReleaseNodes(p, *block);
  const int32_t loaded = LoadIntFile(p, request);

  const int32_t t = params->timeout;
  block->timeoutSec = t / kHundredthsPerSecond;
  block->timeoutUsec = (t - block->timeoutSec * kHundredthsPerSecond) * kMicrosPerHundredth;
  p.log(kLogLevel, "Timeout used for the TCP/IP Sockect is: %d Sec and %d Micro's",
        block->timeoutSec, block->timeoutUsec);
  if (block->timeoutSec + block->timeoutUsec == 0) block->timeoutSec = 1;
  return loaded;
}

int32_t EndKel(const platform::Platform& p, DriverRequest* request) {
  if (request->privateBlock != nullptr) ReleaseNodes(p, *request->privateBlock);
  return BRELK_OK;
}

}  // namespace brelk
