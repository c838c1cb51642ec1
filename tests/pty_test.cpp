// The driver over real pseudo-terminals: the substitute's termios side with
// the Win32 semantics the line layer relies on, and whole exchanges with the
// plcsim process. Timing checks use generous windows.
#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
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

using testing::ElementsAreArray;

namespace {

const SerialSettings k8N1 = {19200, 8, 0, 0};

// A pty pair in raw mode whose slave side the substitute knows as COM5; a
// test that opens it keeps the handle in line. Closed at the end.
class Pty : public testing::Test {
 protected:
  void SetUp() override { NewPair(); }
  void TearDown() override { ClosePair(); }
  void NewPair() {
    ClosePair();
    WinsubReset();
    ASSERT_EQ(openpty(&master, &slave, path, nullptr, nullptr), 0);
    termios t;
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    WinsubMapDevice("COM5", path);
  }
  void ClosePair() {
    if (line) SerialClose(line);
    line = nullptr;
    if (master >= 0) close(master);
    if (slave >= 0) close(slave);
    master = slave = -1;
  }
  int master = -1, slave = -1;
  char path[128] = {};
  HANDLE line = nullptr;
};

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

TEST_F(Pty, BytesTheLineDisciplineWouldEatCrossUnchanged) {
  ASSERT_EQ(SerialOpen("COM5", k8N1, 8, &line), kLineOk);
  uint8_t bytes[256];
  for (int i = 0; i < 256; ++i) bytes[i] = static_cast<uint8_t>(255 - i);
  EXPECT_EQ(SerialWrite(line, bytes, 256, nullptr), kLineOk);
  uint8_t seen[256];
  EXPECT_EQ(PeerRead(master, seen, 256), 256);
  EXPECT_THAT(seen, ElementsAreArray(bytes));
  EXPECT_EQ(write(master, bytes, 256), 256);
  uint8_t back[256];
  DWORD got = 0;
  EXPECT_EQ(SerialRead(line, back, 256, &got), kLineOk);
  EXPECT_EQ(got, 256);
  EXPECT_THAT(back, ElementsAreArray(bytes));
}

TEST_F(Pty, ReadLimitIsMeasuredNotAssumed) {
  ASSERT_EQ(SerialOpen("COM5", k8N1, 8, &line), kLineOk);
  uint32_t before = 0;
  EXPECT_EQ(SerialSetReplyTimeout(line, 10, &before), kLineOk);
  EXPECT_EQ(before, 100);
  uint8_t buf[3];
  DWORD got = 9;
  double start = NowMs();
  EXPECT_EQ(SerialRead(line, buf, 3, &got), kLineIoFailed);
  double took = NowMs() - start;
  EXPECT_EQ(got, 0);
  if (took < 80 || took > 2000) fprintf(stderr, "  read took %.0f ms\n", took);
  EXPECT_TRUE(took >= 80);
  EXPECT_TRUE(took < 2000);
  // Two bytes now and the third after the first wait: completed by the
  // second wait.
  const uint8_t reply[3] = {0x4E, 0x21, 0x06};
  EXPECT_EQ(write(master, reply, 2), 2);
  pid_t child = fork();
  if (child == 0) {
    usleep(150000);
    (void)!write(master, reply + 2, 1);
    _exit(0);
  }
  EXPECT_EQ(SerialRead(line, buf, 3, &got), kLineOk);
  EXPECT_EQ(got, 3);
  EXPECT_THAT(buf, ElementsAreArray(reply));
  waitpid(child, nullptr, 0);
}

TEST_F(Pty, PurgeDrainsAPtyAndKeepsTheLimit) {
  ASSERT_EQ(SerialOpen("COM5", k8N1, 8, &line), kLineOk);
  SerialSetReplyTimeout(line, 20, nullptr);
  uint8_t junk[600];
  memset(junk, 0x13, sizeof junk);
  EXPECT_EQ(write(master, junk, sizeof junk), 600);
  usleep(20000);
  EXPECT_EQ(SerialPurge(line), kLineOk);
  DWORD got = 1;
  uint8_t b;
  EXPECT_EQ(SerialRead(line, &b, 1, &got), kLineIoFailed);
  EXPECT_EQ(got, 0);
  uint32_t before = 0;
  EXPECT_EQ(SerialSetReplyTimeout(line, 20, &before), kLineOk);
  EXPECT_EQ(before, 20);
}

TEST_F(Pty, APtyRefusesParityAndASecondOpen) {
  LogReset();
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

// The plcsim process on a pty of its own, and the channel a test opens to
// it; the channel closed and the simulator stopped at the end.
class PtySimulator : public testing::Test {
 protected:
  void SetUp() override {
    if (!simPath) GTEST_SKIP() << "PLCSIM does not name the simulator";
  }
  void TearDown() override {
    Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr);
    if (sim.pid > 0) Stop();
  }
  bool Start(const char *const *options) { return SimProcessStart(&sim, simPath, options); }
  // What it printed last (its statistics) goes to finalOutput.
  void Stop(char *finalOutput = nullptr, size_t size = 0) {
    SimProcessStop(&sim, finalOutput, size);
    sim.pid = -1;
  }
  void Vanish(bool midExchange);
  SimProcess sim;
  PortContext context = {};
};

}  // namespace

