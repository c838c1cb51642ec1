#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "shared_file.h"

namespace {
bool Identify(HANDLE file, FileIdentity *out) {
  BY_HANDLE_FILE_INFORMATION info;
  if (file == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file, &info)) return false;
  *out = FileIdentity{
      info.dwVolumeSerialNumber,
      (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
      static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow)};
  return true;
}
}  // namespace
bool IdentifyPath(const char *path, FileIdentity *out) {
  // Opened for its attributes alone, sharing everything, so that the host
  // writing the log is never in the way; a folder opens only with backup
  // semantics.
  HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  bool known = Identify(file, out);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return known;
}
FILE *OpenShared(const char *path) {
  HANDLE file =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    bool missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    DWORD attributes = GetFileAttributesA(path);
    bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    errno = missing ? ENOENT : folder ? EISDIR : EACCES;
    return nullptr;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
  FILE *stream = fd < 0 ? nullptr : _fdopen(fd, "rb");
  if (!stream && fd >= 0) _close(fd);
  if (fd < 0) CloseHandle(file);
  return stream;
}
bool IdentifyFile(FILE *file, FileIdentity *out) {
  return Identify(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))), out);
}
