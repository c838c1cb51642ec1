// Win32 file and communications calls for the native build.
//
// Two kinds of device stand behind a handle:
//  - in-memory devices: every call is recorded and any of them can be made
//    to fail; reads never really wait, they add the time they would have
//    waited to a counter, so tests of six silent attempts take no time;
//  - ttys and ptys: the Win32 semantics the driver relies on, over termios
//    (a read waits at most ReadTotalTimeoutConstant for all its bytes and
//    returns what came; ClearCommError reports the queued count; a device
//    opened without sharing refuses a second open, as Windows does).
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <windows.h>
#include <winsub.h>

#include <atomic>

namespace {

constexpr int kMaxDevices = 16;
constexpr int kMaxMappings = 16;
constexpr int kMaxHandles = 64;
constexpr uintptr_t kHandleBase = 0x5100;

struct NamedDevice {
  char name[32];
  WinsubMemDevice dev;
  bool used;
};

struct Mapping {
  char name[32];
  char path[256];
  bool used;
};

enum class Kind { Free, Memory, Fd };

struct OpenHandle {
  Kind kind;
  WinsubMemDevice *mem;
  int fd;
  dev_t rdev;
  ino_t ino;
  bool isTty;
  COMMTIMEOUTS timeouts;
};

NamedDevice devices[kMaxDevices];
Mapping mappings[kMaxMappings];
OpenHandle handles[kMaxHandles];
thread_local DWORD lastError;

void CopyName(char *dst, size_t size, const char *src) {
  size_t i = 0;
  for (; src[i] && i + 1 < size; ++i) dst[i] = src[i];
  dst[i] = 0;
}

OpenHandle *Lookup(HANDLE h) {
  uintptr_t v = reinterpret_cast<uintptr_t>(h);
  if (v < kHandleBase || (v - kHandleBase) % 4 != 0) return nullptr;
  uintptr_t i = (v - kHandleBase) / 4;
  if (i >= kMaxHandles || handles[i].kind == Kind::Free) return nullptr;
  return &handles[i];
}

HANDLE Allocate(OpenHandle **out) {
  for (int i = 0; i < kMaxHandles; ++i) {
    if (handles[i].kind == Kind::Free) {
      handles[i] = OpenHandle{};
      *out = &handles[i];
      return reinterpret_cast<HANDLE>(kHandleBase + 4 * static_cast<uintptr_t>(i));
    }
  }
  return INVALID_HANDLE_VALUE;
}

void Record(WinsubMemDevice *d, int call) {
  if (d->callCount < WINSUB_MAX_CALLS) d->calls[d->callCount] = call;
  d->callCount++;
}

BOOL Fail(DWORD error) {
  lastError = error;
  return FALSE;
}

void InitialDcb(DCB *dcb) {
  // Values a driver would never write, so a test sees which members were
  // left as read and which were set.
  memset(dcb, 0, sizeof *dcb);
  dcb->BaudRate = 1200;
  dcb->fOutxCtsFlow = 1;
  dcb->fOutxDsrFlow = 1;
  dcb->fDtrControl = DTR_CONTROL_HANDSHAKE;
  dcb->fDsrSensitivity = 1;
  dcb->fTXContinueOnXoff = 1;
  dcb->fOutX = 1;
  dcb->fInX = 1;
  dcb->fErrorChar = 1;
  dcb->fNull = 1;
  dcb->fRtsControl = RTS_CONTROL_TOGGLE;
  dcb->fAbortOnError = 1;
  dcb->XonLim = 2048;
  dcb->XoffLim = 512;
  dcb->ByteSize = 7;
  dcb->Parity = EVENPARITY;
  dcb->StopBits = TWOSTOPBITS;
  dcb->XonChar = 0x11;
  dcb->XoffChar = 0x13;
  dcb->ErrorChar = 0x55;
  dcb->EofChar = 0x1A;
  dcb->EvtChar = 0x7E;
  dcb->wReserved1 = 0x3344;
}

// Time the in-memory devices' reads spent "waiting": they return at once,
// but a driver that watches the clock must see the limit pass.
std::atomic<DWORD> memoryWaitMs{0};
int lineClockOnly;

uint64_t NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// ---- in-memory devices ----------------------------------------------------

// A character's wire time at the settings the port was given: start bit,
// data bits, parity bit and stop bits (ONE5STOPBITS is one and a half).
// The line's own reckoning, kept apart from the driver's on purpose.
uint64_t CharMicros(const DCB &dcb) {
  uint64_t tenths = 10 * (1 + dcb.ByteSize + (dcb.Parity != NOPARITY ? 1 : 0));
  switch (dcb.StopBits) {
    case ONE5STOPBITS:
      tenths += 15;
      break;
    case TWOSTOPBITS:
      tenths += 20;
      break;
    default:
      tenths += 10;
      break;
  }
  uint64_t baud = dcb.BaudRate ? dcb.BaudRate : 1;
  return (tenths * 100000 + baud - 1) / baud;
}

// Bytes waiting that have arrived by atUs on a paced line; all of them on
// one without time.
size_t ArrivedBy(const WinsubMemDevice *d, uint64_t atUs) {
  if (!d->paced) return d->rxTail - d->rxHead;
  size_t i = d->rxHead;
  while (i < d->rxTail && d->rxDueUs[i] <= atUs) ++i;
  return i - d->rxHead;
}

size_t MemAvailable(const WinsubMemDevice *d) { return ArrivedBy(d, d->clockUs); }

// Moves a paced line's clock on to toUs; GetTickCount moves with it.
void AdvanceClock(WinsubMemDevice *d, uint64_t toUs) {
  if (toUs <= d->clockUs) return;
  memoryWaitMs += static_cast<DWORD>(toUs / 1000 - d->clockUs / 1000);
  d->clockUs = toUs;
}

// The bytes that have arrived; on a paced line the rest are still coming.
size_t MemArrived(const WinsubMemDevice *d) { return MemAvailable(d) - d->rxOnTheWay; }

BOOL MemRead(OpenHandle *h, uint8_t *buf, DWORD count, DWORD *got) {
  WinsubMemDevice *d = h->mem;
  Record(d, WINSUB_READ);
  int slot = d->readCount++;
  if (slot < WINSUB_MAX_CALLS) d->readSizes[slot] = count;
  if (d->failRead) return Fail(ERROR_GEN_FAILURE);
  DWORD limitMs = d->timeouts.ReadTotalTimeoutConstant;
  uint64_t deadlineUs = d->clockUs + static_cast<uint64_t>(limitMs) * 1000;
  size_t arrived = ArrivedBy(d, deadlineUs);
  size_t take = arrived < count ? arrived : count;
  // On a paced line a read that gets all it asked for ends as its last
  // byte arrives.
  if (d->paced && take == count && take > 0) AdvanceClock(d, d->rxDueUs[d->rxHead + take - 1]);
  memcpy(buf, d->rx + d->rxHead, take);
  d->rxHead += take;
  if (d->rxHead == d->rxTail) d->rxHead = d->rxTail = 0;
  // A read takes what is on its way as it arrives.
  if (d->rxOnTheWay > MemAvailable(d)) d->rxOnTheWay = MemAvailable(d);
  if (take < count) {
    // The read waited its whole limit; whatever was due later comes now.
    d->waitedMs += limitMs;
    if (d->paced)
      AdvanceClock(d, deadlineUs);
    else
      memoryWaitMs += limitMs;
    if (d->laterLen) {
      WinsubMemPush(d, d->later, d->laterLen);
      d->laterLen = 0;
    }
  }
  if (slot < WINSUB_MAX_CALLS) d->readGot[slot] = static_cast<DWORD>(take);
  if (got) *got = static_cast<DWORD>(take);
  return TRUE;
}

BOOL MemWrite(OpenHandle *h, const uint8_t *buf, DWORD count, DWORD *written) {
  WinsubMemDevice *d = h->mem;
  Record(d, WINSUB_WRITE);
  if (d->failWrite) return Fail(ERROR_GEN_FAILURE);
  DWORD n = count;
  if (d->shortWriteBy > 0)
    n = static_cast<DWORD>(d->shortWriteBy) >= count ? 0 : count - d->shortWriteBy;
  size_t room = sizeof d->tx - d->txLen;
  size_t keep = n < room ? n : room;
  memcpy(d->tx + d->txLen, buf, keep);
  d->txLen += keep;
  if (written) *written = n;
  if (!d->peer || !n) return TRUE;
  if (d->paced) {
    uint64_t startUs = d->txFreeUs > d->clockUs ? d->txFreeUs : d->clockUs;
    d->txFreeUs = startUs + n * CharMicros(d->dcb);
    d->echoFromUs = d->rxFreeUs > startUs ? d->rxFreeUs : startUs;
    // The peer answers once it has heard the whole of it.
    if (d->rxFreeUs < d->txFreeUs) d->rxFreeUs = d->txFreeUs;
  }
  if (d->lineBaud && (d->dcb.BaudRate != d->lineBaud || d->dcb.Parity != d->lineParity)) {
    uint8_t noise[WINSUB_QUEUE_SIZE];
    size_t heard = n < sizeof noise ? n : sizeof noise;
    memset(noise, 0xFF, heard);
    d->peer(d, noise, heard, d->peerUser);
  } else {
    d->peer(d, buf, n, d->peerUser);
  }
  return TRUE;
}

// ---- ttys and ptys ---------------------------------------------------------

speed_t ToSpeed(DWORD baud, bool *ok) {
  static const struct {
    DWORD baud;
    speed_t speed;
  } table[] = {{0, B0},         {50, B50},         {75, B75},        {110, B110},
               {134, B134},     {150, B150},       {200, B200},      {300, B300},
               {600, B600},     {1200, B1200},     {1800, B1800},    {2400, B2400},
               {4800, B4800},   {9600, B9600},     {19200, B19200},  {38400, B38400},
               {57600, B57600}, {115200, B115200}, {230400, B230400}};
  for (const auto &e : table) {
    if (e.baud == baud) {
      *ok = true;
      return e.speed;
    }
  }
  *ok = false;
  return B0;
}

DWORD FromSpeed(speed_t s) {
  static const struct {
    speed_t speed;
    DWORD baud;
  } table[] = {{B1200, 1200},   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
               {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
  for (const auto &e : table)
    if (e.speed == s) return e.baud;
  return 9600;
}

BOOL FdGetState(OpenHandle *h, DCB *dcb) {
  termios t;
  if (!h->isTty || tcgetattr(h->fd, &t) != 0) return Fail(ERROR_INVALID_HANDLE);
  DWORD length = dcb->DCBlength;
  memset(dcb, 0, sizeof *dcb);
  dcb->DCBlength = length;
  dcb->BaudRate = FromSpeed(cfgetospeed(&t));
  dcb->fBinary = 1;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      dcb->ByteSize = 5;
      break;
    case CS6:
      dcb->ByteSize = 6;
      break;
    case CS7:
      dcb->ByteSize = 7;
      break;
    default:
      dcb->ByteSize = 8;
      break;
  }
  dcb->Parity = (t.c_cflag & PARENB) ? ((t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY) : NOPARITY;
  dcb->StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
  dcb->fOutX = (t.c_iflag & IXON) ? 1 : 0;
  dcb->fInX = (t.c_iflag & IXOFF) ? 1 : 0;
  dcb->XonChar = 0x11;
  dcb->XoffChar = 0x13;
  dcb->XonLim = 2048;
  dcb->XoffLim = 512;
  return TRUE;
}

BOOL FdSetState(OpenHandle *h, const DCB *dcb) {
  termios t;
  if (!h->isTty || tcgetattr(h->fd, &t) != 0) return Fail(ERROR_INVALID_HANDLE);
  bool ok = false;
  speed_t speed = ToSpeed(dcb->BaudRate, &ok);
  if (!ok) return Fail(ERROR_INVALID_PARAMETER);
  cfmakeraw(&t);
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  switch (dcb->ByteSize) {
    case 5:
      t.c_cflag |= CS5;
      break;
    case 6:
      t.c_cflag |= CS6;
      break;
    case 7:
      t.c_cflag |= CS7;
      break;
    case 8:
      t.c_cflag |= CS8;
      break;
    default:
      return Fail(ERROR_INVALID_PARAMETER);
  }
  switch (dcb->Parity) {
    case NOPARITY:
      break;
    case ODDPARITY:
      t.c_cflag |= PARENB | PARODD;
      break;
    case EVENPARITY:
      t.c_cflag |= PARENB;
      break;
    default:
      return Fail(ERROR_INVALID_PARAMETER);  // mark and space need CMSPAR
  }
  if (dcb->StopBits == TWOSTOPBITS || dcb->StopBits == ONE5STOPBITS)
    t.c_cflag |= CSTOPB;
  else if (dcb->StopBits != ONESTOPBIT)
    return Fail(ERROR_INVALID_PARAMETER);
  if (dcb->fOutxCtsFlow || dcb->fRtsControl == RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;
  if (dcb->fOutX) t.c_iflag |= IXON;
  if (dcb->fInX) t.c_iflag |= IXOFF;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (tcsetattr(h->fd, TCSANOW, &t) != 0) return Fail(ERROR_INVALID_PARAMETER);
  // A pty takes the call but drops parity; Windows on such a line would
  // refuse, and so does Wine. Check that what was asked for stuck.
  termios back;
  if (tcgetattr(h->fd, &back) != 0) return Fail(ERROR_INVALID_HANDLE);
  if ((back.c_cflag & PARENB) != (t.c_cflag & PARENB)) return Fail(ERROR_INVALID_PARAMETER);
  return TRUE;
}

BOOL FdRead(OpenHandle *h, uint8_t *buf, DWORD count, DWORD *got) {
  const COMMTIMEOUTS &to = h->timeouts;
  bool unlimited = to.ReadIntervalTimeout == 0 && to.ReadTotalTimeoutConstant == 0 &&
                   to.ReadTotalTimeoutMultiplier == 0;
  uint64_t limit = static_cast<uint64_t>(to.ReadTotalTimeoutConstant) +
                   static_cast<uint64_t>(to.ReadTotalTimeoutMultiplier) * count;
  uint64_t deadline = NowMs() + limit;
  DWORD total = 0;
  while (total < count) {
    int wait = -1;
    if (!unlimited) {
      uint64_t now = NowMs();
      if (now >= deadline) break;
      uint64_t left = deadline - now;
      wait = left > 1000000 ? 1000000 : static_cast<int>(left);
    }
    pollfd p{h->fd, POLLIN, 0};
    int r = poll(&p, 1, wait);
    if (r < 0) {
      if (errno == EINTR) continue;
      return Fail(ERROR_GEN_FAILURE);
    }
    if (r == 0) break;
    if (!(p.revents & POLLIN)) {
      // Nobody on the other end (a pty whose master closed): a serial line
      // with nothing attached just stays silent until the limit.
      if (!unlimited) {
        uint64_t now = NowMs();
        if (now < deadline) usleep(static_cast<useconds_t>((deadline - now) * 1000));
      }
      break;
    }
    ssize_t n = read(h->fd, buf + total, count - total);
    // The other end went away for good (a pty whose master closed): as
    // Windows treats the handle of a serial adapter that was unplugged,
    // the read fails at once.
    bool hungUp = (p.revents & POLLHUP) && h->isTty && (n == 0 || (n < 0 && errno == EIO));
    if (hungUp) {
      if (got) *got = total;
      return Fail(ERROR_ACCESS_DENIED);
    }
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      if (errno == EIO) continue;  // hang-up; poll will report it
      return Fail(ERROR_GEN_FAILURE);
    }
    if (n == 0) {
      if (!h->isTty) break;  // end of a plain file such as /dev/null
      continue;
    }
    total += static_cast<DWORD>(n);
  }
  if (got) *got = total;
  return TRUE;
}

BOOL FdWrite(OpenHandle *h, const uint8_t *buf, DWORD count, DWORD *written) {
  DWORD total = 0;
  while (total < count) {
    ssize_t n = write(h->fd, buf + total, count - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd p{h->fd, POLLOUT, 0};
        poll(&p, 1, 100);
        continue;
      }
      if (written) *written = total;
      return Fail(ERROR_GEN_FAILURE);
    }
    total += static_cast<DWORD>(n);
  }
  if (written) *written = total;
  return TRUE;
}

const char *MappedPath(const char *name) {
  if (strcmp(name, "NUL") == 0) return "/dev/null";
  if (name[0] == '/') return name;
  for (const auto &m : mappings)
    if (m.used && strcmp(m.name, name) == 0) return m.path;
  return nullptr;
}

WinsubMemDevice *MemoryDevice(const char *name) {
  for (auto &d : devices)
    if (d.used && strcmp(d.name, name) == 0) return &d.dev;
  return nullptr;
}

}  // namespace

extern "C" {

void WinsubReset(void) {
  for (auto &h : handles) {
    if (h.kind == Kind::Fd) close(h.fd);
    h = OpenHandle{};
  }
  for (auto &d : devices) d.used = false;
  for (auto &m : mappings) m.used = false;
  lineClockOnly = 0;
}

void WinsubLineClockOnly(int on) { lineClockOnly = on; }

void WinsubMapDevice(const char *name, const char *path) {
  for (auto &m : mappings) {
    if (!m.used || strcmp(m.name, name) == 0) {
      m.used = true;
      CopyName(m.name, sizeof m.name, name);
      CopyName(m.path, sizeof m.path, path);
      return;
    }
  }
}

WinsubMemDevice *WinsubAddMemoryDevice(const char *name) {
  for (auto &d : devices) {
    if (!d.used) {
      d.used = true;
      CopyName(d.name, sizeof d.name, name);
      memset(&d.dev, 0, sizeof d.dev);
      InitialDcb(&d.dev.dcb);
      d.dev.timeouts = COMMTIMEOUTS{11, 22, 33, 44, 55};
      return &d.dev;
    }
  }
  return nullptr;
}

void WinsubMemPush(WinsubMemDevice *dev, const void *bytes, size_t n) {
  if (dev->rxTail + n > sizeof dev->rx) {
    size_t waiting = dev->rxTail - dev->rxHead;
    memmove(dev->rx, dev->rx + dev->rxHead, waiting);
    memmove(dev->rxDueUs, dev->rxDueUs + dev->rxHead, waiting * sizeof dev->rxDueUs[0]);
    dev->rxHead = 0;
    dev->rxTail = waiting;
  }
  size_t room = sizeof dev->rx - dev->rxTail;
  if (n > room) n = room;  // a full receive queue drops, like a UART's
  memcpy(dev->rx + dev->rxTail, bytes, n);
  // On a paced line each byte arrives a character time after the one
  // before it, and never before the clock.
  for (size_t i = 0; dev->paced && i < n; ++i) {
    uint64_t startUs = dev->rxFreeUs > dev->clockUs ? dev->rxFreeUs : dev->clockUs;
    dev->rxFreeUs = startUs + CharMicros(dev->dcb);
    dev->rxDueUs[dev->rxTail + i] = dev->rxFreeUs;
  }
  dev->rxTail += n;
  if (dev->trailing) {
    dev->rxOnTheWay += n;
    dev->checksMissed = 0;
  }
}

void WinsubMemPushLater(WinsubMemDevice *dev, const void *bytes, size_t n) {
  size_t room = sizeof dev->later - dev->laterLen;
  if (n > room) n = room;
  memcpy(dev->later + dev->laterLen, bytes, n);
  dev->laterLen += n;
}

size_t WinsubMemWaiting(const WinsubMemDevice *dev) { return MemAvailable(dev); }

void WinsubMemClearLog(WinsubMemDevice *dev) {
  dev->callCount = 0;
  dev->readCount = 0;
  dev->setStateCount = 0;
  dev->setTimeoutsCount = 0;
  dev->txLen = 0;
  dev->waitedMs = 0;
}

int WinsubOpenHandleCount(void) {
  int n = 0;
  for (const auto &h : handles)
    if (h.kind != Kind::Free) ++n;
  return n;
}

DWORD WINAPI GetLastError(void) { return lastError; }
void WINAPI SetLastError(DWORD e) { lastError = e; }

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD /*share*/, LPVOID, DWORD disposition,
                          DWORD, HANDLE) {
  if (!name || disposition != OPEN_EXISTING || !(access & (GENERIC_READ | GENERIC_WRITE))) {
    lastError = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  if (WinsubMemDevice *d = MemoryDevice(name)) {
    Record(d, WINSUB_CREATE);
    if (d->failCreate) {
      lastError = ERROR_FILE_NOT_FOUND;
      return INVALID_HANDLE_VALUE;
    }
    if (d->openHandles > 0 && !d->allowSharing) {
      lastError = ERROR_ACCESS_DENIED;
      return INVALID_HANDLE_VALUE;
    }
    OpenHandle *h;
    HANDLE handle = Allocate(&h);
    if (handle == INVALID_HANDLE_VALUE) {
      lastError = ERROR_GEN_FAILURE;
      return handle;
    }
    h->kind = Kind::Memory;
    h->mem = d;
    d->openHandles++;
    return handle;
  }
  const char *path = MappedPath(name);
  if (!path) {
    lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    lastError = errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  fstat(fd, &st);
  bool isTty = isatty(fd) != 0;
  // Windows opens a COM port for one user only; a second open, even in the
  // same process, is refused. The null device can be shared.
  if (isTty) {
    for (const auto &h : handles) {
      if (h.kind == Kind::Fd && h.isTty && h.rdev == st.st_rdev && h.ino == st.st_ino) {
        close(fd);
        lastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
      }
    }
  }
  OpenHandle *h;
  HANDLE handle = Allocate(&h);
  if (handle == INVALID_HANDLE_VALUE) {
    close(fd);
    lastError = ERROR_GEN_FAILURE;
    return handle;
  }
  h->kind = Kind::Fd;
  h->fd = fd;
  h->rdev = st.st_rdev;
  h->ino = st.st_ino;
  h->isTty = isTty;
  // What a freshly opened Windows COM port typically reports.
  h->timeouts = COMMTIMEOUTS{0, 0, 0, 0, 0};
  return handle;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  OpenHandle *h = Lookup(handle);
  if (!h) return Fail(ERROR_INVALID_HANDLE);
  if (h->kind == Kind::Memory) {
    Record(h->mem, WINSUB_CLOSE);
    if (h->mem->failClose) return Fail(ERROR_GEN_FAILURE);
    h->mem->openHandles--;
  } else {
    close(h->fd);
  }
  *h = OpenHandle{};
  return TRUE;
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD got, LPVOID) {
  OpenHandle *h = Lookup(handle);
  if (!h) return Fail(ERROR_INVALID_HANDLE);
  if (got) *got = 0;
  uint8_t *buf = static_cast<uint8_t *>(buffer);
  return h->kind == Kind::Memory ? MemRead(h, buf, count, got) : FdRead(h, buf, count, got);
}

BOOL WINAPI WriteFile(HANDLE handle, const void *buffer, DWORD count, LPDWORD written, LPVOID) {
  OpenHandle *h = Lookup(handle);
  if (!h) return Fail(ERROR_INVALID_HANDLE);
  const uint8_t *buf = static_cast<const uint8_t *>(buffer);
  return h->kind == Kind::Memory ? MemWrite(h, buf, count, written)
                                 : FdWrite(h, buf, count, written);
}

BOOL WINAPI GetCommState(HANDLE handle, LPDCB dcb) {
  OpenHandle *h = Lookup(handle);
  if (!h) return Fail(ERROR_INVALID_HANDLE);
  if (h->kind == Kind::Fd) return FdGetState(h, dcb);
  Record(h->mem, WINSUB_GET_STATE);
  if (h->mem->failGetState) return Fail(ERROR_GEN_FAILURE);
  DWORD length = dcb->DCBlength;
  *dcb = h->mem->dcb;
  dcb->DCBlength = length;
  return TRUE;
}

BOOL WINAPI SetCommState(HANDLE handle, LPDCB dcb) {
  OpenHandle *h = Lookup(handle);
  if (!h) return Fail(ERROR_INVALID_HANDLE);
  if (h->kind == Kind::Fd) return FdSetState(h, dcb);
  Record(h->mem, WINSUB_SET_STATE);
  h->mem->setStateCount++;
  if (h->mem->failSetState) return Fail(ERROR_INVALID_PARAMETER);
  h->mem->dcb = *dcb;
  return TRUE;
}

BOOL WINAPI GetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS t) {
  OpenHandle *h = Lookup(handle);
  if (!h) return Fail(ERROR_INVALID_HANDLE);
  if (h->kind == Kind::Fd) {
    if (!h->isTty) return Fail(ERROR_INVALID_HANDLE);
    *t = h->timeouts;
    return TRUE;
  }
  Record(h->mem, WINSUB_GET_TIMEOUTS);
  if (h->mem->failGetTimeouts) return Fail(ERROR_GEN_FAILURE);
  *t = h->mem->timeouts;
  return TRUE;
}

BOOL WINAPI SetCommTimeouts(HANDLE handle, LPCOMMTIMEOUTS t) {
  OpenHandle *h = Lookup(handle);
  if (!h) return Fail(ERROR_INVALID_HANDLE);
  if (h->kind == Kind::Fd) {
    if (!h->isTty) return Fail(ERROR_INVALID_HANDLE);
    h->timeouts = *t;
    return TRUE;
  }
  Record(h->mem, WINSUB_SET_TIMEOUTS);
  h->mem->setTimeoutsCount++;
  if (h->mem->failSetTimeouts) return Fail(ERROR_GEN_FAILURE);
  h->mem->timeouts = *t;
  return TRUE;
}

BOOL WINAPI SetupComm(HANDLE handle, DWORD inQueue, DWORD outQueue) {
  OpenHandle *h = Lookup(handle);
  if (!h) return Fail(ERROR_INVALID_HANDLE);
  if (h->kind == Kind::Fd) return h->isTty ? TRUE : Fail(ERROR_INVALID_HANDLE);
  Record(h->mem, WINSUB_SETUP);
  h->mem->inQueueSize = inQueue;
  h->mem->outQueueSize = outQueue;
  return TRUE;
}

DWORD WINAPI GetTickCount(void) {
  if (lineClockOnly) return memoryWaitMs;
  // Once a line has time of its own, only that time moves: a loaded
  // machine's pauses between two reads must not count as the line's.
  for (const auto &d : devices)
    if (d.used && d.dev.paced) return memoryWaitMs;
  return static_cast<DWORD>(NowMs()) + memoryWaitMs;
}

BOOL WINAPI ClearCommError(HANDLE handle, LPDWORD errors, LPCOMSTAT stat) {
  OpenHandle *h = Lookup(handle);
  if (!h) return Fail(ERROR_INVALID_HANDLE);
  if (errors) *errors = 0;
  if (h->kind == Kind::Fd) {
    int n = 0;
    if (!h->isTty || ioctl(h->fd, FIONREAD, &n) != 0) return Fail(ERROR_INVALID_HANDLE);
    if (stat) *stat = COMSTAT{0, static_cast<DWORD>(n), 0};
    return TRUE;
  }
  Record(h->mem, WINSUB_CLEAR_ERROR);
  if (h->mem->failClearError) return Fail(ERROR_GEN_FAILURE);
  WinsubMemDevice *d = h->mem;
  if (stat) *stat = COMSTAT{0, static_cast<DWORD>(MemArrived(d)), 0};
  // Time passes as the driver looks: what was on its way arrives.
  if (d->rxOnTheWay && d->trailing != WINSUB_TRAILING_READS && ++d->checksMissed >= d->trailing)
    d->rxOnTheWay = 0;
  return TRUE;
}

}  // extern "C"