TEST_F(PtySimulator, ExchangesWithTheSimulatorProcess) {
  const char *const stations[] = {"--station", "1", "--station", "2", nullptr};
  ASSERT_TRUE(Start(stations));
  EXPECT_EQ(OpenChannel(&context, sim.link, 20), LUMISAR_DONE);
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
  EXPECT_THAT(back, ElementsAreArray(block));
  // A station that is not on the line: six silent attempts of 100 ms, and
  // six enquiries the simulator counts as for a station it does not play.
  io = TagRequest("0740000", 0, 1, w, false);
  double start = NowMs();
  EXPECT_EQ(Call(LUMISAR_OP_SINGLE_READ, &context, &io), 2);
  EXPECT_TRUE(NowMs() - start >= 500);
  // Faults set from outside the process.
  SimProcessCommand(&sim, "fault bad-lrc 2\n");
  LogReset();
  io = TagRequest("0240000", 0, 1, w, false);
  EXPECT_EQ(Call(LUMISAR_OP_SINGLE_READ, &context, &io), 0);
  EXPECT_EQ(w[1], 0x1311);
  EXPECT_EQ(LogLinesEqual("ORVEN> SingleRead() Bad LRC in Data msg"), 2);
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
  char stats[512];
  Stop(stats, sizeof stats);
  EXPECT_NE(strstr(stats, " foreign=6 "), nullptr) << stats;
}

