// Per-pixel blending. All alpha compositing and colour interpolation of the engine goes through
// the routine table below, filled once at start-up with one of two implementations:
//  - the packed-lane set (four 16-bit lanes, one per channel), the reference behaviour on any
//    processor with MMX: P(W) = (F*W + B*(256-W) + 128) >> 8 per channel;
//  - the plain set (two channels per 32-bit word): Q(W) = ((F*W+128)>>8) + ((B*(255-W)+128)>>8).
// The exact scalar code of both sets is always present; the packed-lane set additionally has
// vector line routines (SSE2, AVX2) that produce identical numbers.
#pragma once

#include <cstdint>

#include "raster/core.h"

namespace raster {

using TCombineReg = TColor32 (*)(TColor32 X, TColor32 Y, TColor32 W);
using TCombineMem = void (*)(TColor32 F, TColor32& B, TColor32 W);
using TBlendReg = TColor32 (*)(TColor32 F, TColor32 B);
using TBlendMem = void (*)(TColor32 F, TColor32& B);
using TBlendRegEx = TColor32 (*)(TColor32 F, TColor32 B, TColor32 M);
using TBlendMemEx = void (*)(TColor32 F, TColor32& B, TColor32 M);
using TBlendLine = void (*)(const TColor32* Src, TColor32* Dst, std::int32_t Count);
using TBlendLineEx = void (*)(const TColor32* Src, TColor32* Dst, std::int32_t Count, TColor32 M);

// One complete implementation.
struct TBlendRoutines {
  TCombineReg CombineReg;
  TCombineMem CombineMem;
  TBlendReg BlendReg;
  TBlendMem BlendMem;
  TBlendRegEx BlendRegEx;
  TBlendMemEx BlendMemEx;
  TBlendLine BlendLine;
  TBlendLineEx BlendLineEx;
};

// The routine table in force. Callers always go through it.
extern TCombineReg CombineReg;
extern TCombineMem CombineMem;
extern TBlendReg BlendReg;
extern TBlendMem BlendMem;
extern TBlendRegEx BlendRegEx;
extern TBlendMemEx BlendMemEx;
extern TBlendLine BlendLine;
extern TBlendLineEx BlendLineEx;

// True when the packed-lane set is in force.
extern bool MMX_ACTIVE;
// Ends a run of packed-lane calls. Our packed-lane code never touches the x87/MMX state, so
// this does nothing; callers still call it once per operation.
void EMMS();

enum class TBlendImplementation {
  Plain,         // plain-integer set (processors without MMX)
  PackedScalar,  // packed-lane arithmetic, exact scalar reference code only
  PackedVector,  // packed-lane arithmetic with SSE2/AVX2 line routines and fast paths
};

// The exact scalar reference implementations.
const TBlendRoutines& PlainBlendRoutines();
const TBlendRoutines& PackedBlendRoutines();

// Fills the table. At start-up the choice is made from the processor (MMX gives the packed
// set, with vector code where the processor has it) unless the environment variable
// RASTER_BLEND is "plain", "scalar" or "simd".
void SelectBlendImplementation(TBlendImplementation Implementation);
TBlendImplementation ActiveBlendImplementation();
// True when vector fast paths (here and in the transfers) may be used: the packed set with
// vector code is in force.
bool VectorPathsActive();

// Pure colour operations.
TColor32 ColorAdd(TColor32 C1, TColor32 C2);
TColor32 ColorSub(TColor32 C1, TColor32 C2);
TColor32 ColorModulate(TColor32 C1, TColor32 C2);
TColor32 ColorMax(TColor32 C1, TColor32 C2);
TColor32 ColorMin(TColor32 C1, TColor32 C2);
TColor32 Lighten(TColor32 C, int Amount);

}  // namespace raster
