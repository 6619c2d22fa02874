#include "raster/transforms.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <typeinfo>
#include <vector>

#include "raster/blend.h"
#include "raster/cpu.h"
#include "raster/lowlevel.h"
#include "raster/row_pool.h"
#include "raster/transforms_p.h"

namespace raster {

const TFloatMatrix IdentityMatrix = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

namespace {

constexpr const char* DstEmptyText = "Destination bitmap is nil or empty";
constexpr const char* SrcEmptyText = "Source bitmap is nil or empty";
constexpr const char* SrcRectInvalidText = "Source rectangle is invalid";
constexpr const char* FilterUnsupported =
    "Stretch filter is not supported (only nearest and linear are)";

void CheckBitmaps(const TBitmap32* Dst, const TBitmap32* Src) {
  if (Dst == nullptr || Dst->Empty()) throw ETransformError(DstEmptyText);
  if (Src == nullptr || Src->Empty()) throw ETransformError(SrcEmptyText);
}

// Ends the run of blend calls of one operation, also when it is left by an exception.
struct EmmsGuard {
  EmmsGuard() = default;
  EmmsGuard(const EmmsGuard&) = delete;
  EmmsGuard& operator=(const EmmsGuard&) = delete;
  ~EmmsGuard() { EMMS(); }
};

TDrawMode EffectiveMode(TDrawMode Mode, const TPixelCombineEvent& Handler) {
  return (Mode == dmCustom && !Handler) ? dmOpaque : Mode;
}

// Writes a computed colour into a destination pixel by the transfer rule: dmBlend blends
// without master alpha when it is 255 or more.
struct TransferWriter {
  TDrawMode Mode;
  TColor32 MasterAlpha;
  const TPixelCombineEvent* Handler;
  TBlendMem Blend = BlendMem;
  TBlendMemEx BlendEx = BlendMemEx;

