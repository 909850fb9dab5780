// EffectParams: the filter's whole configuration, 27 little-endian doubles
// (216 bytes), as the renderer reads it and as the host keeps it in its
// parameters handle. No header, no tag. Names, ranges and defaults of the
// entries: the parameter table (host/ParamTable.h).
#pragma once

#include <cstddef>

enum ParamIndex {
  kFilmResponse = 0,
  kGrainAmount = 1,
  kDustSize = 2,
  kDustAmount = 3,
  kDustColorRed = 4,
  kDustColorGreen = 5,
  kDustColorBlue = 6,
  kHairSize = 7,
  kHairAmount = 8,
  kHairColorRed = 9,
  kHairColorGreen = 10,
  kHairColorBlue = 11,
  kScratchAmount = 12,
  kScratchVelocity = 13,
  kScratchLifespan = 14,
  kScratchOpacity = 15,
  kJitterMaxOffset = 16,
  kJitterProbability = 17,
  kConvertToGray = 18,
  kGrayTintRed = 19,
  kGrayTintGreen = 20,
  kGrayTintBlue = 21,
  kFlickerSpeed = 22,
  kFlickerAmount = 23,
  kRevealBackLayer = 24,
  kFrameNumber = 25,
  kShowDialog = 26,
  kParamCount = 27
};

struct EffectParams {
  double value[kParamCount];
};
static_assert(sizeof(EffectParams) == 216, "the record is 27 doubles, 216 bytes");
