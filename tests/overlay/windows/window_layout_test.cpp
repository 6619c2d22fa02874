#include "overlay/windows/window_layout.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

namespace overlay {
namespace {

TEST(PanelLayout, ClientWidth979) {
  const TBottomPanelLayout l = PanelControlsLayout(979);
  EXPECT_EQ(l.SliderWidth, 328);
  EXPECT_EQ(l.LeftEditLeft, 416);
  EXPECT_EQ(l.RightEditLeft, 905);
  EXPECT_EQ(l.ButtonCloseLeft, 858);  // right edge on EditZoom's right edge
  EXPECT_EQ(l.BitBtnPrintLeft, 858 - 41 - 41);
}

TEST(OpenPictureFilter, PairsBecomeQtNameFiltersInOrder) {
  const std::vector<std::string> f = NameFilters(OpenPictureFilter);
  ASSERT_EQ(f.size(), 7u);
  EXPECT_EQ(f[0], "*.jpg, *.bmp (*.jpg *.jpeg *.bmp)");
  EXPECT_EQ(f[6], "*.tga (*.tga)");
}

// Stored bounds keep their place only where enough of them shows on a screen (a monitor
// unplugged leaves them on none: the window system places the window); the size stays, at least
// the minimum (the default width 620 gives the minimum width).
TEST(StoredBounds, KeepTheirPlaceOnlyWhereEnoughOfThemShows) {
  const std::vector<TScreenArea> screens{{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
  const auto place = [&](int Left, int Top, int Width, int Height) {
    return PlaceStoredBounds(TWindowBounds{Top, Left, Height, Width}, screens, 732, 270);
  };
  // 50 x 30 pixels on a screen keep the place, 49 or 29 do not.
  for (const auto& [left, top, moves] :
       {std::tuple{40, 30, true}, std::tuple{3100, 500, true}, std::tuple{-9000, -4000, false},
        std::tuple{-858, 30, true}, std::tuple{-859, 30, false}, std::tuple{40, 1050, true},
        std::tuple{40, 1051, false}}) {
    EXPECT_EQ(place(left, top, 908, 530).Move, moves) << left << ", " << top;
  }
  const TStoredPlacement stored = place(40, 30, 908, 530);
  EXPECT_EQ(std::pair(stored.ClientWidth, stored.ClientHeight), std::pair(900, 500));
  const TStoredPlacement small = place(-9000, -4000, 620, 450);
  EXPECT_EQ(std::pair(small.ClientWidth, small.ClientHeight),
            std::pair(732, 450 - MainFrameExtraHeight));
}

// "Send to PACS" makes the comparison anew only when it changed since it went, or when nothing
// waits and the user wants it sent again; the user is asked only then.
TEST(PacsSend, MakesTheComparisonAnewOnlyWhenItChangedOrTheUserWantsIt) {
  for (const auto& [digest, waiting, answer, choice, asked] :
       {std::tuple{"new", false, false, TPacsSendChoice::ExportAnew, false},
        std::tuple{"new", true, false, TPacsSendChoice::ExportAnew, false},
        std::tuple{"sent", true, true, TPacsSendChoice::WaitingOnly, false},
        std::tuple{"sent", false, true, TPacsSendChoice::ExportAnew, true},
        std::tuple{"sent", false, false, TPacsSendChoice::Nothing, true}}) {
    bool wasAsked = false;
    const auto ask = [&, answer = answer] { return wasAsked = true, answer; };
    EXPECT_EQ(ChoosePacsSend(digest, "sent", waiting, ask), choice) << digest << waiting;
    EXPECT_EQ(wasAsked, asked) << digest << waiting;
  }
}

// The DICOM export writes only into a folder of the user's alone: one open to others is closed
// when the user agrees, another user's or a file is refused, naming it.
TEST(DicomFolder, OnlyAFolderOfTheUsersAloneIsWrittenInto) {
  using platform::TFolderPrivacy;
  const std::string none;
  for (const auto& [privacy, question, refusal] :
       std::initializer_list<std::tuple<TFolderPrivacy, std::string, std::string>>{
           {TFolderPrivacy::Missing, none, none},
           {TFolderPrivacy::Private, none, none},
           {TFolderPrivacy::OwnOpen, Tr(DicomFolderOpenText, "/f"), none},
           {TFolderPrivacy::Foreign, none, Tr(DicomFolderForeignText, "/f")},
           {TFolderPrivacy::NotFolder, none, Tr(DicomFolderNotFolderText, "/f")}}) {
    const TDicomFolderUse use = DicomFolderUse(privacy, "/f");
    EXPECT_EQ(use.Question, question) << int(privacy);
    EXPECT_EQ(use.Refusal, refusal) << int(privacy);
  }
}

}  // namespace
}  // namespace overlay
