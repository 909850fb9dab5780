// The preview without memory: the module's own calls of GlobalAlloc are routed
// through its import table to a stand-in that refuses one of them. The dialog then
// shows the out-of-memory box (strings 201 and 2), ends as cancelled, and the
// buffer it did obtain is released as soon as the dialog has closed.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "testing/DialogDriver.h"
#include "tests/win32/DialogRun.h"

namespace {

typedef HGLOBAL(WINAPI* GlobalAllocProc)(UINT, SIZE_T);
typedef HGLOBAL(WINAPI* GlobalFreeProc)(HGLOBAL);
GlobalAllocProc gRealAlloc = nullptr;
GlobalFreeProc gRealFree = nullptr;
bool gArmed = false;
int gCalls = 0;
int gFailCall = 0;  // the armed call (1-based) that fails
std::vector<HGLOBAL> gObtained;
std::vector<HGLOBAL> gFreed;

HGLOBAL WINAPI RefusingGlobalAlloc(UINT flags, SIZE_T size) {
  if (gArmed && ++gCalls == gFailCall) return nullptr;
  HGLOBAL h = gRealAlloc(flags, size);
  if (gArmed) gObtained.push_back(h);
  return h;
}
HGLOBAL WINAPI TrackingGlobalFree(HGLOBAL h) {
  if (gArmed) gFreed.push_back(h);
  return gRealFree(h);
}

// Swaps the module's import of dll!function; returns the previous address.
void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement) {
  uint8_t* base = reinterpret_cast<uint8_t*>(module);
  const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (const IMAGE_IMPORT_DESCRIPTOR* imp =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       imp->Name != 0; ++imp) {
    if (_stricmp(reinterpret_cast<const char*>(base + imp->Name), dll) != 0) continue;
    const IMAGE_THUNK_DATA* names =
        reinterpret_cast<const IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
    IMAGE_THUNK_DATA* thunks = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++thunks) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const IMAGE_IMPORT_BY_NAME* byName =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
      DWORD old = 0;
      VirtualProtect(&thunks->u1.Function, sizeof thunks->u1.Function, PAGE_READWRITE, &old);
      void* previous = reinterpret_cast<void*>(thunks->u1.Function);
      thunks->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&thunks->u1.Function, sizeof thunks->u1.Function, old, &old);
      return previous;
    }
  }
  return nullptr;
}

