// Runs a fuzz entry point without libFuzzer: over the files named on the
// command line, or over a fixed number of pseudo-random inputs built from
// a few seeds, so every build exercises it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Inputs the random rounds start from: typical ones, mutated.
std::vector<std::string> FuzzSeeds();

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) != "--rounds") {
    for (int i = 1; i < argc; ++i) {
      std::ifstream in(argv[i], std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    return 0;
  }
  const long rounds = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 20000;
  std::mt19937 random(12345);
  const std::vector<std::string> seeds = FuzzSeeds();
  for (long r = 0; r < rounds; ++r) {
    std::string input = seeds[random() % seeds.size()];
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
      const size_t at = input.empty() ? 0 : random() % (input.size() + 1);
      switch (random() % 4) {
        case 0:
          if (at < input.size()) input[at] = static_cast<char>(random());
          break;
        case 1:
          input.insert(at, 1, static_cast<char>(random()));
          break;
        case 2:
          if (at < input.size()) input.erase(at, 1);
          break;
        default:
          input.resize(random() % (input.size() + 2));
          break;
      }
    }
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
  }
  std::printf("%ld inputs, no fault\n", rounds);
  return 0;
}
