// A Windows tool's main run again and again in one process, once for each
// request a client leaves in a queue folder, with the request's arguments,
// folder, standard input and a standard output and error of its own.
// Where i386 runs under qemu, each Wine start costs a minute or more; the
// tools test's tables call zubhost.exe and plcsim.exe some two hundred
// times, and through this server they cost one start each. The tool's own
// code runs unchanged; only its process is shared, so a tool served here
// must leave nothing behind between runs but what ToolReset clears.
//   TOOL_server.exe QUEUE   (the client is tests/wine/tool_client.sh)
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

// The tool's main and the reset of what it keeps between runs, from the
// file that includes the tool.
int ToolMain(int argc, char **argv);
void ToolReset();

namespace {

constexpr int kMostArguments = 512;
constexpr size_t kArgumentBytes = 65536;

char argumentBytes[kArgumentBytes];
char argumentTexts[kArgumentBytes * 2];
char *arguments[kMostArguments + 1];

// A small text file's contents ("" when missing), without a line end.
void ReadText(const char *path, char *text, size_t size) {
  text[0] = 0;
  FILE *f = fopen(path, "rb");
  if (!f) return;
  size_t n = fread(text, 1, size - 1, f);
  fclose(f);
  text[n] = 0;
  text[strcspn(text, "\r\n")] = 0;
}

// One argument as Windows hands it to a program: from the Linux side's
// UTF-8 into the ANSI code page, a byte that is not UTF-8 becoming "?".
// The text goes to `to`; the bytes it took, its NUL included.
int AsWindowsArgument(const char *raw, char *to, int room) {
  WCHAR wide[4096];
  int n = MultiByteToWideChar(CP_UTF8, 0, raw, -1, wide, 4096);
  if (n <= 0) wide[0] = 0;
  int made = WideCharToMultiByte(CP_ACP, 0, wide, -1, to, room, "?", nullptr);
  if (made <= 0) {
    to[0] = 0;
    made = 1;
  }
  return made;
}

// The request's arguments, each ended by a NUL byte, after argv[0].
int ReadArguments(const char *path, char *tool) {
  int argc = 0;
  arguments[argc++] = tool;
  FILE *f = fopen(path, "rb");
  if (!f) return argc;
  size_t n = fread(argumentBytes, 1, sizeof argumentBytes - 1, f);
  fclose(f);
  argumentBytes[n] = 0;
  int used = 0;
  for (size_t at = 0; at < n && argc < kMostArguments; at += strlen(argumentBytes + at) + 1) {
    arguments[argc++] = argumentTexts + used;
    int room = static_cast<int>(sizeof argumentTexts) - used;
    used += AsWindowsArgument(argumentBytes + at, argumentTexts + used, room);
  }
  arguments[argc] = nullptr;
  return argc;
}

// The standard streams onto the request's files, and the Win32 handles
// with them, for the tool code that asks Windows rather than the C runtime.
void Redirect(const char *job) {
  char path[MAX_PATH], device[MAX_PATH], file[MAX_PATH];
  // Standard input a file or device of the client's, or its pipe's FIFO.
  snprintf(path, sizeof path, "%s\\stdin-file", job);
  ReadText(path, file, sizeof file);
  snprintf(path, sizeof path, "%s\\in", job);
  freopen(file[0] ? file : path, "rb", stdin);
  // A device the client's output goes to (a full disk) is the tool's to
  // meet, as it would be.
  snprintf(path, sizeof path, "%s\\stdout-device", job);
  ReadText(path, device, sizeof device);
  snprintf(path, sizeof path, "%s\\out", job);
  freopen(device[0] ? device : path, "w", stdout);
  snprintf(path, sizeof path, "%s\\err", job);
  freopen(path, "w", stderr);
  SetStdHandle(STD_INPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdin))));
  SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout))));
  SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr))));
}

// Closes the request's files, so that its folder can be handed back.
void Release() {
  fflush(stdout);
  fflush(stderr);
  freopen("NUL", "rb", stdin);
  freopen("NUL", "w", stdout);
  freopen("NUL", "w", stderr);
}

// One request: the folder QUEUE\job.NAME becomes QUEUE\done.NAME with the
// tool's exit status in it.
void Serve(const char *queue, const char *name, char *tool) {
  char job[MAX_PATH], path[MAX_PATH], folder[MAX_PATH], done[MAX_PATH];
  snprintf(job, sizeof job, "%s\\%s", queue, name);
  snprintf(path, sizeof path, "%s\\cwd", job);
  ReadText(path, folder, sizeof folder);
  SetCurrentDirectoryA(folder);
  snprintf(path, sizeof path, "%s\\args", job);
  int argc = ReadArguments(path, tool);
  ToolReset();
  Redirect(job);
  int status = ToolMain(argc, arguments);
  Release();
  snprintf(path, sizeof path, "%s\\rc", job);
  if (FILE *f = fopen(path, "w")) {
    fprintf(f, "%d\n", status);
    fclose(f);
  }
  snprintf(done, sizeof done, "%s\\done.%s", queue, name + strlen("job."));
  MoveFileA(job, done);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: TOOL_server.exe QUEUE TOOL_NAME\n");
    return 2;
  }
  const char *queue = argv[1];
  char pattern[MAX_PATH], path[MAX_PATH];
  snprintf(pattern, sizeof pattern, "%s\\job.*", queue);
  snprintf(path, sizeof path, "%s\\serving", queue);
  if (FILE *f = fopen(path, "w")) fclose(f);
  snprintf(path, sizeof path, "%s\\quit", queue);
  while (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
      Sleep(20);
      continue;
    }
    FindClose(search);
    Serve(queue, found.cFileName, argv[2]);
  }
  return 0;
}
