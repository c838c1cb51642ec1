/*
 * Test and tool side of the substitute host library. The real QUARNE.DLL
 * belongs to the SCADA host; this one records what the driver logs and
 * answers the version query with a number a test chooses.
 */
#ifndef QUARNE_CONTROL_H
#define QUARNE_CONTROL_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define QUARNE_CDECL __cdecl
#else
#define QUARNE_CDECL
#endif

typedef void(QUARNE_CDECL *QuarneSink)(int level, const char *line);

#define QUARNE_MAX_LINES 4096
#define QUARNE_LINE_SIZE 192

/* Forget every recorded line and call; version back to 820, registration
 * succeeding. */
void QUARNE_CDECL QuarneReset(void);
void QUARNE_CDECL QuarneSetVersion(unsigned version);
/* What TevMkClient returns; nonzero low 16 bits mean "not registered". */
void QUARNE_CDECL QuarneSetRegisterStatus(int status);
/* Lines logged through err since the last reset; the first QUARNE_MAX_LINES
 * are kept, the count goes on. */
int QUARNE_CDECL QuarneLogCount(void);
int QUARNE_CDECL QuarneLogLevel(int index);
const char *QUARNE_CDECL QuarneLogText(int index);
/* Also hand every line to sink as it is logged (0: stop). */
void QUARNE_CDECL QuarneSetSink(QuarneSink sink);
/* With on set, lines are counted but neither formatted nor kept, and no
 * sink sees them: for runs of a million exchanges whose log nobody reads.
 * QuarneReset turns it off. */
void QUARNE_CDECL QuarneSetCountOnly(int on);
/* The client calls in order: 'M' TevMkClient, 'G' TevGetQuarneVer,
 * 'R' TevRmClient; and the name of the last client registered. */
const char *QUARNE_CDECL QuarneClientCalls(void);
const char *QUARNE_CDECL QuarneLastClientName(void);

typedef void(QUARNE_CDECL *QuarneResetFn)(void);
typedef void(QUARNE_CDECL *QuarneSetVersionFn)(unsigned);
typedef void(QUARNE_CDECL *QuarneSetRegisterStatusFn)(int);
typedef int(QUARNE_CDECL *QuarneLogCountFn)(void);
typedef int(QUARNE_CDECL *QuarneLogLevelFn)(int);
typedef const char *(QUARNE_CDECL *QuarneLogTextFn)(int);
typedef void(QUARNE_CDECL *QuarneSetSinkFn)(QuarneSink);
typedef const char *(QUARNE_CDECL *QuarneTextFn)(void);

#ifdef __cplusplus
}
#endif

#endif
