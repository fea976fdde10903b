// The gate address syntax as data: allowed characters, memory types of both
// series, command gates.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace brelk::address {

// Fixed positions of a gate address text.
inline constexpr int kPosKey = 0;
inline constexpr int kPosSeries = 1;
inline constexpr int kPosNetwork = 2;
inline constexpr int kPosNode = 5;
inline constexpr int kPosType = 8;
inline constexpr int kPosAddress = 9;
inline constexpr int kPosCommand = 9;
inline constexpr int kPosBit = 14;

inline constexpr int kMemoryGateLength = 14;  // positions 0-13
inline constexpr int kBitGateLength = 15;     // a bit number follows
inline constexpr int kCommandGateMinLength = 9;

inline constexpr char kCommandMark = '!';
inline constexpr char kSeriesFins = 'F';
inline constexpr char kSeriesC = 'C';

inline constexpr int kLastTestedMemory = 14;
inline constexpr int kLastTestedCommand = 6;

// Characters allowed at positions 1 to 14; a position's terminator passes.
inline constexpr std::array<const char*, 15> kAllowedChars = {
    "",                           // 0 station key: not tested here
    "CF",                         // 1 series
    "0123456789",                 // 2 network
    "0123456789",                 // 3
    "0123456789",                 // 4
    "0123456789",                 // 5 node
    "0123456789",                 // 6
    "0123456789",                 // 7
    "IGALHatTcCDE01234567xsSB!",  // 8 memory type or command mark
    "0123456789",                 // 9 word address
    "0123456789",                 // 10
    "0123456789",                 // 11
    "0123456789",                 // 12
    "0123456789",                 // 13
    "01",                         // 14 bit number, tens
};

struct MemoryType {
  char letter;
  uint16_t code;  // FINS: low byte is the area code; C: the read command
  uint8_t width;
};

inline constexpr MemoryType kFinsMemoryTypes[] = {
    {'I', 0x080, 16}, {'G', 0x180, 16}, {'A', 0x280, 16}, {'t', 0x001, 8},  {'T', 0x081, 16},
    {'c', 0x101, 8},  {'C', 0x181, 16}, {'D', 0x082, 16}, {'E', 0x098, 16}, {'0', 0x090, 16},
    {'1', 0x091, 16}, {'2', 0x092, 16}, {'3', 0x093, 16}, {'4', 0x094, 16}, {'5', 0x095, 16},
    {'6', 0x096, 16}, {'7', 0x097, 16}, {'x', 0x003, 8},  {'s', 0x104, 8},  {'S', 0x044, 8},
    {'B', 0x09C, 16},
};

inline constexpr MemoryType kCMemoryTypes[] = {
    {'I', 0x00, 16}, {'L', 0x02, 16}, {'H', 0x04, 16}, {'a', 0x1C, 16},
    {'t', 0x08, 8},  {'T', 0x06, 16}, {'D', 0x0A, 16},
};

// Command codes: main request code high, sub-request code low.
inline constexpr uint16_t kCmdRun = 0x0401;
inline constexpr uint16_t kCmdStop = 0x0402;
inline constexpr uint16_t kCmdErrorClear = 0x2101;
inline constexpr uint16_t kCmdTimeSync = 0x0702;
inline constexpr uint16_t kCmdPlcTime = 0x0701;
inline constexpr uint16_t kCmdStatus = 0x0601;

inline constexpr int32_t kCSeriesFlag = static_cast<int32_t>(0x80000000u);

enum SeriesMask : uint8_t { kOnlyFins = 1, kOnlyC = 2, kBoth = 3 };

// Status selector of a status gate, or the clock location for PLC_TIME.
inline constexpr int32_t kAddressClockLocation = -1;

struct CommandGate {
  std::string_view name;
  uint16_t code;
  int32_t address;
  SeriesMask series;
  bool blockAllowed;
};

// Compared in this order, case-sensitive, the whole name.
inline constexpr CommandGate kCommandGates[] = {
    {"RUN", kCmdRun, 0, kBoth, false},
    {"STOP", kCmdStop, 0, kBoth, false},
    {"ERROR_CLEAR", kCmdErrorClear, 0, kOnlyFins, false},
    {"TIME_SYNC", kCmdTimeSync, 0, kBoth, false},
    {"PLC_TIME", kCmdPlcTime, kAddressClockLocation, kBoth, false},
    {"PLC_STATUS", kCmdStatus, 0, kBoth, true},
    {"PLC_MODE", kCmdStatus, 1, kBoth, false},
    {"PLC_NET_STATUS", kCmdStatus, 2, kOnlyC, false},
    {"PLC_LAN_STATUS", kCmdStatus, 3, kOnlyC, false},
    {"PLC_FATAL_ERR", kCmdStatus, 2, kOnlyFins, false},
    {"PLC_NON_FATAL_ERR", kCmdStatus, 3, kOnlyFins, false},
};

inline constexpr int32_t kMaxStatusBlock = 4;

}  // namespace brelk::address
