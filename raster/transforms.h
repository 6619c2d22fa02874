// Block and stretch transfers between bitmaps, the affine transformation and drawing a bitmap
// through it.
#pragma once

#include <array>
#include <cstdint>

#include "raster/core.h"

namespace raster {

class ETransformError : public ERasterError {
 public:
  using ERasterError::ERasterError;
};

// Neither routine calls Changed (the DrawTo operations of TBitmap32 do). Raise
// "Destination bitmap is nil or empty", "Source bitmap is nil or empty" (Dst checked first)
// and, for the stretch, "Source rectangle is invalid". The block transfer clips SrcRect to the
// source in every mode. The stretch offers sfNearest and sfLinear; the kernel filters
// (sfLinear2, sfSpline) raise ETransformError instead of drawing.
void BlockTransfer(TBitmap32* Dst, std::int32_t DstX, std::int32_t DstY, const TBitmap32* Src,
                   TRect SrcRect, TDrawMode DrawMode, const TPixelCombineEvent& OnPixelCombine);
void StretchTransfer(TBitmap32* Dst, TRect DstRect, const TBitmap32* Src, TRect SrcRect,
                     TStretchFilter StretchFilter, TDrawMode DrawMode,
                     const TPixelCombineEvent& OnPixelCombine);

// Whether Src drawn stretched over a rectangle (TBitmap32::DrawTo, StretchTransfer by Src's own
// filter and draw mode) writes every pixel of it, so that the rectangle need not be cleared
// first: an opaque draw does, except with a filter the stretch refuses and, when linear, at
// master alpha 0, where it draws nothing.
bool StretchWritesEveryPixel(const TBitmap32& Src);

// m[i][j]: row i, element j. Maps (x, y) to (m00 x + m10 y + m20, m01 x + m11 y + m21).
using TFloatMatrix = std::array<std::array<float, 3>, 3>;
extern const TFloatMatrix IdentityMatrix;

// R applies M2 first and M1 after it.
TFloatMatrix Mult(const TFloatMatrix& M1, const TFloatMatrix& M2);
float Determinant(const TFloatMatrix& M);
void Adjoint(TFloatMatrix& M);
void Scale(TFloatMatrix& M, float Factor);
// Singular matrices (|det| < 1e-5) become the identity.
void Invert(TFloatMatrix& M);

class TTransformation : public TObject {
 public:
  const char* ClassName() const override { return "TTransformation"; }
  TFloatRect SrcRect;
  bool Prepared = false;

  void SetSrcRect(const TFloatRect& Value) {
    SrcRect = Value;
    Prepared = false;
  }
  // Destination pixel to source pixel.
  virtual void Transform(std::int32_t DstX, std::int32_t DstY, std::int32_t& SrcX,
                         std::int32_t& SrcY) = 0;
  // Destination pixel to source position in 24.8 fixed point.
  virtual void Transform256(std::int32_t DstX, std::int32_t DstY, std::int32_t& SrcX,
                            std::int32_t& SrcY) = 0;
  virtual void PrepareTransform() = 0;
  virtual TRect GetTransformedBounds() = 0;
};

class TAffineTransformation : public TTransformation {
 public:
  TAffineTransformation() { Clear(); }
  const char* ClassName() const override { return "TAffineTransformation"; }

  // Inverse mapping, 20.12 fixed point (one unit is 4096), as of the last preparation.
  std::int32_t InvA = 0, InvB = 0, InvC = 0, InvD = 0, InvE = 0, InvF = 0;
  // Forward mapping, source to destination.
  TFloatMatrix Matrix = IdentityMatrix;

  void Clear();
  void Translate(float Dx, float Dy);
  void Scale(float Sx, float Sy);
  void Skew(float Fx, float Fy);
  // Degrees; a positive angle turns the picture anticlockwise on a Y-down screen.
  void Rotate(float Cx, float Cy, float Alpha);

  void Transform(std::int32_t DstX, std::int32_t DstY, std::int32_t& SrcX,
                 std::int32_t& SrcY) override;
  void Transform256(std::int32_t DstX, std::int32_t DstY, std::int32_t& SrcX,
                    std::int32_t& SrcY) override;
  void PrepareTransform() override;
  TRect GetTransformedBounds() override;

 private:
  void ApplyStep(const TFloatMatrix& Step);
};

// Draws Src into Dst through the transformation, sampling by Src's StretchFilter and writing by
// its DrawMode and MasterAlpha; ends with Dst.Changed() unless nothing could be drawn.
void Transform(TBitmap32& Dst, const TBitmap32& Src, TTransformation& Transformation);

}  // namespace raster
