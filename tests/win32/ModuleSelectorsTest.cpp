// The selector protocol of PATINEX.8bf, driven through its loader as a host does.
// Every run here clears the show-dialog flag after the parameters selector (as a
// host replaying a filter does), so that no run waits for a dialog.
#include <gtest/gtest.h>

#include <cstring>

#include "host/MemHandle.h"
#include "host/PluginGlobals.h"
#include "testing/ModuleHost.h"

namespace {

const uint8_t kSentinel = 0xAB;

int gAbortCalls = 0;
int gProgressCalls = 0;
uint8_t PATINEX_CDECL AlwaysAbort() {
  ++gAbortCalls;
  return 1;
}
uint8_t PATINEX_CDECL NeverAbort() {
  ++gAbortCalls;
  return 0;
}
void PATINEX_CDECL CountProgress(int32_t done, int32_t total) {
  if (done <= total) ++gProgressCalls;
}

bool RectIsEmpty(const Rect& r) { return r.top == 0 && r.left == 0 && r.bottom == 0 && r.right == 0; }

// The master block a host sees: the data block's address, then "OTOF".
void ExpectPatinexHandle(MemHandle h, size_t minSize) {
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(0, std::memcmp(reinterpret_cast<const char*>(h) + sizeof(void*), "OTOF", 4));
  HGLOBAL master = GlobalHandle(h);
  ASSERT_NE(master, nullptr);
  EXPECT_GE(GlobalSize(master), sizeof(void*) + 4);
  HGLOBAL block = GlobalHandle(h->data);
  ASSERT_NE(block, nullptr);
  EXPECT_GE(GlobalSize(block), minSize);
}

PluginGlobals* Globals(intptr_t data) {
  return static_cast<PluginGlobals*>(reinterpret_cast<MemHandle>(data)->data);
}

TEST(ModuleSelectors, ModuleLoadsAndExportsEntry) {
  ASSERT_NE(PatinexModule(), nullptr) << ModulePath();
  ASSERT_NE(PatinexEntry(), nullptr);
}

TEST(ModuleSelectors, FirstCallMakesGlobalsWithGrayCustomColoursAndKeepsThem) {
  ModuleHost host;
  ASSERT_EQ(0, host.Call(filterSelectorPrepare));
  ASSERT_NE(host.data, 0);
  ExpectPatinexHandle(reinterpret_cast<MemHandle>(host.data), sizeof(PluginGlobals));
  const PluginGlobals* g = Globals(host.data);
  for (int i = 0; i < 16; ++i) {
    const uint32_t v = uint32_t(i);
    EXPECT_EQ(g->customColors[i], (v << 16) | (v << 8) | v) << i;
  }
  EXPECT_EQ(g->frameCounter, 0);
  EXPECT_EQ(g->previewSource, nullptr);
  EXPECT_EQ(g->previewOutput, nullptr);

  const intptr_t kept = host.data;
  EXPECT_EQ(0, host.Call(filterSelectorPrepare));
  EXPECT_EQ(host.data, kept);
  // The block is copied back at the end of each call with this call's record.
  EXPECT_EQ(Globals(host.data)->hostRecord, static_cast<void*>(host.record));
}

TEST(ModuleSelectors, ParametersMakesDefaultRecordAndAsksForDialog) {
  ModuleHost host;
  ASSERT_EQ(0, host.Call(filterSelectorParameters));
  ExpectPatinexHandle(host.record->parameters, kRecordValues * 8);
  const double* v = host.Values();
  // The 64-bit module's Scale (index 27) starts at Auto, 0.
  const double expected[28] = {45, 23, 21, 15, 50, 50, 50, 65, 5, 30, 30, 30, 10, 20,
                               45, 30, 3,  5,  1,  200, 100, 0, 10, 10, 0,  0,  1.0, 0};
  for (int i = 0; i < kRecordValues; ++i) EXPECT_EQ(v[i], expected[i]) << "index " << i;
}

// A record a host kept from an earlier version (27 values, 216 bytes) renders in
// the 64-bit module with Scale 1, the look it was made with, and keeps its
// values; one of 28 keeps its Scale. The 32-bit module keeps 27 values.
TEST(ModuleSelectors, ARecordOfAnEarlierVersionGetsScaleOneAndAWholeOneKeepsItsScale) {
  for (const int values : {27, 28}) {
    ModuleHost host;
    TestImage in(6, 4, 3, 90), out(6, 4, 3, kSentinel);
    host.SetImages(in, out);
    host.record->parameters = NewMemHandle(values * 8);
    double* held = static_cast<double*>(HandleData(host.record->parameters));
    for (int i = 0; i < values; ++i) held[i] = 10.0 + i;
    if (values == 28) held[kScaleValue] = 2.5;
    ASSERT_EQ(0, host.RunWithoutDialog(true)) << values;
    ExpectPatinexHandle(host.record->parameters, size_t(kRecordValues) * 8);
    EXPECT_EQ(GlobalSize(GlobalHandle(host.record->parameters->data)),
              size_t(values > kRecordValues ? values : kRecordValues) * 8)
        << values;
    const double* v = host.Values();
    for (int i = 0; i < kShowDialog; ++i) {
      if (i == kFrameNumber) continue;
      EXPECT_EQ(v[i], 10.0 + i) << values << " values, index " << i;
    }
    EXPECT_EQ(v[kFrameNumber], 1.0);
    if (kRecordValues > kScaleValue) EXPECT_EQ(v[kScaleValue], values == 28 ? 2.5 : 1.0) << values;
  }
}

TEST(ModuleSelectors, ParametersKeepsAnExistingRecordAndOnlySetsTheFlag) {
  ModuleHost host;
  ASSERT_EQ(0, host.Call(filterSelectorParameters));
  MemHandle handle = host.record->parameters;
  EffectParams* p = host.Params();
  for (int i = 0; i < 26; ++i) p->value[i] = 100.0 + i;
  p->value[kShowDialog] = 0.0;
  ASSERT_EQ(0, host.Call(filterSelectorParameters));
  EXPECT_EQ(host.record->parameters, handle);
  for (int i = 0; i < 26; ++i) EXPECT_EQ(host.Params()->value[i], 100.0 + i) << i;
  EXPECT_EQ(host.Params()->value[kShowDialog], 1.0);
}

TEST(ModuleSelectors, StartRequestsWholeAreaAndAllPlanes) {
  for (int16_t planes : {3, 4}) {
    ModuleHost host;
    host.record->planes = planes;
    host.record->filterRect = Rect{5, 7, 25, 40};
    ASSERT_EQ(0, host.Call(filterSelectorStart));
    EXPECT_EQ(0, std::memcmp(&host.record->inRect, &host.record->filterRect, sizeof(Rect)));
    EXPECT_EQ(0, std::memcmp(&host.record->outRect, &host.record->filterRect, sizeof(Rect)));
    EXPECT_EQ(host.record->inLoPlane, 0);
    EXPECT_EQ(host.record->outLoPlane, 0);
    EXPECT_EQ(host.record->inHiPlane, planes - 1);
    EXPECT_EQ(host.record->outHiPlane, planes - 1);
  }
}

TEST(ModuleSelectors, NthRunRendersFrameNAndEmptiesTheRects) {
  ModuleHost host;
  TestImage in(16, 8, 3, 128), out(16, 8, 3, kSentinel);
  host.SetImages(in, out);
  gProgressCalls = 0;
  host.record->progressProc = CountProgress;
  host.record->abortProc = NeverAbort;
  // Parameters once, then repeats of the filter, as a host filtering a clip does.
  ASSERT_EQ(0, host.RunWithoutDialog(true));
  EXPECT_EQ(host.Params()->value[kFrameNumber], 1.0);
  EXPECT_TRUE(RectIsEmpty(host.record->inRect));
  EXPECT_TRUE(RectIsEmpty(host.record->outRect));
  EXPECT_GT(gProgressCalls, 0);
  for (int n = 2; n <= 4; ++n) {
    ASSERT_EQ(0, host.RunWithoutDialog(false));
    EXPECT_EQ(host.Params()->value[kFrameNumber], double(n));
    EXPECT_EQ(Globals(host.data)->frameCounter, n);
  }
  // A new menu invocation asks for the dialog again, and the count goes on.
  ASSERT_EQ(0, host.RunWithoutDialog(true));
  EXPECT_EQ(host.Params()->value[kFrameNumber], 5.0);
  // The render wrote the pixels of the area, three bytes each (planes 3: no
  // alpha), and nothing outside them.
  bool wrote = false;
  for (int y = 0; y < 8; ++y) {
    const uint8_t* row = out.Data() + y * out.rowBytes;
    for (int x = 0; x < 16 * 3; ++x) wrote = wrote || row[x] != kSentinel;
    for (int x = 16 * 3; x < out.rowBytes; ++x) ASSERT_EQ(row[x], kSentinel) << x << "," << y;
  }
  EXPECT_TRUE(wrote);
}

TEST(ModuleSelectors, AbortEndsWithResultOneAndEmptiedRects) {
  ModuleHost host;
  TestImage in(16, 8, 3, 128), out(16, 8, 3, kSentinel);
  host.SetImages(in, out);
  host.record->abortProc = AlwaysAbort;
  gAbortCalls = 0;
  ASSERT_EQ(0, host.Call(filterSelectorParameters));
  host.Params()->value[kShowDialog] = 0.0;
  ASSERT_EQ(0, host.Call(filterSelectorStart));
  EXPECT_FALSE(RectIsEmpty(host.record->inRect));
  EXPECT_EQ(1, host.Call(filterSelectorContinue));
  EXPECT_GT(gAbortCalls, 0);
  EXPECT_TRUE(RectIsEmpty(host.record->inRect));
  EXPECT_TRUE(RectIsEmpty(host.record->outRect));
  EXPECT_EQ(0, host.Call(filterSelectorFinish));
}

TEST(ModuleSelectors, UnknownSelectorsAreRefusedAndChangeNothing) {
  ModuleHost host;
  ASSERT_EQ(0, host.Call(filterSelectorParameters));
  const std::vector<uint8_t> recordBefore = host.recordBytes;
  const EffectParams paramsBefore = *host.Params();
  PluginGlobals globalsBefore;
  std::memcpy(&globalsBefore, Globals(host.data), sizeof globalsBefore);
  for (int16_t selector : {int16_t(6), int16_t(-1), int16_t(32767)}) {
    EXPECT_EQ(filterBadParameters, host.Call(selector)) << selector;
    EXPECT_EQ(host.recordBytes, recordBefore);
    EXPECT_EQ(0, std::memcmp(host.Params(), &paramsBefore, sizeof paramsBefore));
    // Only the result field of the globals tells of the call.
    PluginGlobals after;
    std::memcpy(&after, Globals(host.data), sizeof after);
    EXPECT_EQ(after.result, filterBadParameters);
    after.result = globalsBefore.result;
    EXPECT_EQ(0, std::memcmp(&after, &globalsBefore, sizeof after));
  }
}

TEST(ModuleSelectors, FourPlanesCarryTheSourceAlpha) {
  ModuleHost host;
  TestImage in(12, 6, 4, 90), out(12, 6, 4, kSentinel);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 12; ++x) in.Data()[y * in.rowBytes + x * 4 + 3] = 77;
  }
  host.SetImages(in, out);
  ASSERT_EQ(0, host.Call(filterSelectorParameters));
  // The back layer is copied first, alpha and all; the passes draw colour only.
  host.Params()->value[kShowDialog] = 0.0;
  host.Params()->value[kRevealBackLayer] = 1.0;
  host.Params()->value[kJitterProbability] = 0.0;
  ASSERT_EQ(0, host.RunWithoutDialog(false));
  for (int y = 0; y < 6; ++y) {
    const uint8_t* row = out.Data() + y * out.rowBytes;
    for (int x = 0; x < 12; ++x) ASSERT_EQ(row[x * 4 + 3], 77) << x << "," << y;
    for (int x = 12 * 4; x < out.rowBytes; ++x) ASSERT_EQ(row[x], kSentinel) << x << "," << y;
  }
}

