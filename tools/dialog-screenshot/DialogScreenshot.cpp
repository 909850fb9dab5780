// Opens the parameters dialog of PATINEX.8bf over a photograph, as a host does
// (parameters, prepare, start, continue), captures the whole dialog window from
// the screen (GetWindowDC + BitBlt) once it has painted, cancels it and writes the
// capture as a PNG: dialog-screenshot PATINEX.8bf photo.png out.png
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
  if (argc != 4) {
    std::fprintf(stderr, "usage: dialog-screenshot PATINEX.8bf photo.png out.png\n");
    return 2;
  }
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
  WindowCapture shot;
  std::thread driver([&] {
    HWND dialog = WaitForWindow(hostThread, kParamsCaption);
    if (dialog == nullptr) return;
    RepaintNow(dialog);
    Sleep(200);
    RepaintNow(dialog);
    shot = CaptureWindow(dialog);
    PostClick(dialog, IDCANCEL);
  });
  entry(filterSelectorContinue, record, &data, &result);
  driver.join();
  entry(filterSelectorFinish, record, &data, &result);
  if (shot.pixels.empty()) {
    std::fprintf(stderr, "the dialog did not show, or could not be captured\n");
    return 1;
  }
  std::vector<uint8_t> rgb(size_t(shot.width) * shot.height * 3);
  for (size_t i = 0; i < shot.pixels.size(); ++i) {
    rgb[i * 3 + 0] = uint8_t(shot.pixels[i] >> 16);
    rgb[i * 3 + 1] = uint8_t(shot.pixels[i] >> 8);
    rgb[i * 3 + 2] = uint8_t(shot.pixels[i]);
  }
  if (!stbi_write_png(argv[3], shot.width, shot.height, 3, rgb.data(), shot.width * 3)) {
    std::fprintf(stderr, "%s: cannot write\n", argv[3]);
    return 1;
  }
  std::printf("%s: %d x %d\n", argv[3], shot.width, shot.height);
  return 0;
}