  void operator()(TColor32 C, TColor32& B) const {
    switch (Mode) {
      case dmOpaque:
        B = C;
        break;
      case dmBlend:
        if (MasterAlpha >= 255)
          Blend(C, B);
        else
          BlendEx(C, B, MasterAlpha);
        break;
      case dmCustom:
        (*Handler)(C, B, MasterAlpha);
        break;
      case dmDifference:
        B = DifferencePixel(C, B);
        break;
    }
  }
};

}  // namespace

// a * b / c for non-negative a, b and positive c, rounded like MulDiv (a remainder of half
// or more rounds up). Equal to MulDiv wherever the product fits its 32-bit argument; wider so
// that huge offsets cannot wrap into a position outside the source.
std::int64_t MulDivWide(std::int64_t a, std::int64_t b, std::int64_t c) {
  const unsigned __int128 p = (unsigned __int128)(std::uint64_t)a * (std::uint64_t)b;
  unsigned __int128 q = p / (std::uint64_t)c;
  const unsigned __int128 r = p % (std::uint64_t)c;
  if ((std::uint64_t)c - r <= r) ++q;
  return std::int64_t(q);
}

// ---------------------------------------------------------------------------------------
// Block transfer

void BlockTransfer(TBitmap32* Dst, std::int32_t DstX, std::int32_t DstY, const TBitmap32* Src,
                   TRect SrcRect, TDrawMode DrawMode, const TPixelCombineEvent& OnPixelCombine) {
  CheckBitmaps(Dst, Src);
  const TDrawMode mode = EffectiveMode(DrawMode, OnPixelCombine);
  const TColor32 masterAlpha = Src->MasterAlpha();
  if (mode == dmBlend && masterAlpha == 0) return;

  // The area is clipped to the source in every mode (also dmOpaque, whose callers are meant to
  // pass a SrcRect inside Src) and then to the destination. 64-bit so that extreme positions
  // cannot wrap.
  std::int64_t l = std::max<std::int64_t>(SrcRect.Left, 0);
  std::int64_t t = std::max<std::int64_t>(SrcRect.Top, 0);
  std::int64_t r = std::min<std::int64_t>(SrcRect.Right, Src->Width());
  std::int64_t b = std::min<std::int64_t>(SrcRect.Bottom, Src->Height());
  if (r <= l || b <= t) return;
  const std::int64_t dx = std::int64_t(DstX) - SrcRect.Left;
  const std::int64_t dy = std::int64_t(DstY) - SrcRect.Top;
  l = std::max<std::int64_t>(l + dx, 0);
  t = std::max<std::int64_t>(t + dy, 0);
  r = std::min<std::int64_t>(r + dx, Dst->Width());
  b = std::min<std::int64_t>(b + dy, Dst->Height());
  if (r <= l || b <= t) return;

  const std::int32_t width = std::int32_t(r - l);
  const std::int32_t srcCol = std::int32_t(l - dx);
  auto srcRow = [&](std::int64_t y) { return Src->GetPixelPtr(srcCol, std::int32_t(y - dy)); };
  auto dstRow = [&](std::int64_t y) { return Dst->GetPixelPtr(std::int32_t(l), std::int32_t(y)); };

  if (mode == dmOpaque) {
    // Within one bitmap the rows are copied in the order that never reads a row already
    // overwritten.
    if (Dst == Src && dy > 0) {
      for (std::int64_t y = b - 1; y >= t; --y)
        std::memmove(dstRow(y), srcRow(y), std::size_t(width) * sizeof(TColor32));
    } else {
      for (std::int64_t y = t; y < b; ++y)
        std::memmove(dstRow(y), srcRow(y), std::size_t(width) * sizeof(TColor32));
    }
    return;
  }

  EmmsGuard emms;
  if (mode == dmBlend) {
    for (std::int64_t y = t; y < b; ++y) {
      if (masterAlpha >= 255)
        BlendLine(srcRow(y), dstRow(y), width);
      else
        BlendLineEx(srcRow(y), dstRow(y), width, masterAlpha);
    }
    return;
  }
  if (mode == dmDifference) {
    // Rows in the order that never reads a row already written, as for the copy.
    for (std::int64_t k = 0; k < b - t; ++k) {
      const std::int64_t y = (Dst == Src && dy > 0) ? b - 1 - k : t + k;
      const TColor32* s = srcRow(y);
      TColor32* d = dstRow(y);
      for (std::int32_t i = 0; i < width; ++i) d[i] = DifferencePixel(s[i], d[i]);
    }
    return;
  }
  for (std::int64_t y = t; y < b; ++y) {
    const TColor32* s = srcRow(y);
    TColor32* d = dstRow(y);
    for (std::int32_t i = 0; i < width; ++i) OnPixelCombine(s[i], d[i], masterAlpha);
  }
}

// ---------------------------------------------------------------------------------------
// Stretch transfer: exact scalar reference code

void StretchNearestScalar(const StretchSetup& S, TBitmap32& Dst, const TBitmap32& Src) {
  const TransferWriter write{S.Mode, S.MasterAlpha, S.Handler};
  // dmOpaque magnifying vertically by more than two reuses a finished row.
  const bool reuseRows = S.Mode == dmOpaque && 2 * S.SH < S.DH;
  const std::int32_t clipWidth = S.Clip.Right - S.Clip.Left;
  std::int64_t Y = S.Y0;
  std::int64_t lastRow = -1;
  for (std::int32_t y = S.Clip.Top; y < S.Clip.Bottom; ++y, Y += S.sy) {
    const std::int64_t row = (Y >> 16) + S.SrcRect.Top;
    TColor32* d = Dst.GetPixelPtr(S.Clip.Left, y);
    if (reuseRows && row == lastRow) {
      std::memcpy(d, d - Dst.Width(), std::size_t(clipWidth) * sizeof(TColor32));
      continue;
    }
    lastRow = row;
    const TColor32* s = Src.GetPixelPtr(S.SrcRect.Left, std::int32_t(row));
    std::int64_t X = S.X0;
    for (std::int32_t i = 0; i < clipWidth; ++i, X += S.sx) write(s[X >> 16], d[i]);
  }
}

void StretchLinearScalar(const StretchSetup& S, TBitmap32& Dst, const TBitmap32& Src) {
  const TransferWriter write{S.Mode, S.MasterAlpha, S.Handler};
  const TCombineReg combine = CombineReg;
  const bool rowsFirst = S.Mode == dmBlend && S.MasterAlpha < 255;
  const std::int32_t clipWidth = S.Clip.Right - S.Clip.Left;
  const std::int64_t lastCol = S.SW - 1;
  std::int64_t Y = S.Y0;
  for (std::int32_t y = S.Clip.Top; y < S.Clip.Bottom; ++y, Y += S.sy) {
    const std::int32_t sy0 = std::int32_t(Y >> 16) + S.SrcRect.Top;
    const TColor32* upper = Src.GetPixelPtr(S.SrcRect.Left, sy0);
    const TColor32* lower =
        sy0 < S.SrcRect.Bottom - 1 ? Src.GetPixelPtr(S.SrcRect.Left, sy0 + 1) : upper;
    const TColor32 wy = 255 - TColor32((Y >> 8) & 255);
    TColor32* d = Dst.GetPixelPtr(S.Clip.Left, y);
    std::int64_t X = S.X0;
    for (std::int32_t i = 0; i < clipWidth; ++i, X += S.sx) {
      const std::int64_t t = X >> 16;
      const std::int64_t t1 = std::min(t + 1, lastCol);
      const TColor32 wx = 255 - TColor32((X >> 8) & 255);
      TColor32 c;
      if (rowsFirst) {
        c = combine(combine(upper[t], upper[t1], wx), combine(lower[t], lower[t1], wx), wy);
      } else {
        c = combine(combine(upper[t], lower[t], wy), combine(upper[t1], lower[t1], wy), wx);
      }
      write(c, d[i]);
    }
  }
}

void StretchTransfer(TBitmap32* Dst, TRect DstRect, const TBitmap32* Src, TRect SrcRect,
                     TStretchFilter StretchFilter, TDrawMode DrawMode,
                     const TPixelCombineEvent& OnPixelCombine) {
  CheckBitmaps(Dst, Src);
  // The kernel resampler behind sfLinear2 and sfSpline is not part of this engine.
  if (StretchFilter != sfNearest && StretchFilter != sfLinear)
    throw ETransformError(FilterUnsupported);
  if (IsRectEmpty(SrcRect)) return;
  if (SrcRect.Left < 0 || SrcRect.Top < 0 || SrcRect.Right > Src->Width() ||
      SrcRect.Bottom > Src->Height())
    throw ETransformError(SrcRectInvalidText);
  if (IsRectEmpty(DstRect)) return;
  TRect clip;
  if (!IntersectRect(clip, DstRect, Dst->BoundsRect()) || IsRectEmpty(clip)) return;

  StretchSetup S;
  S.Mode = EffectiveMode(DrawMode, OnPixelCombine);
  S.Handler = &OnPixelCombine;
  S.MasterAlpha = Src->MasterAlpha();
  if (!(StretchFilter == sfNearest && S.Mode == dmOpaque) && S.MasterAlpha == 0) return;

  S.SrcRect = SrcRect;
  S.Clip = clip;
  S.SW = SrcRect.Right - SrcRect.Left;
  S.SH = SrcRect.Bottom - SrcRect.Top;
  // 64-bit: a DstRect spanning more than half the 32-bit range must not wrap.
  S.DW = std::int64_t(DstRect.Right) - DstRect.Left;
  S.DH = std::int64_t(DstRect.Bottom) - DstRect.Top;
  if (S.SW == S.DW && S.SH == S.DH) {
    BlockTransfer(Dst, DstRect.Left, DstRect.Top, Src, SrcRect, S.Mode, OnPixelCombine);
    return;
  }

  // 16.16 steps and starts. The start uses 65535 rather than 65536: it lies a hair before
  // the exact position. The bilinear stretch spans the pixel centres from the first up to,
  // but not reaching, the last, hence SW - 1 and SH - 1.
  const bool linear = StretchFilter == sfLinear;
  const std::int64_t spanW = linear ? S.SW - 1 : S.SW;
  const std::int64_t spanH = linear ? S.SH - 1 : S.SH;
  S.sx = (spanW << 16) / S.DW;
  S.sy = (spanH << 16) / S.DH;
  S.X0 = MulDivWide((std::int64_t(clip.Left) - DstRect.Left) * spanW, 65535, S.DW);
  S.Y0 = MulDivWide((std::int64_t(clip.Top) - DstRect.Top) * spanH, 65535, S.DH);

  EmmsGuard emms;
  if (linear) {
    if (!StretchLinearFast(S, *Dst, *Src)) StretchLinearScalar(S, *Dst, *Src);
  } else {
    if (!StretchNearestFast(S, *Dst, *Src)) StretchNearestScalar(S, *Dst, *Src);
  }
}

// ---------------------------------------------------------------------------------------
// TBitmap32 drawing operations

void TBitmap32::DrawTo(TBitmap32& Dst) const {
  DrawTo(Dst, 0, 0);
}

void TBitmap32::DrawTo(TBitmap32& Dst, std::int32_t DstX, std::int32_t DstY) const {
  if (Empty() || Dst.Empty()) return;
  BlockTransfer(&Dst, DstX, DstY, this, BoundsRect(), FDrawMode, OnPixelCombine);
  Dst.Changed();
}

void TBitmap32::DrawTo(TBitmap32& Dst, const TRect& DstRect) const {
  DrawTo(Dst, DstRect, BoundsRect());
}

void TBitmap32::DrawTo(TBitmap32& Dst, const TRect& DstRect, const TRect& SrcRect) const {
  if (Empty() || Dst.Empty()) return;
  StretchTransfer(&Dst, DstRect, this, SrcRect, FStretchFilter, FDrawMode, OnPixelCombine);
  Dst.Changed();
}

void TBitmap32::Draw(std::int32_t DstX, std::int32_t DstY, const TBitmap32* Src) {
  if (Src != nullptr) Src->DrawTo(*this, DstX, DstY);
}

void TBitmap32::Draw(const TRect& DstRect, const TRect& SrcRect, const TBitmap32* Src) {
  if (Src != nullptr) Src->DrawTo(*this, DstRect, SrcRect);
}

// ---------------------------------------------------------------------------------------
// Matrices. Every intermediate is formed in extended precision (long double) and stored as a
// 32-bit float.

TFloatMatrix Mult(const TFloatMatrix& M1, const TFloatMatrix& M2) {
  TFloatMatrix R;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      R[i][j] = float((long double)M1[0][j] * M2[i][0] + (long double)M1[1][j] * M2[i][1] +
                      (long double)M1[2][j] * M2[i][2]);
  return R;
}

namespace {
long double Det22(long double a, long double b, long double c, long double d) {
  return a * d - b * c;
}
}  // namespace

float Determinant(const TFloatMatrix& M) {
  const long double a = M[0][0], b = M[0][1], c = M[0][2];
  const long double d = M[1][0], e = M[1][1], f = M[1][2];
  const long double g = M[2][0], h = M[2][1], k = M[2][2];
  return float(a * Det22(e, f, h, k) - b * Det22(d, f, g, k) + c * Det22(d, e, g, h));
}

void Adjoint(TFloatMatrix& M) {
  const long double a = M[0][0], b = M[0][1], c = M[0][2];
  const long double d = M[1][0], e = M[1][1], f = M[1][2];
  const long double g = M[2][0], h = M[2][1], k = M[2][2];
  // Transposed cofactors: element [i][j] is the signed minor of element [j][i].
  M[0][0] = float(Det22(e, f, h, k));
  M[0][1] = float(-Det22(b, c, h, k));
  M[0][2] = float(Det22(b, c, e, f));
  M[1][0] = float(-Det22(d, f, g, k));
  M[1][1] = float(Det22(a, c, g, k));
  M[1][2] = float(-Det22(a, c, d, f));
  M[2][0] = float(Det22(d, e, g, h));
  M[2][1] = float(-Det22(a, b, g, h));
  M[2][2] = float(Det22(a, b, d, e));
}

void Scale(TFloatMatrix& M, float Factor) {
  for (auto& row : M)
    for (float& v : row) v = float((long double)v * Factor);
}

void Invert(TFloatMatrix& M) {
  const float det = Determinant(M);
  if (std::fabs((long double)det) < 1e-5L) {
    M = IdentityMatrix;
    return;
  }
  Adjoint(M);
  Scale(M, float(1.0L / det));
}

// ---------------------------------------------------------------------------------------
// TAffineTransformation

void TAffineTransformation::Clear() {
  Matrix = IdentityMatrix;
  Prepared = false;
}

// Each step acts after everything built so far.
bool StretchWritesEveryPixel(const TBitmap32& Src) {
  if (Src.Empty() || Src.DrawMode() != dmOpaque) return false;
  switch (Src.StretchFilter()) {
    case sfNearest:
      return true;
    case sfLinear:
      return Src.MasterAlpha() != 0;
    default:
      return false;
  }
}

void TAffineTransformation::ApplyStep(const TFloatMatrix& Step) {
  Matrix = Mult(Step, Matrix);
  Prepared = false;
}

void TAffineTransformation::Translate(float Dx, float Dy) {
  TFloatMatrix T = IdentityMatrix;
  T[2][0] = Dx;
  T[2][1] = Dy;
  ApplyStep(T);
}

void TAffineTransformation::Scale(float Sx, float Sy) {
  TFloatMatrix T = IdentityMatrix;
  T[0][0] = Sx;
  T[1][1] = Sy;
  ApplyStep(T);
}

void TAffineTransformation::Skew(float Fx, float Fy) {
  TFloatMatrix T = IdentityMatrix;
  T[1][0] = Fx;
  T[0][1] = Fy;
  ApplyStep(T);
}

void TAffineTransformation::Rotate(float Cx, float Cy, float Alpha) {
  Prepared = false;
  const bool aboutCentre = Cx != 0 || Cy != 0;
  if (aboutCentre) Translate(-Cx, -Cy);
  const long double a = (long double)Alpha * 3.141592653589793238462643383279502884L / 180.0L;
  const float s = float(std::sin(a));
  const float c = float(std::cos(a));
  TFloatMatrix T = IdentityMatrix;
  T[0][0] = c;
  T[1][0] = s;
  T[0][1] = -s;
  T[1][1] = c;
  ApplyStep(T);
  if (aboutCentre) Translate(Cx, Cy);
}

namespace {
// Round to nearest, ties to even, into the 32-bit range. Values beyond it (only from absurd
// matrices) saturate instead of being undefined; NaN gives 0.
std::int32_t RoundToInt32(long double V) {
  if (std::isnan(V)) return 0;
  const long double r = std::nearbyint(V);
  if (r >= 2147483647.0L) return std::numeric_limits<std::int32_t>::max();
  if (r <= -2147483648.0L) return std::numeric_limits<std::int32_t>::min();
  return std::int32_t(r);
}
}  // namespace

void TAffineTransformation::PrepareTransform() {
  TFloatMatrix inv = Matrix;
  Invert(inv);
  // 20.12 fixed point.
  InvA = RoundToInt32((long double)inv[0][0] * 4096);
  InvB = RoundToInt32((long double)inv[1][0] * 4096);
  InvC = RoundToInt32((long double)inv[2][0] * 4096);
  InvD = RoundToInt32((long double)inv[0][1] * 4096);
  InvE = RoundToInt32((long double)inv[1][1] * 4096);
  InvF = RoundToInt32((long double)inv[2][1] * 4096);
  Prepared = true;
}

// 32-bit wrap-around arithmetic, done unsigned so that it is defined; 2047 (not 2048) makes an
// exact half round down.
void TAffineTransformation::Transform(std::int32_t DstX, std::int32_t DstY, std::int32_t& SrcX,
                                      std::int32_t& SrcY) {
  SrcX = AffineSum(DstX, DstY, InvA, InvB, InvC + 2047u) >> 12;
  SrcY = AffineSum(DstX, DstY, InvD, InvE, InvF + 2047u) >> 12;
}

void TAffineTransformation::Transform256(std::int32_t DstX, std::int32_t DstY, std::int32_t& SrcX,
                                         std::int32_t& SrcY) {
  SrcX = AffineSum(DstX, DstY, InvA, InvB, InvC + 7u) >> 4;
  SrcY = AffineSum(DstX, DstY, InvD, InvE, InvF + 7u) >> 4;
}

TRect TAffineTransformation::GetTransformedBounds() {
  const float xs[2] = {SrcRect.Left, SrcRect.Right};
  const float ys[2] = {SrcRect.Top, SrcRect.Bottom};
  float minX = 0, maxX = 0, minY = 0, maxY = 0;
  for (int k = 0; k < 4; ++k) {
    const long double x = xs[k & 1], y = ys[k >> 1];
    const float px = float(Matrix[0][0] * x + Matrix[1][0] * y + Matrix[2][0]);
    const float py = float(Matrix[0][1] * x + Matrix[1][1] * y + Matrix[2][1]);
    if (k == 0) {
      minX = maxX = px;
      minY = maxY = py;
    } else {
      minX = std::min(minX, px);
      maxX = std::max(maxX, px);
      minY = std::min(minY, py);
      maxY = std::max(maxY, py);
    }
  }
  return {RoundToInt32((long double)minX - 0.5L), RoundToInt32((long double)minY - 0.5L),
          RoundToInt32((long double)maxX + 0.5L), RoundToInt32((long double)maxY + 0.5L)};
}

// ---------------------------------------------------------------------------------------
// Drawing through a transformation: exact scalar reference code

namespace {

struct TransformWriter {
  TDrawMode Mode;
  TColor32 MasterAlpha;
  const TPixelCombineEvent* Handler;
  TBlendMemEx BlendEx = BlendMemEx;

