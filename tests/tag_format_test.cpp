// The tag format dialog: its checks, spinner and composing step as plain
// functions, and the dialog procedure driven through the window stand-in.
#include "address/tag_format.h"

#include <gtest/gtest.h>
#include <string.h>
#include <windows.h>
#include <winsub.h>

#include "support/driver_api.h"

namespace {

const char *Check(const char *plc, const char *address, int type = kTagType16,
                  const char *bit = "None") {
  return CheckTagEntries(plc, static_cast<int>(strlen(plc)), address,
                         static_cast<int>(strlen(address)), bit, static_cast<int>(strlen(bit)),
                         type);
}

bool Same(const char *a, const char *b) { return a && b && strcmp(a, b) == 0; }

const char kRange[] = "Wrong PLC number! (range from 01 to 5A)";
const char kDigits[] = "Wrong PLC number! (2 hexadecimal digits)";
const char kOctal[] = "Wrong address! (5 octal digits)";
const char kEven[] = "Wrong address! Address must be even number!";

// What a script does inside the dialog, and what it saw.
struct Script {
  void (*steps)(HWND dlg, DLGPROC proc, Script *s);
  char messages[8][64];
  int messageCount;
  int32_t nested;
};

void ClickOk(HWND dlg, DLGPROC proc, Script *s) {
  int before = WinsubMessageBoxCount();
  proc(dlg, WM_COMMAND, IDOK, 0);
  if (WinsubMessageBoxCount() > before && s->messageCount < 8)
    strcpy(s->messages[s->messageCount++], WinsubLastMessageBox());
}

INT_PTR RunScript(HWND dlg, DLGPROC proc, void *user) {
  Script *s = static_cast<Script *>(user);
  s->steps(dlg, proc, s);
  return IDCANCEL;
}

int32_t Show(Script *s, char *out, void *owner = nullptr) {
  WinsubSetDialogScript(RunScript, s);
  TagFormatRequest r = {out, owner};
  return Call(LUMISAR_OP_EDIT_TAG_FORMAT, nullptr, &r);
}

void SetText(HWND dlg, int id, const char *text) { SetWindowTextA(GetDlgItem(dlg, id), text); }
void Click(HWND dlg, int id) { SendMessageA(GetDlgItem(dlg, id), BM_CLICK, 0, 0); }
void Spin(HWND dlg, DLGPROC proc, int code) {
  proc(dlg, WM_VSCROLL, static_cast<WPARAM>(code),
       reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDC_PLC_SPIN)));
}

}  // namespace

TEST(TagFormat, EntryChecksInOrder) {
  EXPECT_TRUE(Check("01", "40000") == nullptr);
  EXPECT_TRUE(Check("5A", "40000") == nullptr);
  EXPECT_TRUE(Check("5a", "40000") == nullptr);
  EXPECT_TRUE(Same(Check("5B", "40000"), kRange));
  EXPECT_TRUE(Same(Check("00", "40000"), kRange));
  EXPECT_TRUE(Same(Check("ff", "40000"), kRange));
  EXPECT_TRUE(Same(Check("1", "40000"), kDigits));
  EXPECT_TRUE(Same(Check("G1", "40000"), kDigits));
  EXPECT_TRUE(Same(Check("01", "4000"), kOctal));
  EXPECT_TRUE(Same(Check("01", "40008"), kOctal));
  EXPECT_TRUE(Same(Check("01", "4000 "), kOctal));
  EXPECT_TRUE(Same(Check("01", "40001", kTagType32), kEven));
  EXPECT_TRUE(Same(Check("01", "40003", kTagTypeFloat), kEven));
  EXPECT_TRUE(Check("01", "40001", kTagType16) == nullptr);
  EXPECT_TRUE(Check("01", "40006", kTagType32) == nullptr);
  EXPECT_TRUE(Same(Check("", "40000"), "missing value!"));
  EXPECT_TRUE(Same(Check("01", ""), "missing value!"));
  EXPECT_TRUE(Same(Check("01", "40000", kTagType16, ""), "missing value!"));
  // Missing comes before any other complaint.
  EXPECT_TRUE(Same(Check("", "4"), "missing value!"));
}

TEST(TagFormat, SpinnerArithmetic) {
  char out[3];
  SpinPlcText("ff", true, out);
  EXPECT_STREQ(out, "ff");
  SpinPlcText("fe", true, out);
  EXPECT_STREQ(out, "ff");
  SpinPlcText("01", false, out);
  EXPECT_STREQ(out, "01");
  SpinPlcText("02", false, out);
  EXPECT_STREQ(out, "01");
  SpinPlcText("09", true, out);
  EXPECT_STREQ(out, "0a");
  SpinPlcText("5A", true, out);
  EXPECT_STREQ(out, "5b");
  SpinPlcText("a", false, out);
  EXPECT_STREQ(out, "09");
  SpinPlcText("zz", true, out);
  EXPECT_STREQ(out, "01");
  SpinPlcText("", false, out);
  EXPECT_STREQ(out, "01");
}

