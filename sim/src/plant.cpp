#include "anynet_sim/plant.h"

#include <cerrno>
#include <cstdlib>
#include <string>

namespace anynet_sim {

namespace {

struct NetworkName {
  const char* name;
  const char* text;
};
constexpr NetworkName kNetworks[] = {
    {"SLK", "SYSMAC SLK"},
    {"SNT", "SYSMAC SNT"},
};

struct ModeName {
  const char* name;
  Mode mode;
};
constexpr ModeName kModes[] = {
    {"program", Mode::kProgram},
    {"monitor", Mode::kMonitor},
    {"run", Mode::kRun},
};

// Parameters each fault kind takes beyond count/cmd/at; a leading '!' marks a required one.
struct FaultSyntax {
  const char* name;
  FaultKind kind;
  const char* params;
  bool frameFault;  // takes count, cmd and at
};
// clang-format off
constexpr FaultSyntax kFaultSyntax[] = {
    {"no-answer",      FaultKind::kNoAnswer,         "",               true},
    {"delay",          FaultKind::kDelay,            "!ms",            true},
    {"close",          FaultKind::kClose,            "",               true},
    {"pieces",         FaultKind::kPieces,           "size pause",     true},
    {"nsb",            FaultKind::kGatewayError,     "code",           true},
    {"wrong-node",     FaultKind::kWrongNode,        "!node",          true},
    {"fins-end",       FaultKind::kFinsEndCode,      "!main sub relay", true},
    {"c-end",          FaultKind::kCmodeEndCode,     "!code",          true},
    {"wrong-echo",     FaultKind::kWrongEcho,        "!echo",          true},
    {"truncate",       FaultKind::kTruncate,         "!len",           true},
    {"garbage",        FaultKind::kGarbage,          "!len",           true},
    {"refuse",         FaultKind::kRefuseConnection, "count",          false},
    {"stop-listening", FaultKind::kStopListening,    "ms",             false},
};
// clang-format on

long ParseDecimal(std::string_view what, std::string_view text, long lo, long hi) {
  const std::string s(text);
  char* end = nullptr;
  errno = 0;
  const long v = s.empty() || s[0] == '+' || s[0] == '-' ? 0 : std::strtol(s.c_str(), &end, 10);
  if (s.empty() || end == nullptr || *end != '\0' || errno != 0 || v < lo || v > hi) {
    throw ConfigError(std::string(what) + " must be a decimal number from " + std::to_string(lo) +
                      " to " + std::to_string(hi) + ", not '" + s + "'");
  }
  return v;
}

// Protocol codes are written in hex as in a frame dump, with or without "0x".
unsigned long ParseHex(std::string_view what, std::string_view text, size_t maxDigits,
                       size_t* digits = nullptr) {
  std::string s(text);
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.erase(0, 2);
  const bool ok = !s.empty() && s.size() <= maxDigits &&
                  s.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
  if (!ok) {
    throw ConfigError(std::string(what) + " must be at most " + std::to_string(maxDigits) +
                      " hex digits, not '" + std::string(text) + "'");
  }
  if (digits != nullptr) *digits = s.size();
  return std::strtoul(s.c_str(), nullptr, 16);
}

std::pair<uint8_t, uint8_t> ParseNetNode(std::string_view text) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    throw ConfigError("controller must be written NET:NODE, not '" + std::string(text) + "'");
  }
  return {static_cast<uint8_t>(ParseDecimal("network", text.substr(0, colon), 0, 255)),
          static_cast<uint8_t>(ParseDecimal("node", text.substr(colon + 1), 0, 255))};
}

uint16_t ParseCommand(std::string_view text) {
  if (text == "query") return kNetworkQuery;
  size_t digits = 0;
  const unsigned long v = ParseHex("cmd", text, 4, &digits);
  if (digits <= 2) return static_cast<uint16_t>(v);  // C-mode command byte
  if (v < 0x0100 || v == kNetworkQuery) {
    throw ConfigError("FINS command code must be 0100-FFFE, not '" + std::string(text) + "'");
  }
  return static_cast<uint16_t>(v);
}

bool HasParam(const char* params, std::string_view key, bool* required) {
  std::string_view rest(params);
  while (!rest.empty()) {
    const size_t space = rest.find(' ');
    std::string_view word = rest.substr(0, space);
    const bool req = !word.empty() && word[0] == '!';
    if (req) word.remove_prefix(1);
    if (word == key) {
      if (required != nullptr) *required = req;
      return true;
    }
    rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
  }
  return false;
}

