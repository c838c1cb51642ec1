// The driver over real pseudo-terminals: the substitute's termios side with
// the Win32 semantics the line layer relies on, and whole exchanges with the
// plcsim process. Timing checks use generous windows.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <winsub.h>

#include <thread>

#include "port/serial_line.h"
#include "support/driver_api.h"
#include "support/sim_process.h"

namespace {

const SerialSettings k8N1 = {19200, 8, 0, 0};

struct Pty {
  int master = -1;
  int slave = -1;
  char path[128] = {};
};

void OpenPty(Pty *p) {
  EXPECT_EQ(openpty(&p->master, &p->slave, p->path, nullptr, nullptr), 0);
  termios t;
  tcgetattr(p->slave, &t);
  cfmakeraw(&t);
  tcsetattr(p->slave, TCSANOW, &t);
}

void ClosePty(Pty *p) {
  close(p->master);
  close(p->slave);
}

double NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// Reads what the driver wrote, waiting up to a second for n bytes.
size_t PeerRead(int fd, uint8_t *buf, size_t n) {
  size_t got = 0;
  double deadline = NowMs() + 1000;
  while (got < n && NowMs() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) > 0) {
      ssize_t r = read(fd, buf + got, n - got);
      if (r > 0) got += static_cast<size_t>(r);
    }
  }
  return got;
}

}  // namespace

TEST(Pty, BytesTheLineDisciplineWouldEatCrossUnchanged) {
  WinsubReset();
  Pty p;
  OpenPty(&p);
  WinsubMapDevice("COM5", p.path);
  HANDLE h;
  EXPECT_EQ(SerialOpen("COM5", k8N1, 8, &h), kLineOk);
  uint8_t bytes[256];
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<uint8_t>(255 - i);
  EXPECT_EQ(SerialWrite(h, bytes, 256, nullptr), kLineOk);
  uint8_t seen[256];
  EXPECT_EQ(PeerRead(p.master, seen, 256), 256);
  EXPECT_EQ(memcmp(seen, bytes, 256), 0);
  EXPECT_EQ(write(p.master, bytes, 256), 256);
  uint8_t back[256];
  DWORD got = 0;
  EXPECT_EQ(SerialRead(h, back, 256, &got), kLineOk);
  EXPECT_EQ(got, 256);
  EXPECT_EQ(memcmp(back, bytes, 256), 0);
  SerialClose(h);
  ClosePty(&p);
}

TEST(Pty, ReadLimitIsMeasuredNotAssumed) {
  WinsubReset();
  Pty p;
  OpenPty(&p);
  WinsubMapDevice("COM5", p.path);
  HANDLE h;
  EXPECT_EQ(SerialOpen("COM5", k8N1, 8, &h), kLineOk);
  EXPECT_EQ(SerialSetReplyTimeout(h, 10), 100);
  uint8_t buf[3];
  DWORD got = 9;
  double start = NowMs();
  EXPECT_EQ(SerialRead(h, buf, 3, &got), kLineIoFailed);
  double took = NowMs() - start;
  EXPECT_EQ(got, 0);
  if (took < 80 || took > 2000) fprintf(stderr, "  read took %.0f ms\n", took);
  EXPECT_TRUE(took >= 80);
  EXPECT_TRUE(took < 2000);
  // Two bytes now and the third after the first wait: completed by the
  // second wait.
  const uint8_t reply[3] = {0x4E, 0x21, 0x06};
  EXPECT_EQ(write(p.master, reply, 2), 2);
  pid_t child = fork();
  if (child == 0) {
    usleep(150000);
    (void)!write(p.master, reply + 2, 1);
    _exit(0);
  }
  EXPECT_EQ(SerialRead(h, buf, 3, &got), kLineOk);
  EXPECT_EQ(got, 3);
  EXPECT_EQ(memcmp(buf, reply, 3), 0);
  waitpid(child, nullptr, 0);
  SerialClose(h);
  ClosePty(&p);
}

