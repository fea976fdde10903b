/* A minimal host in C: loads only MARVEK's library and the driver, the way a
 * supervisory host does, and checks that the driver's log calls reach
 * MARVEK's err, never the C library's err(3), which would end the process. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "brelk/brelk.h"

static int failures = 0;
#define CHECK(cond, ...)                       \
  do {                                         \
    if (!(cond)) {                             \
      fprintf(stderr, "FAILED: " __VA_ARGS__); \
      fputc('\n', stderr);                     \
      ++failures;                              \
    }                                          \
  } while (0)

static const char* Owner(void* address) {
  Dl_info info;
  if (address == NULL || dladdr(address, &info) == 0 || info.dli_fname == NULL) return "";
  return info.dli_fname;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: c_host LIBDIR WORKDIR\n");
    return 2;
  }
  char path[4096];
  snprintf(path, sizeof path, "%s/libmarvek.so", argv[1]);
  void* marvek = dlopen(path, RTLD_NOW | RTLD_GLOBAL);
  CHECK(marvek != NULL, "load %s: %s", path, dlerror());
  snprintf(path, sizeof path, "%s/libbrelk.so", argv[1]);
  void* driver = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  CHECK(driver != NULL, "load %s: %s", path, dlerror());
  if (marvek == NULL || driver == NULL) return 1;

  /* The plain name finds the C library's err first: the trap is real here. */
  CHECK(strstr(Owner(dlsym(RTLD_DEFAULT, "err")), "libc") != NULL, "plain err is not libc's: %s",
        Owner(dlsym(RTLD_DEFAULT, "err")));
  /* The driver's reference carries MARVEK's version, which only MARVEK has. */
  CHECK(strstr(Owner(dlvsym(RTLD_DEFAULT, "err", "MARVEK_1.0")), "libmarvek.so") != NULL,
        "err@MARVEK_1.0 resolves to %s", Owner(dlvsym(RTLD_DEFAULT, "err", "MARVEK_1.0")));

  int32_t (*kelMain)(DriverRequest*) = (int32_t(*)(DriverRequest*))dlsym(driver, "KelMain");
  CHECK(kelMain != NULL, "no KelMain");
  if (kelMain == NULL) return 1;

  DriverInfo info;
  memset(&info, 0, sizeof info);
  DriverRequest request;
  memset(&request, 0, sizeof request);
  request.code = BRELK_GET_KEL_INFO;
  request.payload = &info;
  CHECK(kelMain(&request) == 0, "GetKelInfo");
  CHECK(info.privateSize == (int32_t)sizeof(DriverPrivate), "privateSize %d",
        (int)info.privateSize);

  /* A cold start without an INT file logs three lines through err. */
  CHECK(chdir(argv[2]) == 0, "chdir %s", argv[2]);
  char log[4096];
  snprintf(log, sizeof log, "%s/marvek.log", argv[2]);
  unlink(log);
  setenv("MARVEK_LOG", log, 1);
  DriverPrivate* block = calloc(1, (size_t)info.privateSize);
  ColdStartParams params;
  memset(&params, 0, sizeof params);
  params.timeout = 250;
  request.privateBlock = block;
  request.code = BRELK_COLD_START;
  request.fileNumber = 99;
  request.payload = &params;
  CHECK(kelMain(&request) == 1, "ColdStart without INT file");
  request.code = BRELK_END_KEL;
  CHECK(kelMain(&request) == 0, "EndKel");
  free(block);

  FILE* f = fopen(log, "r");
  CHECK(f != NULL, "no MARVEK log at %s", log);
  if (f != NULL) {
    char lines[3][512] = {{0}};
    for (int i = 0; i < 3; ++i) CHECK(fgets(lines[i], sizeof lines[i], f) != NULL, "line %d", i);
    CHECK(strncmp(lines[0], "8 BRELK> version compiled on ", 29) == 0, "got: %s", lines[0]);
    CHECK(strcmp(lines[1], "32 Int File not found!. Check again your INT file name!\n") == 0,
          "got: %s", lines[1]);
    CHECK(strcmp(lines[2],
                 "32 Timeout used for the TCP/IP Sockect is: 2 Sec and 500000 Micro's\n") == 0,
          "got: %s", lines[2]);
    fclose(f);
  }
  printf("c_host: %s\n", failures == 0 ? "all checks passed" : "FAILED");
  return failures == 0 ? 0 : 1;
}
