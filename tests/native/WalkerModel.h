// A second, literal reading of the dust, hair and scratch rules, written for the
// tests from the rules themselves: plain vectors, its own generator, every frame
// replayed from seed 0, no cache, no early exits. Tests replay renders with it
// from a fixed seed and compare bytes. Only fed values in range.
#pragma once

#include <cstdint>
#include <vector>

#include "render/EffectParams.h"

struct ModelRand {
  uint32_t state;
  int32_t Next() {
    state = state * 214013u + 2531011u;
    return int32_t((state >> 16) & 0x7FFF);
  }
};

// A remainder of 0 where the modulus is 0 (the draw is still taken).
inline int32_t ModelMod(int32_t value, int32_t modulus) { return modulus > 0 ? value % modulus : 0; }

// Red, green, blue at bytes 0, 1, 2 in both layouts; alpha at 3.
struct ModelImage {
  int32_t width, height, bytesPerPixel, rowBytes;
  std::vector<uint8_t> bytes;
  uint8_t* At(int32_t x, int32_t y) { return &bytes[size_t(y) * rowBytes + size_t(x) * bytesPerPixel]; }
};

struct ModelWalkerKind {
  int sizeIndex, amountIndex, colorIndex;
  double amountDivisor, lengthExtra;
  int32_t shortest;
  bool moveFirst;  // dust: move, test, plot, turn; hair: test, plot, turn, move
  int32_t turnDivisor;
};
const ModelWalkerKind kModelDust = {kDustSize, kDustAmount, kDustColorRed, 4, 2, 2, true, 2};
const ModelWalkerKind kModelHair = {kHairSize, kHairAmount, kHairColorRed, 6, 1, 10, false, 15};

// Draws up to `limit` walkers of one kind; returns how many there were in all.
inline int32_t ModelWalkers(ModelImage& img, const EffectParams& p, int32_t jitter, ModelRand& r,
                            const ModelWalkerKind& kind, int32_t limit = 1 << 30) {
  const double* P = p.value;
  const double base = P[kind.amountIndex] / kind.amountDivisor + 1;
  if (!(base > 1)) return 0;
  const int32_t w = img.width, h = img.height;
  const int16_t count = int16_t(int32_t(double(r.Next() % int32_t(base)) + 2 * base + 1));
  auto inside = [&](float x, float y) {
    return 0 < x && x < w && 0 < y && y < h && -jitter < y && y < h - jitter;
  };
  auto plot = [&](float x, float y) {
    uint8_t* px = img.At(int32_t(x), int32_t(y));
    for (int c = 0; c < 3; ++c) px[c] = uint8_t(int32_t(P[kind.colorIndex + c]));
  };
  for (int32_t i = 0; i < count && i < limit; ++i) {
    float x = float(ModelMod(r.Next(), w));
    float y = float(ModelMod(r.Next(), h));
    float dx = float((r.Next() % 200 - 100) / 90.0);
    float dy = float((r.Next() % 200 - 100) / 90.0);
    const int16_t len = int16_t(ModelMod(r.Next(), int32_t(P[kind.sizeIndex] + kind.lengthExtra)) +
                                kind.shortest);
    for (int32_t s = 0; s < len; ++s) {
      if (kind.moveFirst) {
        x += dx;
        y += dy;
      }
      if (inside(x, y)) {
        plot(x, y);
        if (r.Next() % len < len / kind.turnDivisor) {
          dx = float((r.Next() % 200 - 100) / 90.0);
          dy = float((r.Next() % 200 - 100) / 90.0);
        }
        if (!kind.moveFirst) {
          x += dx;
          y += dy;
        }
      }
    }
  }
  return count;
}

struct ModelScratch {
  float x, y, age, stepX, stepY;
};

// The scratch state after the first spawn and `frames` frame steps, from seed 0;
// `r` is left where the replay left it.
inline std::vector<ModelScratch> ModelScratchReplay(int32_t w, int32_t h, const EffectParams& p,
                                                    int32_t frames, ModelRand& r) {
  const double* P = p.value;
  const int32_t count = int32_t(P[kScratchAmount] + 0.5);
  const double velocity = P[kScratchVelocity], lifespan = P[kScratchLifespan] + 1;
  r.state = 0;
  auto age = [&] { return float(ModelMod(r.Next(), int32_t(lifespan))); };
  auto x = [&] { return float(ModelMod(r.Next(), w)); };
  auto y = [&] { return float(ModelMod(r.Next(), h)); };
  auto stepX = [&] { return float(ModelMod(r.Next(), int32_t(velocity)) - velocity / 2); };
  auto stepY = [&] { return float(ModelMod(r.Next(), h / 5)); };
  std::vector<ModelScratch> s(count > 0 ? count : 0);
  for (ModelScratch& k : s) {
    k.x = x();
    k.y = y();
    k.age = age();
    k.stepX = stepX();
    k.stepY = stepY();
  }
  for (int32_t f = 0; f < frames; ++f) {
    for (ModelScratch& k : s) {
      k.x += k.stepX;
      k.y += k.stepY;
      k.age += 1;
      if (k.age > lifespan + 5) {
        k.age = age();
        k.x = x();
        k.y = y();
        k.stepX = stepX();
        k.stepY = stepY();
      }
    }
  }
  return s;
}

// The whole scratch pass on img, drawing at most `limit` scratches.
inline void ModelScratches(ModelImage& img, const EffectParams& p, int32_t jitter, int32_t frames,
                           int32_t limit = 1 << 30) {
  const double* P = p.value;
  const double lifespan = P[kScratchLifespan] + 1, opacity = P[kScratchOpacity] / 100;
  const int32_t w = img.width, h = img.height;
  ModelRand r;
  std::vector<ModelScratch> s = ModelScratchReplay(w, h, p, frames, r);
  for (int32_t i = 0; i < int32_t(s.size()) && i < limit; ++i) {
    if (!(s[i].age < lifespan && 0 < s[i].x && s[i].x < w)) continue;
    const int32_t col = int32_t(s[i].x);
    for (int32_t row = 0; row < h; ++row) {
      const int32_t t = ModelMod(r.Next(), int32_t(lifespan));
      float dark = 0;
      if (t < s[i].age) {
        dark = float(s[i].age / lifespan * 255 * opacity);
        if (dark < 0) dark = 0;
        if (dark >= 255) dark = 255;
      }
      uint8_t* px = img.At(col, row);
      for (int c = 0; c < 3; ++c) {
        const int32_t v = int32_t(px[c] - dark);
        if (-jitter < row && row < h - jitter) px[c] = uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
      }
    }
  }
}
