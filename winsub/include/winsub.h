/*
 * Control side of the native Win32 substitute: what tests and tools use to
 * set up devices, inject faults and look at what the driver did. The driver
 * itself never includes this header.
 */
#ifndef WINSUB_WINSUB_H
#define WINSUB_WINSUB_H

#include <stddef.h>
#include <stdint.h>
#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Closes every handle, forgets every device and name mapping. */
void WinsubReset(void);

/* Lets CreateFileA(name) open the tty or pty at path. A name that starts
 * with '/' is always taken as a path; "NUL" opens /dev/null. */
void WinsubMapDevice(const char *name, const char *path);

/* The calls the serial layer makes, as recorded by an in-memory device. */
enum WinsubCall {
  WINSUB_CREATE = 1,
  WINSUB_GET_STATE,
  WINSUB_SET_STATE,
  WINSUB_GET_TIMEOUTS,
  WINSUB_SET_TIMEOUTS,
  WINSUB_SETUP,
  WINSUB_CLEAR_ERROR,
  WINSUB_READ,
  WINSUB_WRITE,
  WINSUB_CLOSE
};

#define WINSUB_MAX_CALLS 256
#define WINSUB_QUEUE_SIZE 8192
#define WINSUB_TRAILING_READS 0x7FFFFFFF

typedef struct WinsubMemDevice WinsubMemDevice;
/* Called with every byte string the driver writes; a simulated peer answers
 * through WinsubMemPush. */
typedef void (*WinsubPeerFn)(WinsubMemDevice *dev, const uint8_t *bytes, size_t n, void *user);

struct WinsubMemDevice {
  /* Faults: each makes the named call fail (FALSE, with an error code). */
  int failCreate;
  int failGetState;
  int failSetState;
  int failGetTimeouts;
  int failSetTimeouts;
  int failClearError;
  int failRead;
  int failWrite;
  int failClose;
  int shortWriteBy; /* WriteFile reports this many bytes fewer than asked */
  int allowSharing; /* admits several opens, unlike a COM port */

  /* State, as a real port would keep it. */
  DCB dcb;
  COMMTIMEOUTS timeouts;
  DWORD inQueueSize, outQueueSize;
  int openHandles;

  /* What the driver did. */
  int calls[WINSUB_MAX_CALLS];
  int callCount;
  DWORD readSizes[WINSUB_MAX_CALLS]; /* bytes asked by each ReadFile */
  DWORD readGot[WINSUB_MAX_CALLS];   /* bytes each ReadFile delivered */
  int readCount;
  int setStateCount;
  int setTimeoutsCount;
  uint8_t tx[WINSUB_QUEUE_SIZE]; /* everything written, in order */
  size_t txLen;
  uint64_t waitedMs; /* time reads spent waiting for bytes that never came */

  /* Bytes waiting for the driver. "Later" bytes arrive once a read has
   * waited its full limit, like a reply that comes after the first wait. */
  uint8_t rx[WINSUB_QUEUE_SIZE];
  size_t rxHead, rxTail;
  uint8_t later[WINSUB_QUEUE_SIZE];
  size_t laterLen;
  /* A trailing line: what the peer sends is on its way, one character
   * after another, and a read takes it as it waits. ClearCommError does not
   * count it until `trailing` of its calls have missed it, so a driver that
   * looks at the queue just after a frame finds the byte that trails it a
   * moment later, and with WINSUB_TRAILING_READS never: a purge leaves it,
   * and only a read finds it. 0: every byte has arrived as the peer sends
   * it. */
  int trailing;
  size_t rxOnTheWay; /* bytes at the queue's end still on their way */
  int checksMissed;  /* ClearCommError calls that have missed them */

  WinsubPeerFn peer;
  void *peerUser;
  /* The far end's speed and parity. When lineBaud is set, what the driver
   * writes at another speed or parity reaches the peer as noise: every byte
   * a framing error, read as 0xFF. */
  DWORD lineBaud;
  BYTE lineParity;

  /* A line with time. When paced is set, the device keeps a clock of its
   * own, which moves only while a read waits: what the driver writes takes
   * its wire time at the port's settings, the peer hears it whole, and each
   * byte it answers arrives a character time after the one before. A read
   * takes what has arrived by the end of its limit, as a UART's would. */
  int paced;
  uint64_t clockUs;
  uint64_t txFreeUs, rxFreeUs;         /* when each direction is next idle */
  uint64_t rxDueUs[WINSUB_QUEUE_SIZE]; /* when each byte in rx arrives */
  /* When the last write began to go out, or the line before it was idle:
   * an echo of it arrives from here. */
  uint64_t echoFromUs;
};

/* Registers an in-memory port under name (such as "COM3"); the record stays
 * valid until WinsubReset. Its DCB starts with recognisable values so a test
 * can see which members the driver left as read. */
WinsubMemDevice *WinsubAddMemoryDevice(const char *name);
void WinsubMemPush(WinsubMemDevice *dev, const void *bytes, size_t n);
void WinsubMemPushLater(WinsubMemDevice *dev, const void *bytes, size_t n);
size_t WinsubMemWaiting(const WinsubMemDevice *dev);
void WinsubMemClearLog(WinsubMemDevice *dev);
/* With on set, GetTickCount counts only the time the in-memory devices'
 * reads waited, not the process's own: a verdict on such a line then does
 * not hang on how busy the machine was. WinsubReset turns it off. */
void WinsubLineClockOnly(int on);

/* Number of handles open over all devices (leak checks). */
int WinsubOpenHandleCount(void);

/* A scripted stand-in for the window system, enough to run a dialog
 * procedure: controls have a text, an enabled flag and, for list boxes,
 * items and a top index. DialogBoxParamA creates the dialog, sends
 * WM_INITDIALOG, then calls the script; the dialog ends with the value the
 * procedure gave EndDialog, or with the script's return value when the
 * procedure never ended it. */
typedef INT_PTR (*WinsubDialogScript)(HWND dlg, DLGPROC proc, void *user);
void WinsubSetDialogScript(WinsubDialogScript script, void *user);
void WinsubSetDialogCreateFails(int fails);
HWND WinsubLastDialogOwner(void);
const char *WinsubLastMessageBox(void); /* text of the last MessageBoxA */
int WinsubMessageBoxCount(void);
int WinsubControlEnabled(HWND dlg, int id);
const char *WinsubControlText(HWND dlg, int id);
int WinsubListTopIndex(HWND dlg, int id);
int WinsubListCount(HWND dlg, int id);
int WinsubDialogEnded(HWND dlg); /* result given to EndDialog, or -1 */
void WinsubSetThreadId(DWORD id);
/* The file name under which GetModuleHandleA finds the driver's module
 * ("LUMISAR.DLL" until changed), and the module the last dialog came from. */
void WinsubSetModuleName(const char *name);
HMODULE WinsubLastDialogModule(void);
#define WINSUB_DRIVER_MODULE ((HMODULE)(uintptr_t)0x10000000)

#ifdef __cplusplus
}
#endif

#endif /* WINSUB_WINSUB_H */
