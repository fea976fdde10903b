// anynet-sim: AnyNet gateways with simulated Omron controllers behind them.
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "anynet_sim/plant.h"
#include "anynet_sim/sim.h"

namespace {

constexpr char kUsage[] =
    R"(Usage: anynet-sim [--config FILE] [--gateway ADDRESS [GATEWAY OPTIONS]]... [--quiet]

Simulates AnyNet TCP/IP gateways and the Omron controllers behind them. Each gateway
answers the network-type query and relays FINS (frame type 0) and C-mode (frame type 1)
frames to its controllers. One line per frame is logged to standard output.

Options:
  --config FILE         read gateways, controllers and faults from FILE (format in
                        sim/README.md; example: examples/plant.conf); may be combined
                        with gateways given on the command line
  --gateway ADDRESS     add a gateway on IPv4 ADDRESS (for example 127.0.0.2); the
                        options below apply to the gateway named last
  --port N              its TCP port (default 1023; 0 = any free port)
  --network NAME        its answer to the network-type query: SLK ("SYSMAC SLK",
                        the default), SNT ("SYSMAC SNT"), none (header only) or
                        text:TEXT (TEXT as it is)
  --controller CTRL     add a controller: NET:NODE[,clock=AR][,mode=MODE][,echo-bit7]
                          clock=AR    first of the three AR words that show the clock
                                      (default 18)
                          mode=MODE   program (default), monitor or run
                          echo-bit7   C-mode answers echo the command with bit 7 set
  --fault FAULT         inject a fault: KIND[,count=N|every][,cmd=CODE][,at=NET:NODE][,...]
                          count=N     for the next N frames (default 1), or every one
                          cmd=CODE    only frames of this command: 2 hex digits for a
                                      C-mode code (0A), 4 for a FINS code (0101), or
                                      query for the network-type query; without cmd a
                                      fault catches every FINS and C-mode frame but not
                                      the query
                          at=NET:NODE only frames to that controller (default: every
                                      frame through the gateway)
                        KIND and its parameters (hex: codes; decimal: everything else):
                          no-answer                 swallow the request
                          delay,ms=N                answer N ms late
                          close                     close the connection instead
                          pieces[,size=N][,pause=MS]  answer N bytes at a time (1),
                                                    MS apart (50)
                          nsb[,code=HH]             gateway error byte HH (01)
                          wrong-node,node=N         answer in the name of node N
                          fins-end,main=HH[,sub=HH][,relay=HHHH]
                                                    FINS end code (sub 01); relay bytes
                                                    follow when main has bit 7 set
                          c-end,code=HH             C-mode end code HH
                          wrong-echo,echo=HHHH      echo another command code
                          truncate,len=N            send only the first N bytes
                          garbage,len=N             send N random bytes instead
                          refuse[,count=N|every]    accept new connections and close
                                                    them at once
                          stop-listening[,ms=N]     close the listening socket, for N ms
                                                    (default: until the program ends)
                        never answering the network-type query:
                          no-answer,cmd=query,count=every
  --quiet               no per-frame log lines
  -h, --help            this text

Ports below 1024 need root or CAP_NET_BIND_SERVICE; without them run for example
  unshare -rn sh -c 'ip link set lo up; anynet-sim --gateway 127.0.0.2 --controller 1:5'
Stops cleanly on SIGINT or SIGTERM.
)";