  // dmBlend goes through the master-alpha blend even at 255.
  void operator()(TColor32 C, TColor32& B) const {
    if (Mode == dmOpaque)
      B = C;
    else if (Mode == dmBlend)
      BlendEx(C, B, MasterAlpha);
    else if (Mode == dmDifference)
      B = DifferencePixel(C, B);
    else
      (*Handler)(C, B, MasterAlpha);
  }
};

}  // namespace

namespace {

// One row segment [I0, I1] of the exact per-pixel code; Map gives the mapping of a pixel.
template <class Map>
void NearestSegment(const TransformSetup& T, TColor32* Row, const TBitmap32& Src, const Map& map,
                    std::int32_t J, std::int32_t I0, std::int32_t I1) {
  const TransformWriter write{T.Mode, T.MasterAlpha, T.Handler};
  const TRect& S = T.S;
  if (T.SrcEmpty) return;
  for (std::int32_t I = I0; I <= I1; ++I) {
    std::int32_t X, Y;
    map(I, J, X, Y);
    if (X >= S.Left && X <= S.Right && Y >= S.Top && Y <= S.Bottom)
      write(Src.GetPixel(X, Y), Row[I]);
  }
}

template <class Map>
void LinearSegment(const TransformSetup& T, TColor32* Row, const TBitmap32& Src, const Map& map,
                   std::int32_t J, std::int32_t I0, std::int32_t I1) {
  const TransformWriter write{T.Mode, T.MasterAlpha, T.Handler};
  const TCombineReg combine = CombineReg;
  const TRect& S = T.S;
  for (std::int32_t I = I0; I <= I1; ++I) {
    std::int32_t X, Y;
    map(I, J, X, Y);
    const std::int32_t Xi = X >> 8, Yi = Y >> 8;
    const TColor32 wx = 255 - TColor32(X & 255), wy = 255 - TColor32(Y & 255);
    TColor32 q1, q2, q3, q4;
    if (S.Left < Xi && Xi < S.Right - 1 && S.Top < Yi && Yi < S.Bottom - 1) {
      const TColor32* p = Src.GetPixelPtr(Xi, Yi);
      q1 = p[0];
      q2 = p[1];
      p += Src.Width();
      q3 = p[0];
      q4 = p[1];
    } else if (Xi < S.Left - 1 || Yi < S.Top - 1 || Xi >= S.Right || Yi >= S.Bottom) {
      continue;
    } else {
      // The one-pixel band around the edges: positions outside read OuterColor.
      q1 = Src.GetPixelS(Xi, Yi);
      q2 = Src.GetPixelS(Xi + 1, Yi);
      q3 = Src.GetPixelS(Xi, Yi + 1);
      q4 = Src.GetPixelS(Xi + 1, Yi + 1);
    }
    write(combine(combine(q1, q2, wx), combine(q3, q4, wx), wy), Row[I]);
  }
}

// The exact scalar code of Transform, the reference for the fast paths: every row through the
// per-pixel segment of the filter.
template <bool Linear>
void TransformScalar(const TransformSetup& T, TBitmap32& Dst, const TBitmap32& Src,
                     TTransformation& Transformation) {
  const auto map = [&](std::int32_t I, std::int32_t J, std::int32_t& X, std::int32_t& Y) {
    if constexpr (Linear)
      Transformation.Transform256(I, J, X, Y);
    else
      Transformation.Transform(I, J, X, Y);
  };
  for (std::int32_t J = T.D.Top; J <= T.D.Bottom; ++J) {
    if constexpr (Linear)
      LinearSegment(T, Dst.GetScanLine(J), Src, map, J, T.D.Left, T.D.Right);
    else
      NearestSegment(T, Dst.GetScanLine(J), Src, map, J, T.D.Left, T.D.Right);
  }
}

}  // namespace

void Transform(TBitmap32& Dst, const TBitmap32& Src, TTransformation& Transformation) {
  if (!Transformation.Prepared) Transformation.PrepareTransform();

  TransformSetup T;
  T.Mode = EffectiveMode(Src.DrawMode(), Src.OnPixelCombine);
  T.MasterAlpha = Src.MasterAlpha();
  T.Handler = &Src.OnPixelCombine;

  // S holds inclusive pixel indices. When SrcRect misses the source entirely the intersection
  // is the zero rectangle, and sampling goes on with it as the drawing rules say: nearest
  // sampling finds pixel (0, 0) wherever a destination pixel maps there. An empty source
  // (whose intersection always fails) lacks that pixel, so only then is there no sample.
  IntersectRect(T.S, MakeRect(Transformation.SrcRect, rrClosest),
                TRect{0, 0, Src.Width() - 1, Src.Height() - 1});
  T.SrcEmpty = Src.Empty();
  if (!IntersectRect(T.D, Transformation.GetTransformedBounds(),
                     TRect{0, 0, Dst.Width() - 1, Dst.Height() - 1}) ||
      IsRectEmpty(T.D))
    return;

  {
    EmmsGuard emms;
    if (Src.StretchFilter() == sfNearest) {
      if (!TransformNearestFast(T, Dst, Src, Transformation))
        TransformScalar<false>(T, Dst, Src, Transformation);
    } else {
      if (!TransformLinearFast(T, Dst, Src, Transformation))
        TransformScalar<true>(T, Dst, Src, Transformation);
    }
  }
  Dst.Changed();
}

}  // namespace raster

