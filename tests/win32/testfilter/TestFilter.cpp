// A small filter for testing hosts: it inverts red, green and blue and keeps any
// fourth plane, asking for the image in bands of 16 rows so that a host must
// serve several requests. It checks the host's side of the protocol as it goes
// and fails with filterBadParameters, saying why on stderr, when a host breaks it.
// TESTFILTER_MODE in the environment picks a misbehaviour to test: "fail" (out
// of memory in continue), "wait" (continue waits until abortProc says stop) or
// "outside" (start asks for one row more than the image has).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/FilterRecord.h"

namespace {

const int16_t kBandRows = 16;
const uint32_t kMagic = 0x54464C54;  // "TLFT"

struct TestGlobals {
  uint32_t magic;
  int16_t lastSelector;
  int32_t runs;
};

struct TestParameters {
  uint32_t magic;
  int32_t parametersCalls;
};

int16_t Complain(const char* why) {
  std::fprintf(stderr, "testfilter: %s\n", why);
  std::fflush(stderr);
  return filterBadParameters;
}

bool ModeIs(const char* mode) {
  char value[32] = {0};
  return GetEnvironmentVariableA("TESTFILTER_MODE", value, sizeof value) > 0 &&
         std::strcmp(value, mode) == 0;
}

void RequestBand(FilterRecord* r, int16_t top) {
  int16_t bottom = int16_t(top + kBandRows);
  if (bottom > r->filterRect.bottom) bottom = r->filterRect.bottom;
  r->inRect = Rect{top, r->filterRect.left, bottom, r->filterRect.right};
  r->outRect = r->inRect;
  r->inLoPlane = r->outLoPlane = 0;
  r->inHiPlane = r->outHiPlane = int16_t(r->planes - 1);
}

int16_t Continue(FilterRecord* r, TestGlobals* g) {
  if (ModeIs("fail")) return memFullErr;
  if (ModeIs("wait")) {
    // Up to 60 seconds for the host to say stop; a host that never does fails.
    std::fprintf(stderr, "testfilter: waiting for abortProc\n");
    std::fflush(stderr);
    for (int i = 0; i < 6000; ++i) {
      r->progressProc(i % 100, 100);
      if (r->abortProc()) return userCanceledOrAborted;
      Sleep(10);
    }
    return Complain("abortProc never asked to stop");
  }
  if (r->inData == nullptr || r->outData == nullptr) return Complain("continue without data");
  const int32_t width = RectWidth(r->inRect);
  const int32_t planes = r->planes;
  if (r->inRowBytes < width * planes || r->outRowBytes < width * planes) {
    return Complain("row bytes shorter than the requested rows");
  }
  for (int32_t y = 0; y < RectHeight(r->inRect); ++y) {
    const uint8_t* src = static_cast<const uint8_t*>(r->inData) + y * r->inRowBytes;
    uint8_t* dst = static_cast<uint8_t*>(r->outData) + y * r->outRowBytes;
    for (int32_t x = 0; x < width * planes; ++x) {
      dst[x] = (x % planes) < 3 ? uint8_t(255 - src[x]) : src[x];
    }
  }
  r->progressProc(r->inRect.bottom - r->filterRect.top, RectHeight(r->filterRect));
  if (r->inRect.bottom < r->filterRect.bottom) {
    RequestBand(r, r->inRect.bottom);
  } else {
    r->inRect = r->outRect = Rect{0, 0, 0, 0};
    ++g->runs;
  }
  return noErr;
}

}  // namespace

extern "C" void PATINEX_CDECL InvertEntry(int16_t selector, FilterRecord* r, intptr_t* data,
                                          int16_t* result) {
  TestGlobals* g = reinterpret_cast<TestGlobals*>(*data);
  if (g == nullptr) {
    if (selector != filterSelectorParameters && selector != filterSelectorAbout) {
      *result = Complain("the host lost the data value between calls");
      return;
    }
    g = static_cast<TestGlobals*>(std::calloc(1, sizeof(TestGlobals)));
    g->magic = kMagic;
    g->lastSelector = -1;
    *data = reinterpret_cast<intptr_t>(g);
  }
  if (g->magic != kMagic) {
    *result = Complain("the data value is not the one this filter stored");
    return;
  }
  int16_t code = noErr;
  TestParameters* p = reinterpret_cast<TestParameters*>(r->parameters);
  switch (selector) {
    case filterSelectorParameters:
      if (p == nullptr) {
        p = static_cast<TestParameters*>(std::calloc(1, sizeof(TestParameters)));
        p->magic = kMagic;
        r->parameters = reinterpret_cast<MemHandle>(p);
      }
      ++p->parametersCalls;
      break;
    case filterSelectorPrepare:
      if (p == nullptr || p->magic != kMagic) code = Complain("the host lost the parameters handle");
      else if (p->parametersCalls != 1) code = Complain("parameters was not called exactly once");
      break;
    case filterSelectorStart:
      if (g->lastSelector != filterSelectorPrepare) code = Complain("start without prepare");
      else if (r->planes != 3 && r->planes != 4) code = filterBadMode;
      else RequestBand(r, r->filterRect.top);
      if (code == noErr && ModeIs("outside")) r->inRect.bottom = int16_t(r->filterRect.bottom + 1);
      break;
    case filterSelectorContinue:
      if (g->lastSelector != filterSelectorStart && g->lastSelector != filterSelectorContinue) {
        code = Complain("continue without start");
      } else {
        code = Continue(r, g);
      }
      break;
    case filterSelectorFinish:
      break;
    default:
      code = filterBadParameters;
  }
  g->lastSelector = selector;
  *result = code;
}
