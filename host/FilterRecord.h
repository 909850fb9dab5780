// The host's records of the filter interface, declared only as far as the fields
// the plug-in reads or writes, with explicit padding. The 32-bit layout has 4-byte
// alignment; the 64-bit host packs its record to 4 bytes too. Every offset is
// pinned below for the build it belongs to. Our own host (filterhost) uses the
// same declarations and allocates kFilterRecordAllocSize zeroed bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/MemHandle.h"
#include "render/CallConv.h"
#include "render/Rect.h"
#include "render/RenderJob.h"

// Selectors and results.
const int16_t filterSelectorAbout = 0;
const int16_t filterSelectorParameters = 1;
const int16_t filterSelectorPrepare = 2;
const int16_t filterSelectorStart = 3;
const int16_t filterSelectorContinue = 4;
const int16_t filterSelectorFinish = 5;

const int16_t noErr = 0;
const int16_t userCanceledOrAborted = 1;  // dialog cancelled, or the abort callback stopped the render
const int16_t memFullErr = -108;
const int16_t filterBadParameters = -30100;
const int16_t filterBadMode = -30101;

#pragma pack(push, 4)
struct FilterRecord {
  int32_t serialNumber;
  AbortProc abortProc;
  ProgressProc progressProc;
  MemHandle parameters;
  int32_t imageSize;  // a Point (v, h); not read
  int16_t planes;
  Rect filterRect;
  uint8_t unused1[22];
  Rect inRect;
  int16_t inLoPlane;
  int16_t inHiPlane;
  Rect outRect;
  int16_t outLoPlane;
  int16_t outHiPlane;
  void* inData;
  int32_t inRowBytes;
  void* outData;
  int32_t outRowBytes;
#if defined(_WIN64)
  uint8_t unused2[104];
#else
  uint8_t unused2[96];
#endif
  void* platformData;  // points at PlatformData
#if defined(_WIN64)
  uint8_t unused3[68];
#else
  uint8_t unused3[40];
#endif
  PropertyProc getProperty;
};
#pragma pack(pop)

// The host's platform record: its first field is the host's main window.
struct PlatformData {
  intptr_t hwnd;
};

// The about selector's record: its first field is the same platformData pointer.
struct AboutRecord {
  void* platformData;
};

// In both builds the about record starts with its platformData pointer, and the
// platform record with the pointer-sized window handle.
static_assert(offsetof(AboutRecord, platformData) == 0, "about platformData");
static_assert(offsetof(PlatformData, hwnd) == 0 && sizeof(PlatformData::hwnd) == sizeof(void*),
              "platform hwnd");

// A host allocates the whole published record; ours allocates this much, zeroed.
const size_t kFilterRecordAllocSize = 1024;

#if defined(_WIN32) && !defined(_WIN64)
static_assert(offsetof(FilterRecord, abortProc) == 4, "abortProc");
static_assert(offsetof(FilterRecord, progressProc) == 8, "progressProc");
static_assert(offsetof(FilterRecord, parameters) == 12, "parameters");
static_assert(offsetof(FilterRecord, planes) == 20, "planes");
static_assert(offsetof(FilterRecord, filterRect) == 22, "filterRect");
static_assert(offsetof(FilterRecord, inRect) == 52, "inRect");
static_assert(offsetof(FilterRecord, inLoPlane) == 60, "inLoPlane");
static_assert(offsetof(FilterRecord, inHiPlane) == 62, "inHiPlane");
static_assert(offsetof(FilterRecord, outRect) == 64, "outRect");
static_assert(offsetof(FilterRecord, outLoPlane) == 72, "outLoPlane");
static_assert(offsetof(FilterRecord, outHiPlane) == 74, "outHiPlane");
static_assert(offsetof(FilterRecord, inData) == 76, "inData");
static_assert(offsetof(FilterRecord, inRowBytes) == 80, "inRowBytes");
static_assert(offsetof(FilterRecord, outData) == 84, "outData");
static_assert(offsetof(FilterRecord, outRowBytes) == 88, "outRowBytes");
static_assert(offsetof(FilterRecord, platformData) == 188, "platformData");
static_assert(offsetof(FilterRecord, getProperty) == 232, "getProperty");
#endif
#if defined(_WIN64)
static_assert(offsetof(FilterRecord, abortProc) == 4, "abortProc");
static_assert(offsetof(FilterRecord, progressProc) == 12, "progressProc");
static_assert(offsetof(FilterRecord, parameters) == 20, "parameters");
static_assert(offsetof(FilterRecord, planes) == 32, "planes");
static_assert(offsetof(FilterRecord, filterRect) == 34, "filterRect");
static_assert(offsetof(FilterRecord, inRect) == 64, "inRect");
static_assert(offsetof(FilterRecord, inLoPlane) == 72, "inLoPlane");
static_assert(offsetof(FilterRecord, inHiPlane) == 74, "inHiPlane");
static_assert(offsetof(FilterRecord, outRect) == 76, "outRect");
static_assert(offsetof(FilterRecord, outLoPlane) == 84, "outLoPlane");
static_assert(offsetof(FilterRecord, outHiPlane) == 86, "outHiPlane");
static_assert(offsetof(FilterRecord, inData) == 88, "inData");
static_assert(offsetof(FilterRecord, inRowBytes) == 96, "inRowBytes");
static_assert(offsetof(FilterRecord, outData) == 100, "outData");
static_assert(offsetof(FilterRecord, outRowBytes) == 108, "outRowBytes");
static_assert(offsetof(FilterRecord, platformData) == 216, "platformData");
static_assert(offsetof(FilterRecord, getProperty) == 292, "getProperty");
#endif