// ---------------------------------------------------------------------------------------
// Fast paths: the same results as the scalar code above, with vector kernels over spans
// whose samples are known to be direct reads, and destination rows split over threads.

namespace raster {
namespace {

struct KernelSet {
  void (*LinearSpan)(const AffineSpan&);
  void (*NearestSpan)(const AffineSpan&);
  void (*GatherRow)(const TColor32*, const std::int32_t*, TColor32*, std::int32_t);
  void (*VerticalLerp)(const TColor32*, const TColor32*, TColor32, TColor32*, std::int32_t);
  void (*HorizontalLerp)(const TColor32*, const std::int32_t*, const std::uint32_t*, TColor32*,
                         std::int32_t);
  void (*BlendMemExRow)(const TColor32*, TColor32*, std::int32_t, TColor32);
  // Both passes of the bilinear stretch per destination pixel, or null.
  void (*LinearRow)(const TColor32*, const TColor32*, TColor32, const TColor32*, const TColor32*,
                    const std::int32_t*, const std::uint32_t*, TColor32*, std::int32_t);
};

void GatherRowPlain(const TColor32* Row, const std::int32_t* Cols, TColor32* Dst,
                    std::int32_t Count) {
  for (std::int32_t i = 0; i < Count; ++i) Dst[i] = Row[Cols[i]];
}

constexpr KernelSet AVX2Kernels{TransformLinearSpan_AVX2,   TransformNearestSpan_AVX2,
                                StretchGatherRow_AVX2,      StretchVerticalLerp_AVX2,
                                StretchHorizontalLerp_AVX2, BlendMemExRow_AVX2,
                                StretchLinearRow_AVX2};
constexpr KernelSet SSE2Kernels{
    TransformLinearSpan_SSE2,   TransformNearestSpan_SSE2, GatherRowPlain, StretchVerticalLerp_SSE2,
    StretchHorizontalLerp_SSE2, BlendMemExRow_SSE2,        nullptr};

std::atomic<TTransformKernels> kernelLimit{TTransformKernels::Best};

// The kernels of the fast paths, or null when they are off: they compute the packed-lane
// numbers, so they run only while the packed set with vector code is in force.
const KernelSet* Kernels() {
  if (!VectorPathsActive()) return nullptr;
  if (HasAVX2() && kernelLimit.load(std::memory_order_relaxed) == TTransformKernels::Best)
    return &AVX2Kernels;
  if (HasSSE2()) return &SSE2Kernels;
  return nullptr;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}
std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
  return -FloorDiv(-a, b);
}

struct Span {
  std::int64_t Lo, Hi;  // inclusive; empty when Lo > Hi
  bool Empty() const { return Lo > Hi; }
  Span operator&(const Span& O) const { return {std::max(Lo, O.Lo), std::min(Hi, O.Hi)}; }
};

// The columns I at which floor((Base + I * Step) / 4096), computed without wrap-around, lies
// in [Lo, Hi]: a linear inequality solved exactly in integers.
Span Solve(std::int64_t Step, std::int64_t Base, std::int64_t Lo, std::int64_t Hi) {
  constexpr std::int64_t All = std::int64_t(1) << 40;
  if (Lo > Hi) return {1, 0};
  const std::int64_t vmin = Lo * 4096 - Base, vmax = Hi * 4096 + 4095 - Base;
  if (Step == 0) return (vmin <= 0 && 0 <= vmax) ? Span{-All, All} : Span{1, 0};
  if (Step > 0) return {CeilDiv(vmin, Step), FloorDiv(vmax, Step)};
  return {CeilDiv(vmax, Step), FloorDiv(vmin, Step)};
}

bool FitsInt32(std::int64_t V) {
  return V >= std::numeric_limits<std::int32_t>::min() &&
         V <= std::numeric_limits<std::int32_t>::max();
}

// The prepared coefficients of one Transform call and the per-row span logic shared by both
// filters.
struct AffineRows {
  const TransformSetup& T;
  const TBitmap32& Src;
  TBitmap32& Dst;
  std::int32_t A, B, C, D, E, F;
  std::uint32_t Round;  // 2047 (nearest) or 7 (bilinear)

