// --load: V-memory from a file of lines "station octal-address value"
// (station in hexadecimal, # starts a comment). Only a regular file: a
// device or a folder would never end or say nothing, and the simulator
// would start without what was asked.
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include "sim_tool.h"

namespace {

// One line's three words into the memory; false after a message.
bool LoadLine(Sim *sim, char *line, const char *path, int number) {
  const char *blanks = " \t\r\n";
  char *save = nullptr;
  char *station = strtok_r(line, blanks, &save);
  if (!station || station[0] == '#') return true;
  char *address = strtok_r(nullptr, blanks, &save);
  char *value = strtok_r(nullptr, blanks, &save);
  char *more = strtok_r(nullptr, blanks, &save);
  if (!value || (more && more[0] != '#')) {
    Mistake("--load \"%s\" line %d: a line is station, octal address, value", path, number);
    return false;
  }
  char what[80];
  int s;
  long octal, v;
  snprintf(what, sizeof what, "--load line %d: the station", number);
  if (!SimParseStation(what, station, &s)) return false;
  snprintf(what, sizeof what, "--load line %d: the address", number);
  if (!SimParseOctal(what, address, &octal)) return false;
  snprintf(what, sizeof what, "--load line %d: the value", number);
  if (!ParseWhole(what, value, -32768, 65535, &v)) return false;
  SimAddStation(sim, s);
  SimMemory(sim, s)[octal] = static_cast<uint16_t>(v);
  return true;
}

}  // namespace

bool SimLoad(Sim *sim, const char *path) {
  FILE *f = fopen(path, "r");
  if (!f) {
    Mistake("--load cannot read \"%s\": %s", path, strerror(errno));
    return false;
  }
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    fclose(f);
    Mistake("--load \"%s\" is not a file of memory lines", path);
    return false;
  }
  char line[256];
  bool good = true;
  for (int number = 1; good && fgets(line, sizeof line, f); ++number)
    good = LoadLine(sim, line, path, number);
  fclose(f);
  return good;
}
