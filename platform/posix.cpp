// The platform over POSIX sockets and the C library.
#include "platform/platform.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

// MARVEK's logging function, imported by name (see marvek/).
extern "C" int err(int level, const char* format, ...);

namespace brelk::platform {
namespace {

constexpr uint16_t kProvidedVersion = 0x0101;

int Startup(uint16_t /*requested*/, uint16_t* provided) {
  *provided = kProvidedVersion;
  return 0;
}

bool LookupHost(const char* name, uint32_t* address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &list) != 0 || list == nullptr) return false;
  *address = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(list);
  return true;
}

bool AddressToText(uint32_t address, char* out, size_t outSize) {
  in_addr in{};
  in.s_addr = address;
  return outSize <= INT_MAX &&
         inet_ntop(AF_INET, &in, out, static_cast<socklen_t>(outSize)) != nullptr;
}

std::FILE* OpenText(const char* name) {
  return std::fopen(name, "r");
}

bool LocalTime(std::tm* out) {
  const std::time_t now = std::time(nullptr);
  return localtime_r(&now, out) != nullptr;
}

int SocketCreate() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd == 0) {
    // 0 means "no socket" to the driver: move it off descriptor 0.
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 1);
    const int saved = errno;
    ::close(fd);
    errno = saved;
    fd = moved;
  }
  return fd < 0 ? -1 : fd;
}

int SetNonBlocking(int socket) {
  const int flags = fcntl(socket, F_GETFL);
  if (flags < 0) return -1;
  return fcntl(socket, F_SETFL, flags | O_NONBLOCK) < 0 ? -1 : 0;
}

int Connect(int socket, uint32_t address, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = address;
  return ::connect(socket, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 ? 0 : -1;
}

int64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

// poll, not select: select corrupts memory for descriptors of 1024 and more.
int Wait(int socket, WaitFor what, int32_t sec, int32_t usec) {
  if (sec < 0 || usec < 0) return -1;
  const int64_t total = int64_t{sec} * 1000 + (int64_t{usec} + 999) / 1000;
  const int64_t deadline = MonotonicMs() + total;
  pollfd p{};
  p.fd = socket;
  p.events = what == WaitFor::kReadable ? POLLIN : POLLOUT;
  for (;;) {
    const int64_t left = deadline - MonotonicMs();
    const int rc = ::poll(&p, 1, static_cast<int>(left < 0 ? 0 : left > INT_MAX ? INT_MAX : left));
    if (rc >= 0) {
      if (rc > 0 && (p.revents & POLLNVAL)) {
        errno = EBADF;
        return -1;
      }
      return rc;
    }
    if (errno != EINTR) return -1;
  }
}

long Send(int socket, const void* data, size_t size) {
  // MSG_NOSIGNAL: a gateway that closed the connection must not kill the host.
  ssize_t n;
  do n = ::send(socket, data, size, MSG_NOSIGNAL);
  while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

long Recv(int socket, void* data, size_t size) {
  ssize_t n;
  do n = ::recv(socket, data, size, 0);
  while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

int Shutdown(int socket) {
  return ::shutdown(socket, SHUT_RDWR);
}
int Close(int socket) {
  return ::close(socket);
}
int LastError() {
  return errno;
}

int PendingError(int socket) {
  int code = 0;
  socklen_t len = sizeof code;
  if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &code, &len) != 0) return errno;
  if (code != 0) return code;
  // Writable without an error can still mean "not yet": ask the peer.
  sockaddr_in peer{};
  socklen_t peerLen = sizeof peer;
  return getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &peerLen) == 0 ? 0 : ENOTCONN;
}

SocketCondition Classify(int code) {
  if (code == EINPROGRESS) return SocketCondition::kInProgress;
  if (code == EWOULDBLOCK || code == EAGAIN) return SocketCondition::kWouldBlock;
  if (code == EISCONN) return SocketCondition::kAlreadyConnected;
  if (code == ETIMEDOUT) return SocketCondition::kTimedOut;
  return SocketCondition::kOther;
}

constexpr Platform kSystem{
    .log = &err,
    .startup = &Startup,
    .lookupHost = &LookupHost,
    .addressToText = &AddressToText,
    .openText = &OpenText,
    .localTime = &LocalTime,
    .monotonicMs = &MonotonicMs,
    .socketCreate = &SocketCreate,
    .setNonBlocking = &SetNonBlocking,
    .connect = &Connect,
    .wait = &Wait,
    .send = &Send,
    .recv = &Recv,
    .shutdown = &Shutdown,
    .close = &Close,
    .lastError = &LastError,
    .pendingError = &PendingError,
    .classify = &Classify,
};

}  // namespace

const Platform& System() {
  return kSystem;
}

}  // namespace brelk::platform
