#include "host/EffectParams.h"

void SetDefaultParams(EffectParams* params) {
  static const double kDefaults[kShowDialog] = {
      45, 23, 21, 15,   // film response, grain amount, dust size, dust amount
      50, 50, 50,       // dust colour
      65, 5,            // hair size, hair amount
      30, 30, 30,       // hair colour
      10, 20, 45, 30,   // scratch amount, velocity, lifespan, opacity
      3, 5,             // jitter max offset, jitter probability
      1,                // convert to gray
      200, 100, 0,      // gray tint
      10, 10,           // flicker speed, flicker amount
      0,                // reveal back layer
      0,                // frame number
  };
  for (int i = 0; i < kShowDialog; ++i) params->value[i] = kDefaults[i];
}
