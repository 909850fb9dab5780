#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "host/FilterRecord.h"
#include "host/MemHandle.h"
#include "host/ModuleWin32.h"
#include "host/ParamTable.h"
#include "render/PixelBlock.h"
#include "render/Random.h"
#include "render/RenderJob.h"
#include "render/ScratchCache.h"
#include "resources/ResourceIds.h"
#include "ui/Preview.h"
#include "ui/PreviewGeometry.h"
#include "ui/PreviewReduction.h"
#include "ui/ValueControls.h"

namespace {

// What a render of the preview is made from: the record as the dialog holds it,
// with the frame OK will render, and the Scale.
struct PreviewRequest {
  EffectParams params;
  double scale;
};

bool SameRequest(const PreviewRequest& a, const PreviewRequest& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// A change that comes less than this after the one before it is part of a burst
// (a slider dragged, a number typed): the full render waits until the burst has
// paused this long. A lone change starts it at once.
const std::chrono::milliseconds kBurstPause(150);

// The full render of the dialog's picture on a worker thread, reduced to the
// preview's size when it is done. The newest request wins: a request made while
// a render runs stops that render through the renderer's abort test.
struct FullPreview {
  bool available = false;  // the buffers are there: otherwise the reduced copy is the answer
  RenderJob job;           // the host's picture into `full`; params point at `rendered`
  PreviewRequest rendered;  // the request the worker renders (the worker's own copy)
  uint32_t seed = 0;
  uint8_t* full = nullptr;  // the full render, the host's layout and depth
  uint8_t* exact = nullptr;     // its reduction, previewRowBytes x proxy height
  uint8_t* reducing = nullptr;  // the worker's reduction in the making, swapped with exact
  uint8_t* crop = nullptr;      // the 100 % view, cropRowBytes x cropHeight
  int32_t cropWidth = 0;
  int32_t cropHeight = 0;
  int32_t cropRowBytes = 0;
  int32_t proxyWidth = 0;
  int32_t proxyHeight = 0;
  int32_t proxyRowBytes = 0;
  ScratchCache* scratchCache = nullptr;
  HWND dialog = nullptr;

  std::mutex mutex;
  std::condition_variable wake;
  PreviewRequest wanted;
  uint32_t wantedGeneration = 0;  // 0: nothing asked yet
  uint32_t takenGeneration = 0;
  uint32_t doneGeneration = 0;
  std::chrono::steady_clock::time_point wantedAt;
  std::chrono::steady_clock::time_point previousAt;
  bool quit = false;
  std::thread worker;
  std::atomic<uint32_t> latest{0};  // wantedGeneration, for the abort test
  std::atomic<bool> stopping{false};
  std::atomic<int32_t> started{0};  // full renders begun in this dialog
};

FullPreview gFull;
uint32_t gRenderingGeneration = 0;  // the worker's render; read by its abort test only

// The quick render of the reduced copy on the dialog's thread: its job (params
// point at gQuickRequest.params) and what it was last rendered from.
RenderJob gPreviewJob;
PreviewRequest gQuickRequest;
bool gQuickDone = false;

// The 100 % view: shown instead of the whole picture, from this picture pixel.
bool gFullSize = false;
int32_t gCropLeft = 0;
int32_t gCropTop = 0;

const char kShowsProperty[] = "Patinex.PreviewShows";
const char kStartedProperty[] = "Patinex.FullRenders";

// The renderer's stop test for the worker: a newer request, or the dialog closing.
uint8_t PATINEX_CDECL FullRenderStopped() {
  return gFull.stopping.load() || gFull.latest.load() != gRenderingGeneration ? 1 : 0;
}

void RunWorker() {
  Rng rng = {0};
  for (;;) {
    std::unique_lock<std::mutex> lock(gFull.mutex);
    gFull.wake.wait(lock, [] { return gFull.quit || gFull.wantedGeneration != gFull.takenGeneration; });
    while (!gFull.quit && gFull.wantedAt - gFull.previousAt < kBurstPause) {
      const auto quietFrom = gFull.wantedAt + kBurstPause;
      if (std::chrono::steady_clock::now() >= quietFrom) break;
      gFull.wake.wait_until(lock, quietFrom);
    }
    if (gFull.quit) return;
    const uint32_t generation = gFull.wantedGeneration;
    gFull.takenGeneration = generation;
    gFull.rendered = gFull.wanted;
    lock.unlock();

    gRenderingGeneration = generation;
    gFull.started.fetch_add(1);
    RenderJob job = gFull.job;
    job.scale = gFull.rendered.scale;
    RenderContext context = {&rng, gFull.scratchCache, 0};
    if (RenderEffectSeeded(&job, gFull.seed, &context) == 0) continue;  // a newer request won
    PictureView picture = {gFull.full, job.dstRowBytes, RectWidth(job.dstRect),
                           RectHeight(job.dstRect), job.dstHasAlpha != 0, job.sixteenBits != 0};
    if (!ReducePicture(picture, gFull.reducing, gFull.proxyRowBytes, gFull.proxyWidth,
                       gFull.proxyHeight)) {
      continue;  // no memory for the sums: the quick view stays, marked
    }
    lock.lock();
    if (gFull.wantedGeneration == generation) {
      uint8_t* done = gFull.reducing;
      gFull.reducing = gFull.exact;
      gFull.exact = done;
      gFull.doneGeneration = generation;
    }
    lock.unlock();
    PostMessageA(gFull.dialog, kPreviewReadyMessage, 0, 0);
  }
}

void FreeFullBuffers() {
  FreeMemBlock(gFull.full);
  FreeMemBlock(gFull.exact);
  FreeMemBlock(gFull.reducing);
  FreeMemBlock(gFull.crop);
  gFull.full = gFull.exact = gFull.reducing = gFull.crop = nullptr;
  DeleteScratchCache(gFull.scratchCache);
  gFull.scratchCache = nullptr;
  gFull.available = false;
}

// The buffers of the full render and the worker. Without the memory (a 32-bit
// host on a very large picture) the preview keeps to the reduced copy.
void SetUpFullPreview(HWND dialog, const FilterRecord& record, const PluginGlobals& globals,
                      uint32_t seed) {
  const RECT frame = ControlRectInDialog(dialog, kPreviewFrameId);
  const int32_t width = RectWidth(record.filterRect);
  const int32_t height = RectHeight(record.filterRect);
  const bool alpha = record.planes == 4;
  const bool sixteenBits = HasSixteenBitSamples(record);
  const int64_t rowBytes = int64_t(width) * (alpha ? 4 : 3) * (sixteenBits ? 2 : 1);
  const int64_t size = rowBytes * height;
  gFull.proxyWidth = RectWidth(globals.previewRect);
  gFull.proxyHeight = RectHeight(globals.previewRect);
  gFull.proxyRowBytes = globals.previewRowBytes;
  int32_t innerWidth = (frame.right - frame.left) - 2 * kPreviewInset;
  int32_t innerHeight = (frame.bottom - frame.top) - 2 * kPreviewInset;
  gFull.cropWidth = innerWidth < width ? innerWidth : width;
  gFull.cropHeight = innerHeight < height ? innerHeight : height;
  gFull.cropRowBytes = PreviewRowBytes(gFull.cropWidth);
  const int64_t proxySize = int64_t(gFull.proxyRowBytes) * gFull.proxyHeight;
  if (width <= 0 || height <= 0 || gFull.proxyWidth <= 0 || gFull.proxyHeight <= 0 ||
      gFull.cropWidth <= 0 || gFull.cropHeight <= 0 || size > INT32_MAX) {
    return;
  }
  gFull.full = static_cast<uint8_t*>(NewMemBlock(int32_t(size)));
  gFull.exact = static_cast<uint8_t*>(NewMemBlock(int32_t(proxySize)));
  gFull.reducing = static_cast<uint8_t*>(NewMemBlock(int32_t(proxySize)));
  gFull.crop = static_cast<uint8_t*>(NewMemBlock(gFull.cropRowBytes * gFull.cropHeight));
  if (gFull.full == nullptr || gFull.exact == nullptr || gFull.reducing == nullptr ||
      gFull.crop == nullptr) {
    FreeFullBuffers();
    return;
  }
  gFull.scratchCache = NewScratchCache();  // none is fine: scratches are replayed in full
  gFull.job = MakeRenderJob(&gFull.rendered.params, record.filterRect, alpha,
                            static_cast<const uint8_t*>(record.inData), record.inRowBytes,
                            gFull.full, int32_t(rowBytes), nullptr, FullRenderStopped);
  gFull.job.sixteenBits = sixteenBits ? 1 : 0;
  gFull.seed = seed;
  gFull.dialog = dialog;
  gFull.wantedGeneration = gFull.takenGeneration = gFull.doneGeneration = 0;
  gFull.latest = 0;
  gFull.quit = false;
  gFull.stopping = false;
  gFull.started = 0;
  gFull.available = true;
  gFull.worker = std::thread(RunWorker);
}

// The request for the record as it stands: the frame OK will render is the next.
PreviewRequest CurrentRequest(const PluginGlobals* globals) {
  const FilterRecord* record = static_cast<const FilterRecord*>(globals->hostRecord);
  const double* values = static_cast<const double*>(HandleData(record->parameters));
  PreviewRequest request;
  std::memset(&request, 0, sizeof request);
  std::memcpy(request.params.value, values, sizeof request.params.value);
  request.params.value[kFrameNumber] = double(int64_t(globals->frameCounter) + 1);
  request.scale = RecordScale(values, kModuleParamCount);
  return request;
}

// Hands the worker the newest request; true when it is new.
bool AskForFullRender(const PreviewRequest& request) {
  std::lock_guard<std::mutex> lock(gFull.mutex);
  if (gFull.wantedGeneration != 0 && SameRequest(request, gFull.wanted)) return false;
  gFull.wanted = request;
  gFull.wantedGeneration += 1;
  gFull.previousAt = gFull.wantedAt;
  gFull.wantedAt = std::chrono::steady_clock::now();
  if (gFull.wantedGeneration == 1) gFull.previousAt = gFull.wantedAt - 2 * kBurstPause;
  gFull.latest = gFull.wantedGeneration;
  gFull.wake.notify_one();
  return true;
}

bool FullRenderReady() {
  std::lock_guard<std::mutex> lock(gFull.mutex);
  return gFull.wantedGeneration != 0 && gFull.doneGeneration == gFull.wantedGeneration;
}

// Draws a picture of 3-byte rows (red, green, blue) at `at` through a DIB section.
// False when the bitmap cannot be made.
bool DrawRgbRows(HDC dc, const uint8_t* rows, int32_t rowBytes, int32_t width, int32_t height,
                 const PreviewPlacement& at) {
  BITMAPINFO info;
  ZeroMemory(&info, sizeof info);
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows, as the buffers run
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr || bits == nullptr) {
    if (bitmap != nullptr) DeleteObject(bitmap);
    return false;
  }
  HDC memory = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(memory, bitmap);
  // The DIB's 24-bit rows are padded to 4 bytes, as the preview's rows are.
  CopyPixelBlockToDib(rows, rowBytes, false, static_cast<uint8_t*>(bits), PreviewRowBytes(width),
                      false, width, height);
  BitBlt(dc, at.left, at.top, width, height, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(bitmap);
  return true;
}

// A note over the bottom of the drawn picture, in the dialog's font, on a white
// band: what the preview shows when it is not yet, or cannot be, the result.
void DrawNote(HWND dialog, HDC dc, const PreviewPlacement& at, const char* text) {
  HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(dialog, WM_GETFONT, 0, 0)));
  RECT box = {at.left + 2, at.top, at.right - 2, at.bottom};
  DrawTextA(dc, text, -1, &box, DT_CALCRECT | DT_WORDBREAK | DT_CENTER);
  const int32_t textHeight = box.bottom - box.top;
  RECT band = {at.left, at.bottom - textHeight - 2, at.right, at.bottom};
  if (band.top < at.top) band.top = at.top;
  FillRect(dc, &band, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  RECT textBox = {band.left + 2, band.top + 1, band.right - 2, band.bottom};
  const int oldMode = SetBkMode(dc, TRANSPARENT);
  const COLORREF oldColor = SetTextColor(dc, RGB(0, 0, 0));
  DrawTextA(dc, text, -1, &textBox, DT_WORDBREAK | DT_CENTER);
  SetTextColor(dc, oldColor);
  SetBkMode(dc, oldMode);
  SelectObject(dc, oldFont);
}

void RenderQuick(const PreviewRequest& request) {
  if (gQuickDone && SameRequest(request, gQuickRequest)) return;
  gQuickRequest = request;
  gQuickDone = true;
  gPreviewJob.params = &gQuickRequest.params;
  gPreviewJob.scale = request.scale;
  // A render stopped by the host's abort callback is drawn as far as it got.
  RenderEffect(&gPreviewJob);
}

}  // namespace

