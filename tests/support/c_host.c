/* A host written in C includes the public header too, and its compiler
 * checks every size and offset of the records as a C++ host's does. */
#include "lumisar.h"
