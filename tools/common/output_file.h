// The one rule both tools follow for a file they are told to write: a
// folder is no file, and a FIFO that nothing reads would hold the tool
// for ever, so each is refused with its reason instead of waited on.
#pragma once

#include <stdio.h>

// The file at path opened with mode ("wb", "a"); null with the reason, in
// words a user reads after "cannot write "PATH": ", when it cannot be.
FILE *OpenOutput(const char *path, const char *mode, const char **reason);
