// plcsim.exe: plays one or more controllers on a Windows COM port, so an
// integrator can try the driver without a controller: plcsim.exe on one
// end of a null-modem cable (or a virtual COM port pair), the host or
// zubhost.exe with LUMISAR.DLL on the other. Control commands come on
// standard input, in the same words as on the Linux simulator's FIFO.
#include <string.h>
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include "sim_tool.h"

namespace {

volatile LONG stopping;
Sim *sim;
// Held while a command or a frame is handled: commands come from the
// reader thread and take effect between frames, never inside one.
CRITICAL_SECTION busy;

// A line longer than the buffer is refused whole: its tail is no command.
DWORD WINAPI ReadControl(LPVOID) {
  char line[kControlLine];
  bool quit = false, tooLong = false;
  while (!quit && fgets(line, sizeof line, stdin)) {
    size_t n = strcspn(line, "\r\n");
    bool whole = line[n] != 0 || feof(stdin);
    line[n] = 0;
    if (!whole) {
      tooLong = true;
      continue;
    }
    EnterCriticalSection(&busy);
    if (tooLong)
      SimControlTooLong(stdout);
    else
      SimControl(sim, line, &quit, stdout);
    LeaveCriticalSection(&busy);
    tooLong = false;
  }
  if (quit) InterlockedExchange(&stopping, 1);
  return 0;
}

BOOL WINAPI OnConsoleEvent(DWORD) {
  InterlockedExchange(&stopping, 1);
  return TRUE;
}

void WriteAll(void *line, const uint8_t *b, size_t n) {
  HANDLE h = *static_cast<HANDLE *>(line);
  while (n > 0) {
    DWORD written = 0;
    if (!WriteFile(h, b, static_cast<DWORD>(n), &written, nullptr) || written == 0) return;
    b += written;
    n -= written;
  }
}

void SayWindowsError(const char *what, const char *port) {
  DWORD e = GetLastError();
  const char *why = e == ERROR_FILE_NOT_FOUND  ? "no such port"
                    : e == ERROR_ACCESS_DENIED ? "in use by another program"
                                               : "see the Windows error code";
  fprintf(stderr, "plcsim: %s %s: %s (Windows error %lu)\n", what, port, why,
          static_cast<unsigned long>(e));
}

bool ConfigurePort(HANDLE h, const SimOptions &o) {
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(h, &dcb)) return false;
  dcb.BaudRate = o.baud ? o.baud : 19200;
  dcb.ByteSize = static_cast<BYTE>(o.dataBits);
  dcb.StopBits = static_cast<BYTE>(o.stopBits);
  dcb.Parity = static_cast<BYTE>(o.parity);
  dcb.fBinary = TRUE;
  dcb.fParity = o.parity != 0;
  dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fOutX = dcb.fInX = dcb.fDsrSensitivity = dcb.fNull = dcb.fAbortOnError = FALSE;
  if (!SetCommState(h, &dcb)) return false;
  // Reads return at once with what is there; the loop waits in between.
  COMMTIMEOUTS t = {MAXDWORD, 0, 0, 0, 1000};
  return SetCommTimeouts(h, &t) != 0;
}

// The COM port, configured; null after a message when it cannot be had.
HANDLE OpenPort(const SimOptions &o) {
  char device[64];
  // COM10 and up open only through the device namespace.
  bool named = strncmp(o.port, "\\\\.\\", 4) == 0;
  snprintf(device, sizeof device, "%s%s", named ? "" : "\\\\.\\", o.port);
  HANDLE line =
      CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (line == INVALID_HANDLE_VALUE) {
    SayWindowsError("cannot open", o.port);
    return nullptr;
  }
  if (!ConfigurePort(line, o)) {
    SayWindowsError("cannot set the line settings of", o.port);
    CloseHandle(line);
    return nullptr;
  }
  PurgeComm(line, PURGE_RXCLEAR | PURGE_TXCLEAR);
  return line;
}

// Returns 1 once the port has failed (an adapter unplugged), 0 otherwise.
int Serve(const SimOptions &o, HANDLE line) {
  SimPacer pacer;
  SimPacerInit(&pacer, &o);
  while (!stopping) {
    DWORD errors = 0;
    COMSTAT status = {};
    uint8_t in[512];
    DWORD n = 0;
    bool failed = !ClearCommError(line, &errors, &status);
    if (!failed && status.cbInQue == 0) {
      Sleep(1);
      continue;
    }
    DWORD want = status.cbInQue < sizeof in ? status.cbInQue : sizeof in;
    if (failed || !ReadFile(line, in, want, &n, nullptr)) {
      // An unplugged adapter fails so, often as "access denied": no
      // guess at the cause here.
      fprintf(stderr, "plcsim: the line %s failed (Windows error %lu)\n", o.port,
              static_cast<unsigned long>(GetLastError()));
      return 1;
    }
    EnterCriticalSection(&busy);
    if (n > 0) SimRespond(sim, &pacer, o.echo, in, n, WriteAll, &line);
    LeaveCriticalSection(&busy);
  }
  return 0;
}

}  // namespace

uint64_t SimNowNs() {
  static LARGE_INTEGER frequency;
  if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return static_cast<uint64_t>(c.QuadPart / frequency.QuadPart) * 1000000000ull +
         static_cast<uint64_t>(c.QuadPart % frequency.QuadPart) * 1000000000ull /
             static_cast<uint64_t>(frequency.QuadPart);
}

// Called with `busy` held, from within an answer: a long wait lets the
// control reader in, so that quit ends it. What a command changes applies
// to frames still to come; this answer is made already.
bool SimWaitUntilNs(uint64_t ns) {
  for (;;) {
    if (stopping) return false;
    uint64_t now = SimNowNs();
    if (now >= ns) return true;
    uint64_t left = ns - now;
    if (left <= 2000000) {
      Sleep(0);  // spin out the last milliseconds for the pacing
      continue;
    }
    LeaveCriticalSection(&busy);
    Sleep(left > 51000000 ? 50 : static_cast<DWORD>(left / 1000000 - 1));
    EnterCriticalSection(&busy);
  }
}

int main(int argc, char **argv) {
  SimOptions o;
  sim = SimCreate();
  if (!SimParseOptions(argc, argv, sim, &o, true)) {
    if (o.help) return 0;
    return 2;
  }
  if (!o.quiet) SimSetLog(sim, stderr);
  HANDLE line = OpenPort(o);
  if (!line) return 1;
  InitializeCriticalSection(&busy);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  HANDLE reader = CreateThread(nullptr, 0, ReadControl, nullptr, 0, nullptr);
  if (reader) CloseHandle(reader);
  printf("plcsim: port %s\n", o.port);
  fflush(stdout);
  // Windows wakes a sleeping thread on its timer's tick, every 15.6 ms
  // unless a program asks for less: a pause that long inside an answer
  // outlasts the driver's quiet interval from 4,800 baud up, and would end
  // the answer there. A 1 ms tick keeps the pacing within a character.
  timeBeginPeriod(1);
  int lost = Serve(o, line);
  timeEndPeriod(1);
  EnterCriticalSection(&busy);
  SimPrintStats(sim, stdout);
  CloseHandle(line);
  SimDestroy(sim);
  return lost;
}