TEST_F(PtySimulator, PacedLineStillCompletes) {
  const char *const paced[] = {"--station", "1", "--baud", "9600", "--parity", "odd", nullptr};
  ASSERT_TRUE(Start(paced));
  // Frames sent at 19200 baud are noise to a line at 9600.
  EXPECT_EQ(OpenChannel(&context, sim.link, 5), LUMISAR_DONE);
  uint16_t w[2];
  IoRequest word = TagRequest("0100000", 0, 1, w, false);
  EXPECT_EQ(Call(LUMISAR_OP_SINGLE_READ, &context, &word), LUMISAR_FAILED);
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
  EXPECT_EQ(OpenChannel(&context, sim.link, 50, 9600), LUMISAR_DONE);
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
void PtySimulator::Vanish(bool midExchange) {
  const char *const station[] = {"--station", "1", nullptr};
  ASSERT_TRUE(Start(station));
  EXPECT_EQ(OpenChannel(&context, sim.link, 10), LUMISAR_DONE);
  SimProcessCommand(&sim, "set 0140000 0x0A0D\n");
  uint16_t w = 0;
  EXPECT_EQ(ReadWord(&context, "0140000", &w), 0);
  EXPECT_EQ(w, 0x0A0D);
  std::thread killer;
  if (midExchange) {
    // The acknowledge comes 2 s late; the simulator dies 50 ms into the wait.
    SimProcessCommand(&sim, "delay 2000\nfault delay 1\n");
    killer = std::thread([this] {
      usleep(50000);
      SimProcessKill(&sim);
    });
  } else {
    SimProcessKill(&sim);
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
  EXPECT_TRUE(Start(station));
  SimProcessCommand(&sim, "set 0140000 0x1311\n");
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
  EXPECT_EQ(Call(LUMISAR_OP_REOPEN_PORT, &context, nullptr), LUMISAR_DONE);
  EXPECT_EQ(ReadWord(&context, "0140000", &w), 0);
  EXPECT_EQ(w, 0x1311);
  EXPECT_EQ(Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr), LUMISAR_DONE);
  Stop();
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

TEST_F(PtySimulator, AVanishedDeviceFailsQuicklyAndComesBack) {
  Vanish(false);
  Vanish(true);
}

namespace {

// A peer that misbehaves in time: it answers the enquiry and the header,
// then trickles a bad data frame a byte every 40 ms (until the next
// enquiry); or it floods the line with noise, or babbles acknowledges
// (4E 21 06 over and over), and answers nothing.
enum Misbehaviour { kTrickle, kFlood, kBabble };
const char *const kMisbehaviours[] = {"trickling", "flooding", "babbling"};

void Misbehave(int master, Misbehaviour how, const bool *stop) {
  const uint8_t acknowledge[3] = {0x4E, 0x21, 0x06}, ack = 0x06;
  uint8_t noise[510];
  memset(noise, 0xFF, sizeof noise);
  if (how == kBabble)
    for (size_t i = 0; i < sizeof noise; ++i) noise[i] = acknowledge[i % 3];
  bool flood = how != kTrickle;
  // A peer that floods must not block on a full line once the driver
  // stops reading, or it could not be stopped.
  int flags = fcntl(master, F_GETFL);
  if (flood) fcntl(master, F_SETFL, flags | O_NONBLOCK);
  int header = -1, trickled = -1;
  while (!__atomic_load_n(stop, __ATOMIC_ACQUIRE)) {
    if (flood) (void)!write(master, noise, sizeof noise);
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, flood ? 1 : 40) <= 0) {
      if (trickled >= 0 && trickled++ < 259) (void)!write(master, noise, 1);
      continue;
    }
    uint8_t in[64];
    ssize_t n = how == kBabble ? 0 : read(master, in, sizeof in);
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
  fcntl(master, F_SETFL, flags);
}

}  // namespace

// Whatever the peer sends, an operation ends within six attempts of the
// limit and twice the wire time of its longest frame: a reply is bounded as
// a whole, not per wait, and so is the purge before each send.
TEST_F(Pty, TricklingAndFloodingPeersCannotHoldTheLine) {
  const double limitMs = 50, frameMs = 259 * 10 * 1000.0 / 19200;
  for (Misbehaviour how : {kTrickle, kFlood, kBabble}) {
    NewPair();  // each peer on a pair of its own
    PortContext context;
    EXPECT_EQ(OpenChannel(&context, path, 5), LUMISAR_DONE);
    bool stop = false;
    std::thread peer(Misbehave, master, how, &stop);
    uint16_t words[128];
    memset(words, 0x5A, sizeof words);
    IoRequest io = TagRequest("0100000", 0, 128, words, true);
    double start = NowMs();
    // Babbled acknowledges may read as a refused header, final on the
    // fifth attempt.
    int32_t result = Call(LUMISAR_OP_BLOCK_READ, &context, &io);
    double took = NowMs() - start;
    printf("  %s peer: result %d after %.0f ms\n", kMisbehaviours[how], result, took);
    EXPECT_NE(result, LUMISAR_DONE);
    // Twice the promise: a loaded machine stretches every wait, while a
    // driver that bounded each wait alone would take ten seconds an attempt.
    EXPECT_LE(took, 2 * 6 * (limitMs + 2 * frameMs));
    EXPECT_EQ(words[0], 0x5A5A);
    // Acknowledges that never stop are no controller's: a write is not done
    // on them, single or block, though each of them holds the ACKs it waits
    // for.
    IoRequest single = TagRequest("0100000", 0, 1, words, false);
    IoRequest block = TagRequest("0100000", 0, 4, words, true);
    EXPECT_EQ(Call(LUMISAR_OP_SINGLE_WRITE, &context, &single), LUMISAR_FAILED)
        << kMisbehaviours[how];
    EXPECT_EQ(Call(LUMISAR_OP_BLOCK_WRITE, &context, &block), LUMISAR_FAILED)
        << kMisbehaviours[how];
    __atomic_store_n(&stop, true, __ATOMIC_RELEASE);
    peer.join();
    Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr);
  }
}

namespace {

// A controller whose first acknowledge (or data frame, of the word 0x1234)
// stops a byte short; that byte follows lateMs later, once the driver has
// given up, or at once when the driver sends again: it was on the wire.
void LastByteLate(int master, bool dataFrame, double lateMs, const bool *stop, int *enquiries) {
  const uint8_t acknowledge[3] = {0x4E, 0x21, 0x06}, eot = 0x04;
  const uint8_t ackAndFrame[6] = {0x06, 0x02, 0x34, 0x12, 0x03, 0x26};
  const uint8_t *late = nullptr;
  double lateAt = 0;
  int header = 17;  // bytes of a header seen; 17 once it is over
  while (!__atomic_load_n(stop, __ATOMIC_ACQUIRE)) {
    pollfd p{master, POLLIN, 0};
    uint8_t in[64];
    ssize_t n = poll(&p, 1, 5) > 0 ? read(master, in, sizeof in) : 0;
    if (late && (n > 0 || NowMs() >= lateAt)) {
      (void)!write(master, late, 1);
      late = nullptr;
    }
    for (ssize_t i = 0; i < n; ++i) {
      const uint8_t *reply = nullptr;
      int length = 0;
      if (header < 17) {
        ++header;
        if (header == 17) reply = ackAndFrame;
        length = 6;
      } else if (in[i] == 0x01) {
        header = 1;
      } else if (in[i] == 0x05) {
        reply = acknowledge;
        length = 3;
        ++*enquiries;
      } else if (in[i] == 0x06) {
        (void)!write(master, &eot, 1);
      }
      if (!reply) continue;
      // The first exchange's chosen frame goes out a byte short.
      bool isFrame = reply == ackAndFrame;
      bool cut = *enquiries == 1 && isFrame == dataFrame;
      if (cut) {
        late = reply + length - 1;
        lateAt = NowMs() + lateMs;
        length--;
      }
      (void)!write(master, reply, length);
    }
  }
}

}  // namespace

