/*
 * The subset of the Win32 API that the driver uses, for the native Linux
 * i386 build. Types and constants have their Windows values and layouts so
 * that the driver's code compiles unchanged; the functions are implemented by
 * winsub over termios (ptys and ttys), over in-memory devices with fault
 * injection, and as small stand-ins for the window functions.
 */
#ifndef WINSUB_WINDOWS_H
#define WINSUB_WINDOWS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef void *HANDLE;
typedef HANDLE HWND;
typedef HANDLE HINSTANCE;
typedef HANDLE HMODULE;
typedef const char *LPCSTR;
typedef char *LPSTR;
typedef void *LPVOID;
typedef DWORD *LPDWORD;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef UINT_PTR WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef INT_PTR(CALLBACK *DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3
#define FILE_ATTRIBUTE_NORMAL 0x80

#define ERROR_FILE_NOT_FOUND 2
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_GEN_FAILURE 31
#define ERROR_INVALID_PARAMETER 87

#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define MARKPARITY 3
#define SPACEPARITY 4
#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2
#define DTR_CONTROL_DISABLE 0
#define DTR_CONTROL_ENABLE 1
#define DTR_CONTROL_HANDSHAKE 2
#define RTS_CONTROL_DISABLE 0
#define RTS_CONTROL_ENABLE 1
#define RTS_CONTROL_HANDSHAKE 2
#define RTS_CONTROL_TOGGLE 3

typedef struct _DCB {
  DWORD DCBlength;
  DWORD BaudRate;
  DWORD fBinary : 1;
  DWORD fParity : 1;
  DWORD fOutxCtsFlow : 1;
  DWORD fOutxDsrFlow : 1;
  DWORD fDtrControl : 2;
  DWORD fDsrSensitivity : 1;
  DWORD fTXContinueOnXoff : 1;
  DWORD fOutX : 1;
  DWORD fInX : 1;
  DWORD fErrorChar : 1;
  DWORD fNull : 1;
  DWORD fRtsControl : 2;
  DWORD fAbortOnError : 1;
  DWORD fDummy2 : 17;
  WORD wReserved;
  WORD XonLim;
  WORD XoffLim;
  BYTE ByteSize;
  BYTE Parity;
  BYTE StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  WORD wReserved1;
} DCB, *LPDCB;

typedef struct _COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
} COMMTIMEOUTS, *LPCOMMTIMEOUTS;

typedef struct _COMSTAT {
  DWORD fFlags; /* fCtsHold .. fTxim and reserved bits, not used here */
  DWORD cbInQue;
  DWORD cbOutQue;
} COMSTAT, *LPCOMSTAT;

/* Files and communications */
HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPVOID security,
                          DWORD disposition, DWORD flags, HANDLE templ);
BOOL WINAPI CloseHandle(HANDLE h);
BOOL WINAPI ReadFile(HANDLE h, LPVOID buffer, DWORD count, LPDWORD got, LPVOID overlapped);
BOOL WINAPI WriteFile(HANDLE h, const void *buffer, DWORD count, LPDWORD written,
                      LPVOID overlapped);
BOOL WINAPI GetCommState(HANDLE h, LPDCB dcb);
BOOL WINAPI SetCommState(HANDLE h, LPDCB dcb);
BOOL WINAPI GetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS t);
BOOL WINAPI SetCommTimeouts(HANDLE h, LPCOMMTIMEOUTS t);
BOOL WINAPI SetupComm(HANDLE h, DWORD inQueue, DWORD outQueue);
BOOL WINAPI ClearCommError(HANDLE h, LPDWORD errors, LPCOMSTAT stat);
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD e);

/* Process and modules */
DWORD WINAPI GetTickCount(void);
DWORD WINAPI GetCurrentThreadId(void);
HMODULE WINAPI GetModuleHandleA(LPCSTR name);
BOOL WINAPI GetModuleHandleExA(DWORD flags, LPCSTR address, HMODULE *module);
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x2
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x4

/* Windows and dialogs */
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_VSCROLL 0x0115
#define SB_LINEUP 0
#define SB_LINEDOWN 1
#define BM_CLICK 0x00F5
#define LB_ADDSTRING 0x0180
#define LB_GETTEXT 0x0189
#define LB_GETTOPINDEX 0x018E
#define LB_SETTOPINDEX 0x0197
#define LB_ERR (-1)
#define IDOK 1
#define IDCANCEL 2
#define MB_OK 0x0
#define MB_ICONERROR 0x10
#define LOWORD(l) ((WORD)((UINT_PTR)(l)&0xffff))
#define HIWORD(l) ((WORD)(((UINT_PTR)(l) >> 16) & 0xffff))
#define MAKEINTRESOURCEA(i) ((LPSTR)(UINT_PTR)((WORD)(i)))

INT_PTR WINAPI DialogBoxParamA(HINSTANCE inst, LPCSTR templ, HWND owner, DLGPROC proc,
                               LPARAM param);
BOOL WINAPI EndDialog(HWND dlg, INT_PTR result);
HWND WINAPI GetDlgItem(HWND dlg, int id);
UINT WINAPI GetDlgItemTextA(HWND dlg, int id, LPSTR text, int max);
int WINAPI GetWindowTextA(HWND wnd, LPSTR text, int max);
BOOL WINAPI SetWindowTextA(HWND wnd, LPCSTR text);
LRESULT WINAPI SendDlgItemMessageA(HWND dlg, int id, UINT msg, WPARAM w, LPARAM l);
LRESULT WINAPI SendMessageA(HWND wnd, UINT msg, WPARAM w, LPARAM l);
BOOL WINAPI EnableWindow(HWND wnd, BOOL enable);
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

#ifdef __cplusplus
}
#endif

#endif /* WINSUB_WINDOWS_H */
