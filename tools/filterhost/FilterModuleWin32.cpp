#include "tools/filterhost/FilterModule.h"

#include "host/ParamTable.h"

#include <cstdio>

namespace {

// The property that names the entry for the processor this host runs on.
#if defined(_WIN64)
const uint32_t kEntryKey = kPiplEntryX64;
#else
const uint32_t kEntryKey = kPiplEntryX86;
#endif

#if defined(_WIN64)
const uint16_t kOwnMachine = kMachineX64;
#else
const uint16_t kOwnMachine = kMachineX86;
#endif

// Why a module built for another processor cannot be run here, and which of
// our hosts runs it; empty when the file's header names this processor or is
// no module at all (the loader then says what is wrong).
std::string OtherProcessor(const std::string& path) {
  uint8_t head[4096];
  size_t got = 0;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
  }
  const uint16_t machine = ModuleMachine(head, got);
  if (machine == 0 || machine == kOwnMachine) return std::string();
  if (machine == kMachineX64) return path + " is a 64-bit module: run it with filterhost64.exe";
  if (machine == kMachineX86) return path + " is a 32-bit module: run it with filterhost.exe";
  char code[8];
  std::snprintf(code, sizeof code, "%04X", machine);
  return path + " is a module for another processor (machine " + code +
         "); filterhost.exe runs 32-bit x86 modules, filterhost64.exe x86-64 ones";
}

std::string LastErrorText() {
  const DWORD code = GetLastError();
  char buffer[256] = {0};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                 buffer, sizeof buffer, nullptr);
  std::string text = buffer;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  if (text.empty()) text = "error " + std::to_string(code);
  // Some texts have a place for the file's name ("Bad EXE format for %1."): the
  // message names the file itself.
  for (size_t at; (at = text.find(" for %1")) != std::string::npos;) text.erase(at, 7);
  for (size_t at; (at = text.find("%1")) != std::string::npos;) text.replace(at, 2, "the file");
  return text;
}

bool ResourceBytes(HMODULE module, LPCSTR type, LPCSTR name, const uint8_t** bytes, size_t* size) {
  HRSRC found = FindResourceA(module, name, type);
  if (found == nullptr) return false;
  HGLOBAL loaded = LoadResource(module, found);
  if (loaded == nullptr) return false;
  *bytes = static_cast<const uint8_t*>(LockResource(loaded));
  *size = SizeofResource(module, found);
  return *bytes != nullptr;
}

// Collects the names of every "PIPL" resource; a module may describe several.
struct PiplNames {
  LPSTR names[16];
  int count;
};

BOOL CALLBACK CollectPiplName(HMODULE, LPCSTR, LPSTR name, LONG_PTR param) {
  PiplNames* list = reinterpret_cast<PiplNames*>(param);
  if (list->count == 16) return FALSE;
  // Ids come as MAKEINTRESOURCE values; a text name must be copied out.
  list->names[list->count++] = IS_INTRESOURCE(name) ? name : _strdup(name);
  return TRUE;
}

}  // namespace

bool LoadFilterModule(const std::string& path, FilterModule* filter, std::string* error) {
  *filter = FilterModule();
  filter->fltdDoubles = -1;
  // No "cannot find DLL" boxes from the loader: the message is ours to give.
  const std::string other = OtherProcessor(path);
  if (!other.empty()) {
    *error = other;
    return false;
  }
  const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  filter->module = LoadLibraryA(path.c_str());
  SetErrorMode(oldMode);
  if (filter->module == nullptr) {
    *error = path + " cannot be loaded as a Windows module (" + LastErrorText() + ")";
    return false;
  }

  PiplNames names = {};
  EnumResourceNamesA(filter->module, "PIPL", CollectPiplName, reinterpret_cast<LONG_PTR>(&names));
  std::string why = "it has no PIPL resource (property list)";
  for (int i = 0; i < names.count && filter->entry == nullptr; ++i) {
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    PiplInfo info;
    std::string parseError;
    if (!ResourceBytes(filter->module, "PIPL", names.names[i], &bytes, &size)) continue;
    if (!ParsePipl(bytes, size, &info, &parseError)) {
      why = "its property list is damaged: " + parseError;
      continue;
    }
    if (info.kind != kFilterKind) {
      why = "its property list says kind '" + FourCharText(info.kind) + "', not '8BFM' (a filter)";
      continue;
    }
    const std::string entryName = kEntryKey == kPiplEntryX64 ? info.entryX64 : info.entryX86;
    if (entryName.empty()) {
      why = "its property list names no entry for this processor ('" + FourCharText(kEntryKey) +
            "')";
      continue;
    }
    FARPROC proc = GetProcAddress(filter->module, entryName.c_str());
    if (proc == nullptr) {
      why = "its property list names the entry \"" + entryName + "\", which it does not export";
      continue;
    }
    filter->entry = reinterpret_cast<FilterEntryProc>(reinterpret_cast<void*>(proc));
    filter->entryName = entryName;
    filter->pipl = info;
  }
  for (int i = 0; i < names.count; ++i) {
    if (!IS_INTRESOURCE(names.names[i])) free(names.names[i]);
  }
  if (filter->entry == nullptr) {
    *error = path + " is not a filter module: " + why;
    UnloadFilterModule(filter);
    return false;
  }

  const uint8_t* fltd = nullptr;
  size_t fltdSize = 0;
  if (ResourceBytes(filter->module, "FLTD", MAKEINTRESOURCEA(1), &fltd, &fltdSize)) {
    filter->fltdDoubles = CountFltdDoubles(fltd, fltdSize);
  }
  return true;
}

void UnloadFilterModule(FilterModule* filter) {
  if (filter->module != nullptr) FreeLibrary(filter->module);
  filter->module = nullptr;
  filter->entry = nullptr;
}

// Its record: 27 values in PATINEX.8bf, 28 (Scale last) in PATINEX64.8bf.
bool IsPatinex(const FilterModule& filter) {
  return filter.pipl.name == "Patinex..." &&
         (filter.fltdDoubles == kParamCount || filter.fltdDoubles == kParamCountWithScale);
}