  // 20.12 sums of row J, column 0, without wrap-around.
  std::int64_t BaseX(std::int32_t J) const { return std::int64_t(J) * B + C + Round; }
  std::int64_t BaseY(std::int32_t J) const { return std::int64_t(J) * E + F + Round; }

  // True when no sum of row J leaves 32 bits: then the wrapped sums are the exact ones and
  // each coordinate is monotonic along the row.
  bool RowExact(std::int32_t J) const {
    const std::int64_t bx = BaseX(J), by = BaseY(J);
    const std::int64_t l = T.D.Left, r = T.D.Right;
    return FitsInt32(bx + l * A) && FitsInt32(bx + r * A) && FitsInt32(by + l * D) &&
           FitsInt32(by + r * D);
  }

  // Columns of row J whose integer source position lies in [XLo, XHi] x [YLo, YHi].
  Span Columns(std::int32_t J, std::int64_t XLo, std::int64_t XHi, std::int64_t YLo,
               std::int64_t YHi) const {
    return Span{T.D.Left, T.D.Right} & Solve(A, BaseX(J), XLo, XHi) & Solve(D, BaseY(J), YLo, YHi);
  }

  void SrcPos(std::int32_t I, std::int32_t J, std::int32_t& X, std::int32_t& Y) const {
    X = AffineSum(I, J, A, B, std::uint32_t(C) + Round) >> 12;
    Y = AffineSum(I, J, D, E, std::uint32_t(F) + Round) >> 12;
  }

