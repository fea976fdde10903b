// The gate address parser: gate texts against result, AddressInfo and message.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <vector>

#include "address/address.h"
#include "config/config.h"
#include "tests/support/fake_platform.h"

namespace brelk {
namespace {

using testing::LogLine;
using testing::State;

constexpr int32_t kSingle = BRELK_SINGLE_ADDRESS_PARSER;
constexpr int32_t kBlock = BRELK_BLOCK_ADDRESS_PARSER;
constexpr int32_t kWord = 0;
constexpr int32_t kDword = BRELK_GATE_DWORD;
constexpr int32_t kBit = BRELK_GATE_BIT;
constexpr int32_t kText = BRELK_GATE_TEXT;
constexpr int32_t kOk = BRELK_OK;
constexpr int32_t kNo = BRELK_REFUSED;
constexpr uint32_t kCFlag = 0x80000000u;
constexpr const char* kSilent = nullptr;

// Gateways of the INT file below: key 1 ends in 17, key 3 in 5, key Z in 200.
constexpr char kIntFile[] =
    "1 = 127.0.0.17\n"
    "3 = 127.0.0.5\n"
    "Z = 127.0.0.200\n"
    "1F001005!PLC_TIME=100\n";

constexpr uint32_t Area(uint32_t octet, uint32_t network, uint32_t code = 0) {
  return octet << 24 | network << 16 | code;
}
// Station key 1, network 1: the gateway most rows use.
constexpr uint32_t K1(uint32_t code = 0) {
  return Area(17, 1, code);
}

struct Words {
  int32_t node;
  uint32_t areaWord;
  int32_t address;
  int32_t bitNumber;
  int32_t width;
  bool operator==(const Words&) const = default;
};

void PrintTo(const Words& w, std::ostream* os) {
  char text[96];
  std::snprintf(text, sizeof text, "{node %d, area 0x%08X, address %d, bit %d, width %d}",
                static_cast<int>(w.node), static_cast<unsigned>(w.areaWord),
                static_cast<int>(w.address), static_cast<int>(w.bitNumber),
                static_cast<int>(w.width));
  *os << text;
}

Words Of(const AddressInfo& i) {
  return {i.node, static_cast<uint32_t>(i.areaWord), i.address, i.bitNumber, i.width};
}

constexpr Words kReset{0, 0, 0, -1, 16};
// Refused after the node step: node and gateway/network stored, nothing else.
constexpr Words kK1Only{5, K1(), 0, -1, 16};

struct GateCase {
  const char* text;
  int32_t code;
  int32_t gateType;
  int32_t count;
  int32_t result;
  Words info;
  const char* message;
};

// clang-format off
const std::vector<GateCase> kCases = {
    // FINS memory types, every letter.
    {"1F001005I00100", kSingle, kWord, 1, kOk, {5, K1(0x080), 100, -1, 16}, kSilent},
    {"1F001005G00000", kSingle, kWord, 1, kOk, {5, K1(0x180), 0, -1, 16}, kSilent},
    {"1F001005A99999", kSingle, kWord, 1, kOk, {5, K1(0x280), 99999, -1, 16}, kSilent},
    {"1F001005t00100", kSingle, kWord, 1, kOk, {5, K1(0x001), 100, -1, 8}, kSilent},
    {"1F001005T12345", kSingle, kWord, 1, kOk, {5, K1(0x081), 12345, -1, 16}, kSilent},
    {"1F001005c00100", kSingle, kWord, 1, kOk, {5, K1(0x101), 100, -1, 8}, kSilent},
    {"1F001005C00100", kSingle, kWord, 1, kOk, {5, K1(0x181), 100, -1, 16}, kSilent},
    {"1F001005D00100", kSingle, kWord, 1, kOk, {5, K1(0x082), 100, -1, 16}, kSilent},
    {"1F001005E00100", kSingle, kWord, 1, kOk, {5, K1(0x098), 100, -1, 16}, kSilent},
    {"1F001005000100", kSingle, kWord, 1, kOk, {5, K1(0x090), 100, -1, 16}, kSilent},
    {"1F001005100100", kSingle, kWord, 1, kOk, {5, K1(0x091), 100, -1, 16}, kSilent},
    {"1F001005200100", kSingle, kWord, 1, kOk, {5, K1(0x092), 100, -1, 16}, kSilent},
    {"1F001005300100", kSingle, kWord, 1, kOk, {5, K1(0x093), 100, -1, 16}, kSilent},
    {"1F001005400100", kSingle, kWord, 1, kOk, {5, K1(0x094), 100, -1, 16}, kSilent},
    {"1F001005500100", kSingle, kWord, 1, kOk, {5, K1(0x095), 100, -1, 16}, kSilent},
    {"1F001005600100", kSingle, kWord, 1, kOk, {5, K1(0x096), 100, -1, 16}, kSilent},
    {"1F001005700100", kSingle, kWord, 1, kOk, {5, K1(0x097), 100, -1, 16}, kSilent},
    {"1F001005x00100", kSingle, kWord, 1, kOk, {5, K1(0x003), 100, -1, 8}, kSilent},
    {"1F001005s00100", kSingle, kWord, 1, kOk, {5, K1(0x104), 100, -1, 8}, kSilent},
    {"1F001005S00100", kSingle, kWord, 1, kOk, {5, K1(0x044), 100, -1, 8}, kSilent},
    {"1F001005B00100", kSingle, kWord, 1, kOk, {5, K1(0x09C), 100, -1, 16}, kSilent},
    {"1F001005L00100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type L not allowed for FINS series"},
    {"1F001005H00100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type H not allowed for FINS series"},
    {"1F001005a00100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type a not allowed for FINS series"},
    {"1F001005800100", kSingle, kWord, 1, kNo, kReset, "BRELK>Parse error: char 8 is illegal"},
    {"1C001005900100", kSingle, kWord, 1, kNo, kReset, "BRELK>Parse error: char 9 is illegal"},

    // C-series memory types, every letter; no bit 31 on a memory gate.
    {"1C001005I00100", kSingle, kWord, 1, kOk, {5, K1(0x00), 100, -1, 16}, kSilent},
    {"1C001005L00100", kSingle, kWord, 1, kOk, {5, K1(0x02), 100, -1, 16}, kSilent},
    {"1C001005H00100", kSingle, kWord, 1, kOk, {5, K1(0x04), 100, -1, 16}, kSilent},
    {"1C001005a00100", kSingle, kWord, 1, kOk, {5, K1(0x1C), 100, -1, 16}, kSilent},
    {"1C001005t00100", kSingle, kWord, 1, kOk, {5, K1(0x08), 100, -1, 8}, kSilent},
    {"1C001005T00100", kSingle, kWord, 1, kOk, {5, K1(0x06), 100, -1, 16}, kSilent},
    {"1C001005D00100", kSingle, kWord, 1, kOk, {5, K1(0x0A), 100, -1, 16}, kSilent},
    {"1C001005G00100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type G not allowed for C series"},
    {"1C001005A00100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type A not allowed for C series"},
    {"1C001005c00100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type c not allowed for C series"},
    {"1C001005C00100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type C not allowed for C series"},
    {"1C001005E00100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type E not allowed for C series"},
    {"1C001005000100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type 0 not allowed for C series"},
    {"1C001005100100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type 1 not allowed for C series"},
    {"1C001005200100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type 2 not allowed for C series"},
    {"1C001005300100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type 3 not allowed for C series"},
    {"1C001005400100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type 4 not allowed for C series"},
    {"1C001005500100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type 5 not allowed for C series"},
    {"1C001005600100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type 6 not allowed for C series"},
    {"1C001005700100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type 7 not allowed for C series"},
    {"1C001005x00100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type x not allowed for C series"},
    {"1C001005s00100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type s not allowed for C series"},
    {"1C001005S00100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type S not allowed for C series"},
    {"1C001005B00100", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type B not allowed for C series"},

    // Width follows the gate type only for single gates.
    {"1F001005D00100", kSingle, kDword, 1, kOk, {5, K1(0x082), 100, -1, 32}, kSilent},
    {"1C001005t00100", kSingle, kDword, 1, kOk, {5, K1(0x08), 100, -1, 32}, kSilent},
    {"1F001005D00100", kSingle, kText, 1, kOk, {5, K1(0x082), 100, -1, 16}, kSilent},
    {"1F001005D00100", kBlock, kDword, 2, kOk, {5, K1(0x082), 100, -1, 16}, kSilent},
    {"1F001005s00100", kBlock, kWord, 10, kOk, {5, K1(0x104), 100, -1, 8}, kSilent},

    // Block memory gates: exactly 14 characters; gate type 6 alone does not refuse.
    {"1F001005D00100", kBlock, kWord, 10, kOk, {5, K1(0x082), 100, -1, 16}, kSilent},
    {"1F001005D00100", kBlock, kBit, 4, kOk, {5, K1(0x082), 100, -1, 16}, kSilent},
    {"1F001005D0010007", kBlock, kWord, 10, kNo, kK1Only, kSilent},
    {"1F001005D0010007", kBlock, kBit, 1, kNo, kK1Only, kSilent},

    // Bit gates.
    {"1F001005I0000107", kSingle, kBit, 1, kOk, {5, K1(0x080), 1, 7, 16}, kSilent},
    {"1F001005D0010010", kSingle, kBit, 1, kOk, {5, K1(0x082), 100, 10, 16}, kSilent},
    {"1F001005D0010015", kSingle, kBit, 1, kOk, {5, K1(0x082), 100, 15, 16}, kSilent},
    {"1C001005D0010015", kSingle, kBit, 1, kOk, {5, K1(0x0A), 100, 15, 16}, kSilent},
    {"1F001005D001000", kSingle, kBit, 1, kOk, {5, K1(0x082), 100, 0, 16}, kSilent},
    {"1F001005D001001", kSingle, kBit, 1, kOk, {5, K1(0x082), 100, 1, 16}, kSilent},
    {"1F001005D001001X", kSingle, kBit, 1, kOk, {5, K1(0x082), 100, 1, 16}, kSilent},
    {"1F001005D0010012ABC", kSingle, kBit, 1, kOk, {5, K1(0x082), 100, 12, 16}, kSilent},
    {"1F001005D0010016", kSingle, kBit, 1, kNo, kK1Only, "BRELK> Bitnumber should be in range:00-15 decimal"},
    {"1F001005D0010019", kSingle, kBit, 1, kNo, kK1Only, "BRELK> Bitnumber should be in range:00-15 decimal"},
    {"1F001005D0010020", kSingle, kBit, 1, kNo, kReset, "BRELK>Parse error: char 2 is illegal"},
    {"1F001005D0010095", kSingle, kBit, 1, kNo, kReset, "BRELK>Parse error: char 9 is illegal"},
    // The bit number is judged before the letter.
    {"1F001005L0010016", kSingle, kBit, 1, kNo, kK1Only, "BRELK> Bitnumber should be in range:00-15 decimal"},
    {"1F001005L0010012", kSingle, kBit, 1, kNo, {5, K1(), 0, 12, 16}, "BRELK> Parse error: memory type L not allowed for FINS series"},
    // No bit of a byte-wide area.
    {"1F001005t0010003", kSingle, kBit, 1, kNo, {5, K1(0x001), 0, 3, 8}, kSilent},
    {"1C001005t0010003", kSingle, kBit, 1, kNo, {5, K1(0x08), 0, 3, 8}, kSilent},
    // Bit number and gate type must agree.
    {"1F001005D0010007", kSingle, kWord, 1, kNo, kK1Only, kSilent},
    {"1F001005D0010007", kSingle, kDword, 1, kNo, kK1Only, kSilent},
    {"1F001005D00100", kSingle, kBit, 1, kNo, kK1Only, kSilent},

    // Network, node and station key.
    {"1F999005D00100", kSingle, kWord, 1, kOk, {5, Area(17, 999, 0x082), 100, -1, 16}, kSilent},
    {"1F000999D00100", kSingle, kWord, 1, kOk, {999, Area(17, 0, 0x082), 100, -1, 16}, kSilent},
    {"3C002010D00050", kSingle, kWord, 1, kOk, {10, Area(5, 2, 0x0A), 50, -1, 16}, kSilent},
    {"ZF001005D00100", kSingle, kWord, 1, kOk, {5, Area(200, 1, 0x082), 100, -1, 16}, kSilent},
    {"2F001005D00100", kSingle, kWord, 1, kNo, kReset, kSilent},
    {"zF001005D00100", kSingle, kWord, 1, kNo, kReset, kSilent},
    {"2X001005D00100", kSingle, kWord, 1, kNo, kReset, "BRELK>Parse error: char X is illegal"},
    {"1f001005D00100", kSingle, kWord, 1, kNo, kReset, "BRELK>Parse error: char f is illegal"},
    {"1F0A1005D00100", kSingle, kWord, 1, kNo, kReset, "BRELK>Parse error: char A is illegal"},
    {"1F00100XD00100", kSingle, kWord, 1, kNo, kReset, "BRELK>Parse error: char X is illegal"},
    {"1F001005d00100", kSingle, kWord, 1, kNo, kReset, "BRELK>Parse error: char d is illegal"},
    {"1F001005D0010X", kSingle, kWord, 1, kNo, kReset, "BRELK>Parse error: char X is illegal"},
    {"1F001005D00100 ", kSingle, kBit, 1, kNo, kReset, "BRELK>Parse error: char   is illegal"},

    // Single command gates on both series.
    {"1F001005!RUN", kSingle, kWord, 1, kOk, {5, K1(0x0401), 0, -1, 16}, kSilent},
    {"1C001005!RUN", kSingle, kWord, 1, kOk, {5, kCFlag | K1(0x0401), 0, -1, 16}, kSilent},
    {"1F001005!STOP", kSingle, kWord, 1, kOk, {5, K1(0x0402), 0, -1, 16}, kSilent},
    {"1C001005!STOP", kSingle, kWord, 1, kOk, {5, kCFlag | K1(0x0402), 0, -1, 16}, kSilent},
    {"1F001005!ERROR_CLEAR", kSingle, kWord, 1, kOk, {5, K1(0x2101), 0, -1, 16}, kSilent},
    {"1C001005!ERROR_CLEAR", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type ! not allowed for C series"},
    {"1F001005!TIME_SYNC", kSingle, kWord, 1, kOk, {5, K1(0x0702), 0, -1, 16}, kSilent},
    {"1C001005!TIME_SYNC", kSingle, kWord, 1, kOk, {5, kCFlag | K1(0x0702), 0, -1, 16}, kSilent},
    {"1F001005!PLC_TIME", kSingle, kText, 32, kOk, {5, K1(0x0701), 100, -1, 16}, kSilent},
    {"3F001005!PLC_TIME", kSingle, kText, 32, kOk, {5, Area(5, 1, 0x0701), 18, -1, 16}, kSilent},
    {"1C001005!PLC_TIME", kSingle, kText, 32, kOk, {5, kCFlag | K1(0x0701), 18, -1, 16}, kSilent},
    {"1F001005!PLC_TIME", kSingle, kWord, 1, kNo, kK1Only, "BRELK>For command gate PLC_TIME use string gate with length > 18"},
    {"1F001005!PLC_TIME", kSingle, kDword, 1, kNo, kK1Only, "BRELK>For command gate PLC_TIME use string gate with length > 18"},
    {"1C001005!PLC_TIME", kSingle, kBit, 1, kNo, kK1Only, "BRELK>For command gate PLC_TIME use string gate with length > 18"},
    {"1F001005!PLC_STATUS", kSingle, kWord, 1, kOk, {5, K1(0x0601), 0, -1, 16}, kSilent},
    {"1C001005!PLC_STATUS", kSingle, kWord, 1, kOk, {5, kCFlag | K1(0x0601), 0, -1, 16}, kSilent},
    {"1F001005!PLC_MODE", kSingle, kWord, 1, kOk, {5, K1(0x0601), 1, -1, 16}, kSilent},
    {"1C001005!PLC_MODE", kSingle, kWord, 1, kOk, {5, kCFlag | K1(0x0601), 1, -1, 16}, kSilent},
    {"1C001005!PLC_NET_STATUS", kSingle, kWord, 1, kOk, {5, kCFlag | K1(0x0601), 2, -1, 16}, kSilent},
    {"1F001005!PLC_NET_STATUS", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type ! not allowed for FINS series"},
    {"1C001005!PLC_LAN_STATUS", kSingle, kWord, 1, kOk, {5, kCFlag | K1(0x0601), 3, -1, 16}, kSilent},
    {"1F001005!PLC_LAN_STATUS", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type ! not allowed for FINS series"},
    {"1F001005!PLC_FATAL_ERR", kSingle, kWord, 1, kOk, {5, K1(0x0601), 2, -1, 16}, kSilent},
    {"1C001005!PLC_FATAL_ERR", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type ! not allowed for C series"},
    {"1F001005!PLC_NON_FATAL_ERR", kSingle, kWord, 1, kOk, {5, K1(0x0601), 3, -1, 16}, kSilent},
    {"1C001005!PLC_NON_FATAL_ERR", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Parse error: memory type ! not allowed for C series"},
    // Gate type and length do not concern other command gates.
    {"1F001005!RUN", kSingle, kBit, 1, kOk, {5, K1(0x0401), 0, -1, 16}, kSilent},
    // Names compare whole and case-sensitive.
    {"1F001005!RUN ", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Command gate RUN  is unknown"},
    {"1F001005!run", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Command gate run is unknown"},
    {"1F001005!PLC_STAT", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Command gate PLC_STAT is unknown"},
    {"1F001005!", kSingle, kWord, 1, kNo, kK1Only, "BRELK> Command gate  is unknown"},
    // Position 7 is not tested for command gates; the node ends at the non-digit.
    {"1F00112X!RUN", kSingle, kWord, 1, kOk, {12, K1(0x0401), 0, -1, 16}, kSilent},
    {"1F0010X5!RUN", kSingle, kWord, 1, kNo, kReset, "BRELK>Parse error: char X is illegal"},
    {"1G001005!RUN", kSingle, kWord, 1, kNo, kReset, "BRELK>Parse error: char G is illegal"},
    {"2F001005!RUN", kSingle, kWord, 1, kNo, kReset, kSilent},
    // Network 999 runs into the octet; the C flag is ORed on top.
    {"1C999005!RUN", kSingle, kWord, 1, kOk, {5, kCFlag | Area(17, 999, 0x0401), 0, -1, 16}, kSilent},

    // Block command gates: PLC_STATUS only, count up to 4.
    {"1F001005!PLC_STATUS", kBlock, kWord, 4, kOk, {5, K1(0x0601), 0, -1, 16}, kSilent},
    {"1C001005!PLC_STATUS", kBlock, kWord, 1, kOk, {5, kCFlag | K1(0x0601), 0, -1, 16}, kSilent},
    {"1F001005!PLC_STATUS", kBlock, kWord, 5, kNo, kK1Only, "BRELK>Block size for block PLC_STATUS should be 4!"},
    {"1F001005!RUN", kBlock, kWord, 1, kNo, kK1Only, "BRELK> Command gate RUN is not allowed as a block"},
    {"1C001005!STOP", kBlock, kWord, 1, kNo, kK1Only, "BRELK> Command gate STOP is not allowed as a block"},
    {"1C001005!ERROR_CLEAR", kBlock, kWord, 1, kNo, kK1Only, "BRELK> Command gate ERROR_CLEAR is not allowed as a block"},
    {"1F001005!TIME_SYNC", kBlock, kWord, 1, kNo, kK1Only, "BRELK> Command gate TIME_SYNC is not allowed as a block"},
    {"1F001005!PLC_TIME", kBlock, kText, 32, kNo, kK1Only, "BRELK> Command gate PLC_TIME is not allowed as a block"},
    {"1F001005!PLC_MODE", kBlock, kWord, 1, kNo, kK1Only, "BRELK> Command gate PLC_MODE is not allowed as a block"},
    {"1C001005!PLC_NET_STATUS", kBlock, kWord, 1, kNo, kK1Only, "BRELK> Command gate PLC_NET_STATUS is not allowed as a block"},
    {"1C001005!PLC_LAN_STATUS", kBlock, kWord, 1, kNo, kK1Only, "BRELK> Command gate PLC_LAN_STATUS is not allowed as a block"},
    {"1F001005!PLC_FATAL_ERR", kBlock, kWord, 1, kNo, kK1Only, "BRELK> Command gate PLC_FATAL_ERR is not allowed as a block"},
    {"1F001005!PLC_NON_FATAL_ERR", kBlock, kWord, 1, kNo, kK1Only, "BRELK> Command gate PLC_NON_FATAL_ERR is not allowed as a block"},
    {"1F001005!PLC_STATUS ", kBlock, kWord, 1, kNo, kK1Only, "BRELK> Command gate PLC_STATUS  is not allowed as a block"},
    {"1F001005!BOGUS", kBlock, kWord, 1, kNo, kK1Only, "BRELK> Command gate BOGUS is not allowed as a block"},
    {"1F001005!", kBlock, kWord, 1, kNo, kK1Only, "BRELK> Command gate  is not allowed as a block"},

    // Texts shorter than the positions read.
    {"", kSingle, kWord, 1, kNo, kReset, "BRELK> Parse error: gate  is too short"},
    {"1X", kSingle, kWord, 1, kNo, kReset, "BRELK> Parse error: gate 1X is too short"},
    {"1F001005", kSingle, kWord, 1, kNo, kReset, "BRELK> Parse error: gate 1F001005 is too short"},
    {"1F00100!", kSingle, kWord, 1, kNo, kReset, "BRELK> Parse error: gate 1F00100! is too short"},
    {"1F001005D", kSingle, kWord, 1, kNo, kReset, "BRELK> Parse error: gate 1F001005D is too short"},
    {"1F001005D0010", kSingle, kWord, 1, kNo, kReset, "BRELK> Parse error: gate 1F001005D0010 is too short"},
    {"1F001005D0010", kBlock, kWord, 10, kNo, kReset, "BRELK> Parse error: gate 1F001005D0010 is too short"},
};
// clang-format on

using Parser = int32_t (*)(const platform::Platform&, DriverRequest*);

class AddressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::Reset();
    testing::WriteFile("BRELK.INT", kIntFile);
    DriverRequest request{block.get(), BRELK_COLD_START, 0, {}, nullptr};
    ASSERT_EQ(LoadIntFile(p, &request), BRELK_OK);
    State().log.clear();
  }
  void TearDown() override { ReleaseNodes(p, block.block); }

  // Parses with words left over from an earlier gate, so the reset shows.
  int32_t Parse(Parser parser, const char* text, int32_t code, int32_t gateType, int32_t count,
                ParseRecord& record) {
    State().log.clear();
    record = {};
    record.text = text;
    record.gateType = gateType;
    record.count = count;
    record.info = {0x5A5A5A5A, 0x5A5A5A5A, 0x5A5A5A5A, 0x5A5A5A5A, 0x5A5A5A5A};
    DriverRequest request{block.get(), code, 0, {}, &record};
    return parser(p, &request);
  }

  platform::Platform p = testing::Fake(false);
  testing::Block block;
};

TEST_F(AddressTest, GateTextsGiveResultWordsAndMessage) {
  for (const GateCase& c : kCases) {
    SCOPED_TRACE(::testing::Message() << '"' << c.text << "\" code " << c.code << " type "
                                      << c.gateType << " count " << c.count);
    // Exact size on the heap, so a read past the terminator trips the sanitizer.
    const size_t size = std::strlen(c.text) + 1;
    const auto text = std::make_unique<char[]>(size);
    std::memcpy(text.get(), c.text, size);

    std::vector<LogLine> expectedLog;
    if (c.message != nullptr) expectedLog.push_back({32, c.message});
    const Parser entry = c.code == kSingle ? &SingleAddressParser : &BlockAddressParser;
    for (const Parser parser : {Parser{&ParseGateAddress}, entry}) {
      ParseRecord record;
      EXPECT_EQ(Parse(parser, text.get(), c.code, c.gateType, c.count, record), c.result);
      EXPECT_EQ(Of(record.info), c.info);
      EXPECT_EQ(State().log, expectedLog);
      // Only AddressInfo is written.
      EXPECT_EQ(record.text, text.get());
      EXPECT_EQ(record.gateType, c.gateType);
      EXPECT_EQ(record.count, c.count);
    }
  }
}

TEST_F(AddressTest, MissingTextOrRecordIsRefusedQuietly) {
  ParseRecord record;
  for (const Parser parser : {&ParseGateAddress, &SingleAddressParser, &BlockAddressParser}) {
    EXPECT_EQ(Parse(parser, nullptr, kSingle, kWord, 1, record), kNo);
    EXPECT_EQ(Parse(parser, nullptr, kBlock, kWord, 1, record), kNo);
    EXPECT_TRUE(State().log.empty());
    for (const int32_t code : {kSingle, kBlock}) {
      DriverRequest request{block.get(), code, 0, {}, nullptr};
      EXPECT_EQ(parser(p, &request), kNo);
    }
    EXPECT_TRUE(State().log.empty());
  }
}

TEST_F(AddressTest, GatewayAddressMustGiveFourNumbers) {
  struct {
    bool (*toText)(uint32_t, char*, size_t);
    const char* message;
  } const cases[] = {
      {[](uint32_t, char*, size_t) { return false; }, "Server name could not be resolved!"},
      {[](uint32_t, char* out, size_t size) { return std::snprintf(out, size, "127.0.17") > 0; },
       "Wrong internet address 127.0.17"},
  };
  for (const auto& c : cases) {
    p.addressToText = c.toText;
    for (const char* gate : {"1F001005D00100", "1F001005!RUN"}) {
      ParseRecord record;
      EXPECT_EQ(Parse(&ParseGateAddress, gate, kSingle, kWord, 1, record), kNo) << gate;
      EXPECT_EQ(Of(record.info), kReset) << gate;
      EXPECT_EQ(State().log, (std::vector<LogLine>{{32, c.message}})) << gate;
    }
  }
}

}  // namespace
}  // namespace brelk
