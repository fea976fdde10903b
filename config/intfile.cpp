#include <cstdlib>
#include <cstring>

#include "config/config.h"

namespace brelk {

int KeyToIndex(char key) {
  if (key >= '0' && key <= '9') return key - '0';
  if (key >= 'A' && key <= 'Z') return key - 'A' + 10;
  return -1;
}

std::FILE* OpenIntFile(const platform::Platform& p, const char* base, char* name, int32_t number) {
  // The fallback BASE.INT always fits; the numbered names may not.
  const char* const formats[] = {"%s%02d.INT", "%s%01d.INT"};
  for (const char* format : formats) {
    const int length = std::snprintf(name, kIntNameSize, format, base, number);
    if (length < 0 || static_cast<size_t>(length) >= kIntNameSize) {
      p.log(kLogLevel, "Int File name for number %d is too long!", number);
      continue;
    }
    if (std::FILE* file = p.openText(name)) return file;
  }
  std::snprintf(name, kIntNameSize, "%s.INT", base);
  return p.openText(name);
}

namespace {

// Only entries the loader filled hold a socket or a copy of ours: their key
// names their index. This keeps a block the host did not zero from making us
// close or free what is not ours.
bool Loaded(const NodeEntry& node, int index) {
  return node.hostName != nullptr && KeyToIndex(node.key) == index;
}

struct Counters {
  int linesRead = 0;
  int legalLines = 0;
  int clocksUsed = 0;
};

// "%c = %s" without a width: finds the word's extent instead of copying it.
bool ScanNodeLine(const char* line, char* key, const char** word, size_t* wordLength) {
  int start = -1;
  int end = -1;
  if (std::sscanf(line, "%c = %n%*s%n", key, &start, &end) < 1) return false;
  if (start < 0 || end <= start) return false;
  *word = line + start;
  *wordLength = static_cast<size_t>(end - start);
  return true;
}

void TakeNodeLine(const platform::Platform& p, DriverPrivate& block, char key, const char* word,
                  size_t wordLength, char* hostName, Counters& counters) {
  const int line = counters.linesRead;
  const int index = KeyToIndex(key);
  if (index < 0) {
    p.log(kLogLevel, "Illegal Key:%c found on Line:%d!", key, line);
    return;
  }
  if (wordLength >= kHostNameSize) {
    p.log(kLogLevel, "Host name on Line:%d is too long. Check your INT file!", line);
    return;
  }
  std::memcpy(hostName, word, wordLength);
  hostName[wordLength] = '\0';
  uint32_t address = 0;
  if (!p.lookupHost(hostName, &address)) {
    p.log(kLogLevel, "Host %s not found on Line:%d. Check your HOSTS file !", hostName, line);
    return;
  }
  p.log(kLogLevel, "Host %s found in HOSTS on Line:%d.", hostName, line);
  char* copy = static_cast<char*>(std::malloc(wordLength + 1));
  if (copy == nullptr) {
    p.log(kLogLevel, "No memory for host %s on Line:%d!", hostName, line);
    return;
  }
  std::memcpy(copy, hostName, wordLength + 1);

  NodeEntry& node = block.nodes[index];
  if (Loaded(node, index)) std::free(node.hostName);  // a later line for the key replaces it
  node.ipAddress = address;
  node.key = key;
  node.hostName = copy;
  node.socket = 0;
  node.connected = 0;
  node.failed = 0;
  node.networkType = kNetworkUnknown;
  ++counters.legalLines;
}

bool TakeClockLine(const platform::Platform& p, DriverPrivate& block, const char* line,
                   Counters& counters) {
  const char* equals = std::strchr(line, '=');
  int arWord = 0;
  if (equals == nullptr || std::sscanf(equals, "= %d", &arWord) != 1) return false;
  const size_t nameLength = static_cast<size_t>(equals - line);
  if (nameLength >= sizeof block.clocks[0].gateName) {
    p.log(kLogLevel, "Gate name on Line:%d is too long. Check your INT file!", counters.linesRead);
    return true;
  }
  if (counters.clocksUsed >= BRELK_CLOCK_COUNT) {
    p.log(kLogLevel, "Too many clock locations on Line:%d. Check your INT file!",
          counters.linesRead);
    return true;
  }
  ClockLocation& clock = block.clocks[counters.clocksUsed];
  std::memcpy(clock.gateName, line, nameLength);
  clock.gateName[nameLength] = '\0';
  clock.arWord = arWord;
  p.log(kLogLevel, "Gate: %s, Clock location AR %d", clock.gateName, arWord);
  ++counters.clocksUsed;
  return true;
}

}  // namespace

int32_t LoadIntFile(const platform::Platform& p, DriverRequest* request) {
  DriverPrivate& block = *request->privateBlock;
  std::memset(block.clocks, 0, sizeof block.clocks);

  char name[kIntNameSize] = {};
  std::FILE* file = OpenIntFile(p, kIntBase, name, request->fileNumber);
  if (file == nullptr) {
    p.log(kLogLevel, "Int File not found!. Check again your INT file name!");
    return BRELK_REFUSED;
  }
  p.log(kLogLevel, "%s Int File Found.", name);

  char* hostName = static_cast<char*>(std::malloc(kHostNameSize));
  if (hostName == nullptr) {
    std::fclose(file);
    return BRELK_REFUSED;
  }

  Counters counters;
  char line[kIntLineSize];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    ++counters.linesRead;
    char key = 0;
    const char* word = nullptr;
    size_t wordLength = 0;
    if (ScanNodeLine(line, &key, &word, &wordLength)) {
      TakeNodeLine(p, block, key, word, wordLength, hostName, counters);
    } else if (!TakeClockLine(p, block, line, counters)) {
      p.log(kLogLevel, "Line:%d has an illegal format. Check your INT file!", counters.linesRead);
    }
  }

  std::free(hostName);
  std::fclose(file);
  p.log(kLogLevel, "%d legal lines were read successfuly out of %d lines in INT file.",
        counters.legalLines, counters.linesRead);
  return BRELK_OK;
}

int32_t FindClockLocation(const DriverPrivate& block, const char* gateText) {
  for (const ClockLocation& clock : block.clocks) {
    if (std::memchr(clock.gateName, '\0', sizeof clock.gateName) != nullptr &&
        std::strcmp(clock.gateName, gateText) == 0) {
      return clock.arWord;
    }
  }
  return kDefaultClockArWord;
}

void CloseSocket(const platform::Platform& p, int32_t socket) {
  p.shutdown(socket);
  p.close(socket);
}

void CloseNodeSockets(const platform::Platform& p, DriverPrivate& block) {
  for (int i = 0; i < BRELK_NODE_COUNT; ++i) {
    NodeEntry& node = block.nodes[i];
    if (node.socket == 0 || !Loaded(node, i)) continue;
    p.log(kLogLevel, "Closing TCP/IP socket.");
    CloseSocket(p, node.socket);
    node.socket = 0;
    node.connected = 0;
  }
}

void ReleaseNodes(const platform::Platform& p, DriverPrivate& block) {
  CloseNodeSockets(p, block);
  for (int i = 0; i < BRELK_NODE_COUNT; ++i) {
    if (Loaded(block.nodes[i], i)) std::free(block.nodes[i].hostName);
  }
  std::memset(block.nodes, 0, sizeof block.nodes);
}

}  // namespace brelk
