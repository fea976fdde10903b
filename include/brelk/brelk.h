/* BRELKIN: Omron AnyNet TCP/IP communication driver, public interface.
 *
 * The host owns every record below and passes it by pointer to KelMain.
 * In the 32-bit build every offset is the historical 32-bit contract; the
 * 64-bit build keeps the same fields in the same order with natural C
 * alignment and 8-byte pointers (NodeEntry stays packed). Both layouts are
 * pinned by the static assertions at the end of this file.
 *
 * Compiles as C (C11 or later) and as C++. */
#ifndef BRELK_BRELK_H
#define BRELK_BRELK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(BRELK_BUILDING_DRIVER)
#define BRELK_API __attribute__((visibility("default")))
#else
#define BRELK_API
#endif

/* Function codes carried in DriverRequest.code. */
enum BrelkFunctionCode {
  BRELK_COLD_START = 1,
  BRELK_WARM_START = 2,
  BRELK_SINGLE_ADDRESS_PARSER = 3,
  BRELK_BLOCK_ADDRESS_PARSER = 4,
  BRELK_SINGLE_READ = 5,
  BRELK_BLOCK_READ = 6,
  BRELK_SINGLE_WRITE = 7,
  BRELK_BLOCK_WRITE = 10,
  BRELK_END_KEL = 11,
  BRELK_GET_KEL_INFO = 14
};

/* Result codes of every handler. */
enum BrelkResult { BRELK_OK = 0, BRELK_REFUSED = 1, BRELK_COMM_FAILURE = 2 };

/* Gate types the host passes in ParseRecord and IoRecord. */
enum BrelkGateType { BRELK_GATE_DWORD = 3, BRELK_GATE_BIT = 6, BRELK_GATE_TEXT = 7 };

#define BRELK_NODE_COUNT 36
#define BRELK_CLOCK_COUNT 50
#define BRELK_CLOCK_NAME_SIZE 32

#pragma pack(push, 1)
typedef struct NodeEntry {
  uint32_t ipAddress; /* network byte order */
  char key;
  char* hostName; /* null: node not defined */
  int32_t socket; /* 0: none */
  int32_t connected;
  int32_t failed;
  int16_t networkType; /* -1 undetermined, 0 Sysmac Link, 1 Sysmac Net */
} NodeEntry;
#pragma pack(pop)

typedef struct ClockLocation {
  char gateName[BRELK_CLOCK_NAME_SIZE]; /* empty: entry free */
  int32_t arWord;
} ClockLocation;

typedef struct DriverPrivate {
  NodeEntry nodes[BRELK_NODE_COUNT];
  int32_t timeoutSec;
  int32_t timeoutUsec;
  ClockLocation clocks[BRELK_CLOCK_COUNT];
} DriverPrivate;

typedef struct DriverRequest {
  DriverPrivate* privateBlock;
  int32_t code;
  int32_t fileNumber;
  uint8_t unused0C[4];
  void* payload;
} DriverRequest;

typedef struct ColdStartParams {
  uint8_t unused00[16];
  int32_t timeout; /* hundredths of a second */
} ColdStartParams;

typedef struct AddressInfo {
  int32_t node;
  int32_t areaWord;
  int32_t address;
  int32_t bitNumber;
  int32_t width;
} AddressInfo;

typedef struct ParseRecord {
  const char* text;
  uint8_t unused04[4];
  int32_t gateType;
  int32_t count;
  AddressInfo info;
} ParseRecord;

typedef struct IoRecord {
  const char* text;
  uint8_t unused04[4];
  AddressInfo info;
  int32_t gateType;
  int32_t count;
  uint8_t unused24[4];
  void* data;
} IoRecord;

typedef struct DriverInfo {
  int32_t infoA;
  const char* driverName;
  const char* banner;
  int32_t privateSize;
  int32_t infoB;
  int16_t infoC;
  uint8_t unused16[6];
  int32_t infoD;
} DriverInfo;

/* The driver's only export. */
BRELK_API int32_t KelMain(DriverRequest* request);

/* ---- layout checks ---------------------------------------------------- */
#ifdef __cplusplus
#define BRELK_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define BRELK_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
#include <stddef.h>

#if UINTPTR_MAX == 0xFFFFFFFFu
#define BRELK_PTR_BITS 32
BRELK_STATIC_ASSERT(sizeof(NodeEntry) == 23, "NodeEntry");
BRELK_STATIC_ASSERT(offsetof(NodeEntry, hostName) == 5 && offsetof(NodeEntry, socket) == 9 &&
                        offsetof(NodeEntry, connected) == 13 && offsetof(NodeEntry, failed) == 17 &&
                        offsetof(NodeEntry, networkType) == 21,
                    "NodeEntry fields");
