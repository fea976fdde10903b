// MARVEK's err: one line per message, "LEVEL MESSAGE", to MARVEK_LOG or
// standard error.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int err(int level, const char* format, ...);

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class MarvekTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/marvek-test-XXXXXX";
    dir = mkdtemp(pattern);
    path = dir + "/host.log";
  }
  void TearDown() override {
    unsetenv("MARVEK_LOG");
    std::remove(path.c_str());
    rmdir(dir.c_str());
  }
  std::string dir, path;
};

TEST_F(MarvekTest, EachMessageIsOneLineAppendedToTheLogFile) {
  setenv("MARVEK_LOG", path.c_str(), 1);
  { std::ofstream(path) << "earlier\n"; }
  const std::string longText(3000, 'x');
  err(32, "Host %s found in HOSTS on Line:%d.", "gw1", 3);
  err(8, "BRELK> version compiled on %s at time %s", "Dec 11 2026", "10:00:00");
  err(32, "Could not find a useable WinSock DLL, rc=%d\n", 5);
  err(32, "%c %x", 'A', 0x1f);
  err(32, "%s", "");
  err(32, "%s", longText.c_str());
  EXPECT_EQ(ReadAll(path),
            "earlier\n"
            "32 Host gw1 found in HOSTS on Line:3.\n"
            "8 BRELK> version compiled on Dec 11 2026 at time 10:00:00\n"
            "32 Could not find a useable WinSock DLL, rc=5\n"
            "32 A 1f\n"
            "32 \n"
            "32 " +
                longText + "\n");
}

TEST_F(MarvekTest, WithoutTheVariableLinesGoToStandardError) {
  unsetenv("MARVEK_LOG");
  std::fflush(stderr);
  const int saved = dup(2);
  FILE* capture = std::fopen(path.c_str(), "w");
  dup2(fileno(capture), 2);
  err(32, "Closing TCP/IP socket.");
  err(32, "Line:%d has an illegal format. Check your INT file!\n", 4);
  dup2(saved, 2);
  close(saved);
  std::fclose(capture);
  EXPECT_EQ(ReadAll(path),
            "32 Closing TCP/IP socket.\n"
            "32 Line:4 has an illegal format. Check your INT file!\n");
}

}  // namespace
