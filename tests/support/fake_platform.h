// A scripted platform for tests: the real one, with the host's log captured
// and start-up, files and the clock under the test's control.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "brelk/brelk.h"
#include "platform/platform.h"

namespace brelk::testing {

struct LogLine {
  int level;
  std::string text;
  bool operator==(const LogLine&) const = default;
};

struct FakeState {
  std::vector<LogLine> log;
  int startupRc = 0;
  uint16_t startupVersion = 0x0101;
  std::filesystem::path dir;    // INT files are opened here
  std::optional<std::tm> time;  // local time, else the real one
  std::vector<int> shutdowns;   // sockets shut down
  std::vector<int> closes;      // sockets closed
  int socketsCreated = 0;
  bool failSocketCreate = false;
  // Connects go to this port instead of the one asked for (the gateway
  // port needs root); the ports asked for are kept.
  uint16_t connectPort = 0;
  std::vector<uint16_t> portsAsked;
};

// The state the fake functions read and write; Reset() before each test.
FakeState& State();
void Reset();

// The system platform with the fakes in place; `sockets` false also fakes
// shutdown and close (for tests whose handles are not real).
platform::Platform Fake(bool realSockets = true);

// Texts of the captured log lines, in order.
std::vector<std::string> LogTexts();

// A zeroed private block of this build's size.
struct Block {
  Block();
  DriverPrivate* get() { return &block; }
  DriverPrivate block;
};

// A broken-down local time with its day of the week, for any year (a
// 32-bit time_t cannot reach past 2038).
std::tm Date(int year, int month, int day, int hour, int minute, int second);

// Writes `text` into State().dir / name.
void WriteFile(const std::string& name, const std::string& text);

}  // namespace brelk::testing
