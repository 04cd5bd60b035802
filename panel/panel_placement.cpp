#include "panel/panel_placement.h"

#include <algorithm>

namespace halvorn::panel {

std::optional<PanelSize> PanelSizeFor(const std::optional<ScreenRect>& dialog_window) {
  if (!dialog_window) return std::nullopt;
  return PanelSize{dialog_window->right - dialog_window->left + kFrameExtraWidth,
                   dialog_window->bottom - dialog_window->top + kFrameExtraHeight};
}

PlacementRecord ShowPlacement(const ScreenRect& desktop_window, PanelSize panel) {
  PlacementRecord record;
  record.show_command = kShowNormal;
  const std::int32_t top = std::max(desktop_window.top, desktop_window.bottom - panel.height);
  record.normal = {desktop_window.right - panel.width, top, desktop_window.right, top + panel.height};
  return record;
}

PlacementRecord MinimisedPlacement(const ScreenRect& current_normal) {
  PlacementRecord record;
  record.show_command = kShowMinimised;
  record.normal = current_normal;
  return record;
}

}  // namespace halvorn::panel
