#include "panel/panel_placement.h"

#include <gtest/gtest.h>

namespace halvorn::panel {
namespace {

TEST(PanelPlacementTest, PanelIsEightPixelsWiderAndThirtyTwoTallerThanItsDialogWindow) {
  EXPECT_EQ(PanelSizeFor(ScreenRect{0, 24, 208, 581}), (PanelSize{216, 589}));
  // Only the extent counts, not where the dialog window sits.
  EXPECT_EQ(PanelSizeFor(ScreenRect{-300, 700, -92, 1257}), (PanelSize{216, 589}));
}

TEST(PanelPlacementTest, WithoutADialogWindowThereIsNoPanelSize) {
  EXPECT_EQ(PanelSizeFor(std::nullopt), std::nullopt);
}

TEST(PanelPlacementTest, ShowPlacementPutsTheBottomRightCornerOnTheDesktopWindows) {
  const PlacementRecord record = ShowPlacement({0, 0, 1920, 1080}, {216, 589});
  EXPECT_EQ(record.length, 44u);
  EXPECT_EQ(record.flags, 0u);
  EXPECT_EQ(record.show_command, 1u);
  EXPECT_EQ(record.minimised_position, (ScreenPoint{0, 0}));
  EXPECT_EQ(record.maximised_position, (ScreenPoint{0, 0}));
  EXPECT_EQ(record.normal, (ScreenRect{1704, 491, 1920, 1080}));
}

TEST(PanelPlacementTest, ShowPlacementFollowsADesktopThatDoesNotStartAtTheOrigin) {
  // A desktop window that extends left of and above the primary screen.
  EXPECT_EQ(ShowPlacement({-1280, -200, 1920, 1080}, {216, 589}).normal,
            (ScreenRect{1704, 491, 1920, 1080}));
}

TEST(PanelPlacementTest, OnADesktopLowerThanThePanelTheTitleBarStaysOnScreen) {
  EXPECT_EQ(ShowPlacement({0, 0, 1024, 480}, {216, 589}).normal, (ScreenRect{808, 0, 1024, 589}));
  EXPECT_EQ(ShowPlacement({0, 0, 200, 400}, {216, 589}).normal, (ScreenRect{-16, 0, 200, 589}));
  EXPECT_EQ(ShowPlacement({0, -200, 1024, 300}, {216, 589}).normal, (ScreenRect{808, -200, 1024, 389}));
  // Exactly as tall as the panel: the corner rule and the top rule agree.
  EXPECT_EQ(ShowPlacement({0, 0, 1024, 589}, {216, 589}).normal, (ScreenRect{808, 0, 1024, 589}));
}

TEST(PanelPlacementTest, MinimisedPlacementKeepsTheRestoredRectangle) {
  const PlacementRecord record = MinimisedPlacement({1704, 491, 1920, 1080});
  EXPECT_EQ(record.length, 44u);
  EXPECT_EQ(record.flags, 0u);
  EXPECT_EQ(record.show_command, 6u);
  EXPECT_EQ(record.minimised_position, (ScreenPoint{0, 0}));
  EXPECT_EQ(record.maximised_position, (ScreenPoint{0, 0}));
  EXPECT_EQ(record.normal, (ScreenRect{1704, 491, 1920, 1080}));
}

}  // namespace
}  // namespace halvorn::panel
