// ENTRYPOINT and the selector handlers. One switch dispatches, and one place
// writes the host's result. The handlers work on a working copy of PluginGlobals
// that is copied back into the host-kept block at the end of every call.
#include <cstring>

#include "host/ParamTable.h"
#include "host/MemHandle.h"
#include "plugin/Selectors.h"
#include "render/RenderJob.h"

namespace {

FilterRecord* HostFilterRecord(PluginGlobals* globals) {
  return static_cast<FilterRecord*>(globals->hostRecord);
}

// The record in the host's parameters handle, made with its defaults when the
// handle is empty (a host may skip the parameters selector, or keep nothing
// between runs). A shorter handle (a record cut short in an older or damaged
// file, or the 27 values an earlier version of this module kept) grows to the
// module's whole record: the values it holds in full stay, the others get their
// defaults, but Scale becomes 1, the look such a record was made with. Null only
// when there was no memory for it.
EffectParams* ParamsOrDefaults(FilterRecord* record) {
  const int32_t recordSize = int32_t(kModuleParamCount * sizeof(double));
  if (HandleData(record->parameters) == nullptr) {
    MemHandle handle = NewMemHandle(recordSize);
    if (handle == nullptr) return nullptr;
    record->parameters = handle;
    SetDefaultParamValues(static_cast<double*>(HandleData(handle)), kModuleParamCount);
  }
  const int32_t size = GetMemHandleSize(record->parameters);
  if (size < recordSize) {
    SetMemHandleSize(record->parameters, recordSize);
    if (LastMemHandleError() != 0) return nullptr;
    double defaults[kModuleParamCount];
    SetDefaultParamValues(defaults, kModuleParamCount);
    defaults[kShowDialog] = 0.0;
    if (kModuleParamCount > kScale) defaults[kScale] = 1.0;
    double* values = static_cast<double*>(HandleData(record->parameters));
    for (int i = (size > 0 ? size : 0) / 8; i < kModuleParamCount; ++i) values[i] = defaults[i];
  }
  return static_cast<EffectParams*>(HandleData(record->parameters));
}

bool IsEmptyRect(const Rect& r) { return RectWidth(r) <= 0 || RectHeight(r) <= 0; }

// Pixels the renderer can work on: both buffers there, an area that is not empty,
// and rows at least one row of pixels apart (a shorter stride would make the last
// row run past the host's buffer).
bool HasUsableBuffers(const FilterRecord& record) {
  if (record.inData == nullptr || record.outData == nullptr || IsEmptyRect(record.filterRect)) {
    return false;
  }
  const int32_t sampleBytes = HasSixteenBitSamples(record) ? 2 : 1;
  const int32_t rowSize = RectWidth(record.filterRect) * (record.planes == 4 ? 4 : 3) * sampleBytes;
  return record.inRowBytes >= rowSize && record.outRowBytes >= rowSize;
}

}  // namespace

RenderJob ContinueRenderJob(const FilterRecord& record, const EffectParams* params) {
  RenderJob job = MakeRenderJob(
      params, record.filterRect, record.planes == 4, static_cast<const uint8_t*>(record.inData),
      record.inRowBytes, static_cast<uint8_t*>(record.outData), record.outRowBytes,
      record.progressProc, record.abortProc);
  job.sixteenBits = HasSixteenBitSamples(record) ? 1 : 0;
  // The handle's data holds the module's whole record, Scale included.
  job.scale = RecordScale(reinterpret_cast<const double*>(params), kModuleParamCount);
  return job;
}

int16_t DoAbout(PluginGlobals* globals) {
  ShowHostAboutBox(static_cast<const AboutRecord*>(globals->hostRecord));
  return noErr;
}

int16_t DoParameters(PluginGlobals* globals) {
  EffectParams* params = ParamsOrDefaults(HostFilterRecord(globals));
  if (params == nullptr) return memFullErr;
  // Every parameters call, on a new record or one kept from an earlier run,
  // asks the next continue for the dialog; nothing else of a kept record changes.
  params->value[kShowDialog] = 1.0;
  return noErr;
}

int16_t DoPrepare(PluginGlobals*) { return noErr; }

