// The selector logic of ENTRYPOINT on exact-size buffers, under the sanitizers
// natively (and again under Wine). Runs never ask for the dialog: index 26 is
// cleared after the parameters selector, as a host replaying a filter does. The
// about selector opens a window on Windows and is tested with the module there.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "host/ParamTable.h"
#include "host/FilterRecord.h"
#include "host/MemHandle.h"
#include "host/PluginGlobals.h"
#include "plugin/Selectors.h"

namespace {

struct Host {
  std::vector<uint8_t> recordBytes = std::vector<uint8_t>(kFilterRecordAllocSize, 0);
  FilterRecord* record = reinterpret_cast<FilterRecord*>(recordBytes.data());
  intptr_t data = 0;
  std::vector<uint8_t> in, out;

  // A host releases what it kept for the plug-in when it lets it go.
  ~Host() {
    if (record->parameters != nullptr) DisposeMemHandle(record->parameters);
    if (data != 0) DisposeMemHandle(reinterpret_cast<MemHandle>(data));
  }

  // Buffers of exactly rowBytes * height, so any read or write past them is caught.
  void SetImage(int16_t width, int16_t height, int16_t planes) {
    const int32_t rowBytes = int32_t(width) * (planes == 4 ? 4 : 3);
    in.assign(size_t(rowBytes) * size_t(height), 100);
    out.assign(in.size(), 0xEE);
    record->planes = planes;
    record->filterRect = Rect{0, 0, height, width};
    record->inData = in.data();
    record->outData = out.data();
    record->inRowBytes = rowBytes;
    record->outRowBytes = rowBytes;
  }
  int16_t Call(int16_t selector) {
    int16_t result = 0x5A5A;
    ENTRYPOINT(selector, record, &data, &result);
    return result;
  }
  EffectParams* Params() { return static_cast<EffectParams*>(HandleData(record->parameters)); }
  PluginGlobals* Globals() {
    return static_cast<PluginGlobals*>(HandleData(reinterpret_cast<MemHandle>(data)));
  }
  int16_t Run(bool withParameters) {
    if (withParameters) {
      if (int16_t r = Call(filterSelectorParameters)) return r;
      Params()->value[kShowDialog] = 0.0;
    }
    int16_t r = Call(filterSelectorPrepare);
    if (r == 0) r = Call(filterSelectorStart);
    if (r == 0) r = Call(filterSelectorContinue);
    if (int16_t f = Call(filterSelectorFinish)) return f;
    return r;
  }
};

TEST(Selectors, FreshGlobalsAreZeroWithGrayCustomColours) {
  PluginGlobals g;
  std::memset(&g, 0x77, sizeof g);
  InitPluginGlobals(&g);
  EXPECT_EQ(g.result, 0);
  EXPECT_EQ(g.frameCounter, 0);
  EXPECT_EQ(g.previewSource, nullptr);
  EXPECT_EQ(g.previewOutput, nullptr);
  EXPECT_EQ(g.previewRowBytes, 0);
  EXPECT_EQ(g.hostRecord, nullptr);
  EXPECT_EQ(g.customColors[0], 0u);
  EXPECT_EQ(g.customColors[1], 0x010101u);
  EXPECT_EQ(g.customColors[15], 0x0F0F0Fu);
}

TEST(Selectors, FramesCountOnePerRenderedRunOnTinyAndOddImages) {
  struct Size {
    int16_t w, h, planes;
  };
  for (Size s : {Size{1, 1, 3}, Size{1, 1, 4}, Size{7, 3, 3}, Size{5, 9, 4}}) {
    Host host;
    host.SetImage(s.w, s.h, s.planes);
    ASSERT_EQ(0, host.Run(true));
    for (int n = 2; n <= 3; ++n) ASSERT_EQ(0, host.Run(false));
    EXPECT_EQ(host.Globals()->frameCounter, 3);
    EXPECT_EQ(host.Params()->value[kFrameNumber], 3.0);
    EXPECT_EQ(host.record->inHiPlane, s.planes - 1);
    EXPECT_EQ(host.record->outRect.right, 0);
    EXPECT_EQ(host.record->inRect.bottom, 0);
  }
}

TEST(Selectors, RefusedImagesLeaveTheOutputAndTheCountAlone) {
  Host host;
  host.SetImage(4, 4, 3);
  ASSERT_EQ(0, host.Run(true));
  std::vector<uint8_t> before = host.out;
  host.record->planes = 1;
  EXPECT_EQ(filterBadMode, host.Run(false));
  host.record->planes = 3;
  host.record->filterRect.right = host.record->filterRect.left;
  EXPECT_EQ(filterBadParameters, host.Run(false));
  host.record->filterRect.right = 4;
  host.record->inData = nullptr;
  EXPECT_EQ(filterBadParameters, host.Run(false));
  EXPECT_EQ(host.out, before);
  EXPECT_EQ(host.Globals()->frameCounter, 1);
}

TEST(Selectors, ContinueWithoutParametersMakesDefaultsAndRendersWithoutDialog) {
  Host host;
  host.SetImage(6, 2, 3);
  ASSERT_EQ(0, host.Call(filterSelectorContinue));
  ASSERT_NE(host.Params(), nullptr);
  EXPECT_EQ(host.Params()->value[kShowDialog], 0.0);
  EXPECT_EQ(host.Params()->value[kFilmResponse], 45.0);
  EXPECT_EQ(host.Params()->value[kFrameNumber], 1.0);
  if (kModuleParamCount > kScale) {
    EXPECT_EQ(static_cast<const double*>(HandleData(host.record->parameters))[kScale], kScaleAuto);
  }
}

// A host may hand back a record cut short (an older or damaged file): the
// selectors grow it to the module's record (216 bytes in the 32-bit module, 224
// with Scale elsewhere), keep the values it holds in full and give the others
// their defaults, instead of reading and writing past its end. A record without
// Scale (the 27 values of an earlier version among them) gets Scale 1, the look
// it was made with; a whole record keeps its Scale.
TEST(Selectors, AShortParametersHandleGrowsKeepingItsWholeValues) {
  double defaults[kParamCountWithScale];
  SetDefaultParamValues(defaults, kParamCountWithScale);
  const int32_t moduleSize = kModuleParamCount * 8;
  for (int32_t size : {0, 7, 8, 100, 208, 215, 216, 223, 224}) {
    if (size > moduleSize) continue;
    Host host;
    host.SetImage(5, 3, 4);
    const MemHandle handle = NewMemHandle(size);
    ASSERT_NE(handle, nullptr);
    host.record->parameters = handle;
    double* held = static_cast<double*>(HandleData(handle));
    for (int32_t i = 0; i < size / 8; ++i) held[i] = 1000.0 + i;
    if (size / 8 > kScale) held[kScale] = 2.5;
    ASSERT_EQ(0, host.Call(filterSelectorParameters)) << size;
    ASSERT_EQ(GetMemHandleSize(host.record->parameters), moduleSize) << size;
    EXPECT_EQ(host.Params()->value[kShowDialog], 1.0) << size;
    host.Params()->value[kShowDialog] = 0.0;
    ASSERT_EQ(0, host.Run(false)) << size;
    const double* values = static_cast<const double*>(HandleData(host.record->parameters));
    for (int i = 0; i < kModuleParamCount; ++i) {
      if (i == kShowDialog) continue;
      double want = i < size / 8 ? 1000.0 + i : defaults[i];
      if (i == kFrameNumber) want = 1.0;
      if (i == kScale) want = size / 8 > kScale ? 2.5 : 1.0;
      EXPECT_EQ(values[i], want) << "size " << size << ", index " << i;
    }
  }
}

// The job the continue selector renders takes Scale from the module's record:
// Auto for a new record, the record's value once set, 1 for a record made
// without Scale; the 32-bit module, whose record has no Scale, always renders at 1.
TEST(Selectors, ContinueRendersAtTheRecordsScale) {
  const bool hasScale = kModuleParamCount > kScale;
  struct Case {
    int32_t handleSize;  // 0: the parameters selector makes the record
    double stored;       // written into Scale's entry when the record has one; NaN: none
    double want;
  };
  const Case cases[] = {
      {0, NAN, hasScale ? kScaleAuto : 1.0},
      {0, 2.5, hasScale ? 2.5 : 1.0},
      {0, 16.0, hasScale ? 16.0 : 1.0},
      {216, NAN, 1.0},  // 27 values from an earlier version
  };
  for (const Case& c : cases) {
    Host host;
    host.SetImage(8, 6, 3);
    if (c.handleSize > 0) {
      host.record->parameters = NewMemHandle(c.handleSize);
      SetDefaultParams(static_cast<EffectParams*>(HandleData(host.record->parameters)));
    }
    ASSERT_EQ(0, host.Call(filterSelectorParameters));
    double* values = static_cast<double*>(HandleData(host.record->parameters));
    if (hasScale && !std::isnan(c.stored)) values[kScale] = c.stored;
    const RenderJob job = ContinueRenderJob(*host.record, host.Params());
    EXPECT_EQ(job.scale, c.want) << c.handleSize << " " << c.stored;
    EXPECT_EQ(job.params, host.Params());
    EXPECT_EQ(RectWidth(job.dstRect), 8);
    EXPECT_EQ(job.sixteenBits, 0);
  }
}

TEST(Selectors, FinishReleasesPreviewBuffersAndToleratesNone) {
  Host host;
  ASSERT_EQ(0, host.Call(filterSelectorPrepare));
  host.Globals()->previewSource = static_cast<uint8_t*>(NewMemBlock(32));
  host.Globals()->previewOutput = static_cast<uint8_t*>(NewMemBlock(32));
  ASSERT_EQ(0, host.Call(filterSelectorFinish));  // the sanitizers report a leak otherwise
  EXPECT_EQ(host.Globals()->previewSource, nullptr);
  EXPECT_EQ(host.Globals()->previewOutput, nullptr);
  EXPECT_EQ(0, host.Call(filterSelectorFinish));
}

}  // namespace