  AffineSpan Kernel(std::int32_t J, std::int64_t I0, std::int64_t I1) const {
    AffineSpan k;
    k.Src = Src.PixelBuffer();
    k.Stride = Src.Width();
    k.SumX = std::uint32_t(AffineSum(std::int32_t(I0), J, A, B, std::uint32_t(C) + Round));
    k.SumY = std::uint32_t(AffineSum(std::int32_t(I0), J, D, E, std::uint32_t(F) + Round));
    k.StepX = std::uint32_t(A);
    k.StepY = std::uint32_t(D);
    k.RowX = std::uint32_t(B);
    k.RowY = std::uint32_t(E);
    k.Dst = Dst.GetPixelPtr(std::int32_t(I0), J);
    k.Count = std::int32_t(I1 - I0 + 1);
    k.Blend = T.Mode == dmBlend;
    k.Difference = T.Mode == dmDifference;
    k.MasterAlpha = T.MasterAlpha;
    return k;
  }
};

// Drawing a bitmap onto itself reads pixels that the same call has written; only the scalar
// code's one order gives the defined result.
bool SameBuffer(const TBitmap32& Dst, const TBitmap32& Src) {
  return Dst.PixelBuffer() == Src.PixelBuffer();
}

bool AffineFastCase(const TransformSetup& T, const TBitmap32& Dst, const TBitmap32& Src,
                    TTransformation& Transformation) {
  if (Kernels() == nullptr || T.Mode == dmCustom || SameBuffer(Dst, Src)) return false;
  if (T.Mode == dmBlend && T.MasterAlpha > 255) return false;
  // Subclasses may map differently; only the plain affine mapping is known here.
  return typeid(Transformation) == typeid(TAffineTransformation);
}

// The destination rows of T, split over the threads: Exact(J, Row) for a row whose positions the
// span arithmetic gives exactly, Whole(J, Row) (pixel by pixel) for any other.
template <class TWhole, class TExact>
void ForEachAffineRow(const TransformSetup& T, TBitmap32& Dst, const AffineRows& Rows, TWhole Whole,
                      TExact Exact) {
  ForRows(T.D.Top, T.D.Bottom + 1, T.D.Right - T.D.Left + 1, [&](std::int32_t J0, std::int32_t J1) {
    for (std::int32_t J = J0; J < J1; ++J) {
      TColor32* row = Dst.GetScanLine(J);
      if (Rows.RowExact(J))
        Exact(J, row);
      else
        Whole(J, row);
    }
  });
}

}  // namespace

