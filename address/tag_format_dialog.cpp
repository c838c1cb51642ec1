// Operation 16: the modal "Tag Format" dialog in which a user composes a
// tag's address text.
#include "tag_format_dialog.h"

#include <string.h>
#include <windows.h>

#include "host/quarne.h"
#include "tag_format.h"

namespace {

constexpr INT_PTR kEndOk = IDOK;
constexpr INT_PTR kEndCancel = IDCANCEL;

// What the dialog procedure leaves for the composing step after the dialog
// has closed. One dialog at a time in the process.
struct TagFormatState {
  bool inUse;
  int dataType;
  char plc[3];
  char address[8];
  char bit[16];
};

TagFormatState state;

void EnableBitChoice(HWND dlg, BOOL enable) {
  EnableWindow(GetDlgItem(dlg, IDC_BIT_LABEL), enable);
  EnableWindow(GetDlgItem(dlg, IDC_BIT_LIST), enable);
}

void InitDialog(HWND dlg) {
  for (const char *item : BitListItems)
    SendDlgItemMessageA(dlg, IDC_BIT_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
  SetWindowTextA(GetDlgItem(dlg, IDC_PLC_EDIT), "01");
  SendMessageA(GetDlgItem(dlg, IDC_TYPE_16), BM_CLICK, 0, 0);
  SendDlgItemMessageA(dlg, IDC_BIT_LIST, LB_SETTOPINDEX, kBitItemNone, 0);
}

void Spin(HWND dlg, bool lineUp) {
  char text[3] = {};
  GetWindowTextA(GetDlgItem(dlg, IDC_PLC_EDIT), text, sizeof text);
  char next[3];
  SpinPlcText(text, lineUp, next);
  SetWindowTextA(GetDlgItem(dlg, IDC_PLC_EDIT), next);
}

void TryOk(HWND dlg) {
  memset(state.plc, 0, sizeof state.plc);
  memset(state.address, 0, sizeof state.address);
  memset(state.bit, 0, sizeof state.bit);
  int plcLength = static_cast<int>(GetDlgItemTextA(dlg, IDC_PLC_EDIT, state.plc, sizeof state.plc));
  int addressLength =
      static_cast<int>(GetDlgItemTextA(dlg, IDC_ADDRESS_EDIT, state.address, sizeof state.address));
  int bitLength = 1;  // a 32-bit value or float has no bit to choose
  if (state.dataType == kTagType16) {
    // The one-line list shows its top item; that is the choice, whatever
    // the selection says.
    LRESULT top = SendDlgItemMessageA(dlg, IDC_BIT_LIST, LB_GETTOPINDEX, 0, 0);
    bitLength = 0;
    if (top >= 0 && top < kBitItemCount) {
      LRESULT n = SendDlgItemMessageA(dlg, IDC_BIT_LIST, LB_GETTEXT, static_cast<WPARAM>(top),
                                      reinterpret_cast<LPARAM>(state.bit));
      bitLength = n > 0 ? static_cast<int>(n) : 0;
    }
  }
  const char *problem = CheckTagEntries(state.plc, plcLength, state.address, addressLength,
                                        state.bit, bitLength, state.dataType);
  if (problem) {
    MessageBoxA(dlg, problem, "Error", MB_OK);
    return;
  }
  EndDialog(dlg, kEndOk);
}

HMODULE DriverModule() {
  // Found by file name first, as the host installed it; a renamed file is
  // still found through the module that holds this code.
  HMODULE module = GetModuleHandleA("LUMISAR.DLL");
  if (!module) {
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&EditTagFormat), &module);
  }
  return module;
}

}  // namespace

INT_PTR CALLBACK TagFormatDlgProc(HWND dlg, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_INITDIALOG:
      InitDialog(dlg);
      return TRUE;
    case WM_VSCROLL:
      if ((LOWORD(w) == SB_LINEUP || LOWORD(w) == SB_LINEDOWN) &&
          reinterpret_cast<HWND>(l) == GetDlgItem(dlg, IDC_PLC_SPIN))
        Spin(dlg, LOWORD(w) == SB_LINEUP);
      return FALSE;
    case WM_COMMAND:
      switch (LOWORD(w)) {
        case IDC_TYPE_16:
          EnableBitChoice(dlg, TRUE);
          state.dataType = kTagType16;
          break;
        case IDC_TYPE_32:
          EnableBitChoice(dlg, FALSE);
          state.dataType = kTagType32;
          break;
        case IDC_TYPE_FLOAT:
          EnableBitChoice(dlg, FALSE);
          state.dataType = kTagTypeFloat;
          break;
        case IDOK:
          TryOk(dlg);
          break;
        case IDCANCEL:
          EndDialog(dlg, kEndCancel);
          break;
        default:
          break;
      }
      return TRUE;
    default:
      return FALSE;
  }
}

int32_t EditTagFormat(RequestBlock *request) {
  TagFormatRequest *r = static_cast<TagFormatRequest *>(request->params);
  if (!r || state.inUse) return LUMISAR_CANCELLED;
  state.inUse = true;
  HMODULE module = DriverModule();
  uint16_t version = QueryHostVersion();
  HWND owner = version >= kOwnedDialogVersion ? static_cast<HWND>(r->ownerWindow) : nullptr;
  INT_PTR ended =
      module ? DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_TAG_FORMAT), owner, TagFormatDlgProc, 0)
             : -1;
  state.inUse = false;
  if (ended != kEndOk) return LUMISAR_CANCELLED;
  if (r->addressOut)
    ComposeAddressText(r->addressOut, state.plc, state.address, state.bit, state.dataType);
  return r->addressOut ? LUMISAR_DONE : LUMISAR_CANCELLED;
}
