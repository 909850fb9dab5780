#include "tools/filterhost/FilterDriver.h"

#include <io.h>
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

volatile LONG g_stopRequested = 0;

// The progress bar: drawn on stderr only when it is a terminal, and redrawn only
// when the percentage changes (the renderer reports every row of every pass).
struct ProgressBar {
  bool enabled;
  bool drawn;
  int32_t lastPercent;
  std::string label;
};
ProgressBar g_bar = {false, false, -1, std::string()};

void ClearBar() {
  if (!g_bar.drawn) return;
  std::fprintf(stderr, "\r%*s\r", 70, "");
  std::fflush(stderr);
  g_bar.drawn = false;
  g_bar.lastPercent = -1;
}

void PATINEX_CDECL HostProgress(int32_t done, int32_t total) {
  if (!g_bar.enabled) return;
  int64_t percent = 0;
  if (total > 0) percent = int64_t(done) * 100 / total;
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  if (percent == g_bar.lastPercent) return;
  g_bar.lastPercent = int32_t(percent);
  const int kWidth = 30;
  char bar[kWidth + 1];
  const int filled = int(percent * kWidth / 100);
  for (int i = 0; i < kWidth; ++i) bar[i] = i < filled ? '#' : '.';
  bar[kWidth] = 0;
  std::fprintf(stderr, "\r%-24.24s [%s] %3d%%", g_bar.label.c_str(), bar, int(percent));
  std::fflush(stderr);
  g_bar.drawn = true;
}

uint8_t PATINEX_CDECL HostAbort(void) { return g_stopRequested != 0 ? 1 : 0; }

DWORD g_hostThread = 0;  // the thread that calls the filter, and owns its dialogs

// Presses Cancel in every dialog of the host's thread (the parameters dialog,
// a colour picker over it).
BOOL CALLBACK CancelDialog(HWND window, LPARAM closed) {
  char name[16] = {0};
  if (GetClassNameA(window, name, sizeof name) > 0 && std::strcmp(name, "#32770") == 0) {
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    *reinterpret_cast<bool*>(closed) = true;
  }
  return TRUE;
}

// After a stop request no dialog may wait for a click: one open now, or one the
// filter opens later, is cancelled. Runs until the process ends.
DWORD WINAPI CancelDialogsFromNowOn(LPVOID) {
  bool told = false;
  for (;;) {
    bool closed = false;
    EnumThreadWindows(g_hostThread, CancelDialog, reinterpret_cast<LPARAM>(&closed));
    if (closed && !told) {
      std::fprintf(stderr, "\nfilterhost: Ctrl+C: the dialog is cancelled\n");
      std::fflush(stderr);
      told = true;
    }
    Sleep(100);
  }
}

// The first Ctrl+C asks the filter to stop; a second one ends the process the
// platform's way, for a filter that never asks.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (InterlockedExchange(&g_stopRequested, 1) != 0) return FALSE;
  HANDLE watcher = CreateThread(nullptr, 0, CancelDialogsFromNowOn, nullptr, 0, nullptr);
  if (watcher != nullptr) CloseHandle(watcher);
  return TRUE;
}

// Wine's display driver as its registry names it ("null", "x11", "mac" ...):
// empty on Windows, or where Wine picks its default.
std::string WineGraphicsDriver() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Drivers", 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return std::string();
  }
  char value[128] = {0};
  DWORD size = sizeof value - 1, type = 0;
  const LONG got = RegQueryValueExA(key, "Graphics", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  return got == ERROR_SUCCESS && type == REG_SZ ? std::string(value) : std::string();
}

bool RectEmpty(const Rect& r) { return r.right <= r.left || r.bottom <= r.top; }

std::string RectText(const Rect& r) {
  return "(top " + std::to_string(r.top) + ", left " + std::to_string(r.left) + ", bottom " +
         std::to_string(r.bottom) + ", right " + std::to_string(r.right) + ")";
}

// A request the host can serve: inside the image, planes within those it has.
bool CheckRequest(const char* what, const Rect& r, int16_t lo, int16_t hi, const Image& image,
                  std::string* problem) {
  if (RectEmpty(r)) return true;
  if (r.left < 0 || r.top < 0 || r.right > image.width || r.bottom > image.height) {
    *problem = std::string("the filter asked for ") + what + " pixels " + RectText(r) +
               " outside the image (" + std::to_string(image.width) + " x " +
               std::to_string(image.height) + ")";
    return false;
  }
  if (lo < 0 || hi < lo || hi >= image.planes) {
    *problem = std::string("the filter asked for ") + what + " planes " + std::to_string(lo) +
               " to " + std::to_string(hi) + " of an image with " + std::to_string(image.planes);
    return false;
  }
  return true;
}