void SetTransformKernels(TTransformKernels Value) {
  kernelLimit.store(Value, std::memory_order_relaxed);
}

bool TransformNearestFast(const TransformSetup& T, TBitmap32& Dst, const TBitmap32& Src,
                          TTransformation& Transformation) {
  if (!AffineFastCase(T, Dst, Src, Transformation)) return false;
  if (T.SrcEmpty) return true;  // no sample anywhere, as in the scalar code
  const KernelSet* kernels = Kernels();
  const auto& M = static_cast<const TAffineTransformation&>(Transformation);
  const AffineRows rows{T, Src, Dst, M.InvA, M.InvB, M.InvC, M.InvD, M.InvE, M.InvF, 2047u};
  const auto map = [&](std::int32_t I, std::int32_t J, std::int32_t& X, std::int32_t& Y) {
    rows.SrcPos(I, J, X, Y);
  };
  const TRect& S = T.S;
  const auto whole = [&](std::int32_t J, TColor32* Row) {
    NearestSegment(T, Row, Src, map, J, T.D.Left, T.D.Right);
  };
  ForEachAffineRow(T, Dst, rows, whole, [&](std::int32_t J, TColor32* Row) {
    const Span in = rows.Columns(J, S.Left, S.Right, S.Top, S.Bottom);
    if (in.Empty()) return;
    // The span ends must satisfy the per-pixel predicate; anything else is a fault of the
    // span arithmetic, and the row is then drawn pixel by pixel.
    std::int32_t x0, y0, x1, y1;
    rows.SrcPos(std::int32_t(in.Lo), J, x0, y0);
    rows.SrcPos(std::int32_t(in.Hi), J, x1, y1);
    if (!(PtInRect({S.Left, S.Top, S.Right + 1, S.Bottom + 1}, {x0, y0}) &&
          PtInRect({S.Left, S.Top, S.Right + 1, S.Bottom + 1}, {x1, y1}))) {
      whole(J, Row);
      return;
    }
    kernels->NearestSpan(rows.Kernel(J, in.Lo, in.Hi));
  });
  return true;
}

bool TransformLinearFast(const TransformSetup& T, TBitmap32& Dst, const TBitmap32& Src,
                         TTransformation& Transformation) {
  if (!AffineFastCase(T, Dst, Src, Transformation)) return false;
  const KernelSet* kernels = Kernels();
  const auto& M = static_cast<const TAffineTransformation&>(Transformation);
  const AffineRows rows{T, Src, Dst, M.InvA, M.InvB, M.InvC, M.InvD, M.InvE, M.InvF, 7u};
  const auto map = [&](std::int32_t I, std::int32_t J, std::int32_t& X, std::int32_t& Y) {
    X = AffineSum(I, J, rows.A, rows.B, std::uint32_t(rows.C) + 7u) >> 4;
    Y = AffineSum(I, J, rows.D, rows.E, std::uint32_t(rows.F) + 7u) >> 4;
  };
  const TRect& S = T.S;
  // Inner case: S.Left < Xi < S.Right - 1 and likewise vertically.
  const TRect inner{S.Left + 1, S.Top + 1, S.Right - 1, S.Bottom - 1};
  const auto whole = [&](std::int32_t J, TColor32* Row) {
    LinearSegment(T, Row, Src, map, J, T.D.Left, T.D.Right);
  };
  ForEachAffineRow(T, Dst, rows, whole, [&](std::int32_t J, TColor32* Row) {
    // Columns with any sample (inner case or band), and the inner ones among them.
    const Span any = rows.Columns(J, S.Left - 1, S.Right - 1, S.Top - 1, S.Bottom - 1);
    if (any.Empty()) return;
    const Span in = any & rows.Columns(J, inner.Left, inner.Right - 1, inner.Top, inner.Bottom - 1);
    if (in.Empty()) {
      LinearSegment(T, Row, Src, map, J, std::int32_t(any.Lo), std::int32_t(any.Hi));
      return;
    }
    std::int32_t x0, y0, x1, y1;
    rows.SrcPos(std::int32_t(in.Lo), J, x0, y0);
    rows.SrcPos(std::int32_t(in.Hi), J, x1, y1);
    if (!(PtInRect(inner, {x0, y0}) && PtInRect(inner, {x1, y1}))) {
      whole(J, Row);
      return;
    }
    LinearSegment(T, Row, Src, map, J, std::int32_t(any.Lo), std::int32_t(in.Lo) - 1);
    kernels->LinearSpan(rows.Kernel(J, in.Lo, in.Hi));
    LinearSegment(T, Row, Src, map, J, std::int32_t(in.Hi) + 1, std::int32_t(any.Hi));
  });
  return true;
}

