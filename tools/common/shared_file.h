// Files as the tools meet them on either platform: which file a name or an
// open file is, and a log opened so that its host may go on writing it.
#pragma once

#include <stdint.h>
#include <stdio.h>

// Which file a name or an open file is, and how long it is: the volume and
// the file's number on it (device and inode natively; on Windows the
// volume serial number and file index, which its C runtime's stat leaves
// empty).
struct FileIdentity {
  uint64_t volume, index;
  int64_t size;
};
bool IdentifyPath(const char *path, FileIdentity *out);
// A log opened to be read while its host goes on writing, renaming or
// deleting it (on Windows the C runtime's fopen would stand in the way);
// null with errno set when it cannot be.
FILE *OpenShared(const char *path);
bool IdentifyFile(FILE *file, FileIdentity *out);
