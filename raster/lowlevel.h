// Low-level integer routines used throughout the raster engine.
#pragma once

#include <cstdint>

#include "raster/core.h"

namespace raster {

// a * b / c with 64-bit intermediate, rounded to nearest (halves away from zero). The sign is
// that of a xor b xor c. Returns -1 when c is 0 or the rounded quotient does not fit a signed
// 32-bit integer.
std::int32_t MulDiv(std::int32_t a, std::int32_t b, std::int32_t c);

// Writes Value into Count consecutive words; a negative Count writes nothing.
void FillLongword(TColor32* Dest, std::int32_t Count, TColor32 Value);
// Copies Count words forwards; nothing when Source and Dest are the same address.
void MoveLongword(const TColor32* Source, TColor32* Dest, std::int32_t Count);

constexpr int Clamp(int Value) {
  return Value < 0 ? 0 : (Value > 255 ? 255 : Value);
}
constexpr int Constrain(int Value, int Lo, int Hi) {
  return Value < Lo ? Lo : (Value > Hi ? Hi : Value);
}
inline void Swap(std::int32_t& A, std::int32_t& B) {
  std::int32_t T = A;
  A = B;
  B = T;
}
inline void TestSwap(std::int32_t& A, std::int32_t& B) {
  if (A > B) Swap(A, B);
}
// TestSwap, then A below 0 becomes 0 and B not below Size becomes Size - 1; returns B >= A.
inline bool TestClip(std::int32_t& A, std::int32_t& B, std::int32_t Size) {
  TestSwap(A, B);
  if (A < 0) A = 0;
  if (B >= Size) B = Size - 1;
  return B >= A;
}

// Arithmetic (sign-preserving) right shifts, SAR_4 to SAR_16 by their names.
template <int Bits>
constexpr std::int32_t Sar(std::int32_t V) {
  return V >> Bits;
}
inline constexpr auto SAR_4 = Sar<4>;
inline constexpr auto SAR_8 = Sar<8>;
inline constexpr auto SAR_9 = Sar<9>;
inline constexpr auto SAR_12 = Sar<12>;
inline constexpr auto SAR_13 = Sar<13>;
inline constexpr auto SAR_14 = Sar<14>;
inline constexpr auto SAR_16 = Sar<16>;

// Platform colour 0x00BBGGRR to 0xFFRRGGBB.
constexpr TColor32 ColorSwap(TWinColor WinColor) {
  return 0xFF000000u | ((WinColor & 0xFFu) << 16) | (WinColor & 0xFF00u) |
         ((WinColor >> 16) & 0xFFu);
}

}  // namespace raster