TEST(ModuleSelectors, ImagesItCannotFilterRenderNothing) {
  struct Case {
    const char* what;
    int16_t planes;
    bool nullIn;
    bool nullOut;
    Rect filterRect;
    int16_t expected;
    int32_t inRowBytes = 12 * 4 + 8;
    int32_t outRowBytes = 12 * 4 + 8;
  };
  const Case cases[] = {
      {"gray", 1, false, false, Rect{0, 0, 6, 12}, filterBadMode},
      {"two planes", 2, false, false, Rect{0, 0, 6, 12}, filterBadMode},
      {"CMYK + alpha", 5, false, false, Rect{0, 0, 6, 12}, filterBadMode},
      {"no source", 3, true, false, Rect{0, 0, 6, 12}, filterBadParameters},
      {"no destination", 3, false, true, Rect{0, 0, 6, 12}, filterBadParameters},
      {"empty width", 3, false, false, Rect{0, 4, 6, 4}, filterBadParameters},
      {"inverted height", 3, false, false, Rect{6, 0, 2, 12}, filterBadParameters},
      // Rows closer together than a row of pixels would run past the buffer.
      {"short source rows", 3, false, false, Rect{0, 0, 6, 12}, filterBadParameters, 35},
      {"short destination rows", 4, false, false, Rect{0, 0, 6, 12}, filterBadParameters,
       56, 47},
      {"negative stride", 3, false, false, Rect{0, 0, 6, 12}, filterBadParameters, -56},
  };
  for (const Case& c : cases) {
    ModuleHost host;
    TestImage in(12, 6, 4, 90), out(12, 6, 4, kSentinel);
    host.SetImages(in, out);
    host.record->planes = c.planes;
    host.record->filterRect = c.filterRect;
    if (c.nullIn) host.record->inData = nullptr;
    if (c.nullOut) host.record->outData = nullptr;
    host.record->inRowBytes = c.inRowBytes;
    host.record->outRowBytes = c.outRowBytes;
    ASSERT_EQ(0, host.Call(filterSelectorParameters));
    host.Params()->value[kShowDialog] = 0.0;
    EXPECT_EQ(c.expected, host.RunWithoutDialog(false)) << c.what;
    for (uint8_t b : out.bytes) ASSERT_EQ(b, kSentinel) << c.what;
    // A refused run is not a rendered frame.
    EXPECT_EQ(Globals(host.data)->frameCounter, 0) << c.what;
    EXPECT_EQ(host.Params()->value[kFrameNumber], 0.0) << c.what;
  }
}

