// Host interface: the export's dispatch and the handlers that need no other
// subsystem, plus start and stop.
#pragma once

#include <cstdint>

#include "brelk/brelk.h"
#include "platform/platform.h"

namespace brelk {

using Handler = int32_t (*)(const platform::Platform&, DriverRequest*);

// KelMain with the platform made explicit; tests pass a scripted one.
int32_t Dispatch(const platform::Platform& p, DriverRequest* request);

int32_t GetKelInfo(const platform::Platform& p, DriverRequest* request);
int32_t WarmStart(const platform::Platform& p, DriverRequest* request);
int32_t ColdStart(const platform::Platform& p, DriverRequest* request);
int32_t EndKel(const platform::Platform& p, DriverRequest* request);

// The banner GetKelInfo reports, in code page 437.
extern const char kBanner[];
extern const char kDriverName[];

}  // namespace brelk