TEST(TagFormat, ComposedTextsResolve) {
  char out[9];
  memset(out, 'X', sizeof out);
  ComposeAddressText(out, "01", "40000", "None", kTagType16);
  EXPECT_STREQ(out, "0140000");
  EXPECT_EQ(Resolve(out, 0, nullptr), 0);
  ComposeAddressText(out, "0a", "40000", "None", kTagType32);
  EXPECT_STREQ(out, "0a40000L");
  EXPECT_EQ(Resolve(out, 4, nullptr), 0);
  ComposeAddressText(out, "01", "40000", "A", kTagTypeFloat);
  EXPECT_STREQ(out, "0140000F");
  EXPECT_EQ(Resolve(out, 3, nullptr), 0);
  ComposeAddressText(out, "01", "40001", "A", kTagType16);
  EXPECT_STREQ(out, "0140001A");
  EXPECT_EQ(Resolve(out, 6, nullptr), 0);
}

TEST(TagFormat, DialogOkWithOnlyAnAddress) {
  LogReset();
  Script s = {};
  s.steps = [](HWND dlg, DLGPROC proc, Script *self) {
    // The dialog starts at PLC 01, "16 - bits", bit "None".
    EXPECT_STREQ(WinsubControlText(dlg, IDC_PLC_EDIT), "01");
    EXPECT_EQ(WinsubListCount(dlg, IDC_BIT_LIST), 17);
    EXPECT_EQ(WinsubListTopIndex(dlg, IDC_BIT_LIST), 16);
    EXPECT_TRUE(WinsubControlEnabled(dlg, IDC_BIT_LIST));
    SetText(dlg, IDC_ADDRESS_EDIT, "40000");
    ClickOk(dlg, proc, self);
  };
  char out[16];
  memset(out, 'X', sizeof out);
  EXPECT_EQ(Show(&s, out), 0);
  EXPECT_STREQ(out, "0140000");
  EXPECT_EQ(s.messageCount, 0);
  EXPECT_EQ(LogCount(), 0);
}

TEST(TagFormat, DialogMessagesKeepItOpenUntilTheEntriesPass) {
  Script s = {};
  s.steps = [](HWND dlg, DLGPROC proc, Script *self) {
    SetText(dlg, IDC_PLC_EDIT, "");
    SetText(dlg, IDC_ADDRESS_EDIT, "40001");
    ClickOk(dlg, proc, self);
    SetText(dlg, IDC_PLC_EDIT, "5B");
    ClickOk(dlg, proc, self);
    SetText(dlg, IDC_PLC_EDIT, "1");
    ClickOk(dlg, proc, self);
    SetText(dlg, IDC_PLC_EDIT, "5a");
    SetText(dlg, IDC_ADDRESS_EDIT, "4000");
    ClickOk(dlg, proc, self);
    SetText(dlg, IDC_ADDRESS_EDIT, "40001");
    Click(dlg, IDC_TYPE_32);
    EXPECT_TRUE(!WinsubControlEnabled(dlg, IDC_BIT_LIST));
    EXPECT_TRUE(!WinsubControlEnabled(dlg, IDC_BIT_LABEL));
    ClickOk(dlg, proc, self);
    EXPECT_EQ(WinsubDialogEnded(dlg), -1);
    SetText(dlg, IDC_ADDRESS_EDIT, "40002");
    ClickOk(dlg, proc, self);
  };
  char out[16] = {};
  EXPECT_EQ(Show(&s, out), 0);
  EXPECT_EQ(s.messageCount, 5);
  EXPECT_STREQ(s.messages[0], "missing value!");
  EXPECT_STREQ(s.messages[1], kRange);
  EXPECT_STREQ(s.messages[2], kDigits);
  EXPECT_STREQ(s.messages[3], kOctal);
  EXPECT_STREQ(s.messages[4], kEven);
  EXPECT_STREQ(out, "5a40002L");
}