TEST(Pty, PurgeDrainsAPtyAndKeepsTheLimit) {
  WinsubReset();
  Pty p;
  OpenPty(&p);
  WinsubMapDevice("COM5", p.path);
  HANDLE h;
  EXPECT_EQ(SerialOpen("COM5", k8N1, 8, &h), kLineOk);
  SerialSetReplyTimeout(h, 20);
  uint8_t junk[600];
  memset(junk, 0x13, sizeof junk);
  EXPECT_EQ(write(p.master, junk, sizeof junk), 600);
  usleep(20000);
  EXPECT_EQ(SerialPurge(h), kLineOk);
  DWORD got = 1;
  uint8_t b;
  EXPECT_EQ(SerialRead(h, &b, 1, &got), kLineIoFailed);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(SerialSetReplyTimeout(h, 20), 20);
  SerialClose(h);
  ClosePty(&p);
}

TEST(Pty, APtyRefusesParityAndASecondOpen) {
  WinsubReset();
  LogReset();
  Pty p;
  OpenPty(&p);
  WinsubMapDevice("COM5", p.path);
  HANDLE h, other;
  const SerialSettings odd = {19200, 8, 0, 1};
  EXPECT_EQ(SerialOpen("COM5", odd, 8, &h), kLineSetStateFailed);
  EXPECT_EQ(WinsubOpenHandleCount(), 0);
  EXPECT_EQ(SerialOpen("COM5", k8N1, 8, &h), kLineOk);
  EXPECT_EQ(SerialOpen("COM5", k8N1, 8, &other), kLineOpenFailed);
  // Through the host's operations: the default odd parity is refused on a
  // pty, and the failure is logged.
  PortContext context;
  memset(&context, 0, sizeof context);
  OpenRequest r;
  memset(&r, 0, sizeof r);
  strcpy(r.deviceName, "COM5");
  r.enabled = 1;
  r.settings = odd;
  SerialClose(h);
  EXPECT_EQ(Call(LUMISAR_OP_OPEN_PORT, &context, &r), LUMISAR_FAILED);
  EXPECT_STREQ(LogText(0), "ORVEN: Failed to open COM5");
  r.settings = k8N1;
  EXPECT_EQ(Call(LUMISAR_OP_OPEN_PORT, &context, &r), LUMISAR_DONE);
  EXPECT_EQ(Call(LUMISAR_OP_REOPEN_PORT, &context, nullptr), LUMISAR_FAILED);
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
  EXPECT_EQ(Call(LUMISAR_OP_REOPEN_PORT, &context, nullptr), LUMISAR_DONE);
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
  EXPECT_EQ(WinsubOpenHandleCount(), 0);
  ClosePty(&p);
}

// ---- the driver against the plcsim process --------------------------------

namespace {

const char *simPath;

int32_t OpenChannel(PortContext *context, const char *link, uint32_t timeout,
                    uint16_t baud = 19200) {
  WinsubReset();
  WinsubMapDevice("COM6", link);
  memset(context, 0, sizeof *context);
  OpenRequest r;
  memset(&r, 0, sizeof r);
  strcpy(r.deviceName, "COM6");
  r.enabled = 1;
  r.replyTimeout = timeout;
  r.settings = SerialSettings{baud, 8, 0, 0};
  return Call(LUMISAR_OP_OPEN_PORT, context, &r);
}

}  // namespace