std::pair<std::string_view, std::string_view> KeyValue(const std::string& word) {
  const size_t eq = word.find('=');
  if (eq == std::string::npos) return {word, {}};
  return {std::string_view(word).substr(0, eq), std::string_view(word).substr(eq + 1)};
}

}  // namespace

std::vector<std::string> SplitWords(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (const char ch : text) {
    if (ch == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (!quoted && (ch == ' ' || ch == '\t' || ch == ',' || ch == '\r' || ch == '\n')) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word.push_back(ch);
      inWord = true;
    }
  }
  if (quoted) throw ConfigError("unterminated quote");
  if (inWord) words.push_back(std::move(word));
  return words;
}

std::optional<std::string> ParseNetworkText(std::string_view value) {
  for (const NetworkName& n : kNetworks) {
    if (value == n.name) return std::string(n.text);
  }
  if (value == "none") return std::nullopt;
  if (value.starts_with("text:")) return std::string(value.substr(5));
  throw ConfigError("network must be SLK, SNT, none or text:TEXT, not '" + std::string(value) +
                    "'");
}

uint16_t ParsePort(std::string_view value) {
  return static_cast<uint16_t>(ParseDecimal("port", value, 0, 65535));
}

ControllerConfig ParseController(const std::vector<std::string>& words) {
  if (words.empty()) throw ConfigError("controller needs NET:NODE");
  ControllerConfig cfg;
  std::tie(cfg.network, cfg.node) = ParseNetNode(words[0]);
  for (size_t i = 1; i < words.size(); ++i) {
    const auto [key, value] = KeyValue(words[i]);
    if (key == "clock") {
      cfg.clockArWord = static_cast<uint16_t>(ParseDecimal("clock", value, 0, 509));
    } else if (key == "mode") {
      bool found = false;
      for (const ModeName& m : kModes) {
        if (value == m.name) {
          cfg.mode = m.mode;
          found = true;
        }
      }
      if (!found) {
        throw ConfigError("mode must be program, monitor or run, not '" + std::string(value) + "'");
      }
    } else if (words[i] == "echo-bit7") {
      cfg.cmodeEchoBit7 = true;
    } else {
      throw ConfigError("unknown controller option '" + words[i] + "'");
    }
  }
  return cfg;
}

PlantFault ParseFault(const std::vector<std::string>& words) {
  if (words.empty()) throw ConfigError("fault needs a kind");
  const FaultSyntax* syntax = nullptr;
  for (const FaultSyntax& s : kFaultSyntax) {
    if (words[0] == s.name) syntax = &s;
  }
  if (syntax == nullptr) {
    std::string names;
    for (const FaultSyntax& s : kFaultSyntax)
      names += std::string(names.empty() ? "" : ", ") + s.name;
    throw ConfigError("unknown fault '" + words[0] + "' (known: " + names + ")");
  }
  PlantFault out;
  Fault& f = out.fault;
  f.kind = syntax->kind;
  std::vector<std::string_view> seen;
  for (size_t i = 1; i < words.size(); ++i) {
    const auto [key, value] = KeyValue(words[i]);
    for (std::string_view s : seen) {
      if (s == key) throw ConfigError("fault parameter '" + std::string(key) + "' given twice");
    }
    seen.push_back(key);
    const std::string where = std::string(syntax->name) + " " + std::string(key);
    if (key == "count" && (syntax->frameFault || HasParam(syntax->params, key, nullptr))) {
      f.remaining =
          value == "every" ? -1 : static_cast<int>(ParseDecimal(where, value, 1, 1000000));
    } else if (syntax->frameFault && key == "cmd") {
      f.command = ParseCommand(value);
    } else if (syntax->frameFault && key == "at") {
      out.controller = ParseNetNode(value);
    } else if (!HasParam(syntax->params, key, nullptr)) {
      throw ConfigError("fault " + std::string(syntax->name) + " takes no parameter '" +
                        std::string(key) + "'");
    } else if (key == "ms") {
      f.delayMs = static_cast<uint32_t>(ParseDecimal(where, value, 0, 3600000));
    } else if (key == "size") {
      f.pieceSize = static_cast<uint32_t>(ParseDecimal(where, value, 1, 2048));
    } else if (key == "pause") {
      f.pauseMs = static_cast<uint32_t>(ParseDecimal(where, value, 0, 60000));
    } else if (key == "code" && f.kind == FaultKind::kGatewayError) {
      f.nsb = static_cast<uint8_t>(ParseHex(where, value, 2));
    } else if (key == "code") {
      f.cEndCode = static_cast<uint8_t>(ParseHex(where, value, 2));
    } else if (key == "node") {
      f.node = static_cast<uint8_t>(ParseDecimal(where, value, 0, 255));
    } else if (key == "main") {
      f.finsMain = static_cast<uint8_t>(ParseHex(where, value, 2));
    } else if (key == "sub") {
      f.finsSub = static_cast<uint8_t>(ParseHex(where, value, 2));
    } else if (key == "relay") {
      const unsigned long relay = ParseHex(where, value, 4);
      f.relay1 = static_cast<uint8_t>(relay >> 8);
      f.relay2 = static_cast<uint8_t>(relay & 0xFF);
    } else if (key == "echo") {
      f.echo = static_cast<uint16_t>(ParseHex(where, value, 4));
    } else if (key == "len") {
      f.length = static_cast<uint32_t>(ParseDecimal(where, value, 0, 65535));
    }
  }
  // A parameter a kind requires must be there: no silent default for the point of the fault.
  std::string_view rest(syntax->params);
  while (!rest.empty()) {
    const size_t space = rest.find(' ');
    const std::string_view word = rest.substr(0, space);
    if (word.starts_with('!')) {
      bool given = false;
      for (std::string_view s : seen) given = given || s == word.substr(1);
      if (!given) {
        throw ConfigError("fault " + std::string(syntax->name) + " needs " +
                          std::string(word.substr(1)) + "=");
      }
    }
    rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
  }
  return out;
}

