#include <cstdio>
#include <cstring>

#include "address/address.h"
#include "address/tables.h"
#include "config/config.h"

namespace brelk {

using namespace address;

namespace {

constexpr int kRefused = BRELK_REFUSED;
constexpr size_t kDottedSize = 16;  // "255.255.255.255"
constexpr unsigned kMaxBitNumber = 15;

const MemoryType* FindMemoryType(char series, char letter) {
  if (series == kSeriesFins) {
    for (const MemoryType& type : kFinsMemoryTypes)
      if (type.letter == letter) return &type;
  } else {
    for (const MemoryType& type : kCMemoryTypes)
      if (type.letter == letter) return &type;
  }
  return nullptr;
}

const char* SeriesRefusal(char series) {
  return series == kSeriesFins ? "BRELK> Parse error: memory type %c not allowed for FINS series"
                               : "BRELK> Parse error: memory type %c not allowed for C series";
}

// Sets every field of `info` from the command gate; 0 or 1.
int32_t ParseSingleCommand(const platform::Platform& p, const DriverPrivate& block,
                           const ParseRecord& record, AddressInfo& info) {
  const char* text = record.text;
  const char* name = text + kPosCommand;
  const char series = text[kPosSeries];
  for (const CommandGate& gate : kCommandGates) {
    if (gate.name != name) continue;
    if (series == kSeriesC && !(gate.series & kOnlyC)) {
      p.log(kLogLevel, SeriesRefusal(kSeriesC), text[kPosType]);
      return kRefused;
    }
    if (series == kSeriesFins && !(gate.series & kOnlyFins)) {
      p.log(kLogLevel, SeriesRefusal(kSeriesFins), text[kPosType]);
      return kRefused;
    }
    if (gate.address == kAddressClockLocation) {
      if (record.gateType != BRELK_GATE_TEXT) {
        p.log(kLogLevel, "BRELK>For command gate PLC_TIME use string gate with length > 18");
        return kRefused;
      }
      info.address = FindClockLocation(block, text);
    } else {
      info.address = gate.address;
    }
    if (series == kSeriesC) info.areaWord |= kCSeriesFlag;
    info.areaWord |= gate.code;
    return BRELK_OK;
  }
  p.log(kLogLevel, "BRELK> Command gate %s is unknown", name);
  return kRefused;
}

int32_t ParseBlockCommand(const platform::Platform& p, const ParseRecord& record,
                          AddressInfo& info) {
  const char* text = record.text;
  const char* name = text + kPosCommand;
  const CommandGate* gate = nullptr;
  for (const CommandGate& candidate : kCommandGates) {
    if (candidate.blockAllowed && candidate.name == name) gate = &candidate;
  }
  if (gate == nullptr) {
    p.log(kLogLevel, "BRELK> Command gate %s is not allowed as a block", name);
    return kRefused;
  }
  if (record.count > kMaxStatusBlock) {
    p.log(kLogLevel, "BRELK>Block size for block PLC_STATUS should be 4!");
    return kRefused;
  }
  info.address = gate->address;
  if (text[kPosSeries] == kSeriesC) info.areaWord |= kCSeriesFlag;
  info.areaWord |= gate->code;
  return BRELK_OK;
}

}  // namespace

int32_t ParseGateAddress(const platform::Platform& p, DriverRequest* request) {
  auto* record = static_cast<ParseRecord*>(request->payload);
  if (record == nullptr) return kRefused;
  AddressInfo& info = record->info;
  info.node = 0;
  info.address = 0;
  info.areaWord = 0;
  info.bitNumber = -1;
  info.width = 16;

  const char* text = record->text;
  if (text == nullptr || request->privateBlock == nullptr) return kRefused;
  const DriverPrivate& block = *request->privateBlock;
  const bool single = request->code == BRELK_SINGLE_ADDRESS_PARSER;

  // Every position read below must lie within the text.
  const size_t length = std::strlen(text);
  if (length < static_cast<size_t>(kCommandGateMinLength) ||
      (text[kPosType] != kCommandMark && length < static_cast<size_t>(kMemoryGateLength))) {
    p.log(kLogLevel, "BRELK> Parse error: gate %s is too short", text);
    return kRefused;
  }
  const bool command = text[kPosType] == kCommandMark;

  const int lastTested = command ? kLastTestedCommand : kLastTestedMemory;
  for (int pos = 1; pos <= lastTested; ++pos) {
    if (std::strchr(kAllowedChars[pos], text[pos]) == nullptr) {
      p.log(kLogLevel, "BRELK>Parse error: char %c is illegal", text[pos]);
      return kRefused;
    }
  }

  const int index = KeyToIndex(text[kPosKey]);
  if (index < 0 || block.nodes[index].hostName == nullptr) return kRefused;

  char dotted[kDottedSize];
  if (!p.addressToText(block.nodes[index].ipAddress, dotted, sizeof dotted)) {
    p.log(kLogLevel, "Server name could not be resolved!");
    return kRefused;
  }
  int octets[4];
  if (std::sscanf(dotted, "%d.%d.%d.%d", &octets[0], &octets[1], &octets[2], &octets[3]) != 4) {
    p.log(kLogLevel, "Wrong internet address %s", dotted);
    return kRefused;
  }

  unsigned network = 0;
  if (std::sscanf(text + kPosNetwork, "%3u", &network) != 1) return kRefused;
  // Plain OR: a network above 255 overlaps the octet, as hosts have stored it.
  info.areaWord = static_cast<int32_t>((static_cast<uint32_t>(octets[3]) << 24) | (network << 16));

  unsigned node = 0;
  if (std::sscanf(text + kPosNode, "%3u", &node) != 1) return kRefused;
  info.node = static_cast<int32_t>(node);

  if (command) {
    return single ? ParseSingleCommand(p, block, *record, info)
                  : ParseBlockCommand(p, *record, info);
  }

  const bool hasBit = length >= static_cast<size_t>(kBitGateLength);
  if (single && hasBit) {
    if (record->gateType != BRELK_GATE_BIT) return kRefused;
    unsigned bit = 0;
    if (std::sscanf(text + kPosBit, "%2u", &bit) != 1) return kRefused;
    if (bit > kMaxBitNumber) {
      p.log(kLogLevel, "BRELK> Bitnumber should be in range:00-15 decimal");
      return kRefused;
    }
    info.bitNumber = static_cast<int32_t>(bit);
  } else if ((single && record->gateType == BRELK_GATE_BIT) || hasBit) {
    return kRefused;
  }

  const char series = text[kPosSeries];
  const MemoryType* type = FindMemoryType(series, text[kPosType]);
  if (type == nullptr) {
    p.log(kLogLevel, SeriesRefusal(series), text[kPosType]);
    return kRefused;
  }
  info.areaWord |= type->code;
  if (type->width == 8) {
    info.width = 8;
    if (hasBit) return kRefused;  // no bit of a byte-wide area
  }
  if (single && record->gateType == BRELK_GATE_DWORD) info.width = 32;

  unsigned wordAddress = 0;
  if (std::sscanf(text + kPosAddress, "%5u", &wordAddress) != 1) return kRefused;
  info.address = static_cast<int32_t>(wordAddress);
  return BRELK_OK;
}

int32_t SingleAddressParser(const platform::Platform& p, DriverRequest* request) {
  return ParseGateAddress(p, request) == BRELK_OK ? BRELK_OK : kRefused;
}

int32_t BlockAddressParser(const platform::Platform& p, DriverRequest* request) {
  return ParseGateAddress(p, request);
}

}  // namespace brelk
