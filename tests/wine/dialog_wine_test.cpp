// The real "Tag Format" dialog under Wine and Xvfb, driven from a second
// thread with real window messages while the driver's modal loop runs.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "support/driver_api.h"

namespace {

constexpr int kPlcEdit = 1037, kAddressEdit = 1007, kBitList = 1022, kSpinner = 1036,
              kBitLabel = 1055, kType16 = 1062, kType32 = 1063;

HWND WaitWindow(const char *caption, int seconds) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (HWND h = FindWindowA(nullptr, caption)) return h;
    Sleep(50);
  }
  return nullptr;
}

bool WaitGone(HWND h, int seconds) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (!IsWindow(h)) return true;
    Sleep(50);
  }
  return false;
}

// Presses OK; when a message box comes, returns its text and closes it.
void PressOk(HWND dlg, char *message, size_t size) {
  message[0] = 0;
  PostMessageA(dlg, WM_COMMAND, IDOK, 0);
  HWND box = WaitWindow("Error", 10);
  if (!box) return;
  GetDlgItemTextA(box, 0xFFFF, message, static_cast<int>(size));
  PostMessageA(box, WM_COMMAND, IDOK, 0);
  WaitGone(box, 10);
}

void Text(HWND dlg, int id, const char *text) { SetDlgItemTextA(dlg, id, text); }

// Asks the runner for a picture of the screen and waits until it has one.
void Screenshot() {
  const char *dir = getenv("LUMISAR_SHOT_DIR");
  if (!dir || !*dir) return;
  char request[512], done[512];
  snprintf(request, sizeof request, "Z:%s/request", dir);
  snprintf(done, sizeof done, "Z:%s/done", dir);
  if (FILE *f = fopen(request, "w")) fclose(f);
  for (int i = 0; i < 600; ++i) {
    if (GetFileAttributesA(done) != INVALID_FILE_ATTRIBUTES) return;
    Sleep(100);
  }
}

struct Driver {
  HWND owner;
  int32_t nested;
  char messages[6][80];
  char plcAfterSpins[2][8];
  char typed[8];
  HWND seenOwner;
  bool bitListDisabledFor32;
  bool bitListEnabledFor16;
  bool found;
};

DWORD WINAPI DriveFullPath(LPVOID p) {
  Driver *d = static_cast<Driver *>(p);
  HWND dlg = WaitWindow("Tag Format", 120);
  if (!dlg) return 0;
  d->found = true;
  d->seenOwner = GetWindow(dlg, GW_OWNER);
  char other[16] = "untouched";
  TagFormatRequest again = {other, nullptr};
  d->nested = Call(LUMISAR_OP_EDIT_TAG_FORMAT, nullptr, &again);

  Text(dlg, kPlcEdit, "");
  Text(dlg, kAddressEdit, "40001");
  PressOk(dlg, d->messages[0], sizeof d->messages[0]);
  Text(dlg, kPlcEdit, "5B");
  PressOk(dlg, d->messages[1], sizeof d->messages[1]);
  Text(dlg, kPlcEdit, "1");
  PressOk(dlg, d->messages[2], sizeof d->messages[2]);
  // Typed, as a user would: the edit upper-cases what is typed.
  Text(dlg, kPlcEdit, "");
  HWND plc = GetDlgItem(dlg, kPlcEdit);
  SendMessageA(plc, WM_CHAR, '5', 0);
  SendMessageA(plc, WM_CHAR, 'a', 0);
  GetDlgItemTextA(dlg, kPlcEdit, d->typed, sizeof d->typed);
  Text(dlg, kAddressEdit, "4000");
  PressOk(dlg, d->messages[3], sizeof d->messages[3]);
  Text(dlg, kAddressEdit, "40001");
  SendMessageA(GetDlgItem(dlg, kType32), BM_CLICK, 0, 0);
  d->bitListDisabledFor32 =
      !IsWindowEnabled(GetDlgItem(dlg, kBitList)) && !IsWindowEnabled(GetDlgItem(dlg, kBitLabel));
  PressOk(dlg, d->messages[4], sizeof d->messages[4]);
  SendMessageA(GetDlgItem(dlg, kType16), BM_CLICK, 0, 0);
  d->bitListEnabledFor16 = IsWindowEnabled(GetDlgItem(dlg, kBitList)) != 0;
  SendDlgItemMessageA(dlg, kBitList, LB_SETTOPINDEX, 5, 0);  // "A"
  HWND spinner = GetDlgItem(dlg, kSpinner);
  SendMessageA(dlg, WM_VSCROLL, SB_LINEUP, reinterpret_cast<LPARAM>(spinner));
  GetDlgItemTextA(dlg, kPlcEdit, d->plcAfterSpins[0], 8);
  SendMessageA(dlg, WM_VSCROLL, SB_LINEDOWN, reinterpret_cast<LPARAM>(spinner));
  GetDlgItemTextA(dlg, kPlcEdit, d->plcAfterSpins[1], 8);
  Screenshot();
  PressOk(dlg, d->messages[5], sizeof d->messages[5]);
  return 0;
}