TEST(Pty, ExchangesWithTheSimulatorProcess) {
  if (!simPath) GTEST_SKIP() << "PLCSIM does not name the simulator";
  SimProcess s;
  const char *const stations[] = {"--station", "1", "--station", "2", nullptr};
  EXPECT_TRUE(SimProcessStart(&s, simPath, stations));
  PortContext context;
  EXPECT_EQ(OpenChannel(&context, s.link, 20), LUMISAR_DONE);
  uint16_t w[2] = {0, 0x1311};
  IoRequest io = TagRequest("0240000", 0, 1, w, false);
  EXPECT_EQ(Call(LUMISAR_OP_SINGLE_WRITE, &context, &io), 0);
  w[1] = 0;
  EXPECT_EQ(Call(LUMISAR_OP_SINGLE_READ, &context, &io), 0);
  EXPECT_EQ(w[1], 0x1311);
  uint32_t block[64], back[64];
  for (int i = 0; i < 64; ++i) block[i] = 0x0A0D0000u + static_cast<uint32_t>(i);
  io = TagRequest("0200100L", 0, 64, block, true);
  EXPECT_EQ(Call(LUMISAR_OP_BLOCK_WRITE, &context, &io), 0);
  io = TagRequest("0200100L", 0, 64, back, true);
  EXPECT_EQ(Call(LUMISAR_OP_BLOCK_READ, &context, &io), 0);
  EXPECT_EQ(memcmp(back, block, sizeof block), 0);
  // A station that is not on the line: six silent attempts of 100 ms, and
  // six enquiries the simulator counts as for a station it does not play.
  io = TagRequest("0740000", 0, 1, w, false);
  double start = NowMs();
  EXPECT_EQ(Call(LUMISAR_OP_SINGLE_READ, &context, &io), 2);
  EXPECT_TRUE(NowMs() - start >= 500);
  // Faults set from outside the process.
  SimProcessCommand(&s, "fault bad-lrc 2\n");
  LogReset();
  io = TagRequest("0240000", 0, 1, w, false);
  EXPECT_EQ(Call(LUMISAR_OP_SINGLE_READ, &context, &io), 0);
  EXPECT_EQ(w[1], 0x1311);
  EXPECT_EQ(LogLinesEqual("ORVEN> SingleRead() Bad LRC in Data msg"), 2);
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
  char stats[512];
  SimProcessStop(&s, stats, sizeof stats);
  EXPECT_NE(strstr(stats, " foreign=6\n"), nullptr) << stats;
}

TEST(Pty, PacedLineStillCompletes) {
  if (!simPath) GTEST_SKIP() << "PLCSIM does not name the simulator";
  SimProcess s;
  const char *const paced[] = {"--station", "1", "--baud", "9600", "--parity", "odd", nullptr};
  EXPECT_TRUE(SimProcessStart(&s, simPath, paced));
  PortContext context;
  // Frames sent at 19200 baud are noise to a line at 9600.
  EXPECT_EQ(OpenChannel(&context, s.link, 5), LUMISAR_DONE);
  uint16_t w[2];
  IoRequest word = TagRequest("0100000", 0, 1, w, false);
  EXPECT_EQ(Call(LUMISAR_OP_SINGLE_READ, &context, &word), LUMISAR_FAILED);
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
  EXPECT_EQ(OpenChannel(&context, s.link, 50, 9600), LUMISAR_DONE);
  uint16_t words[128];
  for (int i = 0; i < 128; ++i) words[i] = static_cast<uint16_t>(i);
  IoRequest io = TagRequest("0100000", 0, 128, words, true);
  double start = NowMs();
  EXPECT_EQ(Call(LUMISAR_OP_BLOCK_READ, &context, &io), 0);
  // Pacing only adds time. The driver sees at least the wire time of what
  // it waits for in turn: enquiry 3, acknowledge 3, header 17, ACK and data
  // frame 260 (the last byte arrives as it starts), its own ACK 1: 284
  // characters of 11 bits (start, 8 data, parity, stop) at 9600 baud.
  EXPECT_GE(NowMs() - start, 284 * 11 * 1000.0 / 9600);
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
  SimProcessStop(&s);
}