std::vector<std::string> ChildTexts(HWND window) {
  std::vector<std::string> texts;
  for (HWND c = GetWindow(window, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    char text[512] = {0};
    SendMessageA(c, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    texts.push_back(text);
  }
  return texts;
}

struct Outcome {
  int16_t result = 0;
  bool sawBox = false;
  bool boxHasText = false;
  bool sawDialog = false;
};

// One run from the menu in which the failCall-th allocation of the continue call fails.
Outcome RunWithoutMemory(DialogHost& host, int failCall) {
  Outcome outcome;
  EXPECT_EQ(0, host.Call(filterSelectorParameters));
  EXPECT_EQ(0, host.Call(filterSelectorStart));
  HMODULE module = PatinexModule();
  gRealAlloc = reinterpret_cast<GlobalAllocProc>(
      PatchImport(module, "KERNEL32.dll", "GlobalAlloc", reinterpret_cast<void*>(RefusingGlobalAlloc)));
  gRealFree = reinterpret_cast<GlobalFreeProc>(
      PatchImport(module, "KERNEL32.dll", "GlobalFree", reinterpret_cast<void*>(TrackingGlobalFree)));
  EXPECT_NE(gRealAlloc, nullptr);
  EXPECT_NE(gRealFree, nullptr);
  if (gRealAlloc == nullptr || gRealFree == nullptr) return outcome;
  gCalls = 0;
  gFailCall = failCall;
  gObtained.clear();
  gFreed.clear();

  const DWORD hostThread = GetCurrentThreadId();
  std::thread driver([&] {
    HWND box = WaitForWindow(hostThread, "Patinex Filter");
    if (box == nullptr) return;
    outcome.sawBox = true;
    for (const std::string& t : ChildTexts(box)) {
      if (t == "There is not enough memory to run this filter.") outcome.boxHasText = true;
    }
    // The parameters dialog is not on screen meanwhile.
    outcome.sawDialog = FindWindowA(nullptr, kParamsCaption) != nullptr &&
                        IsWindowVisible(FindWindowA(nullptr, kParamsCaption));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  });
  gArmed = true;
  outcome.result = host.Call(filterSelectorContinue);
  gArmed = false;
  driver.join();
  PatchImport(module, "KERNEL32.dll", "GlobalAlloc", reinterpret_cast<void*>(gRealAlloc));
  PatchImport(module, "KERNEL32.dll", "GlobalFree", reinterpret_cast<void*>(gRealFree));
  return outcome;
}

}  // namespace

TEST(DialogNoMemory, NoSourceBufferEndsTheRunAsCancelledAfterTheBox) {
  DialogHost host(50, 40, 3);
  const Outcome o = RunWithoutMemory(host, 1);
  EXPECT_TRUE(o.sawBox);
  EXPECT_TRUE(o.boxHasText);
  EXPECT_FALSE(o.sawDialog);
  EXPECT_EQ(o.result, 1);
  EXPECT_EQ(host.Params()->value[kShowDialog], 1.0);
  EXPECT_EQ(host.Globals()->frameCounter, 0);
  EXPECT_EQ(host.record->outRect.right, 50);  // left as start set it
  EXPECT_EQ(host.Globals()->previewSource, nullptr);
  EXPECT_EQ(host.Globals()->previewOutput, nullptr);
  EXPECT_EQ(0, host.Call(filterSelectorFinish));
}

TEST(DialogNoMemory, TheBufferObtainedIsReleasedWhenTheDialogCloses) {
  DialogHost host(50, 40, 4);
  const Outcome o = RunWithoutMemory(host, 2);  // the source buffer, then none for the output
  EXPECT_TRUE(o.sawBox);
  EXPECT_TRUE(o.boxHasText);
  EXPECT_EQ(o.result, 1);
  ASSERT_EQ(gObtained.size(), 1u);
  ASSERT_EQ(gFreed.size(), 1u);
  EXPECT_EQ(gFreed[0], gObtained[0]);
  EXPECT_EQ(host.Globals()->previewSource, nullptr);
  EXPECT_EQ(host.Globals()->previewOutput, nullptr);
  // A finish afterwards has nothing left to release.
  EXPECT_EQ(0, host.Call(filterSelectorFinish));

  // With memory again, the next repeat shows the dialog.
  const int16_t result = RunContinueWithDialog(host, [](HWND d) { Click(d, IDOK); });
  EXPECT_EQ(result, 0);
}

// No memory for the full render (the third block of the dialog, after the two of
// the reduced copy): the dialog still opens, its preview is the reduced copy's
// render with a note drawn over it, a click does not switch to 100 %, and OK
// filters as ever.
TEST(DialogNoMemory, WithoutMemoryForTheFullRenderThePreviewIsTheReducedCopySaidSo) {
  DialogHost host(300, 200, 3);
  ASSERT_EQ(0, host.Call(filterSelectorParameters));
  HMODULE module = PatinexModule();
  gRealAlloc = reinterpret_cast<GlobalAllocProc>(
      PatchImport(module, "KERNEL32.dll", "GlobalAlloc", reinterpret_cast<void*>(RefusingGlobalAlloc)));
  gRealFree = reinterpret_cast<GlobalFreeProc>(
      PatchImport(module, "KERNEL32.dll", "GlobalFree", reinterpret_cast<void*>(TrackingGlobalFree)));
  ASSERT_NE(gRealAlloc, nullptr);
  ASSERT_NE(gRealFree, nullptr);
  gCalls = 0;
  gFailCall = 3;
  gObtained.clear();
  gFreed.clear();
  intptr_t shows = 0, showsAfterClick = 0;
  int whiteInFrame = 0;
  gArmed = true;
  const int16_t result = RunContinueWithDialog(host, [&](HWND d) {
    RepaintNow(d);
    shows = reinterpret_cast<intptr_t>(GetPropA(d, "Patinex.PreviewShows"));
    // The note's white band: the picture itself (black in, tinted out) has no white.
    const WindowCapture shot = CaptureWindow(d);
    const RECT frame = ControlRectInWindow(d, 201);
    for (int32_t y = frame.top; y < frame.bottom; ++y) {
      for (int32_t x = frame.left; x < frame.right; ++x) whiteInFrame += shot.At(x, y) == 0xFFFFFFu;
    }
    RECT client;
    GetClientRect(GetDlgItem(d, 201), &client);
    MapWindowPoints(GetDlgItem(d, 201), d, reinterpret_cast<POINT*>(&client), 2);
    const LPARAM centre = MAKELPARAM((client.left + client.right) / 2, (client.top + client.bottom) / 2);
    SendMessageA(d, WM_LBUTTONDOWN, MK_LBUTTON, centre);
    RepaintNow(d);
    showsAfterClick = reinterpret_cast<intptr_t>(GetPropA(d, "Patinex.PreviewShows"));
    Click(d, IDOK);
  });
  gArmed = false;
  PatchImport(module, "KERNEL32.dll", "GlobalAlloc", reinterpret_cast<void*>(gRealAlloc));
  PatchImport(module, "KERNEL32.dll", "GlobalFree", reinterpret_cast<void*>(gRealFree));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(shows, 3);
  EXPECT_EQ(showsAfterClick, 3);
  EXPECT_GT(whiteInFrame, 100);
  EXPECT_EQ(host.Globals()->frameCounter, 1);
}
