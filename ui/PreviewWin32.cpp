#include <windows.h>

#include "host/FilterRecord.h"
#include "host/MemHandle.h"
#include "host/ModuleWin32.h"
#include "host/ParamTable.h"
#include "render/PixelBlock.h"
#include "render/RenderJob.h"
#include "resources/ResourceIds.h"
#include "ui/Preview.h"
#include "ui/PreviewGeometry.h"
#include "ui/ValueControls.h"

namespace {

// Filled when the dialog opens and reused by every repaint. Its params point at
// the host's record itself, which the dialog edits in place, so every render sees
// the values of the moment.
RenderJob gPreviewJob;


}  // namespace

void ShowErrorMessage(int stringId) {
  char text[256] = {0};
  char caption[128] = {0};
  LoadStringA(ModuleInstance(), UINT(stringId), text, sizeof text);
  LoadStringA(ModuleInstance(), IDS_CAPTION, caption, sizeof caption);
  MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONERROR);
}

bool SetUpPreview(HWND dialog, PluginGlobals* globals) {
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

  // Nearest pixel, no filtering; a 4-channel source gives up its alpha. A 16-bit
  // document is reduced to bytes: the preview is the 8-bit render of that, which
  // shows what the 16-bit render does.
  if (width > 0 && height > 0 && HasSixteenBitSamples(*record)) {
    ScalePixelBlockReduced(static_cast<const uint8_t*>(record->inData), record->inRowBytes,
                           record->filterRect, record->planes == 4, globals->previewSource,
                           globals->previewRowBytes, globals->previewRect, false);
  } else if (width > 0 && height > 0) {
    ScalePixelBlock(static_cast<const uint8_t*>(record->inData), record->inRowBytes,
                    record->filterRect, record->planes == 4, globals->previewSource,
                    globals->previewRowBytes, globals->previewRect, false);
  }

  gPreviewJob = MakeRenderJob(static_cast<const EffectParams*>(HandleData(record->parameters)),
                              globals->previewRect, false, globals->previewSource,
                              globals->previewRowBytes, globals->previewOutput,
                              globals->previewRowBytes, record->progressProc, record->abortProc);
  return true;
}

void DrawPreview(HWND dialog, HDC dc, const PluginGlobals* globals) {
  const int32_t width = RectWidth(globals->previewRect);
  const int32_t height = RectHeight(globals->previewRect);
  if (globals->previewSource == nullptr || globals->previewOutput == nullptr || width <= 0 ||
      height <= 0) {
    return;
  }
  HWND frameControl = GetDlgItem(dialog, kPreviewFrameId);
  RECT frame;
  GetClientRect(frameControl, &frame);
  MapWindowPoints(frameControl, dialog, reinterpret_cast<POINT*>(&frame), 2);
  const PreviewPlacement at =
      CentrePreview(frame.left, frame.top, frame.right, frame.bottom, width, height);

  // Scale as the record holds it at this moment (the dialog edits it). The
  // reduced copy is rendered with the record's Scale as it stands.
  gPreviewJob.scale =
      RecordScale(reinterpret_cast<const double*>(gPreviewJob.params), kModuleParamCount);
  // A render stopped by the host's abort callback is drawn as far as it got.
  RenderEffect(&gPreviewJob);

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
    return;  // no image and no frame this time; the next repaint tries again
  }
  HDC memory = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(memory, bitmap);
  // The DIB's 24-bit rows are padded to 4 bytes, as previewRowBytes is.
  CopyPixelBlockToDib(globals->previewOutput, globals->previewRowBytes, false,
                      static_cast<uint8_t*>(bits), globals->previewRowBytes, false, width,
                      height);
  BitBlt(dc, at.left, at.top, width, height, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
  DeleteObject(bitmap);

  RECT line = {at.left, at.top, at.right, at.bottom};
  InflateRect(&line, kPreviewInset, kPreviewInset);
  FrameRect(dc, &line, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}

void InvalidatePreview(HWND dialog) { InvalidateControl(dialog, kPreviewFrameId); }
