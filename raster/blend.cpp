#include "raster/blend.h"

#include <cstdlib>
#include <cstring>

#include "raster/blend_p.h"
#include "raster/cpu.h"

// Realisation notes.
// - Both sets are portable integer code that produces the specified numbers to the bit;
//   the packed-lane set's lanes are emulated with two 16-bit fields per 32-bit word
//   (PackedLerp in blend_p.h), the plain set is the two-channels-per-multiply code as written.
// - The classic 256-entry weight table (lanes (i, i, i, i), bias at entry 128) exists
//   only to feed MMX multiplies from memory. Nothing here uses MMX registers, so there is no such
//   table: the weight is multiplied in directly, and the vector code broadcasts it in registers.
// - EMMS does nothing: no routine touches the x87/MMX state.

namespace raster {

namespace {

// ---- Plain set ---------------------------------------------------------------------------------

// Q(W) = ((F_c*W + 128) >> 8) + ((B_c*(255 - W) + 128) >> 8) on all four channels. Red and blue
// share one multiply, alpha and green another; each 16-bit field holds at most
// 255*255 + 128 < 65536, so nothing carries between fields. Each rounded half is at most
// (255*W + 128) >> 8 resp. (255*(255-W) + 128) >> 8, which add up to at most 255, so the two
// halves can be added as whole words.
inline TColor32 PlainLerp(TColor32 F, TColor32 B, TColor32 W) {
  const TColor32 wb = 255u - W;
  const TColor32 fRB = (((F & 0x00FF00FFu) * W + 0x00800080u) >> 8) & 0x00FF00FFu;
  const TColor32 fAG = (((F >> 8) & 0x00FF00FFu) * W + 0x00800080u) & 0xFF00FF00u;
  const TColor32 bRB = (((B & 0x00FF00FFu) * wb + 0x00800080u) >> 8) & 0x00FF00FFu;
  const TColor32 bAG = (((B >> 8) & 0x00FF00FFu) * wb + 0x00800080u) & 0xFF00FF00u;
  return (fAG | fRB) + (bAG | bRB);
}

// Q(W) on red, green and blue only; the alpha of the result is 0.
inline TColor32 PlainLerpRGB(TColor32 F, TColor32 B, TColor32 W) {
  return PlainLerp(F, B, W) & 0x00FFFFFFu;
}

TColor32 PlainCombineReg(TColor32 X, TColor32 Y, TColor32 W) {
  if (W == 0) return Y;
  if (W == 255) return X;
  return PlainLerp(X, Y, W);
}

void PlainCombineMem(TColor32 F, TColor32& B, TColor32 W) {
  if (W == 0) return;
  if (W == 255) {
    B = F;
    return;
  }
  B = PlainLerpRGB(F, B, W);
}

TColor32 PlainBlendReg(TColor32 F, TColor32 B) {
  const TColor32 fa = F >> 24;
  if (fa == 255) return F;
  if (fa == 0) return B;
  return PlainLerp(F, B, fa);
}

void PlainBlendMem(TColor32 F, TColor32& B) {
  const TColor32 fa = F >> 24;
  if (fa == 0) return;
  if (fa == 255) {
    B = F;
    return;
  }
  B = PlainLerp(F, B, fa);
}

TColor32 PlainBlendRegEx(TColor32 F, TColor32 B, TColor32 M) {
  const TColor32 fa = F >> 24;
  if (fa == 0) return B;
  const TColor32 w = ((M + 1) * fa) >> 8;
  if (w == 0) return B;
  return PlainLerpRGB(F, B, w);
}

void PlainBlendMemEx(TColor32 F, TColor32& B, TColor32 M) {
  const TColor32 fa = F >> 24;
  if (fa == 0) return;
  const TColor32 w = ((M + 1) * fa) >> 8;
  if (w == 0) return;
  B = PlainLerpRGB(F, B, w);
}

void PlainBlendLine(const TColor32* Src, TColor32* Dst, std::int32_t Count) {
  for (std::int32_t i = 0; i < Count; ++i) PlainBlendMem(Src[i], Dst[i]);
}

void PlainBlendLineEx(const TColor32* Src, TColor32* Dst, std::int32_t Count, TColor32 M) {
  for (std::int32_t i = 0; i < Count; ++i) PlainBlendMemEx(Src[i], Dst[i], M);
}

// ---- Packed-lane set (scalar reference) --------------------------------------------------------

TColor32 PackedCombineReg(TColor32 X, TColor32 Y, TColor32 W) {
  return PackedLerp(X, Y, W);
}

void PackedCombineMem(TColor32 F, TColor32& B, TColor32 W) {
  if (W == 0) return;
  if (W == 255) {
    B = F;
    return;
  }
  B = PackedLerp(F, B, W);
}

TColor32 PackedBlendReg(TColor32 F, TColor32 B) {
  return PackedLerp(F, B, F >> 24);
}

void PackedBlendMem(TColor32 F, TColor32& B) {
  PackedBlendMemPixel(F, B);
}

TColor32 PackedBlendRegEx(TColor32 F, TColor32 B, TColor32 M) {
  const TColor32 fa = F >> 24;
  if (fa == 0) return B;
  const TColor32 w = ((M + 1) * fa) >> 8;
  if (w == 0) return B;
  return PackedLerp(F, B, w);
}

void PackedBlendMemEx(TColor32 F, TColor32& B, TColor32 M) {
  PackedBlendMemExPixel(F, B, M);
}

void PackedBlendLine(const TColor32* Src, TColor32* Dst, std::int32_t Count) {
  for (std::int32_t i = 0; i < Count; ++i) PackedBlendMemPixel(Src[i], Dst[i]);
}

void PackedBlendLineEx(const TColor32* Src, TColor32* Dst, std::int32_t Count, TColor32 M) {
  for (std::int32_t i = 0; i < Count; ++i) PackedBlendLineExPixel(Src[i], Dst[i], M);
}

// ---- The sets and their selection -------------------------------------------------------------

#if defined(__x86_64__) || defined(__i386__)
#define RASTER_BLEND_VECTOR 1
constexpr bool HaveVectorCode = true;
#else
#define RASTER_BLEND_VECTOR 0
constexpr bool HaveVectorCode = false;
#endif

constexpr TBlendRoutines PlainRoutines = {
    PlainCombineReg, PlainCombineMem, PlainBlendReg,  PlainBlendMem,
    PlainBlendRegEx, PlainBlendMemEx, PlainBlendLine, PlainBlendLineEx,
};

constexpr TBlendRoutines PackedRoutines = {
    PackedCombineReg, PackedCombineMem, PackedBlendReg,  PackedBlendMem,
    PackedBlendRegEx, PackedBlendMemEx, PackedBlendLine, PackedBlendLineEx,
};

TBlendImplementation activeImplementation = TBlendImplementation::PackedScalar;

void Install(const TBlendRoutines& R) {
  CombineReg = R.CombineReg;
  CombineMem = R.CombineMem;
  BlendReg = R.BlendReg;
  BlendMem = R.BlendMem;
  BlendRegEx = R.BlendRegEx;
  BlendMemEx = R.BlendMemEx;
  BlendLine = R.BlendLine;
  BlendLineEx = R.BlendLineEx;
}

TBlendImplementation ChooseAtStartup() {
  const char* env = std::getenv("RASTER_BLEND");
  if (env != nullptr) {
    if (std::strcmp(env, "plain") == 0) return TBlendImplementation::Plain;
    if (std::strcmp(env, "scalar") == 0) return TBlendImplementation::PackedScalar;
    if (std::strcmp(env, "simd") == 0) return TBlendImplementation::PackedVector;
    // Any other value: the processor decides, as when the variable is absent.
  }
  // MMX gives the packed-lane set, anything else the plain set.
  if (!HasMMX()) return TBlendImplementation::Plain;
  return TBlendImplementation::PackedVector;  // reduced to PackedScalar without SSE2
}

// Module initialisation, guarded by a counter so that a second call does nothing.
int initCount = 0;

void InitializeBlend() {
  if (initCount++ != 0) return;
  SelectBlendImplementation(ChooseAtStartup());
}

// Runs before the dynamic initialisers of ordinary priority in every translation unit, so that
// static objects elsewhere already see the final table. Anything that runs even earlier still
// finds a working table: the pointers are constant-initialised to the scalar packed set.
[[gnu::constructor(101)]] void BlendModuleStartup() {
  InitializeBlend();
}

}  // namespace

// The routine table. Constant initialisation (no code runs for it), so it is valid before any
// dynamic initialiser of any translation unit.
TCombineReg CombineReg = PackedCombineReg;
TCombineMem CombineMem = PackedCombineMem;
TBlendReg BlendReg = PackedBlendReg;
TBlendMem BlendMem = PackedBlendMem;
TBlendRegEx BlendRegEx = PackedBlendRegEx;
TBlendMemEx BlendMemEx = PackedBlendMemEx;
TBlendLine BlendLine = PackedBlendLine;
TBlendLineEx BlendLineEx = PackedBlendLineEx;

bool MMX_ACTIVE = true;

void EMMS() {}

const TBlendRoutines& PlainBlendRoutines() {
  return PlainRoutines;
}
const TBlendRoutines& PackedBlendRoutines() {
  return PackedRoutines;
}

void SelectBlendImplementation(TBlendImplementation Implementation) {
  switch (Implementation) {
    case TBlendImplementation::Plain:
      Install(PlainRoutines);
      MMX_ACTIVE = false;
      break;
    case TBlendImplementation::PackedVector:
      if (HaveVectorCode && HasSSE2()) {
        TBlendRoutines r = PackedRoutines;
#if RASTER_BLEND_VECTOR
        if (HasAVX2()) {
          r.BlendLine = BlendLine_AVX2;
          r.BlendLineEx = BlendLineEx_AVX2;
        } else {
          r.BlendLine = BlendLine_SSE2;
          r.BlendLineEx = BlendLineEx_SSE2;
        }
#endif
        Install(r);
        MMX_ACTIVE = true;
        break;
      }
      Implementation = TBlendImplementation::PackedScalar;
      [[fallthrough]];
    case TBlendImplementation::PackedScalar:
      Install(PackedRoutines);
      MMX_ACTIVE = true;
      break;
  }
  activeImplementation = Implementation;
}

TBlendImplementation ActiveBlendImplementation() {
  return activeImplementation;
}

bool VectorPathsActive() {
  return activeImplementation == TBlendImplementation::PackedVector;
}

// ---- Pure colour operations ---------------------------------------------------------------------

namespace {

template <typename Op>
TColor32 PerChannel(TColor32 C1, TColor32 C2, Op op) {
  TColor32 r = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const int a = int((C1 >> shift) & 0xFF);
    const int b = int((C2 >> shift) & 0xFF);
    r |= TColor32(op(a, b)) << shift;
  }
  return r;
}

inline int Clamp255(int v) {
  return v < 0 ? 0 : v > 255 ? 255 : v;
}

}  // namespace

TColor32 ColorAdd(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](int a, int b) { return Clamp255(a + b); });
}

TColor32 ColorSub(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](int a, int b) { return Clamp255(a - b); });
}

TColor32 ColorModulate(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](int a, int b) { return (a * b) >> 8; });
}

TColor32 ColorMax(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](int a, int b) { return a > b ? a : b; });
}

TColor32 ColorMin(TColor32 C1, TColor32 C2) {
  return PerChannel(C1, C2, [](int a, int b) { return a < b ? a : b; });
}

TColor32 Lighten(TColor32 C, int Amount) {
  // Computed in 64 bits so that any int amount clamps instead of overflowing.
  auto add = [Amount](TColor32 channel) {
    const long long v = (long long)channel + Amount;
    return TColor32(v < 0 ? 0 : v > 255 ? 255 : v);
  };
  const TColor32 r = add((C >> 16) & 0xFF);
  const TColor32 g = add((C >> 8) & 0xFF);
  const TColor32 b = add(C & 0xFF);
  return (C & 0xFF000000u) | (r << 16) | (g << 8) | b;
}

}  // namespace raster
