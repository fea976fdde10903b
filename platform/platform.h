// The driver's view of the operating system: Windows Sockets semantics over
// POSIX, name lookup, files, local time and the host's log function.
//
// The driver reaches all of it through one read-only table, so a test can
// hand in a scripted table instead of the real one. The driver keeps no
// writable global state; the table is passed down explicitly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace brelk::platform {

// Conditions of a failed socket call, as the driver tells them apart. Error
// codes themselves are the platform's numbers (POSIX errno here), shown
// unchanged in messages.
enum class SocketCondition { kOther, kWouldBlock, kInProgress, kAlreadyConnected, kTimedOut };

// What a wait on one socket is for.
enum class WaitFor { kReadable = 0, kWritable = 1 };

struct Platform {
  // The host's logging service: MARVEK's err(level, format, ...).
  int (*log)(int level, const char* format, ...);

  // ---- socket start-up: asks for `requested` (low byte major, high byte
  // minor); returns 0 and the version it provides, or an error code.
  int (*startup)(uint16_t requested, uint16_t* provided);

  // ---- names
  // IPv4 address (network byte order) of `name`: host name or dotted text.
  bool (*lookupHost)(const char* name, uint32_t* address);
  // Dotted-decimal text of `address` into `out`; false when it does not fit.
  bool (*addressToText)(uint32_t address, char* out, size_t outSize);

  // ---- INT file, relative to the current directory.
  std::FILE* (*openText)(const char* name);

  // ---- local time of the PC, broken down.
  bool (*localTime)(std::tm* out);
  // Milliseconds of a monotonic clock, for deadlines.
  int64_t (*monotonicMs)();

  // ---- sockets. Handles are positive; 0 is never a handle.
  int (*socketCreate)();  // stream socket, IPv4; -1 on failure
  int (*setNonBlocking)(int socket);
  int (*connect)(int socket, uint32_t address, uint16_t port);  // 0 or -1
  // Waits until `socket` is ready for `what` or `sec`/`usec` passed.
  // > 0 ready, 0 time ran out, < 0 the wait itself failed.
  int (*wait)(int socket, WaitFor what, int32_t sec, int32_t usec);
  long (*send)(int socket, const void* data, size_t size);  // bytes sent or -1
  long (*recv)(int socket, void* data, size_t size);        // bytes, 0 closed, -1
  int (*shutdown)(int socket);                              // both directions
  int (*close)(int socket);
  int (*lastError)();               // error code of the last failed call
  int (*pendingError)(int socket);  // outcome of a non-blocking connect: 0 connected
  SocketCondition (*classify)(int errorCode);
};

// The real platform of this machine.
const Platform& System();

}  // namespace brelk::platform
