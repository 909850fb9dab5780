// The about selector opens the about box over the host window, placed by the
// placement rule; only OK ends it. The box is modal, so a second thread finds it,
// looks at it and presses its buttons while the selector call waits.
#include <windows.h>

#include <gtest/gtest.h>

#include "testing/ModuleHost.h"
#include "ui/Placement.h"

namespace {

struct Observed {
  HWND box = nullptr;
  HWND owner = nullptr;
  RECT window = {};
  LONG style = 0;
  PlacementPoint expected = {};
  bool visibleAfterCancel = false;
  int bitmapWidth = 0, bitmapHeight = 0;
  HGDIOBJ picture = nullptr;
};

HWND FindAboutBox() {
  for (int i = 0; i < 500; ++i) {  // up to five seconds
    HWND box = FindWindowA("#32770", "About Patinex");
    if (box != nullptr && IsWindowVisible(box)) return box;
    Sleep(10);
  }
  return nullptr;
}

DWORD WINAPI DriveAboutBox(LPVOID param) {
  Observed& o = *static_cast<Observed*>(param);
  o.box = FindAboutBox();
  if (o.box == nullptr) return 1;
  o.owner = GetWindow(o.box, GW_OWNER);
  GetWindowRect(o.box, &o.window);
  o.style = GetWindowLongA(o.box, GWL_STYLE);

  // Where the rule puts it, from rectangles and metrics gathered here.
  HWND reference = o.owner != nullptr ? o.owner : GetDesktopWindow();
  RECT client;
  GetClientRect(reference, &client);
  MapWindowPoints(reference, nullptr, reinterpret_cast<POINT*>(&client), 2);
  PlacementInput in;
  in.reference = PlacementRect{client.left, client.top, client.right, client.bottom};
  in.dialog = PlacementRect{o.window.left, o.window.top, o.window.right, o.window.bottom};
  in.dialogHasSysMenu = (o.style & WS_SYSMENU) != 0;
  in.captionButtonWidth = GetSystemMetrics(SM_CXSIZE);
  in.screenWidth = GetSystemMetrics(SM_CXSCREEN);
  in.screenHeight = GetSystemMetrics(SM_CYSCREEN);
  o.expected = PlaceDialog(in);

  HBITMAP picture = reinterpret_cast<HBITMAP>(
      SendDlgItemMessageA(o.box, 100, STM_GETIMAGE, IMAGE_BITMAP, 0));
  BITMAP info;
  o.picture = picture;
  if (picture != nullptr && GetObjectA(picture, sizeof info, &info) == sizeof info) {
    o.bitmapWidth = info.bmWidth;
    o.bitmapHeight = info.bmHeight;
  }

  // Escape arrives as IDCANCEL: the box must stay.
  SendMessageA(o.box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  o.visibleAfterCancel = IsWindowVisible(o.box) != FALSE;
  PostMessageA(o.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  return 0;
}

LRESULT CALLBACK HostWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  return DefWindowProcA(w, m, wp, lp);
}

HWND MakeHostWindow() {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = HostWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "PatinexTestHost";
  RegisterClassA(&wc);
  HWND host = CreateWindowExA(0, "PatinexTestHost", "Host", WS_OVERLAPPEDWINDOW, 40, 30, 760,
                              620, nullptr, nullptr, wc.hInstance, nullptr);
  ShowWindow(host, SW_SHOWNORMAL);
  return host;
}

TEST(ModuleAboutBox, FirstCallShowsThePlacedBoxThatOnlyOkCloses) {
  HWND hostWindow = MakeHostWindow();
  ASSERT_NE(hostWindow, nullptr);
  PlatformData platform = {reinterpret_cast<intptr_t>(hostWindow)};
  AboutRecord about = {&platform};

  Observed o;
  HANDLE driver = CreateThread(nullptr, 0, DriveAboutBox, &o, 0, nullptr);
  ASSERT_NE(driver, nullptr);
  EntryPointProc entry = PatinexEntry();
  ASSERT_NE(entry, nullptr);
  intptr_t data = 0;
  int16_t result = 0x5A5A;
  entry(filterSelectorAbout, &about, &data, &result);  // returns when the box is closed
  WaitForSingleObject(driver, 10000);
  CloseHandle(driver);

  EXPECT_EQ(result, 0);
  ASSERT_NE(o.box, nullptr) << "the about box did not appear";
  EXPECT_FALSE(IsWindow(o.box));
  EXPECT_EQ(o.owner, hostWindow);
  EXPECT_EQ(o.style & WS_SYSMENU, 0);
  EXPECT_TRUE(o.visibleAfterCancel);
  EXPECT_EQ(o.window.left, o.expected.x);
  EXPECT_EQ(o.window.top, o.expected.y);
  EXPECT_EQ(o.bitmapWidth, 463);
  EXPECT_EQ(o.bitmapHeight, 364);

  // The first call made the plug-in's globals; the next call finds them in data.
  ASSERT_NE(data, 0);
  const intptr_t kept = data;
  ModuleHost host;
  host.data = data;
  EXPECT_EQ(0, host.Call(filterSelectorParameters));
  EXPECT_EQ(host.data, kept);
  DestroyWindow(hostWindow);
}

// Runs the about selector with the given record and drives the box it opens.
Observed ShowAbout(AboutRecord* about) {
  Observed o;
  HANDLE driver = CreateThread(nullptr, 0, DriveAboutBox, &o, 0, nullptr);
  if (driver == nullptr) return o;
  intptr_t data = 0;
  int16_t result = 0x5A5A;
  PatinexEntry()(filterSelectorAbout, about, &data, &result);
  WaitForSingleObject(driver, 10000);
  CloseHandle(driver);
  EXPECT_EQ(result, 0);
  return o;
}

// A host whose about record names no window still gets the box, placed over the
// desktop, instead of a crash.
TEST(ModuleAboutBox, NoHostWindowPlacesTheBoxOverTheDesktop) {
  PlatformData noWindow = {0};
  AboutRecord withoutWindow = {&noWindow};
  AboutRecord withoutPlatform = {nullptr};
  for (AboutRecord* about : {&withoutWindow, &withoutPlatform}) {
    const Observed o = ShowAbout(about);
    ASSERT_NE(o.box, nullptr) << "the about box did not appear";
    EXPECT_EQ(o.owner, nullptr);
    EXPECT_EQ(o.window.left, o.expected.x);
    EXPECT_EQ(o.window.top, o.expected.y);
  }
}

// Under Wine a picture control keeps the bitmap its template loaded after the box
// is destroyed (660 KB each time); the box deletes it when it closes.
TEST(ModuleAboutBox, PictureIsDeletedWhenTheBoxCloses) {
  HWND hostWindow = MakeHostWindow();
  PlatformData platform = {reinterpret_cast<intptr_t>(hostWindow)};
  AboutRecord about = {&platform};
  for (int round = 0; round < 20; ++round) {
    const Observed o = ShowAbout(&about);
    ASSERT_NE(o.picture, nullptr) << "round " << round;
    EXPECT_EQ(GetObjectType(o.picture), 0u) << "round " << round;
  }
  DestroyWindow(hostWindow);
}

}  // namespace