// The whole area in one piece, all channels interleaved.
int16_t DoStart(PluginGlobals* globals) {
  FilterRecord* record = HostFilterRecord(globals);
  if (ParamsOrDefaults(record) == nullptr) return memFullErr;
  record->inRect = record->filterRect;
  record->outRect = record->filterRect;
  record->inLoPlane = 0;
  record->outLoPlane = 0;
  record->inHiPlane = int16_t(record->planes - 1);
  record->outHiPlane = int16_t(record->planes - 1);
  return noErr;
}

int16_t DoContinue(PluginGlobals* globals) {
  FilterRecord* record = HostFilterRecord(globals);
  EffectParams* params = ParamsOrDefaults(record);
  if (params == nullptr) return memFullErr;
  // The renderer knows RGB and RGB with transparency only; a host that ignores the
  // property list's mode list may still hand gray or CMYK. Nothing is rendered then,
  // and nothing is requested anew: the host ends the run on the error.
  if (record->planes != 3 && record->planes != 4) return filterBadMode;
  if (!HasUsableBuffers(*record)) return filterBadParameters;

  // The dialog when the parameters selector asked for it. A non-zero result
  // afterwards (cancelled, or the dialog could not open) ends the call at once,
  // leaving inRect, outRect and the flag as they are; OK clears the flag.
  // The dialog's preview showed the next frame rendered from the clock reading
  // taken when the dialog opened; the render after OK seeds from that reading,
  // so it gives what the preview showed. A repeat without the dialog reads the
  // clock as it renders.
  bool dialogSeeded = false;
  uint32_t dialogSeed = 0;
  if (params->value[kShowDialog] != 0.0) {
    ShowHostParametersDialog(globals, &dialogSeed);
    if (globals->result != noErr) return globals->result;
    params->value[kShowDialog] = 0.0;
    dialogSeeded = true;
  }

  globals->frameCounter += 1;
  params->value[kFrameNumber] = double(globals->frameCounter);

  RenderJob job = ContinueRenderJob(*record, params);
  job.seeded = dialogSeeded ? 1 : 0;
  job.seed = dialogSeed;
  const int16_t code = RenderEffect(&job) == 0 ? userCanceledOrAborted : noErr;

  // Nothing more to deliver, even after an abort.
  SetHostRect(&record->inRect, 0, 0, 0, 0);
  SetHostRect(&record->outRect, 0, 0, 0, 0);
  return code;
}

// Releases the preview buffers; safe when the dialog has released them already.
int16_t DoFinish(PluginGlobals* globals) {
  ReleasePreviewBuffers(globals);
  return noErr;
}

namespace {

int16_t Dispatch(int16_t selector, PluginGlobals* globals) {
  switch (selector) {
    case filterSelectorAbout: return DoAbout(globals);
    case filterSelectorParameters: return DoParameters(globals);
    case filterSelectorPrepare: return DoPrepare(globals);
    case filterSelectorStart: return DoStart(globals);
    case filterSelectorContinue: return DoContinue(globals);
    case filterSelectorFinish: return DoFinish(globals);
    default: return filterBadParameters;
  }
}

// The host-kept PluginGlobals block, made when `data` is still 0. Null when there
// is no memory for it: no handler runs, data stays 0 and the next call tries again.
MemHandle GlobalsBlock(intptr_t* data) {
  MemHandle block = reinterpret_cast<MemHandle>(*data);
  if (block == nullptr) {
    block = NewMemHandle(int32_t(sizeof(PluginGlobals)));
    if (block == nullptr) return nullptr;
    InitPluginGlobals(static_cast<PluginGlobals*>(HandleData(block)));
    *data = reinterpret_cast<intptr_t>(block);
  }
  return block;
}

}  // namespace

extern "C" void PATINEX_CDECL ENTRYPOINT(int16_t selector, void* record, intptr_t* data,
                                         int16_t* result) {
  MemHandle block = GlobalsBlock(data);
  PluginGlobals working;
  if (block == nullptr) {
    working.result = memFullErr;
  } else {
    std::memcpy(&working, HandleData(block), sizeof working);
    working.hostRecord = record;
    working.result = noErr;
    working.result = Dispatch(selector, &working);
  }
  *result = working.result;
  if (block != nullptr) std::memcpy(HandleData(block), &working, sizeof working);
}