// A requested area: its rectangle and planes, copied out of (or back into) the
// image as interleaved rows.
struct Tile {
  Rect rect;
  int16_t lo;
  int16_t hi;
  int32_t rowBytes;
  std::vector<uint8_t> bytes;
};

void CopyOut(const Image& image, const Rect& r, int16_t lo, int16_t hi, Tile* tile) {
  tile->rect = r;
  tile->lo = lo;
  tile->hi = hi;
  tile->bytes.clear();
  tile->rowBytes = 0;
  if (RectEmpty(r)) return;
  // Bytes: a pixel's samples lo..hi, and a whole pixel, at the image's sample size.
  const int32_t b = image.sampleBytes;
  const int32_t n = (hi - lo + 1) * b;
  const int32_t pixel = image.planes * b;
  const int32_t width = RectWidth(r);
  tile->rowBytes = width * n;
  tile->bytes.resize(size_t(tile->rowBytes) * size_t(RectHeight(r)));
  for (int32_t y = r.top; y < r.bottom; ++y) {
    const uint8_t* src = &image.pixels[(size_t(y) * image.width + r.left) * pixel + lo * b];
    uint8_t* dst = &tile->bytes[size_t(y - r.top) * tile->rowBytes];
    for (int32_t x = 0; x < width; ++x, src += pixel, dst += n) std::memcpy(dst, src, n);
  }
}

void CopyBack(const Tile& tile, Image* image) {
  if (tile.bytes.empty()) return;
  const int32_t b = image->sampleBytes;
  const int32_t n = (tile.hi - tile.lo + 1) * b;
  const int32_t pixel = image->planes * b;
  const Rect& r = tile.rect;
  for (int32_t y = r.top; y < r.bottom; ++y) {
    const uint8_t* src = &tile.bytes[size_t(y - r.top) * tile.rowBytes];
    uint8_t* dst = &image->pixels[(size_t(y) * image->width + r.left) * pixel + tile.lo * b];
    for (int32_t x = r.left; x < r.right; ++x, src += n, dst += pixel) {
      std::memcpy(dst, src, n);
    }
  }
}

SelectorOutcome Call(FilterSession* session, int16_t selector) {
  SelectorOutcome outcome = {selector, 0, std::string()};
  session->entry(selector, session->record, &session->data, &outcome.result);
  return outcome;
}

}  // namespace

void OpenSession(FilterSession* session, FilterEntryProc entry) {
  session->entry = entry;
  session->record = static_cast<FilterRecord*>(calloc(1, kFilterRecordAllocSize));
  session->platform.hwnd = reinterpret_cast<intptr_t>(GetConsoleWindow());
  session->data = 0;
  FilterRecord* r = session->record;
  r->abortProc = HostAbort;
  r->progressProc = HostProgress;
  r->platformData = &session->platform;
  r->getProperty = nullptr;  // filters that need host properties get none
  g_bar.enabled = _isatty(_fileno(stderr)) != 0;
}

void CloseSession(FilterSession* session) {
  // The parameters handle and the data value belong to the plug-in's allocator;
  // the process ends right after, which releases them with everything else.
  free(session->record);
  session->record = nullptr;
}

SelectorOutcome RunParametersSelector(FilterSession* session) {
  return Call(session, filterSelectorParameters);
}

