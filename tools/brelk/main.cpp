// brelk: a host for the driver on the command line. Loads libbrelk.so,
// serves its log function and drives it as a supervisory host would.
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "brelk/brelk.h"
#include "tools/brelk/cp437.h"

// The driver's log function: this host serves it, so every line shows here.
namespace {
bool gQuiet = false;
std::vector<std::string> gHeld;  // lines kept back in quiet mode
}  // namespace

extern "C" __attribute__((visibility("default"))) int err(int level, const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::string text = "  [" + std::to_string(level) + "] " + line;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (gQuiet) {
    gHeld.push_back(text);
  } else {
    std::fprintf(stderr, "%s\n", text.c_str());
  }
  return 0;
}

namespace {

using KelMainFn = int32_t (*)(DriverRequest*);

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: brelk [--driver PATH] [--quiet] COMMAND [ARGS]\n"
    "\n"
    "Drives the BRELKIN driver as a supervisory host does.\n"
    "\n"
    "commands:\n"
    "  info                          driver name, private block size, banner\n"
    "  check [--int N] [--dir DIR] [--timeout T]\n"
    "                                cold-start, show the log, node table and\n"
    "                                clock locations, end\n"
    "  parse GATE... [--type N] [--count N] [--block] [--int N] [--dir DIR]\n"
    "                                parse gate addresses, show AddressInfo\n"
    "  read GATE [--count N] [--type word|bit|dword|text] [--int N] [--dir DIR]\n"
    "            [--timeout T]       read one gate and print its values\n"
    "  poll GATE... [--every SECONDS] [--times N] [common options]\n"
    "                                read gates again and again\n"
    "  write GATE VALUE... [--type word|bit|dword] [--int N] [--dir DIR]\n"
    "            [--timeout T]       write a value, a block (several values),\n"
    "                                a bit, or drive a command gate\n"
    "\n"
    "options:\n"
    "  --driver PATH   driver library (default: libbrelk.so beside brelk)\n"
    "  --quiet         show the driver's log lines only when a command fails\n"
    "  --int N         INT file number (BRELKnn.INT, BRELKn.INT, BRELK.INT); 0\n"
    "  --dir DIR       folder of the INT file (default: current folder)\n"
    "  --timeout T     socket timeout in hundredths of a second; 100\n"
    "  --help          this text\n"
    "\n"
    "Exit status: 0 done, 1 the driver refused or failed, 2 usage or load error.\n";

struct Options {
  std::string driverPath;
  int32_t intNumber = 0;
  std::string dir;
  int32_t timeout = 100;
  std::optional<int32_t> gateType;
  std::optional<int32_t> count;
  std::optional<std::string> typeName;
  bool block = false;
  double every = 1.0;
  int times = 1;
  std::vector<std::string> args;
};

bool ParseInt(const char* text, long min, long max, long* out) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < min || value > max) return false;
  *out = value;
  return true;
}

// Values accept decimal or 0x-prefixed hexadecimal, never octal.
bool ParseValue(const std::string& text, long long* out) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const bool negative = !hex && !text.empty() && text[0] == '-';
  char* end = nullptr;
  errno = 0;
  const long long value = hex ? static_cast<long long>(std::strtoull(text.c_str() + 2, &end, 16))
                              : std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0') return false;
  if (negative && value < INT32_MIN) return false;
  if (value > UINT32_MAX) return false;
  *out = value;
  return true;
}

int Usage(const char* problem) {
  std::fprintf(stderr, "brelk: %s\n(see brelk --help)\n", problem);
  return kExitUsage;
}

std::string DefaultDriverPath() {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "libbrelk.so";
  self[n] = '\0';
  std::string path(self);
  path.resize(path.rfind('/') + 1);
  return path + "libbrelk.so";
}

class Driver {
 public:
  bool Load(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
      std::fprintf(stderr, "brelk: cannot load the driver: %s\n", dlerror());
      return false;
    }
    kelMain_ = reinterpret_cast<KelMainFn>(dlsym(handle_, "KelMain"));
    if (kelMain_ == nullptr) {
      std::fprintf(stderr, "brelk: %s exports no KelMain\n", path.c_str());
      return false;
    }
    return true;
  }
  ~Driver() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  int32_t Call(int32_t code, void* payload, DriverPrivate* block = nullptr, int32_t file = 0) {
    DriverRequest request{};
    request.privateBlock = block;
    request.code = code;
    request.fileNumber = file;
    request.payload = payload;
    return kelMain_(&request);
  }

 private:
  void* handle_ = nullptr;
  KelMainFn kelMain_ = nullptr;
};