// A reply that began and did not end in time may still be arriving: the
// driver lets the line fall quiet before it asks again, so the trickle
// costs one further attempt. At 50 baud the quiet interval is 800 ms, far
// above a loaded machine's delays; the driver gives up on the acknowledge
// 800 ms after the enquiry, on the data frame 200 ms after the ACK.
TEST_F(Pty, ATricklingReplyCostsOneAttempt) {
  for (bool dataFrame : {false, true}) {
    NewPair();
    PortContext context;
    EXPECT_EQ(OpenChannel(&context, path, 10, 50), LUMISAR_DONE);
    bool stop = false;
    int enquiries = 0;
    double lateMs = dataFrame ? 550 : 1300;
    std::thread peer(LastByteLate, master, dataFrame, lateMs, &stop, &enquiries);
    uint16_t w = 0x5555;
    EXPECT_EQ(ReadWord(&context, "0140000", &w), LUMISAR_DONE);
    EXPECT_EQ(w, 0x1234);
    __atomic_store_n(&stop, true, __ATOMIC_RELEASE);
    peer.join();
    EXPECT_EQ(enquiries, 2) << (dataFrame ? "data frame" : "acknowledge");
    Call(LUMISAR_OP_CLOSE_PORT, &context, nullptr);
  }
}

// Words whose bytes look like a frame's control bytes, where a byte put in
// would most easily pass for part of the frame: with 0x0307 and 0x1713 the
// check byte is EOT, and one byte put in after STX can leave a frame that
// ends in ETX, checks, and is followed by EOT.
const uint16_t kFrameLikeWords[] = {0x0307, 0x0303, 0x1713, 0x0317, 0x5000, 0x0307, 0x0350, 0x1713};

// A paced line that puts one random byte at a random place into every data
// frame: reads fail, and none ends done with a value the controller does
// not hold. LUMISAR_SPOILED_READS sets how many (40 when not set).
TEST_F(PtySimulator, BytesPutIntoEveryDataFrameNeverGiveAWrongValue) {
  const char *const spoiling[] = {"--station", "1",           "--baud", "19200",
                                  "--parity",  "none",        "--seed", "0x5EED",
                                  "--spoil",   "data:insert", nullptr};
  ASSERT_TRUE(Start(spoiling));
  for (int i = 0; i < 8; ++i) {
    char command[64];
    snprintf(command, sizeof command, "set 01%05o 0x%04X\n", i, kFrameLikeWords[i]);
    SimProcessCommand(&sim, command);
  }
  EXPECT_EQ(OpenChannel(&context, sim.link, 5), LUMISAR_DONE);
  const char *n = getenv("LUMISAR_SPOILED_READS");
  int reads = n ? atoi(n) : 40, done = 0, wrong = 0;
  for (int i = 0; i < reads; ++i) {
    char text[8];
    snprintf(text, sizeof text, "01%05o", i % 8);
    uint16_t w = 0x5555;
    if (ReadWord(&context, text, &w) != LUMISAR_DONE) continue;
    done++;
    wrong += w != kFrameLikeWords[i % 8];
  }
  printf("  %d reads, every data frame with a byte put in: %d done, %d with a wrong value\n", reads,
         done, wrong);
  EXPECT_EQ(wrong, 0);
}

// Months of a host's life in a loop: open, exchange, close, reopen,
// reconfigure to another name for the same line, exchange, close. Handles,
// file descriptors and heap are what they were after the first cycle.
TEST_F(PtySimulator, TenThousandPortCyclesLeaveNothingBehind) {
  const char *const station[] = {"--station", "1", nullptr};
  ASSERT_TRUE(Start(station));
  WinsubReset();
  WinsubMapDevice("COM6", sim.link);
  WinsubMapDevice("COM9", sim.link);
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
}

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  simPath = getenv("PLCSIM");
  return RUN_ALL_TESTS();
}
