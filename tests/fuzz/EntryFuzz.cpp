// ENTRYPOINT as a host drives it on a repeat of the filter, with a parameters
// handle the host hands back from a file: any length, any bytes. The module's
// frame counter, up to 10000, sets the frame; the host's buffers have guard bytes
// and padded rows.
//
// Input: the layout fields below, then the handle's bytes.
#include <cstring>

#include "render/EffectParams.h"
#include "host/FilterRecord.h"
#include "host/ParamTable.h"
#include "host/MemHandle.h"
#include "host/PluginGlobals.h"
#include "plugin/Selectors.h"
#include "render/Random.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/fuzz/FuzzPicture.h"

namespace {

uint32_t gClock;
long FixedClock() { return long(gClock); }

int16_t Call(int16_t selector, FilterRecord* record, intptr_t* data) {
  int16_t result = 0x5A5A;
  ENTRYPOINT(selector, record, data, &result);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzReader in = {data, size};
  const int32_t width = 1 + in.Next<uint8_t>() % 64;
  const int32_t height = 1 + in.Next<uint8_t>() % 64;
  const int16_t planes = int16_t(in.Next<uint8_t>() % 6);  // 3 and 4 render, others are refused
  const int32_t inPad = in.Next<uint8_t>() % 16;
  const int32_t outPad = in.Next<uint8_t>() % 16;
  const int32_t counter = in.Next<uint16_t>() % 10000;
  gClock = in.Next<uint32_t>();
  const int32_t handleSize = in.Next<uint16_t>() % 300;
  SetClockSourceForTesting(FixedClock);

  std::vector<uint8_t> recordBytes(kFilterRecordAllocSize, 0);
  FilterRecord* record = reinterpret_cast<FilterRecord*>(recordBytes.data());
  record->parameters = NewMemHandle(handleSize);
  FUZZ_CHECK(record->parameters != nullptr, "no handle of %d bytes", int(handleSize));
  in.Take(HandleData(record->parameters), size_t(handleSize));
  EffectParams held;
  std::memset(&held, 0, sizeof held);
  std::memcpy(&held, HandleData(record->parameters),
              size_t(handleSize) < sizeof held ? size_t(handleSize) : sizeof held);
  // A repeat runs without the dialog.
  if (handleSize >= int32_t(sizeof(EffectParams))) {
    static_cast<EffectParams*>(HandleData(record->parameters))->value[kShowDialog] = 0.0;
  }

  const int32_t bpp = planes == 4 ? 4 : 3;
  const Picture source = MakePicture(width * bpp + inPad, height, gClock);
  Picture input = source;
  const Picture before = MakePicture(width * bpp + outPad, height, ~gClock);
  Picture output = before;
  record->planes = planes;
  record->filterRect = Rect{0, 0, int16_t(height), int16_t(width)};
  record->inData = input.Pixels();
  record->outData = output.Pixels();
  record->inRowBytes = input.rowBytes;
  record->outRowBytes = output.rowBytes;

  intptr_t globals = 0;
  FUZZ_CHECK(Call(filterSelectorPrepare, record, &globals) == noErr, "prepare failed");
  FUZZ_CHECK(Call(filterSelectorStart, record, &globals) == noErr, "start failed");
  FUZZ_CHECK(GetMemHandleSize(record->parameters) >= int32_t(sizeof(EffectParams)),
             "a handle of %d bytes is still %d bytes after start", int(handleSize),
             int(GetMemHandleSize(record->parameters)));
  const EffectParams* params = static_cast<const EffectParams*>(HandleData(record->parameters));
  for (int i = 0; i < kParamCount && (i + 1) * 8 <= handleSize; ++i) {
    FUZZ_CHECK(std::memcmp(&params->value[i], &held.value[i], 8) == 0 || i == kShowDialog,
               "value %d of the handle changed at start", i);
  }
  // A record without Scale grows with Scale 1, the look it was made with.
  const double* values = static_cast<const double*>(HandleData(record->parameters));
  FUZZ_CHECK(GetMemHandleSize(record->parameters) >= kModuleParamCount * 8,
             "a handle of %d bytes is not the module's record after start", int(handleSize));
  FUZZ_CHECK(kModuleParamCount <= kScale || handleSize / 8 > kScale || values[kScale] == 1.0,
             "a record of %d bytes got Scale %.17g", int(handleSize),
             kModuleParamCount > kScale ? values[kScale] : 1.0);
  // The globals as a host keeps them after that many renders, within the replay
  // budget as the render target keeps it.
  int32_t frame = WithinReplayBudget(counter + 1, *params) - 1;
  if (frame < 0) frame = 0;
  static_cast<PluginGlobals*>(HandleData(reinterpret_cast<MemHandle>(globals)))->frameCounter =
      frame;

  const int16_t result = Call(filterSelectorContinue, record, &globals);
  const PluginGlobals* g =
      static_cast<const PluginGlobals*>(HandleData(reinterpret_cast<MemHandle>(globals)));
  if (planes != 3 && planes != 4) {
    FUZZ_CHECK(result == filterBadMode, "%d planes gave %d", int(planes), int(result));
    FUZZ_CHECK(output.bytes == before.bytes, "%d planes changed the output", int(planes));
  } else {
    FUZZ_CHECK(result == noErr || (result == userCanceledOrAborted &&
                                   params->value[kShowDialog] != 0.0),
               "continue gave %d", int(result));
    if (result == noErr) {
      // The counter, not the record, sets the frame.
      FUZZ_CHECK(g->frameCounter == frame + 1 &&
                     params->value[kFrameNumber] == double(g->frameCounter),
                 "frame %d rendered as %g", int(g->frameCounter), params->value[kFrameNumber]);
      const bool reveal = TruncToInt(params->value[kRevealBackLayer]) != 0;
      CheckOnlyPixelsChanged(output, before, width, height, bpp, reveal ? source : before);
    } else {
      FUZZ_CHECK(output.bytes == before.bytes, "a cancelled run changed the output");
    }
  }
  FUZZ_CHECK(input.bytes == source.bytes, "the input changed");
  FUZZ_CHECK(Call(filterSelectorFinish, record, &globals) == noErr, "finish failed");
  DisposeMemHandle(record->parameters);
  DisposeMemHandle(reinterpret_cast<MemHandle>(globals));
  return 0;
}
