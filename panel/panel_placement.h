// Where the control panel goes and how big it is, worked out without a
// window: the panel is sized from its dialog and parked in the bottom-right
// corner of the desktop window, or minimised where it was.
#pragma once

#include <cstdint>
#include <optional>

namespace halvorn::panel {

// Screen pixels, right and bottom exclusive, as the platform's RECT.
struct ScreenRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;

  friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
};

struct ScreenPoint {
  std::int32_t x = 0;
  std::int32_t y = 0;

  friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
};

struct PanelSize {
  std::int32_t width = 0;
  std::int32_t height = 0;

  friend bool operator==(const PanelSize&, const PanelSize&) = default;
};

// Where the frame is created; the first ShowPanel replaces it.
inline constexpr ScreenRect kFrameCreationRect{0, 0, 200, 400};
// The frame's border and caption around the dialog window.
inline constexpr std::int32_t kFrameExtraWidth = 8;
inline constexpr std::int32_t kFrameExtraHeight = 32;

// The platform's show commands that the placement record carries.
inline constexpr std::uint32_t kShowNormal = 1;
inline constexpr std::uint32_t kShowMinimised = 6;
// The size in bytes of the platform's placement record, which it checks.
inline constexpr std::uint32_t kPlacementRecordLength = 44;

// The fields of the platform's window placement record.
struct PlacementRecord {
  std::uint32_t length = kPlacementRecordLength;
  std::uint32_t flags = 0;
  std::uint32_t show_command = kShowNormal;
  ScreenPoint minimised_position;
  ScreenPoint maximised_position;
  ScreenRect normal;

  friend bool operator==(const PlacementRecord&, const PlacementRecord&) = default;
};

// The frame around a dialog window of this rectangle; none without a dialog
// window, since a frame with nothing in it is not worth showing.
std::optional<PanelSize> PanelSizeFor(const std::optional<ScreenRect>& dialog_window);

// Restored, with the panel's bottom-right corner on the desktop window's. On
// a desktop lower than the panel, its top (and with it the title bar) stays on
// the desktop's top and the bottom goes below instead.
PlacementRecord ShowPlacement(const ScreenRect& desktop_window, PanelSize panel);

// Minimised, keeping the rectangle the panel is restored to.
PlacementRecord MinimisedPlacement(const ScreenRect& current_normal);

}  // namespace halvorn::panel