Plant ParsePlant(std::string_view text) {
  Plant plant;
  size_t lineNo = 0;
  while (!text.empty()) {
    ++lineNo;
    const size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (const size_t hash = line.find('#'); hash != std::string_view::npos) {
      line = line.substr(0, hash);
    }
    try {
      std::vector<std::string> words = SplitWords(line);
      if (words.empty()) continue;
      const std::string keyword = words.front();
      words.erase(words.begin());
      if (keyword == "gateway") {
        if (words.empty()) throw ConfigError("gateway needs an address");
        PlantGateway g;
        g.config.address = words[0];
        for (size_t i = 1; i < words.size(); ++i) {
          const auto [key, value] = KeyValue(words[i]);
          if (key == "port") {
            g.config.port = ParsePort(value);
          } else if (key == "network") {
            g.config.networkText = ParseNetworkText(value);
          } else {
            throw ConfigError("unknown gateway option '" + words[i] + "'");
          }
        }
        plant.gateways.push_back(std::move(g));
      } else if (keyword == "controller" || keyword == "fault") {
        if (plant.gateways.empty()) throw ConfigError(keyword + " before the first gateway");
        PlantGateway& g = plant.gateways.back();
        if (keyword == "controller") {
          g.config.controllers.push_back(ParseController(words));
        } else {
          g.faults.push_back(ParseFault(words));
        }
      } else {
        throw ConfigError("unknown statement '" + keyword + "'");
      }
    } catch (const ConfigError& e) {
      throw ConfigError("line " + std::to_string(lineNo) + ": " + e.what());
    }
  }
  return plant;
}

void CheckPlant(const Plant& plant) {
  if (plant.gateways.empty()) throw ConfigError("no gateway defined");
  for (const PlantGateway& g : plant.gateways) {
    const auto& cs = g.config.controllers;
    for (size_t i = 0; i < cs.size(); ++i) {
      for (size_t j = i + 1; j < cs.size(); ++j) {
        if (cs[i].network == cs[j].network && cs[i].node == cs[j].node) {
          throw ConfigError("gateway " + g.config.address + ": controller " +
                            std::to_string(cs[i].network) + ":" + std::to_string(cs[i].node) +
                            " defined twice");
        }
      }
    }
    for (const PlantFault& f : g.faults) {
      if (!f.controller) continue;
      bool found = false;
      for (const ControllerConfig& c : cs) {
        found = found || (c.network == f.controller->first && c.node == f.controller->second);
      }
      if (!found) {
        throw ConfigError("gateway " + g.config.address + ": fault at " +
                          std::to_string(f.controller->first) + ":" +
                          std::to_string(f.controller->second) + ", which is no controller of it");
      }
    }
  }
}

std::vector<Gateway*> ApplyPlant(Simulator& sim, const Plant& plant) {
  CheckPlant(plant);
  std::vector<Gateway*> out;
  for (const PlantGateway& g : plant.gateways) {
    Gateway& gw = sim.AddGateway(g.config);
    for (const PlantFault& f : g.faults) {
      if (f.controller) {
        gw.controller(f.controller->first, f.controller->second).injectFault(f.fault);
      } else {
        gw.injectFault(f.fault);
      }
    }
    out.push_back(&gw);
  }
  return out;
}

}  // namespace anynet_sim