void ShowErrorMessage(int stringId) {
  char text[256] = {0};
  char caption[128] = {0};
  LoadStringA(ModuleInstance(), UINT(stringId), text, sizeof text);
  LoadStringA(ModuleInstance(), IDS_CAPTION, caption, sizeof caption);
  MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONERROR);
}

bool SetUpPreview(HWND dialog, PluginGlobals* globals, uint32_t seed) {
  EndPreview(nullptr);  // a worker left by a dialog that was never destroyed
  const FilterRecord* record = static_cast<const FilterRecord*>(globals->hostRecord);
  const RECT frame = ControlRectInDialog(dialog, kPreviewFrameId);
  const Rect frameRect = {int16_t(frame.top), int16_t(frame.left), int16_t(frame.bottom),
                          int16_t(frame.right)};
  const int32_t srcWidth = RectWidth(record->filterRect);
  const int32_t srcHeight = RectHeight(record->filterRect);
  globals->previewRect = PreviewProxyRect(frameRect, srcWidth, srcHeight);
  const int32_t width = RectWidth(globals->previewRect);
  const int32_t height = RectHeight(globals->previewRect);
  globals->previewRowBytes = PreviewRowBytes(width);

  // At least one byte, so that an empty proxy (a host's empty image) is not taken
  // for a failed allocation.
  int32_t size = globals->previewRowBytes * height;
  if (size < 1) size = 1;
  globals->previewSource = static_cast<uint8_t*>(NewMemBlock(size));
  globals->previewOutput = static_cast<uint8_t*>(NewMemBlock(size));
  if (globals->previewSource == nullptr || globals->previewOutput == nullptr) {
    ShowErrorMessage(IDS_NO_MEMORY);
    EndDialog(dialog, IDCANCEL);
    return false;
  }

  // The reduced copy for the quick render: nearest pixel, no filtering; a
  // 4-channel source gives up its alpha. A 16-bit document is reduced to bytes:
  // the quick render is the 8-bit render of that.
  if (width > 0 && height > 0 && HasSixteenBitSamples(*record)) {
    ScalePixelBlockReduced(static_cast<const uint8_t*>(record->inData), record->inRowBytes,
                           record->filterRect, record->planes == 4, globals->previewSource,
                           globals->previewRowBytes, globals->previewRect, false);
  } else if (width > 0 && height > 0) {
    ScalePixelBlock(static_cast<const uint8_t*>(record->inData), record->inRowBytes,
                    record->filterRect, record->planes == 4, globals->previewSource,
                    globals->previewRowBytes, globals->previewRect, false);
  }

  gPreviewJob = MakeRenderJob(nullptr, globals->previewRect, false, globals->previewSource,
                              globals->previewRowBytes, globals->previewOutput,
                              globals->previewRowBytes, record->progressProc, record->abortProc);
  gPreviewJob.seeded = 1;
  gPreviewJob.seed = seed;
  gQuickDone = false;
  gFullSize = false;
  SetUpFullPreview(dialog, *record, *globals, seed);
  return true;
}

