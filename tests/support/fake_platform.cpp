#include "tests/support/fake_platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace brelk::testing {

namespace {

FakeState gState;

int CaptureLog(int level, const char* format, ...) {
  char text[4096];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  gState.log.push_back({level, text});
  return 0;
}

int Startup(uint16_t, uint16_t* provided) {
  *provided = gState.startupVersion;
  return gState.startupRc;
}

std::FILE* OpenText(const char* name) {
  return std::fopen((gState.dir / name).string().c_str(), "r");
}

bool LocalTime(std::tm* out) {
  if (gState.time) {
    *out = *gState.time;
    return true;
  }
  return platform::System().localTime(out);
}

int SocketCreate() {
  ++gState.socketsCreated;
  if (gState.failSocketCreate) return -1;
  return platform::System().socketCreate();
}

int Connect(int socket, uint32_t address, uint16_t port) {
  gState.portsAsked.push_back(port);
  return platform::System().connect(socket, address,
                                    gState.connectPort != 0 ? gState.connectPort : port);
}

int RecordShutdown(int socket) {
  gState.shutdowns.push_back(socket);
  return platform::System().shutdown(socket);
}

int RecordClose(int socket) {
  gState.closes.push_back(socket);
  return platform::System().close(socket);
}

int FakeShutdown(int socket) {
  gState.shutdowns.push_back(socket);
  return 0;
}

int FakeClose(int socket) {
  gState.closes.push_back(socket);
  return 0;
}

}  // namespace

FakeState& State() {
  return gState;
}

void Reset() {
  const std::filesystem::path dir = gState.dir;
  gState = FakeState{};
  gState.dir = dir;
  if (gState.dir.empty()) {
    char pattern[] = "/tmp/brelk-test-XXXXXX";
    gState.dir = mkdtemp(pattern);
  }
  for (const auto& entry : std::filesystem::directory_iterator(gState.dir))
    std::filesystem::remove(entry.path());
}

platform::Platform Fake(bool realSockets) {
  platform::Platform p = platform::System();
  p.log = &CaptureLog;
  p.startup = &Startup;
  p.openText = &OpenText;
  p.localTime = &LocalTime;
  p.socketCreate = &SocketCreate;
  p.connect = &Connect;
  p.shutdown = realSockets ? &RecordShutdown : &FakeShutdown;
  p.close = realSockets ? &RecordClose : &FakeClose;
  return p;
}

std::vector<std::string> LogTexts() {
  std::vector<std::string> texts;
  for (const LogLine& line : gState.log) texts.push_back(line.text);
  return texts;
}

Block::Block() {
  std::memset(&block, 0, sizeof block);
}

std::tm Date(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  static const int kMonthOffset[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  const int y = month < 3 ? year - 1 : year;
  t.tm_wday = (y + y / 4 - y / 100 + y / 400 + kMonthOffset[month - 1] + day) % 7;
  return t;
}

void WriteFile(const std::string& name, const std::string& text) {
  std::ofstream(gState.dir / name, std::ios::binary) << text;
}

}  // namespace brelk::testing
