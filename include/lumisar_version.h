/*
 * The one place the release's version is written. The banner, the version
 * resources of LUMISAR.DLL and the tools, the tools' --version and the
 * package name all take it from here. Plain macros: the resource compiler
 * reads this file too.
 */
#ifndef LUMISAR_VERSION_H
#define LUMISAR_VERSION_H

#define LUMISAR_VERSION_MAJOR 5
#define LUMISAR_VERSION_MINOR 30
#define LUMISAR_VERSION_PATCH 0
#define LUMISAR_VERSION_BUILD 0
/* What the banner shows, and the package's name. */
#define LUMISAR_VERSION_SHORT "5.30"
/* The four fields of the version resources. */
#define LUMISAR_VERSION_TEXT "5.30.0.0"

#endif
