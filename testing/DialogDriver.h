// Drives the module's parameters dialog as a user would, with real controls and
// real messages. The test's main thread plays the host and calls the continue
// selector, inside which the dialog runs its modal loop; a second thread finds the
// dialog and works it: SendMessage for quick messages (they run on the dialog's
// thread), PostMessage for a button whose handler opens another modal loop (the
// colour picker). The dialog tests run it through RunContinueWithDialog
// (tests/win32/DialogRun.h), which cancels the dialog at the end if it is still
// open, so a failing test cannot hang the run; tools/dialog-screenshot uses the
// same pieces without GoogleTest.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "host/PluginGlobals.h"
#include "testing/ModuleHost.h"

const char kParamsCaption[] = "Patinex Parameters";

// Polls for a visible top-level window with the caption (and class, if given) that
// belongs to the thread; 0 after about 10 seconds.
inline HWND WaitForWindow(DWORD threadId, const char* caption, const char* className = nullptr) {
  for (int i = 0; i < 1000; ++i) {
    HWND found = nullptr;
    HWND w = nullptr;
    while ((w = FindWindowExA(nullptr, w, className, caption)) != nullptr) {
      if (GetWindowThreadProcessId(w, nullptr) == threadId && IsWindowVisible(w)) found = w;
    }
    if (found != nullptr) return found;
    Sleep(10);
  }
  return nullptr;
}

inline std::string ItemText(HWND dialog, int id) {
  char text[256] = {0};
  SendMessageA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

// Replaces the edit's whole text, as selecting all and typing over it does.
inline void SetItemText(HWND dialog, int id, const char* text) {
  SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

// Types characters into the edit at its selection.
inline void TypeInto(HWND dialog, int id, const char* text) {
  for (const char* c = text; *c != '\0'; ++c) {
    SendMessageA(GetDlgItem(dialog, id), WM_CHAR, WPARAM(static_cast<unsigned char>(*c)), 0);
  }
}

inline int SliderPos(HWND dialog, int id) {
  return int(SendMessageA(GetDlgItem(dialog, id), TBM_GETPOS, 0, 0));
}

inline bool WholeTextSelected(HWND dialog, int id) {
  DWORD start = 0, end = 0;
  SendMessageA(GetDlgItem(dialog, id), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
               reinterpret_cast<LPARAM>(&end));
  return start == 0 && end == DWORD(ItemText(dialog, id).size());
}

// The control with the keyboard focus on the dialog's thread.
inline HWND FocusOf(HWND dialog) {
  GUITHREADINFO info;
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
  return info.hwndFocus;
}

// A click on a button, as its parent hears of it. SendMessage for buttons whose
// handling returns at once.
inline void Click(HWND dialog, int id) {
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}
// A click on the control itself (a check box toggles, then tells its parent).
inline void ClickControl(HWND dialog, int id) {
  SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}
inline void PostClick(HWND dialog, int id) {
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Waits until the window is gone (the dialog ended); false after about 5 seconds.
inline bool WaitUntilClosed(HWND window) {
  for (int i = 0; i < 500; ++i) {
    if (!IsWindow(window) || !IsWindowVisible(window)) return true;
    Sleep(10);
  }
  return false;
}

// A host with an owner window and callbacks, as a host hands them to the plug-in.
struct DialogHost : ModuleHost {
  PlatformData platform = {0};
  HWND window = nullptr;
  TestImage in;
  TestImage out;

  static void PATINEX_CDECL Progress(int32_t, int32_t) {}
  static uint8_t PATINEX_CDECL NoAbort() { return 0; }

  DialogHost(int32_t width, int32_t height, int32_t planes)
      : in(width, height, planes, 0), out(width, height, planes, 0) {
    window = CreateWindowExA(0, "STATIC", "Patinex test host", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                             0, 0, 900, 700, nullptr, nullptr, nullptr, nullptr);
    platform.hwnd = reinterpret_cast<intptr_t>(window);
    record->platformData = &platform;
    record->progressProc = Progress;
    record->abortProc = NoAbort;
    SetImages(in, out);
  }
  ~DialogHost() {
    if (window != nullptr) DestroyWindow(window);
  }
  PluginGlobals* Globals() {
    return static_cast<PluginGlobals*>(HandleData(reinterpret_cast<MemHandle>(data)));
  }
};

// A window's pixels as the screen shows them: GetWindowDC + BitBlt into a 32-bit
// top-down DIB section (PrintWindow gives a blank image under Wine).
struct WindowCapture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;  // 0x00RRGGBB
  uint32_t At(int32_t x, int32_t y) const { return pixels[size_t(y) * width + x]; }
};

inline WindowCapture CaptureWindow(HWND window) {
  WindowCapture capture;
  RECT r;
  GetWindowRect(window, &r);
  capture.width = r.right - r.left;
  capture.height = r.bottom - r.top;
  HDC windowDc = GetWindowDC(window);
  HDC memory = CreateCompatibleDC(windowDc);
  BITMAPINFO info;
  ZeroMemory(&info, sizeof info);
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = capture.width;
  info.bmiHeader.biHeight = -capture.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap != nullptr && bits != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, capture.width, capture.height, windowDc, 0, 0, SRCCOPY);
    GdiFlush();
    const uint32_t* p = static_cast<const uint32_t*>(bits);
    capture.pixels.assign(p, p + size_t(capture.width) * capture.height);
    for (uint32_t& px : capture.pixels) px &= 0x00FFFFFF;
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(window, windowDc);
  return capture;
}

// Has the dialog repainted (on its own thread) so that a capture sees its latest
// state: once the update region is empty the paint has begun, and a message sent
// afterwards is handled only when the paint handler has returned.
// The repaint itself runs on the dialog's own thread, from a hook on a message
// sent to it: under 64-bit Wine a RedrawWindow from this thread now and then
// erased the dialog without the WM_PAINT that should follow.
const WPARAM kRepaintRequest = 0x52504E54;  // "RPNT" in a WM_NULL
inline LRESULT CALLBACK RepaintOnOwnThread(int code, WPARAM wParam, LPARAM lParam) {
  const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && sent->message == WM_NULL && sent->wParam == kRepaintRequest) {
    RedrawWindow(sent->hwnd, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

inline void RepaintNow(HWND dialog) {
  HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, RepaintOnOwnThread, nullptr,
                                 GetWindowThreadProcessId(dialog, nullptr));
  SendMessageA(dialog, WM_NULL, kRepaintRequest, 0);
  if (hook != nullptr) UnhookWindowsHookEx(hook);
  for (int i = 0; i < 500 && GetUpdateRect(dialog, nullptr, FALSE); ++i) Sleep(5);
  SendMessageA(dialog, WM_NULL, 0, 0);
  for (int i = 0; i < 100; ++i) {
    bool pending = false;
    for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
      if (IsWindowVisible(c) && GetUpdateRect(c, nullptr, FALSE)) pending = true;
    }
    if (!pending) break;
    Sleep(5);
  }
  SendMessageA(dialog, WM_NULL, 0, 0);
}

// A control's client rectangle in the dialog window's own coordinates (those of
// GetWindowDC), which a capture uses.
inline RECT ControlRectInWindow(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  RECT rect;
  GetClientRect(control, &rect);
  MapWindowPoints(control, HWND_DESKTOP, reinterpret_cast<POINT*>(&rect), 2);
  RECT window;
  GetWindowRect(dialog, &window);
  OffsetRect(&rect, -window.left, -window.top);
  return rect;
}
