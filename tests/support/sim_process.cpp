#include "sim_process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
int serial;
}

bool SimProcessStart(SimProcess *s, const char *plcsim, const char *const *extra) {
  if (!s->link[0]) {
    ++serial;
    snprintf(s->link, sizeof s->link, "/tmp/lumisar-sim-%d-%d", getpid(), serial);
    snprintf(s->control, sizeof s->control, "/tmp/lumisar-sim-ctl-%d-%d", getpid(), serial);
  }
  unlink(s->link);
  int out[2];
  if (pipe(out) != 0) return false;
  const char *argv[32] = {plcsim, "--quiet", "--link", s->link, "--control", s->control};
  int argc = 6;
  for (int i = 0; extra && extra[i] && argc < 31; ++i) argv[argc++] = extra[i];
  argv[argc] = nullptr;
  s->pid = fork();
  if (s->pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    execv(plcsim, const_cast<char *const *>(argv));
    _exit(127);
  }
  close(out[1]);
  s->out = out[0];
  char line[256] = {};
  size_t n = 0;
  while (n + 1 < sizeof line && read(s->out, line + n, 1) == 1 && line[n] != '\n') ++n;
  return strncmp(line, "plcsim: pty ", 12) == 0;
}

void SimProcessCommand(SimProcess *s, const char *lines) {
  // The simulator reads its FIFO before its line, so a command written now
  // is in force for the next frame the driver sends.
  int fd = open(s->control, O_WRONLY);
  if (fd < 0) return;
  (void)!write(fd, lines, strlen(lines));
  close(fd);
}

void SimProcessStop(SimProcess *s, char *finalOutput, size_t size) {
  if (finalOutput && size) finalOutput[0] = 0;
  // A pid of -1 (never started, or the fork failed) would signal every
  // process the user may signal.
  if (s->pid <= 0) return;
  kill(s->pid, SIGTERM);
  // Everything it printed from here to its exit, which may come in pieces.
  size_t got = 0;
  ssize_t n = 0;
  while (finalOutput && got + 1 < size && (n = read(s->out, finalOutput + got, size - 1 - got)) > 0)
    got += static_cast<size_t>(n);
  if (finalOutput && size) finalOutput[got] = 0;
  waitpid(s->pid, nullptr, 0);
  s->pid = -1;
  close(s->out);
  unlink(s->control);
}

void SimProcessKill(SimProcess *s) {
  if (s->pid <= 0) return;
  kill(s->pid, SIGKILL);
  waitpid(s->pid, nullptr, 0);
  s->pid = -1;
  close(s->out);
  s->out = -1;
}
