/* A host that serves err itself: the driver's messages must come here, not
 * to MARVEK's library and not to the C library. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "brelk/brelk.h"

static int calls = 0;
static char first[512];

__attribute__((visibility("default"))) int err(int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (calls++ == 0) {
    int n = snprintf(first, sizeof first, "%d ", level);
    vsnprintf(first + n, sizeof first - (size_t)n, format, args);
  }
  va_end(args);
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  char path[4096];
  snprintf(path, sizeof path, "%s/libbrelk.so", argv[1]);
  void* driver = dlopen(path, RTLD_NOW);
  if (driver == NULL) {
    fprintf(stderr, "load: %s\n", dlerror());
    return 1;
  }
  int32_t (*kelMain)(DriverRequest*) = (int32_t(*)(DriverRequest*))dlsym(driver, "KelMain");
  if (chdir(argv[2]) != 0) return 1;
  unsetenv("MARVEK_LOG");
  DriverPrivate* block = calloc(1, sizeof(DriverPrivate));
  ColdStartParams params;
  memset(&params, 0, sizeof params);
  DriverRequest request = {block, BRELK_COLD_START, 98, {0}, &params};
  int32_t rc = kelMain(&request);
  free(block);
  if (rc != 1 || calls != 3 || strncmp(first, "8 BRELK> version compiled on ", 29) != 0) {
    fprintf(stderr, "FAILED: rc %d, %d calls, first: %s\n", (int)rc, calls, first);
    return 1;
  }
  printf("own_err_host: all checks passed\n");
  return 0;
}