DWORD WINAPI DriveCancel(LPVOID p) {
  Driver *d = static_cast<Driver *>(p);
  HWND dlg = WaitWindow("Tag Format", 120);
  if (!dlg) return 0;
  d->found = true;
  d->seenOwner = GetWindow(dlg, GW_OWNER);
  Text(dlg, kAddressEdit, "40000");
  PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
  return 0;
}

int32_t ShowWith(LPTHREAD_START_ROUTINE drive, Driver *d, char *out, HWND owner) {
  HANDLE thread = CreateThread(nullptr, 0, drive, d, 0, nullptr);
  TagFormatRequest r = {out, owner};
  int32_t result = Call(LUMISAR_OP_EDIT_TAG_FORMAT, nullptr, &r);
  WaitForSingleObject(thread, 60000);
  CloseHandle(thread);
  return result;
}

}  // namespace

TEST(WineDialog, WineDialogChecksEntriesAndComposesTheText) {
  if (!getenv("DISPLAY") || !*getenv("DISPLAY"))
    GTEST_SKIP() << "no X display (Xvfb) to show it on";
  LogReset();
  HostSetVersion(819);
  HWND host = CreateWindowA("STATIC", "host", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                            nullptr, nullptr);
  Driver d = {};
  char out[16];
  memset(out, 'X', sizeof out);
  int32_t result = ShowWith(DriveFullPath, &d, out, host);
  EXPECT_TRUE(d.found);
  EXPECT_EQ(result, 0);
  EXPECT_STREQ(d.typed, "5A");
  // The spinner writes lower-case digits; an upper-case edit may show them
  // either way.
  EXPECT_EQ(lstrcmpiA(out, "5a40001A"), 0);
  EXPECT_TRUE(d.seenOwner == nullptr);  // version 819: no owner
  EXPECT_EQ(d.nested, 53);
  EXPECT_STREQ(d.messages[0], "missing value!");
  EXPECT_STREQ(d.messages[1], "Wrong PLC number! (range from 01 to 5A)");
  EXPECT_STREQ(d.messages[2], "Wrong PLC number! (2 hexadecimal digits)");
  EXPECT_STREQ(d.messages[3], "Wrong address! (5 octal digits)");
  EXPECT_STREQ(d.messages[4], "Wrong address! Address must be even number!");
  EXPECT_STREQ(d.messages[5], "");
  EXPECT_TRUE(d.bitListDisabledFor32);
  EXPECT_TRUE(d.bitListEnabledFor16);
  EXPECT_EQ(lstrcmpiA(d.plcAfterSpins[0], "5b"), 0);
  EXPECT_EQ(lstrcmpiA(d.plcAfterSpins[1], "5a"), 0);

  // Version 820: the host's window owns it; cancel leaves the buffer alone.
  HostSetVersion(820);
  Driver c = {};
  char kept[16] = "untouched";
  EXPECT_EQ(ShowWith(DriveCancel, &c, kept, host), 53);
  EXPECT_TRUE(c.found);
  EXPECT_TRUE(c.seenOwner == host);
  EXPECT_STREQ(kept, "untouched");
  DestroyWindow(host);
  LogReset();
}
