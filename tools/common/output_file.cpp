#include "output_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

#ifndef _WIN32
// A FIFO opened for writing waits for a reader; opened without waiting it
// is refused at once when there is none, and kept as it is when there is.
FILE *OpenFifo(const char *path, const char *mode, const char **reason) {
  int fd = open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *reason = errno == ENXIO ? "it is a FIFO that nothing reads" : strerror(errno);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE *f = fdopen(fd, mode);
  if (!f) {
    *reason = strerror(errno);
    close(fd);
  }
  return f;
}
#endif

}  // namespace

FILE *OpenOutput(const char *path, const char *mode, const char **reason) {
  struct stat st;
  bool exists = stat(path, &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    *reason = "it is a folder";
    return nullptr;
  }
#ifndef _WIN32
  if (exists && S_ISFIFO(st.st_mode)) return OpenFifo(path, mode, reason);
#endif
  FILE *f = fopen(path, mode);
  if (!f) *reason = strerror(errno);
  return f;
}
