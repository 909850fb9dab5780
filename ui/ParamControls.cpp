#include "ui/ParamControls.h"

#include "resources/ResourceIds.h"

namespace {

struct RowControl {
  int recordIndex;
  int controlId;
};

// By the row's (first) record index, in the dialog's order.
constexpr RowControl kRowControls[] = {
    {kFilmResponse, IDC_FILM_RESPONSE},       {kGrainAmount, IDC_GRAIN_AMOUNT},
    {kDustSize, IDC_DUST_SIZE},               {kDustAmount, IDC_DUST_AMOUNT},
    {kDustColorRed, IDC_DUST_COLOR},          {kHairSize, IDC_HAIR_SIZE},
    {kHairAmount, IDC_HAIR_AMOUNT},           {kHairColorRed, IDC_HAIR_COLOR},
    {kScratchAmount, IDC_SCRATCH_AMOUNT},     {kScratchVelocity, IDC_SCRATCH_VELOCITY},
    {kScratchLifespan, IDC_SCRATCH_LIFESPAN}, {kScratchOpacity, IDC_SCRATCH_OPACITY},
    {kJitterMaxOffset, IDC_JITTER_MAX_OFFSET}, {kJitterProbability, IDC_JITTER_PROBABILITY},
    {kConvertToGray, IDC_CONVERT_TO_GRAY},    {kGrayTintRed, IDC_GRAY_TINT},
    {kFlickerSpeed, IDC_FLICKER_SPEED},       {kFlickerAmount, IDC_FLICKER_AMOUNT},
    {kRevealBackLayer, IDC_REVEAL_BACK_LAYER}, {kFrameNumber, IDC_FRAME_NUMBER},
    {kScale, IDC_SCALE},
};

}  // namespace

int ParamControlId(const ParamRow& row) {
  if (!row.inDialog) return 0;
  for (const RowControl& c : kRowControls) {
    if (c.recordIndex == row.recordIndex) return c.controlId;
  }
  return 0;
}

const ParamRow* FindParamRowByControl(int controlId) {
  if (controlId == 0) return nullptr;
  for (int i = 0; i < kParamRowCount; ++i) {
    if (ParamControlId(kParamRows[i]) == controlId) return &kParamRows[i];
  }
  return nullptr;
}