TEST(ModuleSelectors, RowsExactlyOnePixelRowApartAreEnough) {
  for (int16_t planes : {3, 4}) {
    ModuleHost host;
    TestImage in(9, 4, planes, 50), out(9, 4, planes, kSentinel);
    host.SetImages(in, out);
    host.record->inRowBytes = host.record->outRowBytes = 9 * planes;
    EXPECT_EQ(0, host.RunWithoutDialog(true)) << planes;
    EXPECT_EQ(out.bytes[size_t(9 * planes * 4)], kSentinel);  // just past the last row
  }
}

TEST(ModuleSelectors, HostKeepingNeitherDataNorParameters) {
  for (int run = 1; run <= 3; ++run) {
    ModuleHost host;
    TestImage in(10, 5, 3, 60), out(10, 5, 3, kSentinel);
    host.SetImages(in, out);
    auto forget = [&host] {
      host.data = 0;
      host.record->parameters = nullptr;
    };
    forget();
    ASSERT_EQ(0, host.Call(filterSelectorParameters)) << run;
    EXPECT_EQ(host.Params()->value[kShowDialog], 1.0);
    forget();
    ASSERT_EQ(0, host.Call(filterSelectorPrepare));
    forget();
    // Start and continue make the record with its defaults themselves; the
    // show-dialog flag stays 0, since no parameters call asked for a dialog.
    ASSERT_EQ(0, host.Call(filterSelectorStart));
    ASSERT_NE(host.Params(), nullptr);
    EXPECT_EQ(host.Params()->value[kShowDialog], 0.0);
    EXPECT_EQ(host.record->outHiPlane, 2);
    forget();
    ASSERT_EQ(0, host.Call(filterSelectorContinue));
    ASSERT_NE(host.data, 0);
    ExpectPatinexHandle(host.record->parameters, kRecordValues * 8);
    // Fresh globals on every call: each render is a first frame.
    EXPECT_EQ(host.Params()->value[kFrameNumber], 1.0);
    EXPECT_EQ(host.Params()->value[kShowDialog], 0.0);
    EXPECT_EQ(host.Params()->value[kGrainAmount], 23.0);
    EXPECT_TRUE(RectIsEmpty(host.record->outRect));
    int written = 0;
    for (int x = 0; x < 10 * 3; ++x) written += out.bytes[x] != kSentinel ? 1 : 0;
    EXPECT_GT(written, 0);
    forget();
    ASSERT_EQ(0, host.Call(filterSelectorFinish));
  }
}

TEST(ModuleSelectors, FinishReleasesPreviewBuffersOnceAndIsSafeAfterwards) {
  ModuleHost host;
  ASSERT_EQ(0, host.Call(filterSelectorPrepare));
  // Plant two buffers as the preview does (global-heap blocks, locked).
  HGLOBAL a = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 64);
  HGLOBAL b = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 64);
  PluginGlobals* g = Globals(host.data);
  g->previewSource = static_cast<uint8_t*>(GlobalLock(a));
  g->previewOutput = static_cast<uint8_t*>(GlobalLock(b));
  ASSERT_EQ(0, host.Call(filterSelectorFinish));
  EXPECT_EQ(g->previewSource, nullptr);
  EXPECT_EQ(g->previewOutput, nullptr);
  // The heap no longer knows the blocks.
  EXPECT_EQ(GlobalFlags(a), UINT(GMEM_INVALID_HANDLE));
  EXPECT_EQ(GlobalFlags(b), UINT(GMEM_INVALID_HANDLE));
  EXPECT_EQ(0, host.Call(filterSelectorFinish));
}

}  // namespace
