// A scripted stand-in for the window functions the tag format dialog uses.
// It keeps one dialog at a time; controls come into being when first named,
// each with a text, an enabled flag and, for list boxes, items and a top
// index. Messages that real controls would turn into notifications (a click
// on a button) are sent back to the dialog procedure the same way.
#include <string.h>
#include <strings.h>
#include <windows.h>
#include <winsub.h>

namespace {

constexpr int kMaxControls = 32;
constexpr int kMaxItems = 32;
constexpr int kTextSize = 64;
constexpr uintptr_t kDialogHandle = 0xD1A0;
constexpr uintptr_t kControlBase = 0xC000;

struct Control {
  bool used;
  int id;
  char text[kTextSize];
  bool enabled;
  char items[kMaxItems][16];
  int itemCount;
  int top;
};

struct Dialog {
  Control controls[kMaxControls];
  DLGPROC proc;
  HWND owner;
  HMODULE module;
  INT_PTR ended;
  bool open;
};

Dialog dialog;
WinsubDialogScript script;
void *scriptUser;
bool createFails;
char messageText[256];
int messageCount;
DWORD threadId = 7;
char moduleName[64] = "LUMISAR.DLL";

void CopyText(char *dst, size_t size, const char *src) {
  size_t i = 0;
  for (; src && src[i] && i + 1 < size; ++i) dst[i] = src[i];
  dst[i] = 0;
}

HWND ControlHandle(int index) {
  return reinterpret_cast<HWND>(kControlBase + 4 * static_cast<uintptr_t>(index));
}

Control *FromHandle(HWND h) {
  uintptr_t v = reinterpret_cast<uintptr_t>(h);
  if (v < kControlBase || (v - kControlBase) % 4) return nullptr;
  uintptr_t i = (v - kControlBase) / 4;
  if (i >= kMaxControls || !dialog.controls[i].used) return nullptr;
  return &dialog.controls[i];
}

int FindOrCreate(int id) {
  for (int i = 0; i < kMaxControls; ++i)
    if (dialog.controls[i].used && dialog.controls[i].id == id) return i;
  for (int i = 0; i < kMaxControls; ++i) {
    if (!dialog.controls[i].used) {
      dialog.controls[i] = Control{};
      dialog.controls[i].used = true;
      dialog.controls[i].id = id;
      dialog.controls[i].enabled = true;
      return i;
    }
  }
  return -1;
}

Control *ById(HWND dlg, int id) {
  if (reinterpret_cast<uintptr_t>(dlg) != kDialogHandle || !dialog.open) return nullptr;
  int i = FindOrCreate(id);
  return i < 0 ? nullptr : &dialog.controls[i];
}

}  // namespace

extern "C" {

void WinsubSetDialogScript(WinsubDialogScript s, void *user) {
  script = s;
  scriptUser = user;
}
void WinsubSetDialogCreateFails(int fails) { createFails = fails != 0; }
HWND WinsubLastDialogOwner(void) { return dialog.owner; }
HMODULE WinsubLastDialogModule(void) { return dialog.module; }
const char *WinsubLastMessageBox(void) { return messageText; }
int WinsubMessageBoxCount(void) { return messageCount; }
void WinsubSetThreadId(DWORD id) { threadId = id; }
void WinsubSetModuleName(const char *name) { CopyText(moduleName, sizeof moduleName, name); }

int WinsubControlEnabled(HWND dlg, int id) {
  Control *c = ById(dlg, id);
  return c && c->enabled;
}
const char *WinsubControlText(HWND dlg, int id) {
  Control *c = ById(dlg, id);
  return c ? c->text : "";
}
int WinsubListTopIndex(HWND dlg, int id) {
  Control *c = ById(dlg, id);
  return c ? c->top : -1;
}
int WinsubListCount(HWND dlg, int id) {
  Control *c = ById(dlg, id);
  return c ? c->itemCount : -1;
}
int WinsubDialogEnded(HWND) { return static_cast<int>(dialog.ended); }

DWORD WINAPI GetCurrentThreadId(void) { return threadId; }

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  if (name && strcasecmp(name, moduleName) == 0) return WINSUB_DRIVER_MODULE;
  return nullptr;
}

