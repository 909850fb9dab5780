// A filter module loaded the way a host finds it: LoadLibrary, the property list
// ("PIPL") says it is a filter and names its entry, GetProcAddress finds it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "render/CallConv.h"
#include "tools/filterhost/Pipl.h"

// The plug-in entry: selector, the host's record, the plug-in's data value that
// the host keeps, and the result. cdecl, as hosts of the interface call it.
typedef void(PATINEX_CDECL* FilterEntryProc)(int16_t selector, void* record, intptr_t* data,
                                            int16_t* result);

struct FilterModule {
  HMODULE module;
  FilterEntryProc entry;
  PiplInfo pipl;
  std::string entryName;
  int32_t fltdDoubles;  // values listed by its "FLTD" resource, -1 without a plain list
};

// Loads a module and finds its filter entry. False with a message that says why
// the file is not a filter we can run.
bool LoadFilterModule(const std::string& path, FilterModule* filter, std::string* error);
void UnloadFilterModule(FilterModule* filter);

// Patinex is the filter whose record we know: its menu name and its 27 doubles.
bool IsPatinex(const FilterModule& filter);
