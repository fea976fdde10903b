#include <array>

#include "address/address.h"
#include "commands/commands.h"
#include "host/host.h"

namespace brelk {

#if BRELK_PTR_BITS == 32
#define BRELK_BITS_TEXT "(32 bit driver)"
#else
#define BRELK_BITS_TEXT "(64 bit driver)"
#endif

// Box drawn in code page 437: 0xDA 0xC4 0xBF / 0xB3 / 0xC0 0xC4 0xD9.
#define BRELK_RULE                                                                       \
  "\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4" \
  "\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4" \
  "\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4"

const char kBanner[] =
    "\r\n"
    "\xDA" BRELK_RULE
    "\xBF        \r\n"
    "\xB3  BRELK:  Omron AnyNet TCP/IP driver   " BRELK_BITS_TEXT
    " \xB3        \r\n"
    "\xC0" BRELK_RULE "\xD9        \r\n";
static_assert(sizeof kBanner == 204, "banner is 203 characters and a NUL");

const char kDriverName[] = "Omron AnyNet TCP/IP";

namespace {

constexpr int32_t kInfoA = 70;
constexpr int32_t kInfoB = 1;
constexpr int16_t kInfoC = 0;
constexpr int32_t kInfoD = 3;

// One slot per function code; an empty slot answers 2.
constexpr std::array<Handler, 17> kDispatch = [] {
  std::array<Handler, 17> table{};
  table[BRELK_COLD_START] = &ColdStart;
  table[BRELK_WARM_START] = &WarmStart;
  table[BRELK_SINGLE_ADDRESS_PARSER] = &SingleAddressParser;
  table[BRELK_BLOCK_ADDRESS_PARSER] = &BlockAddressParser;
  table[BRELK_SINGLE_READ] = &SingleRead;
  table[BRELK_BLOCK_READ] = &BlockRead;
  table[BRELK_SINGLE_WRITE] = &SingleWrite;
  table[BRELK_BLOCK_WRITE] = &BlockWrite;
  table[BRELK_END_KEL] = &EndKel;
  table[BRELK_GET_KEL_INFO] = &GetKelInfo;
  return table;
}();

}  // namespace

int32_t Dispatch(const platform::Platform& p, DriverRequest* request) {
  if (request == nullptr) return BRELK_COMM_FAILURE;
  const auto code = static_cast<uint32_t>(request->code);
  if (code >= kDispatch.size() || kDispatch[code] == nullptr) return BRELK_COMM_FAILURE;
  return kDispatch[code](p, request);
}

int32_t GetKelInfo(const platform::Platform&, DriverRequest* request) {
  auto* info = static_cast<DriverInfo*>(request->payload);
  if (info == nullptr) return BRELK_COMM_FAILURE;
  // Field by field: the reserved bytes and padding stay as the host left them.
  info->infoA = kInfoA;
  info->driverName = kDriverName;
  info->banner = kBanner;
  info->privateSize = static_cast<int32_t>(sizeof(DriverPrivate));
  info->infoB = kInfoB;
  info->infoC = kInfoC;
  info->infoD = kInfoD;
  return BRELK_OK;
}

int32_t WarmStart(const platform::Platform&, DriverRequest*) {
  return BRELK_OK;
}

}  // namespace brelk
