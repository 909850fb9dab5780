#include "host/ParamTable.h"

// Columns: record index, name, kind, low, high, default(s), shown in the dialog,
// frei0r's explanation, shown by frei0r, whole numbers only.
constexpr ParamRow kParamRows[] = {
    {kFilmResponse, "Film Response", kValueParam, 0, 100, {45}, true,
     "Tone curve of the film: 0.24 leaves tones alone, less darkens, more lightens", true, false},
    {kGrainAmount, "Grain Amount", kValueParam, 0, 100, {23}, true,
     "Strength of the grain", true, false},
    {kDustSize, "Dust Size", kValueParam, 0, 100, {21}, true,
     "Length of the dust specks", true, false},
    {kDustAmount, "Dust Amount", kValueParam, 0, 100, {15}, true,
     "How many dust specks", true, false},
    {kDustColorRed, "Dust Color", kColorParam, 0, 255, {50, 50, 50}, true,
     "Colour of the dust specks", true, true},
    {kHairSize, "Hair Size", kValueParam, 0, 100, {65}, true,
     "Length of the hairs", true, false},
    {kHairAmount, "Hair Amount", kValueParam, 0, 100, {5}, true,
     "How many hairs", true, false},
    {kHairColorRed, "Hair Color", kColorParam, 0, 255, {30, 30, 30}, true,
     "Colour of the hairs", true, true},
    {kScratchAmount, "Scratch Amount", kValueParam, 0, 100, {10}, true,
     "How many scratches (1 = 100)", true, false},
    {kScratchVelocity, "Scratch Velocity", kValueParam, 0, 100, {20}, true,
     "How fast the scratches drift sideways", true, false},
    {kScratchLifespan, "Scratch Lifespan", kValueParam, 0, 100, {45}, true,
     "How many frames a scratch lives (1 = 100)", true, false},
    {kScratchOpacity, "Scratch Opacity", kValueParam, 0, 100, {30}, true,
     "How dark the scratches grow", true, false},
    {kJitterMaxOffset, "Jitter Max Offset", kValueParam, 0, 100, {3}, true,
     "Range of the frame's vertical jumps (1 = its whole height)", true, false},
    {kJitterProbability, "Jitter Probability", kValueParam, 0, 100, {5}, true,
     "Chance of a jump in each frame (1 = every frame)", true, false},
    {kConvertToGray, "Convert to Gray", kSwitchParam, 0, 1, {1}, true,
     "Turn the picture into tinted gray", true, true},
    {kGrayTintRed, "Gray Tint Value", kColorParam, 0, 255, {200, 100, 0}, true,
     "Tint of the gray picture", true, true},
    {kFlickerSpeed, "Flicker Speed", kValueParam, 0, 100, {10}, true,
     "How fast the brightness flickers", true, false},
    {kFlickerAmount, "Flicker Amount", kValueParam, 0, 100, {10}, true,
     "How much the brightness flickers", true, false},
    {kRevealBackLayer, "Reveal Back Layer", kSwitchParam, 0, 1, {0}, true,
     "Rows uncovered by a jump show the original frame instead of black", true, true},
    // Stamped by the filter before every render; hidden in the dialog, whose
    // edit still checks it; frei0r takes the frame from the clip's time.
    {kFrameNumber, "Frame Number", kInternalParam, 0, 9999, {0}, true, nullptr,
     false, true},
    // Set by the parameters selector, cleared by the dialog's OK; the defaults
    // leave it alone.
    {kShowDialog, "Show Dialog", kInternalParam, 0, 1, {0}, false, nullptr, false, true},
    // frei0r's own: frames per second of the film (frei0r value x 100), and the
    // seed number mixed into every frame's generator seed (frei0r value x 1000).
    {-1, "Film Frame Rate", kValueParam, 0, 100, {24}, false,
     "Frames per second of the film (0.24 = 24 fps): how fast scratches and flicker move "
     "with the clip's time", true, false},
    {-1, "Seed", kValueParam, 0, 1000, {0}, false,
     "Another value gives other grain, dust, hairs and jitter (steps of 0.001)", true, true},
    // The size of the damage: 0 (Auto) lays it out on a grid of kScaleAutoRows
    // rows and draws it at the picture's size; 1 to 16 is a factor (1: a pixel).
    // The 64-bit module's record entry 27; frei0r value x 16.
    {kScale, "Scale", kValueParam, 0, 16, {0}, true,
     "Size of the damage (1 = 16): 0 = Auto, laid out on 576 rows and drawn at the picture's "
     "size; 0.0625 draws it in pixels, as earlier versions did", true, false},
};

const int kParamRowCount = int(sizeof kParamRows / sizeof kParamRows[0]);

namespace {

constexpr bool SameText(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) ++a, ++b;
  return *a == *b;
}

// The entries of a record with Scale are each covered by exactly one row.
constexpr bool CoversTheRecordOnce() {
  int covered[kParamCountWithScale] = {};
  for (const ParamRow& row : kParamRows) {
    if (row.recordIndex < 0) continue;
    for (int c = 0; c < ParamEntryCount(row); ++c) {
      if (row.recordIndex + c >= kParamCountWithScale) return false;
      ++covered[row.recordIndex + c];
    }
  }
  for (int count : covered) {
    if (count != 1) return false;
  }
  return true;
}

}  // namespace

static_assert(CoversTheRecordOnce(), "every record entry belongs to exactly one row");
static_assert(kParamRows[kFilmFrameRateRow].recordIndex == -1 &&
                  SameText(kParamRows[kFilmFrameRateRow].name, "Film Frame Rate"),
              "kFilmFrameRateRow names the frame rate's row");
static_assert(kParamRows[kSeedRow].recordIndex == -1 && SameText(kParamRows[kSeedRow].name, "Seed"),
              "kSeedRow names the seed's row");
static_assert(kParamRows[kScaleRow].recordIndex == kScale &&
                  SameText(kParamRows[kScaleRow].name, "Scale") && kScaleRow > kSeedRow,
              "kScaleRow names Scale's row, after the seed's");
static_assert(int(sizeof kParamRows / sizeof kParamRows[0]) == kScaleRow + 1,
              "new rows go after Scale, never between the frei0r rows");

void SetDefaultParamValues(double* values, int count) {
  for (int i = 0; i < kParamRowCount; ++i) {
    const ParamRow& row = kParamRows[i];
    if (row.recordIndex < 0 || row.recordIndex == kShowDialog) continue;
    if (row.recordIndex + ParamEntryCount(row) > count) continue;
    for (int c = 0; c < ParamEntryCount(row); ++c) {
      values[row.recordIndex + c] = row.defaults[c];
    }
  }
}

void SetDefaultParams(EffectParams* params) { SetDefaultParamValues(params->value, kParamCount); }

double RecordScale(const double* values, int count) {
  return count > kScale ? values[kScale] : 1.0;
}
