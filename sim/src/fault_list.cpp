#include "fault_list.h"

#include <cstdio>
#include <stdexcept>

namespace anynet_sim {

namespace {
struct FaultName {
  FaultKind kind;
  const char* name;
};
// clang-format off
constexpr FaultName kFaultNames[] = {
    {FaultKind::kNoAnswer,         "no-answer"},
    {FaultKind::kDelay,            "delay"},
    {FaultKind::kClose,            "close"},
    {FaultKind::kPieces,           "pieces"},
    {FaultKind::kGatewayError,     "nsb"},
    {FaultKind::kWrongNode,        "wrong-node"},
    {FaultKind::kFinsEndCode,      "fins-end"},
    {FaultKind::kCmodeEndCode,     "c-end"},
    {FaultKind::kWrongEcho,        "wrong-echo"},
    {FaultKind::kTruncate,         "truncate"},
    {FaultKind::kGarbage,          "garbage"},
    {FaultKind::kRefuseConnection, "refuse"},
    {FaultKind::kStopListening,    "stop-listening"},
};
// clang-format on
}  // namespace

const char* FaultKindName(FaultKind kind) {
  for (const FaultName& n : kFaultNames) {
    if (n.kind == kind) return n.name;
  }
  return "unknown";
}

namespace detail {

bool IsConnectionFault(FaultKind k) {
  return k == FaultKind::kRefuseConnection || k == FaultKind::kStopListening;
}

void CheckFault(const Fault& f) {
  if (f.remaining == 0 || f.remaining < -1) {
    throw std::invalid_argument("fault count must be positive or -1 (every)");
  }
  if (IsConnectionFault(f.kind) && f.command) {
    throw std::invalid_argument(std::string(FaultKindName(f.kind)) + " takes no command filter");
  }
  if (f.kind == FaultKind::kPieces && f.pieceSize == 0) {
    throw std::invalid_argument("pieces fault needs a piece size of at least 1");
  }
}

std::string DescribeFault(const Fault& f) {
  char buf[96];
  const char* name = FaultKindName(f.kind);
  switch (f.kind) {
    case FaultKind::kDelay:
      std::snprintf(buf, sizeof buf, "%s %ums", name, static_cast<unsigned>(f.delayMs));
      break;
    case FaultKind::kPieces:
      std::snprintf(buf, sizeof buf, "%s %u bytes every %ums", name,
                    static_cast<unsigned>(f.pieceSize), static_cast<unsigned>(f.pauseMs));
      break;
    case FaultKind::kGatewayError:
      std::snprintf(buf, sizeof buf, "%s %02X", name, f.nsb);
      break;
    case FaultKind::kWrongNode:
      std::snprintf(buf, sizeof buf, "%s %u", name, f.node);
      break;
    case FaultKind::kFinsEndCode:
      if (f.finsMain & 0x80) {
        std::snprintf(buf, sizeof buf, "%s %02X %02X relay %02X %02X", name, f.finsMain, f.finsSub,
                      f.relay1, f.relay2);
      } else {
        std::snprintf(buf, sizeof buf, "%s %02X %02X", name, f.finsMain, f.finsSub);
      }
      break;
    case FaultKind::kCmodeEndCode:
      std::snprintf(buf, sizeof buf, "%s %02X", name, f.cEndCode);
      break;
    case FaultKind::kWrongEcho:
      std::snprintf(buf, sizeof buf, "%s %04X", name, f.echo);
      break;
    case FaultKind::kTruncate:
    case FaultKind::kGarbage:
      std::snprintf(buf, sizeof buf, "%s %u bytes", name, static_cast<unsigned>(f.length));
      break;
    default:
      std::snprintf(buf, sizeof buf, "%s", name);
      break;
  }
  return buf;
}

bool FaultList::catches(const Fault& f, FrameKind frame, uint16_t command) {
  if (IsConnectionFault(f.kind)) return false;
  if (f.kind == FaultKind::kFinsEndCode && frame != FrameKind::kFins) return false;
  if (f.kind == FaultKind::kCmodeEndCode && frame != FrameKind::kCmode) return false;
  if (f.kind == FaultKind::kWrongEcho && frame == FrameKind::kQuery) return false;
  if (!f.command) return frame != FrameKind::kQuery;
  if (*f.command == kNetworkQuery) return frame == FrameKind::kQuery;
  if (*f.command <= 0xFF) return frame == FrameKind::kCmode && command == *f.command;
  return frame == FrameKind::kFins && command == *f.command;
}

std::vector<Fault> FaultList::take(FrameKind frame, uint16_t command) {
  std::vector<Fault> hit;
  for (auto it = faults_.begin(); it != faults_.end();) {
    if (!catches(*it, frame, command)) {
      ++it;
      continue;
    }
    hit.push_back(*it);
    if (it->remaining > 0 && --it->remaining == 0) {
      it = faults_.erase(it);
    } else {
      ++it;
    }
  }
  return hit;
}

bool FaultList::takeRefusal() {
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->kind != FaultKind::kRefuseConnection) continue;
    if (it->remaining > 0 && --it->remaining == 0) faults_.erase(it);
    return true;
  }
  return false;
}

}  // namespace detail
}  // namespace anynet_sim
