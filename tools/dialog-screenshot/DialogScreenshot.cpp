// Opens the parameters dialog of PATINEX.8bf over a photograph, as a host does
// (parameters, prepare, start, continue), captures the whole dialog window from
// the screen (GetWindowDC + BitBlt) once its preview shows the full render, cancels
// it and writes the capture as a PNG: dialog-screenshot PATINEX.8bf photo.png out.png
// With two more names it also clicks the preview's centre, captures the 100 %
// view into the first, presses OK and writes the filtered photograph into the
// second: dialog-screenshot PATINEX.8bf photo.png out.png full-size.png result.png
#include <windows.h>

#include <cstdio>
#include <thread>
#include <vector>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#include "testing/DialogDriver.h"

namespace {

void PATINEX_CDECL NoProgress(int32_t, int32_t) {}
uint8_t PATINEX_CDECL NoAbort() { return 0; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 6) {
    std::fprintf(stderr,
                 "usage: dialog-screenshot PATINEX.8bf photo.png out.png [full-size.png result.png]\n");
    return 2;
  }
  const bool alsoFullSize = argc == 6;
  HMODULE module = LoadLibraryA(argv[1]);
  if (module == nullptr) {
    std::fprintf(stderr, "%s: cannot load\n", argv[1]);
    return 1;
  }
  EntryPointProc entry =
      reinterpret_cast<EntryPointProc>(reinterpret_cast<void*>(GetProcAddress(module, "ENTRYPOINT")));
  int width = 0, height = 0, channels = 0;
  uint8_t* pixels = stbi_load(argv[2], &width, &height, &channels, 3);
  if (entry == nullptr || pixels == nullptr) {
    std::fprintf(stderr, "no ENTRYPOINT, or %s is not a readable PNG\n", argv[2]);
    return 1;
  }
  std::vector<uint8_t> out(size_t(width) * height * 3);

  std::vector<uint8_t> recordBytes(kFilterRecordAllocSize, 0);
  FilterRecord* record = reinterpret_cast<FilterRecord*>(recordBytes.data());
  PlatformData platform = {0};
  record->platformData = &platform;
  record->progressProc = NoProgress;
  record->abortProc = NoAbort;
  record->planes = 3;
  record->filterRect = Rect{0, 0, int16_t(height), int16_t(width)};
  record->inData = pixels;
  record->inRowBytes = width * 3;
  record->outData = out.data();
  record->outRowBytes = width * 3;
  intptr_t data = 0;
  int16_t result = 0;
  for (int16_t selector : {filterSelectorParameters, filterSelectorPrepare, filterSelectorStart}) {
    entry(selector, record, &data, &result);
    if (result != 0) return 1;
  }

  const DWORD hostThread = GetCurrentThreadId();
  WindowCapture shot, fullSize;
  std::thread driver([&] {
    HWND dialog = WaitForWindow(hostThread, kParamsCaption);
    if (dialog == nullptr) return;
    // The preview tells (window property) when it shows the full render (2).
    const auto waitForFullRender = [dialog] {
      for (int i = 0; i < 3000; ++i) {
        RepaintNow(dialog);
        if (reinterpret_cast<intptr_t>(GetPropA(dialog, "Patinex.PreviewShows")) != 1) return;
        Sleep(20);
      }
    };
    waitForFullRender();
    shot = CaptureWindow(dialog);
    if (!alsoFullSize) {
      PostClick(dialog, IDCANCEL);
      return;
    }
    HWND frame = GetDlgItem(dialog, 201);
    RECT r;
    GetClientRect(frame, &r);
    MapWindowPoints(frame, dialog, reinterpret_cast<POINT*>(&r), 2);
    const LPARAM centre = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageA(dialog, WM_LBUTTONDOWN, MK_LBUTTON, centre);
    SendMessageA(dialog, WM_LBUTTONUP, 0, centre);
    waitForFullRender();
    fullSize = CaptureWindow(dialog);
    PostClick(dialog, IDOK);
  });
  int16_t continued = 0;
  entry(filterSelectorContinue, record, &data, &continued);
  driver.join();
  entry(filterSelectorFinish, record, &data, &result);
  if (shot.pixels.empty() || (alsoFullSize && fullSize.pixels.empty())) {
    std::fprintf(stderr, "the dialog did not show, or could not be captured\n");
    return 1;
  }
  const auto write = [](const char* name, const WindowCapture& capture) {
    std::vector<uint8_t> rgb(size_t(capture.width) * capture.height * 3);
    for (size_t i = 0; i < capture.pixels.size(); ++i) {
      rgb[i * 3 + 0] = uint8_t(capture.pixels[i] >> 16);
      rgb[i * 3 + 1] = uint8_t(capture.pixels[i] >> 8);
      rgb[i * 3 + 2] = uint8_t(capture.pixels[i]);
    }
    if (!stbi_write_png(name, capture.width, capture.height, 3, rgb.data(), capture.width * 3)) {
      std::fprintf(stderr, "%s: cannot write\n", name);
      return false;
    }
    std::printf("%s: %d x %d\n", name, capture.width, capture.height);
    return true;
  };
  if (!write(argv[3], shot)) return 1;
  if (!alsoFullSize) return 0;
  if (!write(argv[4], fullSize)) return 1;
  if (continued != 0 || !stbi_write_png(argv[5], width, height, 3, out.data(), width * 3)) {
    std::fprintf(stderr, "the filter failed (%d), or %s cannot be written\n", continued, argv[5]);
    return 1;
  }
  std::printf("%s: %d x %d\n", argv[5], width, height);
  return 0;
}