bool StretchNearestFast(const StretchSetup& S, TBitmap32& Dst, const TBitmap32& Src) {
  const KernelSet* kernels = Kernels();
  if (kernels == nullptr || S.Mode == dmCustom || S.Mode == dmDifference || SameBuffer(Dst, Src))
    return false;
  const std::int32_t n = S.Clip.Right - S.Clip.Left;
  // Source column of every clip column, relative to the source row's SrcRect.Left.
  std::vector<std::int32_t> cols(std::size_t(n) + 0);
  for (std::int32_t i = 0; i < n; ++i) cols[i] = std::int32_t((S.X0 + i * S.sx) >> 16);
  const std::int32_t dstWidth = Dst.Width();
  ForRows(S.Clip.Top, S.Clip.Bottom, n, [&](std::int32_t Y0, std::int32_t Y1) {
    std::vector<TColor32> samples(S.Mode == dmOpaque ? 0 : std::size_t(n));
    std::int64_t lastRow = -1;
    for (std::int32_t y = Y0; y < Y1; ++y) {
      const std::int64_t Y = S.Y0 + std::int64_t(y - S.Clip.Top) * S.sy;
      const std::int64_t srcRow = (Y >> 16) + S.SrcRect.Top;
      TColor32* d = Dst.GetPixelPtr(S.Clip.Left, y);
      const TColor32* s = Src.GetPixelPtr(S.SrcRect.Left, std::int32_t(srcRow));
      if (S.Mode == dmOpaque) {
        // A row that maps to the same source row as the one above it is a copy of it.
        if (srcRow == lastRow)
          std::memcpy(d, d - dstWidth, std::size_t(n) * sizeof(TColor32));
        else
          kernels->GatherRow(s, cols.data(), d, n);
      } else {
        if (srcRow != lastRow) kernels->GatherRow(s, cols.data(), samples.data(), n);
        if (S.MasterAlpha >= 255)
          BlendLine(samples.data(), d, n);
        else
          kernels->BlendMemExRow(samples.data(), d, n, S.MasterAlpha);
      }
      lastRow = srcRow;
    }
  });
  return true;
}

bool StretchLinearFast(const StretchSetup& S, TBitmap32& Dst, const TBitmap32& Src) {
  // dmBlend below full master alpha interpolates rows first; that order stays scalar.
  const KernelSet* kernels = Kernels();
  if (kernels == nullptr || S.Mode == dmCustom || S.Mode == dmDifference || SameBuffer(Dst, Src))
    return false;
  if (S.Mode == dmBlend && S.MasterAlpha < 255) return false;
  // A source one pixel wide has no right-hand neighbour; it stays scalar.
  if (S.SW < 2) return false;
  const std::int32_t n = S.Clip.Right - S.Clip.Left;
  std::vector<std::int32_t> t(n);
  std::vector<std::uint32_t> wx(n);
  for (std::int32_t i = 0; i < n; ++i) {
    const std::int64_t X = S.X0 + i * S.sx;
    // Positions stay below SW - 1, so column t + 1 always exists.
    t[i] = std::int32_t(X >> 16);
    wx[i] = 255 - std::uint32_t((X >> 8) & 255);
  }
  // Columns first: each needed source column is interpolated vertically once per row, then
  // neighbouring columns horizontally.
  const std::int32_t first = t[0], count = t[n - 1] + 2 - first;
  if (std::int64_t(first) + count > S.SW) return false;
  for (std::int32_t i = 0; i < n; ++i) t[i] -= first;
  // Where the columns are about as many as two per destination pixel (or more), interpolating
  // the two columns of each pixel directly reads no more and skips the column buffer.
  const bool perPixel = kernels->LinearRow != nullptr && 2 * std::int64_t(n) <= count + 2;
  ForRows(S.Clip.Top, S.Clip.Bottom, n + count, [&](std::int32_t Y0, std::int32_t Y1) {
    std::vector<TColor32> v(perPixel ? 0 : count), samples(S.Mode == dmOpaque ? 0 : std::size_t(n));
    for (std::int32_t y = Y0; y < Y1; ++y) {
      const std::int64_t Y = S.Y0 + std::int64_t(y - S.Clip.Top) * S.sy;
      const std::int32_t sy0 = std::int32_t(Y >> 16) + S.SrcRect.Top;
      const TColor32* upper = Src.GetPixelPtr(S.SrcRect.Left + first, sy0);
      const TColor32* lower =
          sy0 < S.SrcRect.Bottom - 1 ? Src.GetPixelPtr(S.SrcRect.Left + first, sy0 + 1) : upper;
      const TColor32 wy = 255 - TColor32((Y >> 8) & 255);
      TColor32* d = Dst.GetPixelPtr(S.Clip.Left, y);
      if (perPixel) {
        TColor32* out = S.Mode == dmOpaque ? d : samples.data();
        const TColor32 *nextUpper = nullptr, *nextLower = nullptr;
        if (y + 1 < Y1) {
          const std::int64_t NY = S.Y0 + std::int64_t(y + 1 - S.Clip.Top) * S.sy;
          const std::int32_t ny0 = std::int32_t(NY >> 16) + S.SrcRect.Top;
          nextUpper = Src.GetPixelPtr(S.SrcRect.Left + first, ny0);
          nextLower = ny0 < S.SrcRect.Bottom - 1 ? Src.GetPixelPtr(S.SrcRect.Left + first, ny0 + 1)
                                                 : nextUpper;
        }
        kernels->LinearRow(upper, lower, wy, nextUpper, nextLower, t.data(), wx.data(), out, n);
        if (S.Mode != dmOpaque) BlendLine(samples.data(), d, n);
        continue;
      }
      kernels->VerticalLerp(upper, lower, wy, v.data(), count);
      if (S.Mode == dmOpaque) {
        kernels->HorizontalLerp(v.data(), t.data(), wx.data(), d, n);
      } else {
        kernels->HorizontalLerp(v.data(), t.data(), wx.data(), samples.data(), n);
        BlendLine(samples.data(), d, n);
      }
    }
  });
  return true;
}

}  // namespace raster