namespace {

// A read whose value buffer holds *value beforehand: a failed read must
// leave it there.
int32_t ReadWord(PortContext *context, const char *text, uint16_t *value) {
  uint16_t w[2] = {0, *value};
  IoRequest io = TagRequest(text, 0, 1, w, false);
  int32_t result = Call(LUMISAR_OP_SINGLE_READ, context, &io);
  *value = w[1];
  return result;
}

// A USB adapter pulled out: the simulator is killed, between exchanges or
// while the driver waits for its reply. The operation must end with 2
// within six reply limits; once the line is back under the same name,
// closing and reopening the channel brings the exchanges back.
void Vanish(bool midExchange) {
  SimProcess s;
  const char *const station[] = {"--station", "1", nullptr};
  EXPECT_TRUE(SimProcessStart(&s, simPath, station));
  PortContext context;
  EXPECT_EQ(OpenChannel(&context, s.link, 10), LUMISAR_DONE);
  SimProcessCommand(&s, "set 0140000 0x0A0D\n");
  uint16_t w = 0;
  EXPECT_EQ(ReadWord(&context, "0140000", &w), 0);
  EXPECT_EQ(w, 0x0A0D);
  std::thread killer;
  if (midExchange) {
    // The acknowledge comes 2 s late; the simulator dies 50 ms into the wait.
    SimProcessCommand(&s, "delay 2000\nfault delay 1\n");
    killer = std::thread([&s] {
      usleep(50000);
      SimProcessKill(&s);
    });
  } else {
    SimProcessKill(&s);
  }
  double start = NowMs();
  w = 0x5555;
  EXPECT_EQ(ReadWord(&context, "0140000", &w), 2);
  double took = NowMs() - start;
  printf("  vanished %s: result 2 after %.0f ms\n",
         midExchange ? "mid-exchange" : "between exchanges", took);
  EXPECT_TRUE(took <= 6 * 100 + 250);
  EXPECT_EQ(w, 0x5555);  // nothing stored: the buffer is as the host left it
  if (killer.joinable()) killer.join();
  // Back under the same name: a fresh simulator on a new pty, same link.
  EXPECT_TRUE(SimProcessStart(&s, simPath, station));
  SimProcessCommand(&s, "set 0140000 0x1311\n");
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
  EXPECT_EQ(Call(LUMISAR_OP_REOPEN_PORT, &context, nullptr), LUMISAR_DONE);
  EXPECT_EQ(ReadWord(&context, "0140000", &w), 0);
  EXPECT_EQ(w, 0x1311);
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
  SimProcessStop(&s);
}

#if defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#elif defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

int OpenFileDescriptors() {
  int n = 0;
  if (DIR *d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

}  // namespace

TEST(Pty, AVanishedDeviceFailsQuicklyAndComesBack) {
  if (!simPath) GTEST_SKIP() << "PLCSIM does not name the simulator";
  Vanish(false);
  Vanish(true);
}

namespace {

// A peer that misbehaves in time: it answers the enquiry and the header,
// then trickles a bad data frame a byte every 40 ms (until the next
// enquiry), or it floods the line with noise and answers nothing.
void Misbehave(int master, bool flood, const bool *stop) {
  const uint8_t acknowledge[3] = {0x4E, 0x21, 0x06}, ack = 0x06;
  uint8_t noise[512];
  memset(noise, 0xFF, sizeof noise);
  int header = -1, trickled = -1;
  while (!__atomic_load_n(stop, __ATOMIC_ACQUIRE)) {
    if (flood) (void)!write(master, noise, sizeof noise);
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, flood ? 1 : 40) <= 0) {
      if (trickled >= 0 && trickled++ < 259) (void)!write(master, noise, 1);
      continue;
    }
    uint8_t in[64];
    ssize_t n = read(master, in, sizeof in);
    for (ssize_t i = 0; i < n && !flood; ++i) {
      if (in[i] == 0x05) {
        trickled = -1;
        (void)!write(master, acknowledge, 3);
      }
      if (in[i] == 0x01) header = 0;
      if (header >= 0 && ++header == 17) {
        header = -1;
        (void)!write(master, &ack, 1);
        trickled = 0;
      }
    }
  }
}

}  // namespace

