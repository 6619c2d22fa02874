#include "raster/transforms.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "raster/blend.h"
#include "raster/lowlevel.h"
#include "raster/transforms_p.h"

namespace raster {

const TFloatMatrix IdentityMatrix = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

namespace {

constexpr const char* kDstEmpty = "Destination bitmap is nil or empty";
constexpr const char* kSrcEmpty = "Source bitmap is nil or empty";
constexpr const char* kSrcRectInvalid = "Source rectangle is invalid";
constexpr const char* kFilterUnsupported =
    "Stretch filter is not supported (only nearest and linear are)";

void CheckBitmaps(const TBitmap32* Dst, const TBitmap32* Src) {
  if (Dst == nullptr || Dst->Empty()) throw ETransformError(kDstEmpty);
  if (Src == nullptr || Src->Empty()) throw ETransformError(kSrcEmpty);
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
    throw ETransformError(kFilterUnsupported);
  if (IsRectEmpty(SrcRect)) return;
  if (SrcRect.Left < 0 || SrcRect.Top < 0 || SrcRect.Right > Src->Width() ||
      SrcRect.Bottom > Src->Height())
    throw ETransformError(kSrcRectInvalid);
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

void TAffineTransformation::Translate(float Dx, float Dy) {
  TFloatMatrix T = IdentityMatrix;
  T[2][0] = Dx;
  T[2][1] = Dy;
  Matrix = Mult(T, Matrix);
  Prepared = false;
}

void TAffineTransformation::Scale(float Sx, float Sy) {
  TFloatMatrix T = IdentityMatrix;
  T[0][0] = Sx;
  T[1][1] = Sy;
  Matrix = Mult(T, Matrix);
  Prepared = false;
}

void TAffineTransformation::Skew(float Fx, float Fy) {
  TFloatMatrix T = IdentityMatrix;
  T[1][0] = Fx;
  T[0][1] = Fy;
  Matrix = Mult(T, Matrix);
  Prepared = false;
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
  Matrix = Mult(T, Matrix);
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
    else
      (*Handler)(C, B, MasterAlpha);
  }
};

}  // namespace

void TransformNearestScalar(const TransformSetup& T, TBitmap32& Dst, const TBitmap32& Src,
                            TTransformation& Transformation) {
  const TransformWriter write{T.Mode, T.MasterAlpha, T.Handler};
  const TRect& S = T.S;
  for (std::int32_t J = T.D.Top; J <= T.D.Bottom; ++J) {
    TColor32* d = Dst.GetScanLine(J);
    for (std::int32_t I = T.D.Left; I <= T.D.Right; ++I) {
      std::int32_t X, Y;
      Transformation.Transform(I, J, X, Y);
      if (T.SValid && X >= S.Left && X <= S.Right && Y >= S.Top && Y <= S.Bottom)
        write(Src.GetPixel(X, Y), d[I]);
    }
  }
}

void TransformLinearScalar(const TransformSetup& T, TBitmap32& Dst, const TBitmap32& Src,
                           TTransformation& Transformation) {
  const TransformWriter write{T.Mode, T.MasterAlpha, T.Handler};
  const TCombineReg combine = CombineReg;
  const TRect& S = T.S;
  for (std::int32_t J = T.D.Top; J <= T.D.Bottom; ++J) {
    TColor32* d = Dst.GetScanLine(J);
    for (std::int32_t I = T.D.Left; I <= T.D.Right; ++I) {
      std::int32_t X, Y;
      Transformation.Transform256(I, J, X, Y);
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
      write(combine(combine(q1, q2, wx), combine(q3, q4, wx), wy), d[I]);
    }
  }
}

void Transform(TBitmap32& Dst, const TBitmap32& Src, TTransformation& Transformation) {
  if (!Transformation.Prepared) Transformation.PrepareTransform();

  TransformSetup T;
  T.Mode = EffectiveMode(Src.DrawMode(), Src.OnPixelCombine);
  T.MasterAlpha = Src.MasterAlpha();
  T.Handler = &Src.OnPixelCombine;

  // S holds inclusive pixel indices. When SrcRect misses the source entirely (or the source is
  // empty) the intersection is the zero rectangle; nearest sampling then has no pixel to read
  // (the zero rectangle would otherwise name pixel (0, 0), which an empty source lacks).
  T.SValid = IntersectRect(T.S, MakeRect(Transformation.SrcRect, rrClosest),
                           TRect{0, 0, Src.Width() - 1, Src.Height() - 1});
  if (!IntersectRect(T.D, Transformation.GetTransformedBounds(),
                     TRect{0, 0, Dst.Width() - 1, Dst.Height() - 1}) ||
      IsRectEmpty(T.D))
    return;

  {
    EmmsGuard emms;
    if (Src.StretchFilter() == sfNearest) {
      if (!TransformNearestFast(T, Dst, Src, Transformation))
        TransformNearestScalar(T, Dst, Src, Transformation);
    } else {
      if (!TransformLinearFast(T, Dst, Src, Transformation))
        TransformLinearScalar(T, Dst, Src, Transformation);
    }
  }
  Dst.Changed();
}

}  // namespace raster

namespace raster {
// Fast-path dispatch (vector code not yet wired in).
bool StretchNearestFast(const StretchSetup&, TBitmap32&, const TBitmap32&) {
  return false;
}
bool StretchLinearFast(const StretchSetup&, TBitmap32&, const TBitmap32&) {
  return false;
}
bool TransformNearestFast(const TransformSetup&, TBitmap32&, const TBitmap32&, TTransformation&) {
  return false;
}
bool TransformLinearFast(const TransformSetup&, TBitmap32&, const TBitmap32&, TTransformation&) {
  return false;
}
}  // namespace raster
