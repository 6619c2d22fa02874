// The arithmetic of a picture view that zooms and pans, without a window: a picture of some size
// shown in a view of some size through a scale and an offset, view = picture * Scale + Offset,
// both in doubles so that a point maps back to itself exactly. The assistant's picture view
// paints and takes its clicks through it; the main window may use it for a fit and a 100 %.
#pragma once

#include <optional>

namespace overlay {

struct TPointD {
  double X = 0, Y = 0;
  friend bool operator==(const TPointD&, const TPointD&) = default;
};

class TZoomView {
 public:
  // Beyond 32 screen pixels per picture pixel there is nothing more to aim at.
  static constexpr double MaxScale = 32;
  // Zoomed out, a quarter of the fit is the least scale; less would show a speck.
  static constexpr double MinScaleOfFit = 0.25;

  // A new picture is shown fitted. A size of 0 counts as 1, so that no division fails.
  void SetPictureSize(int Width, int Height);
  // A fitted view fits again; otherwise the picture point at the view's centre stays there.
  void SetViewSize(int Width, int Height);

  int PictureWidth() const { return FPictureWidth; }
  int PictureHeight() const { return FPictureHeight; }
  int ViewWidth() const { return FViewWidth; }
  int ViewHeight() const { return FViewHeight; }
  double Scale() const { return FScale; }
  double OffsetX() const { return FOffsetX; }
  double OffsetY() const { return FOffsetY; }
  // Whether the view shows the fit and follows the view's size (until the user zooms).
  bool Fitted() const { return FFitted; }

  // The largest scale that shows the whole picture, but never above 1: the fit does not enlarge
  // a small picture, so that a click on it still names whole pixels (PickPoint) until the user
  // zooms in on purpose.
  double FitScale() const;
  double MinScale() const { return FitScale() * MinScaleOfFit; }

  void Fit();
  // 100 %: one screen pixel per picture pixel, about the view's centre.
  void Actual();
  // Multiplies the scale by Factor (within the limits) so that the picture point under
  // ViewPoint stays under it, unless the pan limits then pull the picture back.
  void ZoomAbout(double Factor, TPointD ViewPoint);
  void SetScaleAbout(double Scale, TPointD ViewPoint);
  // Moves the picture by (Dx, Dy) screen pixels, within the pan limits.
  void PanBy(double Dx, double Dy);

  TPointD ToPicture(TPointD ViewPoint) const;
  TPointD ToView(TPointD PicturePoint) const;

 private:
  // The pan limits, per axis: a picture narrower than the view is centred; a wider one covers
  // the view, its edges never coming inside it.
  void Limit();

  int FPictureWidth = 1, FPictureHeight = 1;
  int FViewWidth = 1, FViewHeight = 1;
  double FScale = 1;
  double FOffsetX = 0, FOffsetY = 0;
  bool FFitted = true;
};

// The picture point a click at ViewPoint names, or nothing outside the picture. The integer
// coordinate i names pixel i, whose centre is i + 0.5 in the view's continuous picture
// coordinates u = ToPicture(ViewPoint). At a scale of 1 or less the click names the pixel it
// lands on, floor(u). Zoomed in, a screen pixel is a part of a picture pixel, and the point is
// u - 0.5 rounded to 1/100 pixel: a click on a pixel's centre still names the whole pixel, and
// one a quarter pixel right of it 0.25 more.
std::optional<TPointD> PickPoint(const TZoomView& View, TPointD ViewPoint);

// The zoom factor of a wheel's angle delta: 2^(1/4) per notch of 120, and the same share of it
// for the parts of a notch that fine wheels and touch pads send.
double WheelZoomFactor(int AngleDelta);

}  // namespace overlay