void DrawPreview(HWND dialog, HDC dc, const PluginGlobals* globals) {
  const int32_t width = RectWidth(globals->previewRect);
  const int32_t height = RectHeight(globals->previewRect);
  if (globals->previewSource == nullptr || globals->previewOutput == nullptr || width <= 0 ||
      height <= 0) {
    return;
  }
  const RECT frame = ControlClientRectInDialog(dialog, kPreviewFrameId);
  const PreviewRequest request = CurrentRequest(globals);

  // What is drawn: the reduced full render once it is done (or its part at 100 %),
  // before that the quick render of the reduced copy, marked; without memory for
  // the full render, the quick render, saying so.
  PreviewShows shows = kPreviewReducedCopy;
  if (gFull.available) {
    AskForFullRender(request);
    shows = FullRenderReady() ? kPreviewExact : kPreviewQuick;
  }
  const bool fullSize = shows == kPreviewExact && gFullSize;
  const int32_t drawWidth = fullSize ? gFull.cropWidth : width;
  const int32_t drawHeight = fullSize ? gFull.cropHeight : height;
  const PreviewPlacement at =
      CentrePreview(frame.left, frame.top, frame.right, frame.bottom, drawWidth, drawHeight);

  const uint8_t* rows = globals->previewOutput;
  int32_t rowBytes = globals->previewRowBytes;
  if (shows != kPreviewExact) {
    RenderQuick(request);
  } else if (fullSize) {
    // The worker is idle while the render is done: `full` holds it.
    const RenderJob& job = gFull.job;
    const int32_t pixelBytes = (job.dstHasAlpha ? 4 : 3) * (job.sixteenBits ? 2 : 1);
    PictureView part = {gFull.full + size_t(gCropTop) * size_t(job.dstRowBytes) +
                            size_t(gCropLeft) * size_t(pixelBytes),
                        job.dstRowBytes, gFull.cropWidth, gFull.cropHeight,
                        job.dstHasAlpha != 0, job.sixteenBits != 0};
    ReducePicture(part, gFull.crop, gFull.cropRowBytes, gFull.cropWidth, gFull.cropHeight);
    rows = gFull.crop;
    rowBytes = gFull.cropRowBytes;
  } else {
    rows = gFull.exact;  // swapped by the worker only when a newer request is done
  }

  // The frame's background first: the two views differ in size.
  FillRect(dc, &frame, GetSysColorBrush(COLOR_3DFACE));
  SetPropA(dialog, kShowsProperty, reinterpret_cast<HANDLE>(intptr_t(shows)));
  SetPropA(dialog, kStartedProperty, reinterpret_cast<HANDLE>(intptr_t(gFull.started.load())));
  if (!DrawRgbRows(dc, rows, rowBytes, drawWidth, drawHeight, at)) {
    return;  // no image and no frame this time; the next repaint tries again
  }
  if (shows == kPreviewQuick) DrawNote(dialog, dc, at, "Rendering...");
  if (shows == kPreviewReducedCopy) {
    DrawNote(dialog, dc, at, "Reduced copy: no memory for the full render");
  }

  RECT line = {at.left, at.top, at.right, at.bottom};
  InflateRect(&line, kPreviewInset, kPreviewInset);
  FrameRect(dc, &line, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}

bool ClickPreview(HWND dialog, const PluginGlobals* globals, int32_t x, int32_t y) {
  const RECT frame = ControlClientRectInDialog(dialog, kPreviewFrameId);
  const POINT point = {x, y};
  if (!PtInRect(&frame, point)) return false;
  if (!gFull.available) return true;  // the reduced copy has no 100 % view
  gFullSize = !gFullSize;
  if (gFullSize) {
    const int32_t width = RectWidth(globals->previewRect);
    const int32_t height = RectHeight(globals->previewRect);
    const PreviewPlacement at =
        CentrePreview(frame.left, frame.top, frame.right, frame.bottom, width, height);
    const FilterRecord* record = static_cast<const FilterRecord*>(globals->hostRecord);
    gCropLeft = FullSizeViewStart(x - at.left, width, RectWidth(record->filterRect),
                                  gFull.cropWidth);
    gCropTop = FullSizeViewStart(y - at.top, height, RectHeight(record->filterRect),
                                 gFull.cropHeight);
  }
  InvalidatePreview(dialog);
  return true;
}

void EndPreview(HWND dialog) {
  if (gFull.worker.joinable()) {
    {
      std::lock_guard<std::mutex> lock(gFull.mutex);
      gFull.quit = true;
      gFull.stopping = true;
      gFull.wake.notify_one();
    }
    gFull.worker.join();
  }
  FreeFullBuffers();
  if (dialog != nullptr) {
    RemovePropA(dialog, kShowsProperty);
    RemovePropA(dialog, kStartedProperty);
  }
}

void InvalidatePreview(HWND dialog) { InvalidateControl(dialog, kPreviewFrameId); }
