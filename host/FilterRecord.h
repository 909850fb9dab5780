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

// The host's callbacks, called with the interface's convention (cdecl):
// progress after each unit of work, abort to ask whether the user stopped the
// run (non-zero: stop). getProperty is kept in the record but never called.
typedef void(PATINEX_CDECL* ProgressProc)(int32_t done, int32_t total);
typedef uint8_t(PATINEX_CDECL* AbortProc)(void);
typedef void* PropertyProc;

// Fills a host rectangle from the arguments in the order left, top, right, bottom.
inline void SetHostRect(Rect* rect, int16_t left, int16_t top, int16_t right, int16_t bottom) {
  rect->top = top;
  rect->left = left;
  rect->bottom = bottom;
  rect->right = right;
}

// Selectors and results.
const int16_t filterSelectorAbout = 0;
const int16_t filterSelectorParameters = 1;
const int16_t filterSelectorPrepare = 2;
const int16_t filterSelectorStart = 3;
const int16_t filterSelectorContinue = 4;
const int16_t filterSelectorFinish = 5;

const int16_t noErr = 0;
const int16_t userCanceledOrAborted = 1;  // dialog cancelled, or the abort callback stopped the render
// memFullErr (-108), no memory: host/MemHandle.h, with the handles' codes.
const int16_t filterBadParameters = -30100;
const int16_t filterBadMode = -30101;

// Image modes of the record's imageMode field (the host's document mode).
const int16_t plugInModeRGBColor = 3;
const int16_t plugInModeRGB48 = 11;  // RGB at 16 bits per channel

// 16 bits per channel. Where the fields come from: the published record
// (PIFilter.h) as PSFilterPdn transcribes it (src/PSApi/FilterRecord.cs: imageMode
// right after hostProcs, depth after plugInRef, new in version 5.0), packed to 4
// bytes; the offsets below were worked out by compiling that field list with
// both mingw-w64 compilers, and agree with the offsets of platformData and
// getProperty that hosts have always used. The mode numbers are PIGeneral.h's
// (plugInModeRGB48 = 11). A host in RGB 48 mode hands samples of 0..32768, not
// 0..65535 (Photoshop's own scale: 32768 is white, so 16384 is an exact middle;
// Chris Cox, community.adobe.com "16-bit or 15-bit+1?", 2011), two bytes each in
// the host's byte order (little-endian on Windows), interleaved as at 8 bits.
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
  uint8_t unused2[44];
#else
  uint8_t unused2[36];
#endif
  // The document's mode: plugInModeRGB48 when the host hands 16-bit samples.
  int16_t imageMode;
  uint8_t unused3[58];
  void* platformData;  // points at PlatformData
#if defined(_WIN64)
  uint8_t unused4[68];
#else
  uint8_t unused4[40];
#endif
  PropertyProc getProperty;
#if defined(_WIN64)
  uint8_t unused5[180];
#else
  uint8_t unused5[144];
#endif
  // Bits per channel (8 or 16); hosts older than the field leave it 0.
  int32_t depth;
};
#pragma pack(pop)

// The host hands 16-bit samples (0..32768) when its document is RGB 48; a host
// that fills the depth field says 16 there too. Older hosts leave depth 0.
inline bool HasSixteenBitSamples(const FilterRecord& record) {
  return record.imageMode == plugInModeRGB48 || record.depth == 16;
}

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
static_assert(sizeof(FilterRecord) <= kFilterRecordAllocSize, "record fits the allocation");

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
static_assert(offsetof(FilterRecord, imageMode) == 128, "imageMode");
static_assert(offsetof(FilterRecord, platformData) == 188, "platformData");
static_assert(offsetof(FilterRecord, getProperty) == 232, "getProperty");
static_assert(offsetof(FilterRecord, depth) == 380, "depth");
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
static_assert(offsetof(FilterRecord, imageMode) == 156, "imageMode");
static_assert(offsetof(FilterRecord, platformData) == 216, "platformData");
static_assert(offsetof(FilterRecord, getProperty) == 292, "getProperty");
static_assert(offsetof(FilterRecord, depth) == 480, "depth");
#endif
