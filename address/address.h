// Gate addressing: the parse of a gate address text into AddressInfo.
#pragma once

#include <cstdint>

#include "brelk/brelk.h"
#include "platform/platform.h"

namespace brelk {

// Function code 3: 0 accepted, 1 refused.
int32_t SingleAddressParser(const platform::Platform& p, DriverRequest* request);
// Function code 4: 0 accepted, 1 refused.
int32_t BlockAddressParser(const platform::Platform& p, DriverRequest* request);
// The parse behind both; reads `code` of the request (3 single, 4 block).
int32_t ParseGateAddress(const platform::Platform& p, DriverRequest* request);

}  // namespace brelk