// One driver instance: the private block from GetKelInfo, cold-started.
class Session {
 public:
  explicit Session(Driver& driver) : driver_(driver) {}
  ~Session() {
    if (started_) driver_.Call(BRELK_END_KEL, nullptr, block());
  }
  int32_t Start(const Options& o) {
    DriverInfo info{};
    driver_.Call(BRELK_GET_KEL_INFO, &info);
    storage_.assign(static_cast<size_t>(info.privateSize), 0);
    if (!o.dir.empty() && chdir(o.dir.c_str()) != 0) {
      std::fprintf(stderr, "brelk: cannot enter %s: %s\n", o.dir.c_str(), std::strerror(errno));
      return -1;
    }
    ColdStartParams params{};
    params.timeout = o.timeout;
    const int32_t rc = driver_.Call(BRELK_COLD_START, &params, block(), o.intNumber);
    started_ = rc != BRELK_COMM_FAILURE;
    return rc;
  }
  DriverPrivate* block() { return reinterpret_cast<DriverPrivate*>(storage_.data()); }
  Driver& driver() { return driver_; }

 private:
  Driver& driver_;
  std::vector<unsigned char> storage_;  // the host allocates what the driver asks for
  bool started_ = false;
};

void ReleaseLog(bool failed) {
  if (failed) {
    for (const std::string& line : gHeld) std::fprintf(stderr, "%s\n", line.c_str());
  }
  gHeld.clear();
}

int Info(Driver& driver) {
  DriverInfo info{};
  if (driver.Call(BRELK_GET_KEL_INFO, &info) != BRELK_OK) return kExitFailed;
  std::printf("driver:        %s\n", info.driverName);
  std::printf("private block: %" PRId32 " bytes\n", info.privateSize);
  std::printf("banner:%s", brelk::tool::Cp437ToUtf8(info.banner).c_str());
  return kExitOk;
}

