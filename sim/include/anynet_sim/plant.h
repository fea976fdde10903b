// A plant description (gateways, controllers, faults) from a config file or the command line.
//
// Config file: one statement per line, words split by blanks or commas, '#' starts a comment,
// "double quotes" keep blanks inside a word:
//   gateway ADDRESS [port=N] [network=SLK|SNT|none|text:TEXT]
//   controller NET:NODE [clock=AR_WORD] [mode=program|monitor|run] [echo-bit7]
//   fault KIND [count=N|every] [cmd=HEX|query] [at=NET:NODE] [parameters of KIND]
// controller and fault lines belong to the gateway above them. sim/README.md lists the
// fault kinds and their parameters.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "anynet_sim/sim.h"

namespace anynet_sim {

class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PlantFault {
  std::optional<std::pair<uint8_t, uint8_t>> controller;  // nullopt = the gateway itself
  Fault fault;
};

struct PlantGateway {
  GatewayConfig config;
  std::vector<PlantFault> faults;
};

struct Plant {
  std::vector<PlantGateway> gateways;
};

// All of these throw ConfigError with a message fit for a person.
std::vector<std::string> SplitWords(std::string_view text);
std::optional<std::string> ParseNetworkText(std::string_view value);
uint16_t ParsePort(std::string_view value);
ControllerConfig ParseController(const std::vector<std::string>& words);
PlantFault ParseFault(const std::vector<std::string>& words);
Plant ParsePlant(std::string_view text);  // messages start with "line N: "
// Faults aimed at controllers the gateway does not have, duplicate controllers, no gateways.
void CheckPlant(const Plant& plant);

// Starts every gateway and injects the faults; returns the gateways in plant order.
std::vector<Gateway*> ApplyPlant(Simulator& sim, const Plant& plant);

}  // namespace anynet_sim
