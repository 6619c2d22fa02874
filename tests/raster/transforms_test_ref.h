// Independent, deliberately plain re-computations of the transfer and transformation results,
// written from the arithmetic rules alone, for the transforms tests. Blend arithmetic follows
// the implementation in force (packed-lane or plain).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "raster/blend.h"
#include "raster/core.h"

namespace raster::ref {

inline bool Packed() {
  return ActiveBlendImplementation() != TBlendImplementation::Plain;
}

inline TColor32 Chan(TColor32 C, int k) {
  return (C >> (8 * k)) & 0xFF;
}

// Packed-lane P(W): (F*W + B*(256-W) + 128) >> 8 on every channel.
inline TColor32 P(TColor32 F, TColor32 B, TColor32 W) {
  TColor32 r = 0;
  for (int k = 0; k < 4; ++k)
    r |= ((Chan(F, k) * W + Chan(B, k) * (256 - W) + 128) >> 8) << (8 * k);
  return r;
}
// Plain Q(W): ((F*W + 128) >> 8) + ((B*(255-W) + 128) >> 8) on every channel.
inline TColor32 Q(TColor32 F, TColor32 B, TColor32 W) {
  TColor32 r = 0;
  for (int k = 0; k < 4; ++k)
    r += (((Chan(F, k) * W + 128) >> 8) + ((Chan(B, k) * (255 - W) + 128) >> 8)) << (8 * k);
  return r;
}

inline TColor32 Combine(TColor32 X, TColor32 Y, TColor32 W) {
  if (Packed()) return P(X, Y, W);
  if (W == 0) return Y;
  if (W == 255) return X;
  return Q(X, Y, W);
}

inline void BlendMemRef(TColor32 F, TColor32& B) {
  const TColor32 fa = F >> 24;
  if (fa == 0) return;
  if (fa == 255) {
    B = F;
    return;
  }
  B = Packed() ? P(F, B, fa) : Q(F, B, fa);
}

inline void BlendMemExRef(TColor32 F, TColor32& B, TColor32 M) {
  const TColor32 fa = F >> 24;
  if (fa == 0) return;
  const TColor32 w = ((M + 1) * fa) >> 8;
  if (w == 0) return;
  B = Packed() ? P(F, B, w) : (Q(F, B, w) & 0x00FFFFFFu);
}

// The line form: alpha plus one in the packed set; the plain set blends pixel by pixel.
inline void BlendLineExRef(TColor32 F, TColor32& B, TColor32 M) {
  if (!Packed()) return BlendMemExRef(F, B, M);
  const TColor32 fa = F >> 24;
  if (fa == 0) return;
  const TColor32 w = ((fa + 1) * M) >> 8;
  if (w == 0) return;
  B = P(F, B, w);
}

// Seeded random colours that exercise the special alpha values.
inline TColor32 RandomColor(std::mt19937& rng) {
  TColor32 c = rng();
  switch (rng() % 6) {
    case 0:
      return c | 0xFF000000u;
    case 1:
      return c & 0x00FFFFFFu;
    default:
      return c;
  }
}

inline void FillRandom(TBitmap32& B, std::mt19937& rng) {
  for (std::int32_t y = 0; y < B.Height(); ++y)
    for (std::int32_t x = 0; x < B.Width(); ++x) B.SetPixel(x, y, RandomColor(rng));
}

inline std::vector<TColor32> Pixels(const TBitmap32& B) {
  return std::vector<TColor32>(B.PixelBuffer(),
                               B.PixelBuffer() + std::size_t(B.Width()) * B.Height());
}

// Index of the first differing pixel, or -1.
inline long FirstDifference(const TBitmap32& A, const TBitmap32& B) {
  const std::size_t n = std::size_t(A.Width()) * A.Height();
  if (A.Width() != B.Width() || A.Height() != B.Height()) return 0;
  for (std::size_t i = 0; i < n; ++i)
    if (A.PixelBuffer()[i] != B.PixelBuffer()[i]) return long(i);
  return -1;
}

// The seed of a randomized test: RASTER_TEST_SEED reruns one, otherwise a fixed one.
inline std::uint32_t TestSeed(std::uint32_t Default) {
  if (const char* s = std::getenv("RASTER_TEST_SEED")) return std::uint32_t(std::strtoul(s, 0, 0));
  return Default;
}

}  // namespace raster::ref