std::string Dotted(uint32_t address) {
  const auto* b = reinterpret_cast<const unsigned char*>(&address);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

char IndexToKey(int index) {
  return static_cast<char>(index < 10 ? '0' + index : 'A' + index - 10);
}

int Check(Driver& driver, const Options& o) {
  Session session(driver);
  const int32_t rc = session.Start(o);
  if (rc < 0) return kExitUsage;
  std::printf("ColdStart result: %" PRId32 "\n", rc);
  const DriverPrivate& block = *session.block();
  std::printf("timeout: %" PRId32 " s %" PRId32 " us\n", block.timeoutSec, block.timeoutUsec);
  std::printf("\nnode table:\n  key  host name                                          address\n");
  for (int i = 0; i < BRELK_NODE_COUNT; ++i) {
    const NodeEntry& node = block.nodes[i];
    if (node.hostName == nullptr) continue;
    std::printf("  %c    %-50s %s\n", IndexToKey(i), node.hostName, Dotted(node.ipAddress).c_str());
  }
  std::printf("\nclock locations:\n  gate                             AR word\n");
  for (const ClockLocation& clock : block.clocks) {
    if (clock.gateName[0] == '\0') continue;
    std::printf("  %-32s %" PRId32 "\n", clock.gateName, clock.arWord);
  }
  return rc == BRELK_OK ? kExitOk : kExitFailed;
}

bool IsCommandGate(const std::string& gate) {
  return gate.size() > 8 && gate[8] == '!';
}
bool EndsWith(const std::string& s, std::string_view tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// How the host would set a gate up, from its text and the options.
struct GateSetup {
  int32_t gateType = 0;
  int32_t count = 1;
  bool block = false;
};

GateSetup InferGate(const std::string& gate, const Options& o, size_t values = 1) {
  GateSetup s;
  if (IsCommandGate(gate)) {
    if (EndsWith(gate, "!PLC_TIME")) {
      s.gateType = BRELK_GATE_TEXT;
      s.count = 32;
    } else if (EndsWith(gate, "!PLC_STATUS")) {
      s.block = true;
      s.count = 4;
    }
  } else if (gate.size() >= 15) {
    s.gateType = BRELK_GATE_BIT;
  }
  if (o.typeName) {
    if (*o.typeName == "bit") s.gateType = BRELK_GATE_BIT;
    if (*o.typeName == "dword") s.gateType = BRELK_GATE_DWORD;
    if (*o.typeName == "text") s.gateType = BRELK_GATE_TEXT;
    if (*o.typeName == "word") s.gateType = 0;
  }
  if (o.gateType) s.gateType = *o.gateType;
  if (values > 1) s.count = static_cast<int32_t>(values);
  if (o.count) s.count = *o.count;
  if (s.count > 1 && s.gateType != BRELK_GATE_TEXT) s.block = true;
  if (o.block) s.block = true;
  return s;
}

const char* CommandName(int32_t code) {
  switch (code & 0x7fff) {
    case 0x0401:
      return "RUN";
    case 0x0402:
      return "STOP";
    case 0x2101:
      return "ERROR_CLEAR";
    case 0x0702:
      return "TIME_SYNC";
    case 0x0701:
      return "PLC_TIME";
    case 0x0601:
      return "status";
    default:
      return "?";
  }
}

// Bits 24-31 mix the gateway octet with the C-series flag and a network
// above 255, so the octet shown is the node table's.
void PrintInfo(const std::string& gate, const AddressInfo& a, const DriverPrivate& block) {
  const auto area = static_cast<uint32_t>(a.areaWord);
  const char key = gate[0];
  const int index = key >= '0' && key <= '9' ? key - '0' : key - 'A' + 10;
  const uint32_t ip = index >= 0 && index < BRELK_NODE_COUNT ? block.nodes[index].ipAddress : 0;
  std::printf("%s\n", gate.c_str());
  std::printf("  node %" PRId32 ", network %u, gateway octet %u (bits 24-31: 0x%02X)\n", a.node,
              (area >> 16) & 0xFF, reinterpret_cast<const unsigned char*>(&ip)[3], area >> 24);
  if (IsCommandGate(gate)) {
    std::printf("  command 0x%04X (%s), %s %" PRId32 "\n", area & 0x7FFF, CommandName(a.areaWord),
                (area & 0x7FFF) == 0x0701 ? "clock location AR" : "status selector", a.address);
    std::printf("  C-series flag %s\n", (area & 0x80000000u) ? "set" : "clear");
  } else {
    std::printf("  memory-type code 0x%03X (area code 0x%02X), address %" PRId32 "\n",
                area & 0xFFFF, area & 0xFF, a.address);
  }
  std::printf("  bit %" PRId32 ", width %" PRId32 "\n", a.bitNumber, a.width);
  std::printf("  words: %08" PRIX32 " %08" PRIX32 " %08" PRIX32 " %08" PRIX32 " %08" PRIX32 "\n",
              static_cast<uint32_t>(a.node), area, static_cast<uint32_t>(a.address),
              static_cast<uint32_t>(a.bitNumber), static_cast<uint32_t>(a.width));
}

// Parses a gate as the host does before using it.
bool ParseGate(Session& session, const std::string& gate, const GateSetup& s, AddressInfo* info) {
  ParseRecord record{};
  record.text = gate.c_str();
  record.gateType = s.gateType;
  record.count = s.count;
  const int32_t code = s.block ? BRELK_BLOCK_ADDRESS_PARSER : BRELK_SINGLE_ADDRESS_PARSER;
  const int32_t rc = session.driver().Call(code, &record, session.block());
  *info = record.info;
  return rc == BRELK_OK;
}

int Parse(Driver& driver, const Options& o) {
  if (o.args.empty()) return Usage("parse needs at least one GATE");
  Session session(driver);
  if (session.Start(o) < 0) return kExitUsage;
  int status = kExitOk;
  for (const std::string& gate : o.args) {
    AddressInfo info{};
    const bool ok = ParseGate(session, gate, InferGate(gate, o), &info);
    if (ok) {
      PrintInfo(gate, info, *session.block());
    } else {
      std::printf("%s\n  refused\n", gate.c_str());
      status = kExitFailed;
    }
  }
  return status;
}

void PrintValues(const std::string& gate, const GateSetup& s, const AddressInfo& info,
                 const std::vector<unsigned char>& data) {
  const auto word = [&](size_t i) {
    return static_cast<unsigned>(data[2 * i] | (data[2 * i + 1] << 8));
  };
  if (IsCommandGate(gate) && (info.areaWord & 0x7fff) == 0x0701) {
    std::printf("%-24s %s\n", gate.c_str(), reinterpret_cast<const char*>(data.data()));
  } else if (IsCommandGate(gate)) {
    // Items 2 and 3 differ by series.
    static const char* const kFinsNames[] = {"operating status", "mode", "fatal error word",
                                             "non-fatal error word"};
    static const char* const kCNames[] = {"operating status", "mode", "network status",
                                          "LAN status"};
    const char* const* kNames = gate[1] == 'C' ? kCNames : kFinsNames;
    const size_t items = s.block ? static_cast<size_t>(s.count) : 1;
    std::printf("%s\n", gate.c_str());
    for (size_t i = 0; i < items && i < 4; ++i) {
      std::printf("  %-22s %5u (0x%04X)\n", kNames[i], word(i), word(i));
    }
  } else if (!s.block && info.width == 32) {
    const uint32_t v = word(0) | word(1) << 16;
    std::printf("%-24s %10" PRIu32 " (0x%08" PRIX32 ")\n", gate.c_str(), v, v);
  } else if (!s.block) {
    std::printf("%-24s %5u (0x%04X)\n", gate.c_str(), word(1), word(1));
  } else if (info.width == 8) {
    std::printf("%s\n", gate.c_str());
    for (int32_t i = 0; i < s.count; ++i)
      std::printf("  [%3d] %3u (0x%02X)\n", i, data[i], data[i]);
  } else {
    std::printf("%s\n", gate.c_str());
    for (int32_t i = 0; i < s.count; ++i) {
      std::printf("  [%3d] %5u (0x%04X)\n", i, word(static_cast<size_t>(i)),
                  word(static_cast<size_t>(i)));
    }
  }
}

IoRecord MakeIo(const std::string& gate, const GateSetup& s, const AddressInfo& info, void* data) {
  IoRecord io{};
  io.text = gate.c_str();
  io.info = info;
  io.gateType = s.gateType;
  io.count = s.count;
  io.data = data;
  return io;
}

size_t BufferSize(const GateSetup& s) {
  return std::max<size_t>(4, static_cast<size_t>(s.count < 0 ? 0 : s.count) * 4);
}

int ReadGates(Session& session, const Options& o, const std::vector<std::string>& gates) {
  int status = kExitOk;
  for (const std::string& gate : gates) {
    const GateSetup s = InferGate(gate, o);
    AddressInfo info{};
    if (!ParseGate(session, gate, s, &info)) {
      std::printf("%-24s refused by the parser\n", gate.c_str());
      status = kExitFailed;
      continue;
    }
    std::vector<unsigned char> data(BufferSize(s), 0);
    IoRecord io = MakeIo(gate, s, info, data.data());
    const int32_t rc =
        session.driver().Call(s.block ? BRELK_BLOCK_READ : BRELK_SINGLE_READ, &io, session.block());
    if (rc != BRELK_OK) {
      std::printf("%-24s read failed (%" PRId32 ")\n", gate.c_str(), rc);
      status = kExitFailed;
      continue;
    }
    PrintValues(gate, s, info, data);
  }
  return status;
}

int Read(Driver& driver, const Options& o) {
  if (o.args.size() != 1) return Usage("read takes one GATE (use poll for several)");
  Session session(driver);
  if (session.Start(o) < 0) return kExitUsage;
  return ReadGates(session, o, o.args);
}

int Poll(Driver& driver, const Options& o) {
  if (o.args.empty()) return Usage("poll needs at least one GATE");
  Session session(driver);
  if (session.Start(o) < 0) return kExitUsage;
  int status = kExitOk;
  for (int i = 0; i < o.times; ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::duration<double>(o.every));
    status = ReadGates(session, o, o.args);
    std::fflush(stdout);
  }
  return status;
}

int Write(Driver& driver, const Options& o) {
  if (o.args.size() < 2) return Usage("write needs a GATE and at least one VALUE");
  const std::string& gate = o.args[0];
  const std::vector<std::string> values(o.args.begin() + 1, o.args.end());
  const GateSetup s = InferGate(gate, o, values.size());
  std::vector<unsigned char> data(BufferSize(s) + values.size() * 4, 0);
  for (size_t i = 0; i < values.size(); ++i) {
    long long v = 0;
    if (!ParseValue(values[i], &v)) return Usage("a VALUE is not a number");
    const auto u = static_cast<uint32_t>(v);
    if (!s.block && s.gateType == BRELK_GATE_DWORD) {
      std::memcpy(data.data(), &u, 4);  // host byte order
    } else if (!s.block) {
      data[2] = static_cast<unsigned char>(u);
      data[3] = static_cast<unsigned char>(u >> 8);
    } else {
      data[2 * i] = static_cast<unsigned char>(u);
      data[2 * i + 1] = static_cast<unsigned char>(u >> 8);
    }
  }
  Session session(driver);
  if (session.Start(o) < 0) return kExitUsage;
  AddressInfo info{};
  if (!ParseGate(session, gate, s, &info)) {
    std::printf("%s refused by the parser\n", gate.c_str());
    return kExitFailed;
  }
  if (s.block && info.width == 8) {
    for (size_t i = 0; i < values.size(); ++i) data[i] = data[2 * i];
  }
  IoRecord io = MakeIo(gate, s, info, data.data());
  const int32_t rc =
      session.driver().Call(s.block ? BRELK_BLOCK_WRITE : BRELK_SINGLE_WRITE, &io, session.block());
  if (rc != BRELK_OK) {
    std::printf("%s write failed (%" PRId32 ")\n", gate.c_str(), rc);
    return kExitFailed;
  }
  std::printf("%s written: %zu value%s\n", gate.c_str(), values.size(),
              values.size() == 1 ? "" : "s");
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // keeps log lines and output in order
  Options o;
  std::string command;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const auto next = [&](const char* what) -> const char* {
      if (i + 1 >= argc) {
        Usage((std::string(what) + " needs a value").c_str());
        std::exit(kExitUsage);
      }
      return argv[++i];
    };
    long n = 0;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    } else if (arg == "--driver") {
      o.driverPath = next("--driver");
    } else if (arg == "--quiet" || arg == "-q") {
      gQuiet = true;
    } else if (arg == "--int") {
      if (!ParseInt(next("--int"), INT32_MIN, INT32_MAX, &n)) return Usage("bad --int");
      o.intNumber = static_cast<int32_t>(n);
    } else if (arg == "--dir") {
      o.dir = next("--dir");
    } else if (arg == "--timeout") {
      if (!ParseInt(next("--timeout"), INT32_MIN, INT32_MAX, &n)) return Usage("bad --timeout");
      o.timeout = static_cast<int32_t>(n);
    } else if (arg == "--count") {
      if (!ParseInt(next("--count"), 0, 100000, &n)) return Usage("bad --count");
      o.count = static_cast<int32_t>(n);
    } else if (arg == "--type") {
      const char* type = next("--type");
      if (ParseInt(type, INT32_MIN, INT32_MAX, &n)) {
        o.gateType = static_cast<int32_t>(n);
      } else if (std::string_view t = type;
                 t == "word" || t == "bit" || t == "dword" || t == "text") {
        o.typeName = type;
      } else {
        return Usage("--type is word, bit, dword, text or a number");
      }
    } else if (arg == "--block") {
      o.block = true;
    } else if (arg == "--every") {
      char* end = nullptr;
      o.every = std::strtod(next("--every"), &end);
      if (*end != '\0' || o.every < 0) return Usage("bad --every");
    } else if (arg == "--times") {
      if (!ParseInt(next("--times"), 1, INT_MAX, &n)) return Usage("bad --times");
      o.times = static_cast<int>(n);
    } else if (arg.size() > 1 && arg[0] == '-' && !(arg.size() > 1 && std::isdigit(arg[1]))) {
      return Usage(("unknown option " + std::string(arg)).c_str());
    } else if (command.empty()) {
      command = arg;
    } else {
      o.args.emplace_back(arg);
    }
  }
  if (command.empty()) return Usage("no command");
  Driver driver;
  if (!driver.Load(o.driverPath.empty() ? DefaultDriverPath() : o.driverPath)) return kExitUsage;

  int status;
  if (command == "info") {
    status = Info(driver);
  } else if (command == "check") {
    status = Check(driver, o);
  } else if (command == "parse") {
    status = Parse(driver, o);
  } else if (command == "read") {
    status = Read(driver, o);
  } else if (command == "poll") {
    status = Poll(driver, o);
  } else if (command == "write") {
    status = Write(driver, o);
  } else {
    return Usage(("unknown command " + command).c_str());
  }
  ReleaseLog(status != kExitOk);
  return status;
}