BRELK_STATIC_ASSERT(sizeof(DriverPrivate) == 2636, "DriverPrivate");
BRELK_STATIC_ASSERT(offsetof(DriverPrivate, timeoutSec) == 828 &&
                        offsetof(DriverPrivate, timeoutUsec) == 832 &&
                        offsetof(DriverPrivate, clocks) == 836,
                    "DriverPrivate fields");
BRELK_STATIC_ASSERT(offsetof(DriverRequest, code) == 0x04 &&
                        offsetof(DriverRequest, fileNumber) == 0x08 &&
                        offsetof(DriverRequest, payload) == 0x10 && sizeof(DriverRequest) == 0x14,
                    "DriverRequest");
BRELK_STATIC_ASSERT(offsetof(ParseRecord, gateType) == 0x08 &&
                        offsetof(ParseRecord, count) == 0x0C &&
                        offsetof(ParseRecord, info) == 0x10 && sizeof(ParseRecord) == 0x24,
                    "ParseRecord");
BRELK_STATIC_ASSERT(offsetof(IoRecord, info) == 0x08 && offsetof(IoRecord, gateType) == 0x1C &&
                        offsetof(IoRecord, count) == 0x20 && offsetof(IoRecord, data) == 0x28 &&
                        sizeof(IoRecord) == 0x2C,
                    "IoRecord");
BRELK_STATIC_ASSERT(offsetof(DriverInfo, driverName) == 0x04 &&
                        offsetof(DriverInfo, banner) == 0x08 &&
                        offsetof(DriverInfo, privateSize) == 0x0C &&
                        offsetof(DriverInfo, infoB) == 0x10 &&
                        offsetof(DriverInfo, infoC) == 0x14 &&
                        offsetof(DriverInfo, infoD) == 0x1C && sizeof(DriverInfo) == 0x20,
                    "DriverInfo");
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
#define BRELK_PTR_BITS 64
BRELK_STATIC_ASSERT(sizeof(NodeEntry) == 27, "NodeEntry");
BRELK_STATIC_ASSERT(offsetof(NodeEntry, hostName) == 5 && offsetof(NodeEntry, socket) == 13 &&
                        offsetof(NodeEntry, connected) == 17 && offsetof(NodeEntry, failed) == 21 &&
                        offsetof(NodeEntry, networkType) == 25,
                    "NodeEntry fields");
BRELK_STATIC_ASSERT(sizeof(DriverPrivate) == 2780, "DriverPrivate");
BRELK_STATIC_ASSERT(offsetof(DriverPrivate, timeoutSec) == 972 &&
                        offsetof(DriverPrivate, timeoutUsec) == 976 &&
                        offsetof(DriverPrivate, clocks) == 980,
                    "DriverPrivate fields");
BRELK_STATIC_ASSERT(offsetof(DriverRequest, code) == 8 &&
                        offsetof(DriverRequest, fileNumber) == 12 &&
                        offsetof(DriverRequest, unused0C) == 16 &&
                        offsetof(DriverRequest, payload) == 24 && sizeof(DriverRequest) == 32,
                    "DriverRequest");
BRELK_STATIC_ASSERT(offsetof(ParseRecord, gateType) == 12 && offsetof(ParseRecord, count) == 16 &&
                        offsetof(ParseRecord, info) == 20 && sizeof(ParseRecord) == 40,
                    "ParseRecord");
BRELK_STATIC_ASSERT(offsetof(IoRecord, info) == 12 && offsetof(IoRecord, gateType) == 32 &&
                        offsetof(IoRecord, count) == 36 && offsetof(IoRecord, unused24) == 40 &&
                        offsetof(IoRecord, data) == 48 && sizeof(IoRecord) == 56,
                    "IoRecord");
BRELK_STATIC_ASSERT(offsetof(DriverInfo, driverName) == 8 && offsetof(DriverInfo, banner) == 16 &&
                        offsetof(DriverInfo, privateSize) == 24 &&
                        offsetof(DriverInfo, infoB) == 28 && offsetof(DriverInfo, infoC) == 32 &&
                        offsetof(DriverInfo, unused16) == 34 && offsetof(DriverInfo, infoD) == 40 &&
                        sizeof(DriverInfo) == 48,
                    "DriverInfo");
#else
#error "unsupported pointer size"
#endif
BRELK_STATIC_ASSERT(sizeof(ClockLocation) == 36, "ClockLocation");
BRELK_STATIC_ASSERT(sizeof(ColdStartParams) == 20 && offsetof(ColdStartParams, timeout) == 0x10,
                    "ColdStartParams");
BRELK_STATIC_ASSERT(sizeof(AddressInfo) == 20, "AddressInfo");

#ifdef __cplusplus
}
#endif

#endif /* BRELK_BRELK_H */
