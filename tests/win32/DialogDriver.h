// Drives the module's parameters dialog as a user would, with real controls and
// real messages. The test's main thread plays the host and calls the continue
// selector, inside which the dialog runs its modal loop; a second thread finds the
// dialog and works it: SendMessage for quick messages (they run on the dialog's
// thread), PostMessage for a button whose handler opens another modal loop (the
// colour picker). Whatever the script does, the dialog is cancelled at the end if
// it is still open, so a failing test cannot hang the run.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "host/PluginGlobals.h"
#include "tests/win32/ModuleHost.h"

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

// The host's side of one filter run with the dialog: the parameters selector
// (which asks for the dialog) has been called by the test; this calls prepare,
// start and continue, running `script` on a second thread against the dialog
// while continue waits in it. Returns the continue selector's result.
inline int16_t RunContinueWithDialog(ModuleHost& host,
                                     const std::function<void(HWND dialog)>& script) {
  EXPECT_EQ(0, host.Call(filterSelectorPrepare));
  EXPECT_EQ(0, host.Call(filterSelectorStart));
  const DWORD hostThread = GetCurrentThreadId();
  bool sawDialog = false;
  std::thread driver([&] {
    HWND dialog = WaitForWindow(hostThread, kParamsCaption);
    if (dialog == nullptr) return;  // continue returned without a dialog
    sawDialog = true;
    script(dialog);
    if (IsWindow(dialog) && IsWindowVisible(dialog)) PostClick(dialog, IDCANCEL);
  });
  const int16_t result = host.Call(filterSelectorContinue);
  driver.join();
  EXPECT_TRUE(sawDialog) << "the dialog never showed";
  return result;
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