// Whatever the peer sends, an operation ends within six attempts of the
// limit and twice the wire time of its longest frame: a reply is bounded as
// a whole, not per wait, and so is the purge before each send.
TEST(Pty, TricklingAndFloodingPeersCannotHoldTheLine) {
  const double limitMs = 50, frameMs = 259 * 10 * 1000.0 / 19200;
  for (bool flood : {false, true}) {
    WinsubReset();
    Pty p;
    OpenPty(&p);
    PortContext context;
    EXPECT_EQ(OpenChannel(&context, p.path, 5), LUMISAR_DONE);
    bool stop = false;
    std::thread peer(Misbehave, p.master, flood, &stop);
    uint16_t words[128];
    memset(words, 0x5A, sizeof words);
    IoRequest io = TagRequest("0100000", 0, 128, words, true);
    double start = NowMs();
    EXPECT_EQ(Call(LUMISAR_OP_BLOCK_READ, &context, &io), LUMISAR_FAILED);
    double took = NowMs() - start;
    printf("  %s peer: result 2 after %.0f ms\n", flood ? "flooding" : "trickling", took);
    EXPECT_LE(took, 6 * (limitMs + 2 * frameMs));
    EXPECT_EQ(words[0], 0x5A5A);
    __atomic_store_n(&stop, true, __ATOMIC_RELEASE);
    peer.join();
    Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr);
    ClosePty(&p);
  }
}

// Months of a host's life in a loop: open, exchange, close, reopen,
// reconfigure to another name for the same line, exchange, close. Handles,
// file descriptors and heap are what they were after the first cycle.
TEST(Pty, TenThousandPortCyclesLeaveNothingBehind) {
  if (!simPath) GTEST_SKIP() << "PLCSIM does not name the simulator";
  SimProcess s;
  const char *const station[] = {"--station", "1", nullptr};
  EXPECT_TRUE(SimProcessStart(&s, simPath, station));
  PortContext context;
  WinsubReset();
  WinsubMapDevice("COM6", s.link);
  WinsubMapDevice("COM9", s.link);
  int handles = 0, fds = 0;
  size_t heap = 0;
  int failures = 0;
  for (int cycle = 0; cycle < 10000; ++cycle) {
    memset(&context, 0, sizeof context);
    OpenRequest open;
    memset(&open, 0, sizeof open);
    strcpy(open.deviceName, "COM6");
    open.enabled = 1;
    open.replyTimeout = 20;
    open.settings = k8N1;
    uint16_t w = 0;
    failures += Call(LUMISAR_OP_OPEN_PORT, &context, &open) != 0;
    failures += ReadWord(&context, "0140000", &w) != 0;
    failures += Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr) != 0;
    failures += Call(LUMISAR_OP_REOPEN_PORT, &context, nullptr) != 0;
    ReconfigureRequest change;
    memset(&change, 0, sizeof change);
    strcpy(change.deviceName, "COM9");
    change.replyTimeout = 10;
    failures += Call(LUMISAR_OP_RECONFIGURE_PORT, &context, &change) != 0;
    failures += ReadWord(&context, "0140000", &w) != 0;
    failures += Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr) != 0;
    if (cycle == 0) {
      handles = WinsubOpenHandleCount();
      fds = OpenFileDescriptors();
      heap = mallinfo2().uordblks;
    }
    LogReset();
  }
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(WinsubOpenHandleCount(), handles);
  EXPECT_EQ(OpenFileDescriptors(), fds);
  // AddressSanitizer keeps its own heap, which mallinfo2 does not see.
  if (!kAddressSanitizer) {
    EXPECT_EQ(mallinfo2().uordblks, heap);
  }
  printf(
      "  10000 cycles: %d handles, %d file descriptors, %zu heap bytes in use, as after the "
      "first\n",
      handles, fds, heap);
  SimProcessStop(&s);
}

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  simPath = getenv("PLCSIM");
  return RUN_ALL_TESTS();
}