BOOL WINAPI GetModuleHandleExA(DWORD flags, LPCSTR, HMODULE *module) {
  if (!(flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)) return FALSE;
  *module = WINSUB_DRIVER_MODULE;
  return TRUE;
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE inst, LPCSTR, HWND owner, DLGPROC proc, LPARAM param) {
  if (createFails || !inst) return -1;
  dialog = Dialog{};
  dialog.proc = proc;
  dialog.owner = owner;
  dialog.module = static_cast<HMODULE>(inst);
  dialog.ended = -1;
  dialog.open = true;
  messageCount = 0;
  messageText[0] = 0;
  HWND dlg = reinterpret_cast<HWND>(kDialogHandle);
  proc(dlg, WM_INITDIALOG, 0, param);
  INT_PTR r = IDCANCEL;
  if (script && dialog.ended == -1) r = script(dlg, proc, scriptUser);
  dialog.open = false;
  return dialog.ended != -1 ? dialog.ended : r;
}

BOOL WINAPI EndDialog(HWND, INT_PTR result) {
  if (dialog.ended == -1) dialog.ended = result;
  return TRUE;
}

HWND WINAPI GetDlgItem(HWND dlg, int id) {
  Control *c = ById(dlg, id);
  return c ? ControlHandle(static_cast<int>(c - dialog.controls)) : nullptr;
}

int WINAPI GetWindowTextA(HWND wnd, LPSTR text, int max) {
  Control *c = FromHandle(wnd);
  if (!c || max <= 0) return 0;
  CopyText(text, static_cast<size_t>(max), c->text);
  return static_cast<int>(strlen(text));
}

UINT WINAPI GetDlgItemTextA(HWND dlg, int id, LPSTR text, int max) {
  return static_cast<UINT>(GetWindowTextA(GetDlgItem(dlg, id), text, max));
}

BOOL WINAPI SetWindowTextA(HWND wnd, LPCSTR text) {
  Control *c = FromHandle(wnd);
  if (!c) return FALSE;
  CopyText(c->text, sizeof c->text, text);
  return TRUE;
}

LRESULT WINAPI SendMessageA(HWND wnd, UINT msg, WPARAM w, LPARAM l) {
  Control *c = FromHandle(wnd);
  if (!c) return 0;
  switch (msg) {
    case BM_CLICK:
      return dialog.proc(reinterpret_cast<HWND>(kDialogHandle), WM_COMMAND,
                         static_cast<WPARAM>(c->id & 0xffff), reinterpret_cast<LPARAM>(wnd));
    case LB_ADDSTRING:
      if (c->itemCount >= kMaxItems) return LB_ERR;
      CopyText(c->items[c->itemCount], sizeof c->items[0], reinterpret_cast<const char *>(l));
      return c->itemCount++;
    case LB_SETTOPINDEX:
      if (static_cast<int>(w) >= c->itemCount) return LB_ERR;
      c->top = static_cast<int>(w);
      return 0;
    case LB_GETTOPINDEX:
      return c->top;
    case LB_GETTEXT:
      if (static_cast<int>(w) >= c->itemCount) return LB_ERR;
      strcpy(reinterpret_cast<char *>(l), c->items[w]);
      return static_cast<LRESULT>(strlen(c->items[w]));
    default:
      return 0;
  }
}

LRESULT WINAPI SendDlgItemMessageA(HWND dlg, int id, UINT msg, WPARAM w, LPARAM l) {
  return SendMessageA(GetDlgItem(dlg, id), msg, w, l);
}

BOOL WINAPI EnableWindow(HWND wnd, BOOL enable) {
  Control *c = FromHandle(wnd);
  if (!c) return FALSE;
  BOOL wasDisabled = !c->enabled;
  c->enabled = enable != 0;
  return wasDisabled;
}

int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR, UINT) {
  CopyText(messageText, sizeof messageText, text);
  messageCount++;
  return IDOK;
}

}  // extern "C"
