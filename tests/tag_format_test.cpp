// The tag format dialog: its checks, spinner and composing step as plain
// functions, and the dialog procedure driven through the window stand-in.
#include "address/tag_format.h"

#include <string.h>
#include <windows.h>
#include <winsub.h>

#include "support/check.h"
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

TEST(EntryChecksInOrder) {
  CHECK(Check("01", "40000") == nullptr);
  CHECK(Check("5A", "40000") == nullptr);
  CHECK(Check("5a", "40000") == nullptr);
  CHECK(Same(Check("5B", "40000"), kRange));
  CHECK(Same(Check("00", "40000"), kRange));
  CHECK(Same(Check("ff", "40000"), kRange));
  CHECK(Same(Check("1", "40000"), kDigits));
  CHECK(Same(Check("G1", "40000"), kDigits));
  CHECK(Same(Check("01", "4000"), kOctal));
  CHECK(Same(Check("01", "40008"), kOctal));
  CHECK(Same(Check("01", "4000 "), kOctal));
  CHECK(Same(Check("01", "40001", kTagType32), kEven));
  CHECK(Same(Check("01", "40003", kTagTypeFloat), kEven));
  CHECK(Check("01", "40001", kTagType16) == nullptr);
  CHECK(Check("01", "40006", kTagType32) == nullptr);
  CHECK(Same(Check("", "40000"), "missing value!"));
  CHECK(Same(Check("01", ""), "missing value!"));
  CHECK(Same(Check("01", "40000", kTagType16, ""), "missing value!"));
  // Missing comes before any other complaint.
  CHECK(Same(Check("", "4"), "missing value!"));
}

TEST(SpinnerArithmetic) {
  char out[3];
  SpinPlcText("ff", true, out);
  CHECK_STR(out, "ff");
  SpinPlcText("fe", true, out);
  CHECK_STR(out, "ff");
  SpinPlcText("01", false, out);
  CHECK_STR(out, "01");
  SpinPlcText("02", false, out);
  CHECK_STR(out, "01");
  SpinPlcText("09", true, out);
  CHECK_STR(out, "0a");
  SpinPlcText("5A", true, out);
  CHECK_STR(out, "5b");
  SpinPlcText("a", false, out);
  CHECK_STR(out, "09");
  SpinPlcText("zz", true, out);
  CHECK_STR(out, "01");
  SpinPlcText("", false, out);
  CHECK_STR(out, "01");
}

TEST(ComposedTextsResolve) {
  char out[9];
  memset(out, 'X', sizeof out);
  ComposeAddressText(out, "01", "40000", "None", kTagType16);
  CHECK_STR(out, "0140000");
  CHECK_EQ(Resolve(out, 0, nullptr), 0);
  ComposeAddressText(out, "0a", "40000", "None", kTagType32);
  CHECK_STR(out, "0a40000L");
  CHECK_EQ(Resolve(out, 4, nullptr), 0);
  ComposeAddressText(out, "01", "40000", "A", kTagTypeFloat);
  CHECK_STR(out, "0140000F");
  CHECK_EQ(Resolve(out, 3, nullptr), 0);
  ComposeAddressText(out, "01", "40001", "A", kTagType16);
  CHECK_STR(out, "0140001A");
  CHECK_EQ(Resolve(out, 6, nullptr), 0);
}

TEST(DialogOkWithOnlyAnAddress) {
  LogReset();
  Script s = {};
  s.steps = [](HWND dlg, DLGPROC proc, Script *self) {
    // The dialog starts at PLC 01, "16 - bits", bit "None".
    CHECK_STR(WinsubControlText(dlg, IDC_PLC_EDIT), "01");
    CHECK_EQ(WinsubListCount(dlg, IDC_BIT_LIST), 17);
    CHECK_EQ(WinsubListTopIndex(dlg, IDC_BIT_LIST), 16);
    CHECK(WinsubControlEnabled(dlg, IDC_BIT_LIST));
    SetText(dlg, IDC_ADDRESS_EDIT, "40000");
    ClickOk(dlg, proc, self);
  };
  char out[16];
  memset(out, 'X', sizeof out);
  CHECK_EQ(Show(&s, out), 0);
  CHECK_STR(out, "0140000");
  CHECK_EQ(s.messageCount, 0);
  CHECK_EQ(LogCount(), 0);
}

TEST(DialogMessagesKeepItOpenUntilTheEntriesPass) {
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
    CHECK(!WinsubControlEnabled(dlg, IDC_BIT_LIST));
    CHECK(!WinsubControlEnabled(dlg, IDC_BIT_LABEL));
    ClickOk(dlg, proc, self);
    CHECK_EQ(WinsubDialogEnded(dlg), -1);
    SetText(dlg, IDC_ADDRESS_EDIT, "40002");
    ClickOk(dlg, proc, self);
  };
  char out[16] = {};
  CHECK_EQ(Show(&s, out), 0);
  CHECK_EQ(s.messageCount, 5);
  CHECK_STR(s.messages[0], "missing value!");
  CHECK_STR(s.messages[1], kRange);
  CHECK_STR(s.messages[2], kDigits);
  CHECK_STR(s.messages[3], kOctal);
  CHECK_STR(s.messages[4], kEven);
  CHECK_STR(out, "5a40002L");
}