SelectorOutcome FilterImage(FilterSession* session, Image* image, const std::string& label) {
  FilterRecord* r = session->record;
  const Image source = *image;
  g_bar.label = label;
  g_bar.lastPercent = -1;

  r->planes = int16_t(image->planes);
  // 16-bit samples (0..32768) go to a filter as an RGB 48 document.
  r->imageMode = image->sampleBytes == 2 ? plugInModeRGB48 : plugInModeRGBColor;
  r->depth = image->sampleBytes == 2 ? 16 : 8;
  r->filterRect = Rect{0, 0, int16_t(image->height), int16_t(image->width)};  // top, left, bottom, right
  r->inRect = r->outRect = Rect{0, 0, 0, 0};
  r->inLoPlane = r->inHiPlane = r->outLoPlane = r->outHiPlane = 0;
  r->inData = r->outData = nullptr;
  r->inRowBytes = r->outRowBytes = 0;

  SelectorOutcome outcome = Call(session, filterSelectorPrepare);
  if (outcome.result != noErr) return outcome;
  outcome = Call(session, filterSelectorStart);
  if (outcome.result != noErr) return outcome;

  // Serve requests until the filter empties both rectangles. Each continue gets
  // the source pixels of inRect and the current output of outRect; what it
  // leaves in outData goes back into the image.
  Tile in, out;
  while (!RectEmpty(r->inRect) || !RectEmpty(r->outRect)) {
    if (!CheckRequest("source", r->inRect, r->inLoPlane, r->inHiPlane, source, &outcome.problem) ||
        !CheckRequest("destination", r->outRect, r->outLoPlane, r->outHiPlane, *image,
                      &outcome.problem)) {
      outcome.selector = filterSelectorContinue;
      break;
    }
    CopyOut(source, r->inRect, r->inLoPlane, r->inHiPlane, &in);
    CopyOut(*image, r->outRect, r->outLoPlane, r->outHiPlane, &out);
    r->inData = in.bytes.empty() ? nullptr : in.bytes.data();
    r->inRowBytes = in.rowBytes;
    r->outData = out.bytes.empty() ? nullptr : out.bytes.data();
    r->outRowBytes = out.rowBytes;
    outcome = Call(session, filterSelectorContinue);
    r->inData = r->outData = nullptr;
    if (outcome.result != noErr) break;
    CopyBack(out, image);
    // A filter that keeps asking gets stopped by Ctrl+C here too, between calls.
    if (StopRequested()) {
      outcome.result = userCanceledOrAborted;
      break;
    }
  }
  ClearBar();
  // Finish follows every start that succeeded, so the filter releases what it
  // holds even after a failed or stopped continue.
  SelectorOutcome finish = Call(session, filterSelectorFinish);
  if (outcome.result == noErr && outcome.problem.empty()) outcome = finish;
  return outcome;
}

double* PatinexRecord(FilterSession* session, int32_t count, std::string* error) {
  MemHandle handle = session->record->parameters;
  if (handle == nullptr || handle->data == nullptr || std::memcmp(handle->tag, "OTOF", 4) != 0) {
    *error = "the filter left no parameter record in its parameters handle";
    return nullptr;
  }
  HGLOBAL block = GlobalHandle(handle->data);
  if (block == nullptr || count < 0 || GlobalSize(block) < size_t(count) * sizeof(double)) {
    *error = "the filter's parameter record is smaller than " + std::to_string(count) + " values";
    return nullptr;
  }
  return static_cast<double*>(handle->data);
}

void InstallStopHandler() {
  g_hostThread = GetCurrentThreadId();
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

DialogDisplay DialogDisplayState(std::string* why) {
  // Without a display driver no top-level window can be made.
  HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  if (probe == nullptr) {
    *why = "no display to show the dialog on (under Wine: set DISPLAY, or use a prefix whose "
           "graphics driver is not \"null\")";
    return kNoDisplay;
  }
  DestroyWindow(probe);
  std::string driver = WineGraphicsDriver();
  for (char& c : driver) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (driver.find("null") != std::string::npos) {
    *why = "the display shows no windows (Wine's null graphics driver)";
    return kDisplayInvisible;
  }
  USEROBJECTFLAGS flags = {};
  if (GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, nullptr) &&
      (flags.dwFlags & WSF_VISIBLE) == 0) {
    *why = "the display shows no windows (a window station without a screen)";
    return kDisplayInvisible;
  }
  return kDisplayVisible;
}

bool StopRequested() { return g_stopRequested != 0; }

std::string ResultText(int16_t result) {
  const char* meaning = "an error of the filter's own";
  switch (result) {
    case noErr: meaning = "success"; break;
    case userCanceledOrAborted: meaning = "cancelled or stopped"; break;
    case memFullErr: meaning = "out of memory"; break;
    case filterBadParameters: meaning = "bad parameters"; break;
    case filterBadMode: meaning = "image mode not supported"; break;
  }
  return std::string(meaning) + " (" + std::to_string(result) + ")";
}

const char* SelectorName(int16_t selector) {
  switch (selector) {
    case filterSelectorAbout: return "about (0)";
    case filterSelectorParameters: return "parameters (1)";
    case filterSelectorPrepare: return "prepare (2)";
    case filterSelectorStart: return "start (3)";
    case filterSelectorContinue: return "continue (4)";
    case filterSelectorFinish: return "finish (5)";
  }
  return "unknown";
}
