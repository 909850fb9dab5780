// A small host of the filter interface for the module tests: loads PATINEX.8bf
// (PATINEX64.8bf in the 64-bit build) from beside the test program through
// LoadLibrary and calls ENTRYPOINT as hosts do, with a FilterRecord laid out at
// the offsets of the build's processor.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "render/EffectParams.h"
#include "host/FilterRecord.h"
#include "render/CallConv.h"

typedef void(PATINEX_CDECL* EntryPointProc)(int16_t selector, void* record, intptr_t* data,
                                            int16_t* result);

// The files this build makes, and the property that names the entry for its
// processor ('wx86' for x86, '8664' for x86-64).
// The module's parameter record: 27 doubles, and in the 64-bit module Scale as
// the 28th (index 27).
#if defined(_WIN64)
const char kPatinexModuleFile[] = "PATINEX64.8bf";
const char kFilterhostFile[] = "filterhost64.exe";
const char kEntryPropertyKey[] = "8664";
const int kRecordValues = 28;
#else
const char kPatinexModuleFile[] = "PATINEX.8bf";
const char kFilterhostFile[] = "filterhost.exe";
const char kEntryPropertyKey[] = "wx86";
const int kRecordValues = 27;
#endif
const int kScaleValue = 27;  // Scale's index in the 64-bit module's record

inline std::string ModulePath() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  return s.substr(0, s.find_last_of("\\/") + 1) + kPatinexModuleFile;
}

// The module, loaded once for the whole test program.
inline HMODULE PatinexModule() {
  static HMODULE module = LoadLibraryA(ModulePath().c_str());
  return module;
}

inline EntryPointProc PatinexEntry() {
  HMODULE module = PatinexModule();
  return module != nullptr
             ? reinterpret_cast<EntryPointProc>(
                   reinterpret_cast<void*>(GetProcAddress(module, "ENTRYPOINT")))
             : nullptr;
}

// An RGB (or RGBA) image with a stride wider than the pixels, so that writes
// outside the pixels show up in the sentinel bytes.
struct TestImage {
  int32_t width;
  int32_t height;
  int32_t planes;
  int32_t rowBytes;
  std::vector<uint8_t> bytes;
  TestImage(int32_t w, int32_t h, int32_t p, uint8_t fill)
      : width(w), height(h), planes(p), rowBytes(w * 4 + 8), bytes(size_t(rowBytes) * h, fill) {}
  uint8_t* Data() { return bytes.data(); }
};

struct ModuleHost {
  EntryPointProc entry = PatinexEntry();
  std::vector<uint8_t> recordBytes = std::vector<uint8_t>(kFilterRecordAllocSize, 0);
  FilterRecord* record = reinterpret_cast<FilterRecord*>(recordBytes.data());
  intptr_t data = 0;  // the value the host keeps for the plug-in

  int16_t Call(int16_t selector) {
    int16_t result = 0x5A5A;  // something the plug-in must overwrite
    entry(selector, record, &data, &result);
    return result;
  }

  // Hands the images over as a host does before continue.
  void SetImages(TestImage& in, TestImage& out) {
    record->planes = int16_t(in.planes);
    record->filterRect = Rect{0, 0, int16_t(in.height), int16_t(in.width)};
    record->inData = in.Data();
    record->inRowBytes = in.rowBytes;
    record->outData = out.Data();
    record->outRowBytes = out.rowBytes;
  }

  EffectParams* Params() {
    return record->parameters != nullptr ? static_cast<EffectParams*>(record->parameters->data)
                                         : nullptr;
  }
  // The record's kRecordValues values, Scale included where the module has it.
  double* Values() {
    return record->parameters != nullptr ? static_cast<double*>(record->parameters->data)
                                         : nullptr;
  }

  // A run without any window, as a host replaying a recorded filter does: after
  // the parameters selector it clears the show-dialog flag.
  int16_t RunWithoutDialog(bool withParameters) {
    if (withParameters) {
      int16_t r = Call(filterSelectorParameters);
      if (r != 0) return r;
      Params()->value[kShowDialog] = 0.0;
    }
    int16_t r = Call(filterSelectorPrepare);
    if (r == 0) r = Call(filterSelectorStart);
    if (r == 0) r = Call(filterSelectorContinue);
    Call(filterSelectorFinish);
    return r;
  }
};