TEST(TagFormat, DialogBitListSpinnerAndTypeButtons) {
  Script s = {};
  s.steps = [](HWND dlg, DLGPROC proc, Script *self) {
    Spin(dlg, proc, SB_LINEUP);
    EXPECT_STREQ(WinsubControlText(dlg, IDC_PLC_EDIT), "02");
    Spin(dlg, proc, SB_LINEDOWN);
    Spin(dlg, proc, SB_LINEDOWN);
    EXPECT_STREQ(WinsubControlText(dlg, IDC_PLC_EDIT), "01");
    SetText(dlg, IDC_PLC_EDIT, "09");
    Spin(dlg, proc, SB_LINEUP);
    EXPECT_STREQ(WinsubControlText(dlg, IDC_PLC_EDIT), "0a");
    // Other scroll codes and other sources are ignored.
    proc(dlg, WM_VSCROLL, 5, reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDC_PLC_SPIN)));
    proc(dlg, WM_VSCROLL, SB_LINEUP, 0);
    EXPECT_STREQ(WinsubControlText(dlg, IDC_PLC_EDIT), "0a");
    SetText(dlg, IDC_ADDRESS_EDIT, "17776");
    SendDlgItemMessageA(dlg, IDC_BIT_LIST, LB_SETTOPINDEX, 5, 0);  // "A"
    Click(dlg, IDC_TYPE_FLOAT);
    Click(dlg, IDC_TYPE_16);
    EXPECT_TRUE(WinsubControlEnabled(dlg, IDC_BIT_LIST));
    EXPECT_EQ(WinsubListTopIndex(dlg, IDC_BIT_LIST), 5);
    ClickOk(dlg, proc, self);
  };
  char out[16] = {};
  EXPECT_EQ(Show(&s, out), 0);
  EXPECT_STREQ(out, "0a17776A");
  EXPECT_EQ(Resolve(out, 6, nullptr), 0);
}

TEST(TagFormat, DialogCancelAndNestedCalls) {
  Script s = {};
  s.steps = [](HWND dlg, DLGPROC proc, Script *self) {
    char other[16] = "untouched";
    TagFormatRequest r = {other, nullptr};
    self->nested = Call(LUMISAR_OP_EDIT_TAG_FORMAT, nullptr, &r);
    EXPECT_STREQ(other, "untouched");
    SetText(dlg, IDC_ADDRESS_EDIT, "40000");
    proc(dlg, WM_COMMAND, IDCANCEL, 0);
  };
  char out[16] = "untouched";
  EXPECT_EQ(Show(&s, out), 53);
  EXPECT_EQ(s.nested, 53);
  EXPECT_STREQ(out, "untouched");
  // Closed again: the next call shows it.
  s.steps = [](HWND dlg, DLGPROC proc, Script *self) {
    SetText(dlg, IDC_ADDRESS_EDIT, "00000");
    ClickOk(dlg, proc, self);
  };
  EXPECT_EQ(Show(&s, out), 0);
  EXPECT_STREQ(out, "0100000");
}

TEST(TagFormat, DialogOwnerFollowsTheHostVersion) {
  Script s = {};
  s.steps = [](HWND, DLGPROC, Script *) {};
  char out[16];
  void *host = reinterpret_cast<void *>(0x1234);
  LogReset();
  WinsubSetThreadId(4);
  HostSetVersion(819);
  Show(&s, out, host);
  EXPECT_TRUE(WinsubLastDialogOwner() == nullptr);
  EXPECT_STREQ(HostClientCalls(), "MGR");
  EXPECT_STREQ(HostLastClientName(), "OrvenBr04");
  LogReset();
  HostSetVersion(820);
  WinsubSetThreadId(1234);
  Show(&s, out, host);
  EXPECT_TRUE(WinsubLastDialogOwner() == host);
  EXPECT_STREQ(HostLastClientName(), "OrvenBr1234");
  LogReset();
  HostSetVersion(900);
  HostSetRegisterStatus(0x10000);  // only the low 16 bits count
  Show(&s, out, host);
  EXPECT_TRUE(WinsubLastDialogOwner() == host);
  LogReset();
  HostSetRegisterStatus(5);
  Show(&s, out, host);
  EXPECT_TRUE(WinsubLastDialogOwner() == nullptr);
  EXPECT_STREQ(HostClientCalls(), "M");
  LogReset();
}

TEST(TagFormat, DialogTemplateComesFromTheDriverEvenWhenRenamed) {
  Script s = {};
  s.steps = [](HWND, DLGPROC, Script *) {};
  char out[16] = "untouched";
  WinsubSetModuleName("PLC405.DLL");
  EXPECT_EQ(Show(&s, out), 53);
  EXPECT_TRUE(WinsubLastDialogModule() == WINSUB_DRIVER_MODULE);
  WinsubSetModuleName("LUMISAR.DLL");
  WinsubSetDialogCreateFails(1);
  EXPECT_EQ(Show(&s, out), 53);
  EXPECT_STREQ(out, "untouched");
  WinsubSetDialogCreateFails(0);
  // The in-use mark was cleared on the way out.
  s.steps = [](HWND dlg, DLGPROC proc, Script *self) {
    SetText(dlg, IDC_ADDRESS_EDIT, "12345");
    ClickOk(dlg, proc, self);
  };
  EXPECT_EQ(Show(&s, out), 0);
  EXPECT_STREQ(out, "0112345");
}
