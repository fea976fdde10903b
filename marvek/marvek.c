/* MARVEK: the host's logging service. err(level, format, ...) writes each
 * message as one line: "<level> <message>\n", appended to the file named by
 * MARVEK_LOG, or on standard error when it is not set. */
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

__attribute__((visibility("default"))) int err(int level, const char* format, ...);

static void write_all(int fd, const char* text, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, text, size);
    if (n <= 0) return;
    text += n;
    size -= (size_t)n;
  }
}

int err(int level, const char* format, ...) {
  char stack[1024];
  char* line = stack;
  int prefix = snprintf(stack, sizeof stack, "%d ", level);
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int body = vsnprintf(stack + prefix, sizeof stack - (size_t)prefix, format, args);
  va_end(args);
  if (body < 0) body = 0;
  size_t size = (size_t)prefix + (size_t)body;
  if (size + 2 > sizeof stack) {
    /* A long message keeps every byte. */
    line = malloc(size + 2);
    if (line == NULL) {
      line = stack;
      size = sizeof stack - 2;
    } else {
      memcpy(line, stack, (size_t)prefix);
      vsnprintf(line + prefix, (size_t)body + 1, format, again);
    }
  }
  va_end(again);
  if (size == 0 || line[size - 1] != '\n') line[size++] = '\n';

  const char* path = getenv("MARVEK_LOG");
  if (path != NULL && *path != '\0') {
    /* One write with O_APPEND keeps lines whole when several processes log. */
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
      write_all(fd, line, size);
      close(fd);
    }
  } else {
    write_all(2, line, size);
  }
  if (line != stack) free(line);
  return 0;
}