// Good enough for the hint line, which itself sits inside single quotes.
std::string ShellQuote(const std::string& s) {
  if (s.find_first_not_of(
          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._:,=/-") ==
      std::string::npos) {
    return s;
  }
  return "\"" + s + "\"";
}

void LogLine(const std::string& line) {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  std::tm local{};
  localtime_r(&tv.tv_sec, &local);
  std::printf("%02d:%02d:%02d.%03ld %s\n", local.tm_hour, local.tm_min, local.tm_sec,
              static_cast<long>(tv.tv_usec / 1000), line.c_str());
  std::fflush(stdout);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw anynet_sim::ConfigError("cannot read config file " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

int main(int argc, char** argv) {
  using anynet_sim::ConfigError;
  anynet_sim::Plant plant;
  bool quiet = false;
  std::string rerun = ShellQuote(argv[0]);  // this command line, for the permission hint
  try {
    for (int i = 1; i < argc; ++i) {
      rerun += " " + ShellQuote(argv[i]);
      std::string option = argv[i];
      std::optional<std::string> value;
      if (const size_t eq = option.find('='); option.starts_with("--") && eq != std::string::npos) {
        value = option.substr(eq + 1);
        option.resize(eq);
      }
      auto need = [&]() -> std::string {
        if (value) return *value;
        if (i + 1 >= argc) throw ConfigError(option + " needs a value");
        rerun += " " + ShellQuote(argv[i + 1]);
        return argv[++i];
      };
      auto current = [&]() -> anynet_sim::PlantGateway& {
        if (plant.gateways.empty()) throw ConfigError(option + " needs a --gateway before it");
        return plant.gateways.back();
      };
      if (option == "-h" || option == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
      } else if (option == "--quiet" && !value) {
        quiet = true;
      } else if (option == "--config") {
        const std::string path = need();
        try {
          anynet_sim::Plant more = anynet_sim::ParsePlant(ReadFile(path));
          for (auto& g : more.gateways) plant.gateways.push_back(std::move(g));
        } catch (const ConfigError& e) {
          throw ConfigError(path + ": " + e.what());
        }
      } else if (option == "--gateway") {
        plant.gateways.push_back({});
        plant.gateways.back().config.address = need();
      } else if (option == "--port") {
        const std::string v = need();
        current().config.port = anynet_sim::ParsePort(v);
      } else if (option == "--network") {
        const std::string v = need();
        current().config.networkText = anynet_sim::ParseNetworkText(v);
      } else if (option == "--controller") {
        const std::string v = need();
        current().config.controllers.push_back(
            anynet_sim::ParseController(anynet_sim::SplitWords(v)));
      } else if (option == "--fault") {
        const std::string v = need();
        current().faults.push_back(anynet_sim::ParseFault(anynet_sim::SplitWords(v)));
      } else {
        throw ConfigError("unknown option '" + std::string(argv[i]) + "' (see --help)");
      }
    }
    anynet_sim::CheckPlant(plant);
  } catch (const ConfigError& e) {
    std::fprintf(stderr, "anynet-sim: %s\n", e.what());
    return 2;
  }

  // Signals are taken by sigwait() below; the simulator thread inherits the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  anynet_sim::Simulator sim(quiet ? std::function<void(const std::string&)>() : LogLine);
  try {
    for (anynet_sim::Gateway* gw : anynet_sim::ApplyPlant(sim, plant)) {
      LogLine(gw->address() + ":" + std::to_string(gw->port()) + " listening");
    }
  } catch (const anynet_sim::BindError& e) {
    if (e.error() == EACCES) {
      std::fprintf(stderr,
                   "anynet-sim: %s: ports below 1024 need root or CAP_NET_BIND_SERVICE; run it as "
                   "root or as: unshare -rn sh -c 'ip link set lo up; exec %s'\n",
                   e.what(), rerun.c_str());
    } else if (e.error() == EADDRNOTAVAIL) {
      std::fprintf(stderr, "anynet-sim: %s: use an address of this machine, such as 127.0.0.2\n",
                   e.what());
    } else {
      std::fprintf(stderr, "anynet-sim: %s\n", e.what());
    }
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "anynet-sim: %s\n", e.what());
    return 1;
  }

  int signal = 0;
  sigwait(&stopSignals, &signal);
  LogLine(std::string("stopping on ") + (signal == SIGINT ? "SIGINT" : "SIGTERM"));
  sim.Stop();
  return 0;
}
