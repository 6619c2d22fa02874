#include "controls/controls.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>

#include "raster/cpu.h"

namespace raster {
namespace {

// A control that shows one bitmap at an offset of its own.
class TPictureControl : public TControl {
 public:
  TBitmap32 Picture;
  TRect Part;
  TPoint At;
  void Paint() override { Blit(Picture, Part, At); }
};

// Every row length from 0 to 64 (the vector loop and its tails), clipped on every side, and a
// whole large picture (split over threads): the screen shows each pixel with its alpha set.
TEST(HeadlessHost, BlitSetsAlphaAndCopiesEveryPixel) {
  std::mt19937 random(20261207);
  const int savedThreads = RasterThreadCount();
  for (int threads : {1, 2}) {
    SetRasterThreadCount(threads);
    TPictureControl control;
    control.SetBounds(0, 0, 700, 500);
    control.Picture.SetSize(690, 480);
    for (std::int32_t y = 0; y < 480; ++y)
      for (std::int32_t x = 0; x < 690; ++x) control.Picture.SetPixel(x, y, TColor32(random()));
    auto check = [&](const TRect& Part, TPoint At) {
      SCOPED_TRACE(testing::Message()
                   << "part " << Part.Left << "," << Part.Top << " " << Part.Width() << "x"
                   << Part.Height() << " at " << At.X << "," << At.Y << ", threads " << threads);
      // A new host each time: its screen starts all zero.
      THeadlessHost host(control);
      control.Part = Part;
      control.At = At;
      const TColor32 untouched = 0;
      host.PaintNow();
      const TBitmap32& screen = host.Screen();
      for (std::int32_t y = 0; y < screen.Height(); ++y) {
        for (std::int32_t x = 0; x < screen.Width(); ++x) {
          const std::int32_t sx = x - At.X + Part.Left, sy = y - At.Y + Part.Top;
          const bool shown =
              PtInRect(Part, {sx, sy}) && PtInRect(control.Picture.BoundsRect(), {sx, sy});
          const TColor32 expected =
              shown ? (control.Picture.GetPixel(sx, sy) | 0xFF000000u) : untouched;
          ASSERT_EQ(screen.GetPixel(x, y), expected) << "at " << x << "," << y;
        }
      }
    };
    for (std::int32_t w = 0; w <= 64; ++w) check({3, 5, 3 + w, 9}, {11, 2});
    check({0, 0, 690, 480}, {0, 0});
    check({0, 0, 690, 480}, {-7, -9});  // cut off at the top left
    check({0, 0, 690, 480}, {30, 40});  // and at the bottom right
  }
  SetRasterThreadCount(savedThreads);
}

// A control that counts what its host delivers to it.
class TCountingControl : public TControl {
 public:
  using TControl::TControl;
  int Ticks = 0;
  void TimerTick() override { ++Ticks; }
};

// The host forgets a control when it goes, in whatever order the controls and the host go.
// Under the address sanitizer, each case that is remembered wrongly reads freed memory.
TEST(HeadlessHost, RootDestroyedBeforeItsHost) {
  {
    auto root = std::make_unique<TCountingControl>();
    auto host = std::make_unique<THeadlessHost>(*root);
    root.reset();
    host.reset();
  }
  // A host without its root paints and routes nothing.
  auto root = std::make_unique<TCountingControl>();
  root->SetBounds(0, 0, 20, 20);
  auto host = std::make_unique<THeadlessHost>(*root);
  root->StartTimer(10);
  root.reset();
  host->AdvanceTime(50);
  host->MouseMove(5, 5);
  host->MouseLeave();
  const int paints = host->PaintCount();
  host->PaintNow();
  EXPECT_EQ(host->PaintCount(), paints);
  host->Resize(30, 30);
}

// A root too large for any screen: the host is refused and the root, going after it, calls no
// host back.
TEST(HeadlessHost, ARootTooLargeForTheScreenIsRefusedCleanly) {
  auto root = std::make_unique<TCountingControl>();
  root->SetBounds(0, 0, 16387, 16387);
  EXPECT_THROW(THeadlessHost host(*root), EBitmapError);
  EXPECT_EQ(root->Host(), nullptr);
  root.reset();
}

// A child that goes after its parent left the host's tree with the parent: the host keeps
// neither its timer nor its capture nor the hover on it.
TEST(HeadlessHost, ChildDestroyedAfterItsParent) {
  TCountingControl root;
  root.SetBounds(0, 0, 100, 100);
  THeadlessHost host(root);
  auto* parent = new TCountingControl(&root);
  parent->SetBounds(0, 0, 50, 50);
  auto* child = new TCountingControl(parent);
  child->SetBounds(10, 10, 20, 20);
  child->StartTimer(10);
  host.MouseMove(15, 15);  // hovers the child
  child->SetMouseCapture(true);
  ASSERT_EQ(host.TimerInterval(*child), 10);
  host.AdvanceTime(10);
  EXPECT_EQ(child->Ticks, 1);
  delete parent;
  EXPECT_EQ(child->Parent(), nullptr);
  EXPECT_EQ(host.TimerInterval(*child), 0);
  EXPECT_EQ(host.Capture(), nullptr);
  delete child;
  host.AdvanceTime(100);
  host.MouseMove(80, 80);
}

// A child taken out of the tree is forgotten as well; its own destruction later finds no host
// to tell.
TEST(HeadlessHost, ChildTakenOutOfTheTree) {
  TCountingControl root;
  root.SetBounds(0, 0, 100, 100);
  THeadlessHost host(root);
  auto child = std::make_unique<TCountingControl>(&root);
  child->SetBounds(0, 0, 10, 10);
  child->StartTimer(10);
  host.MouseMove(5, 5);
  child->SetParent(nullptr);
  EXPECT_EQ(host.TimerInterval(*child), 0);
  child.reset();
  host.AdvanceTime(100);
  host.MouseMove(50, 50);
}

// The screen copied onto itself (a scroll): every overlapping move, in each direction, gives
// the pixels that lay at the source before the copy.
TEST(HeadlessHost, OverlappingCopyOfTheScreenOntoItself) {
  // Copies Part of the screen to At while it paints.
  class TScrollingControl : public TControl {
   public:
    const TBitmap32* Screen = nullptr;
    TRect Part;
    TPoint At;
    void Paint() override { Blit(*Screen, Part, At); }
  };
  std::mt19937 random(20261208);
  constexpr std::int32_t W = 67, H = 41;
  const TPoint moves[] = {{0, 3}, {0, -3}, {5, 0}, {-5, 0}, {4, 2}, {-4, -2}, {1, 1}, {-1, 1}};
  for (const TPoint move : moves) {
    SCOPED_TRACE(testing::Message() << "move " << move.X << "," << move.Y);
    TScrollingControl control;
    control.SetBounds(0, 0, W, H);
    THeadlessHost host(control);
    control.Screen = &host.Screen();
    // Fill the screen through an ordinary blit first.
    TBitmap32 picture;
    picture.SetSize(W, H);
    for (std::int32_t y = 0; y < H; ++y)
      for (std::int32_t x = 0; x < W; ++x) picture.SetPixel(x, y, TColor32(random()));
    host.Blit(picture, picture.BoundsRect(), {0, 0});
    TBitmap32 before;
    before.Assign(&host.Screen());

    control.Part = {6, 5, W - 6, H - 5};
    control.At = {control.Part.Left + move.X, control.Part.Top + move.Y};
    host.PaintNow();
    const TBitmap32& screen = host.Screen();
    int wrong = 0;
    for (std::int32_t y = 0; y < H; ++y) {
      for (std::int32_t x = 0; x < W; ++x) {
        const TPoint from{x - move.X, y - move.Y};
        // Inside the moved part a pixel comes from where it lay before; outside it stays.
        const TColor32 expected =
            PtInRect(control.Part, from) ? before.GetPixel(from.X, from.Y) : before.GetPixel(x, y);
        if (screen.GetPixel(x, y) != (expected | 0xFF000000u)) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

}  // namespace
}  // namespace raster
