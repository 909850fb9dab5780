// The host's side of a filter run with the dialog, for the dialog tests: the
// driver of testing/DialogDriver.h with the run's checks.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "testing/DialogDriver.h"

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
