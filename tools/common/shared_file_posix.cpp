#include <sys/stat.h>

#include "shared_file.h"

namespace {
bool Identify(const struct stat &st, FileIdentity *out) {
  *out = FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
                      static_cast<int64_t>(st.st_size)};
  return true;
}
}  // namespace

bool IdentifyPath(const char *path, FileIdentity *out) {
  struct stat st;
  return stat(path, &st) == 0 && Identify(st, out);
}

FILE *OpenShared(const char *path) { return fopen(path, "rb"); }

bool IdentifyFile(FILE *file, FileIdentity *out) {
  struct stat st;
  return fstat(fileno(file), &st) == 0 && Identify(st, out);
}