TEST(DialogBitListSpinnerAndTypeButtons) {
  Script s = {};
  s.steps = [](HWND dlg, DLGPROC proc, Script *self) {
    Spin(dlg, proc, SB_LINEUP);
    CHECK_STR(WinsubControlText(dlg, IDC_PLC_EDIT), "02");
    Spin(dlg, proc, SB_LINEDOWN);
    Spin(dlg, proc, SB_LINEDOWN);
    CHECK_STR(WinsubControlText(dlg, IDC_PLC_EDIT), "01");
    SetText(dlg, IDC_PLC_EDIT, "09");
    Spin(dlg, proc, SB_LINEUP);
    CHECK_STR(WinsubControlText(dlg, IDC_PLC_EDIT), "0a");
    // Other scroll codes and other sources are ignored.
    proc(dlg, WM_VSCROLL, 5, reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDC_PLC_SPIN)));
    proc(dlg, WM_VSCROLL, SB_LINEUP, 0);
    CHECK_STR(WinsubControlText(dlg, IDC_PLC_EDIT), "0a");
    SetText(dlg, IDC_ADDRESS_EDIT, "17776");
    SendDlgItemMessageA(dlg, IDC_BIT_LIST, LB_SETTOPINDEX, 5, 0);  // "A"
    Click(dlg, IDC_TYPE_FLOAT);
    Click(dlg, IDC_TYPE_16);
    CHECK(WinsubControlEnabled(dlg, IDC_BIT_LIST));
    CHECK_EQ(WinsubListTopIndex(dlg, IDC_BIT_LIST), 5);
    ClickOk(dlg, proc, self);
  };
  char out[16] = {};
  CHECK_EQ(Show(&s, out), 0);
  CHECK_STR(out, "0a17776A");
  CHECK_EQ(Resolve(out, 6, nullptr), 0);
}

TEST(DialogCancelAndNestedCalls) {
  Script s = {};
  s.steps = [](HWND dlg, DLGPROC proc, Script *self) {
    char other[16] = "untouched";
    TagFormatRequest r = {other, nullptr};
    self->nested = Call(LUMISAR_OP_EDIT_TAG_FORMAT, nullptr, &r);
    CHECK_STR(other, "untouched");
    SetText(dlg, IDC_ADDRESS_EDIT, "40000");
    proc(dlg, WM_COMMAND, IDCANCEL, 0);
  };
  char out[16] = "untouched";
  CHECK_EQ(Show(&s, out), 53);
  CHECK_EQ(s.nested, 53);
  CHECK_STR(out, "untouched");
  // Closed again: the next call shows it.
  s.steps = [](HWND dlg, DLGPROC proc, Script *self) {
    SetText(dlg, IDC_ADDRESS_EDIT, "00000");
    ClickOk(dlg, proc, self);
  };
  CHECK_EQ(Show(&s, out), 0);
  CHECK_STR(out, "0100000");
}

TEST(DialogOwnerFollowsTheHostVersion) {
  Script s = {};
  s.steps = [](HWND, DLGPROC, Script *) {};
  char out[16];
  void *host = reinterpret_cast<void *>(0x1234);
  LogReset();
  WinsubSetThreadId(4);
  HostSetVersion(819);
  Show(&s, out, host);
  CHECK(WinsubLastDialogOwner() == nullptr);
  CHECK_STR(HostClientCalls(), "MGR");
  CHECK_STR(HostLastClientName(), "OrvenBr04");
  LogReset();
  HostSetVersion(820);
  WinsubSetThreadId(1234);
  Show(&s, out, host);
  CHECK(WinsubLastDialogOwner() == host);
  CHECK_STR(HostLastClientName(), "OrvenBr1234");
  LogReset();
  HostSetVersion(900);
  HostSetRegisterStatus(0x10000);  // only the low 16 bits count
  Show(&s, out, host);
  CHECK(WinsubLastDialogOwner() == host);
  LogReset();
  HostSetRegisterStatus(5);
  Show(&s, out, host);
  CHECK(WinsubLastDialogOwner() == nullptr);
  CHECK_STR(HostClientCalls(), "M");
  LogReset();
}

TEST(DialogTemplateComesFromTheDriverEvenWhenRenamed) {
  Script s = {};
  s.steps = [](HWND, DLGPROC, Script *) {};
  char out[16] = "untouched";
  WinsubSetModuleName("PLC405.DLL");
  CHECK_EQ(Show(&s, out), 53);
  CHECK(WinsubLastDialogModule() == WINSUB_DRIVER_MODULE);
  WinsubSetModuleName("LUMISAR.DLL");
  WinsubSetDialogCreateFails(1);
  CHECK_EQ(Show(&s, out), 53);
  CHECK_STR(out, "untouched");
  WinsubSetDialogCreateFails(0);
  // The in-use mark was cleared on the way out.
  s.steps = [](HWND dlg, DLGPROC proc, Script *self) {
    SetText(dlg, IDC_ADDRESS_EDIT, "12345");
    ClickOk(dlg, proc, self);
  };
  CHECK_EQ(Show(&s, out), 0);
  CHECK_STR(out, "0112345");
}
