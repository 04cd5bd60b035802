#include "panel/panel_placement.h"

namespace halvorn::panel {

std::optional<PanelSize> PanelSizeFor(const std::optional<ScreenRect>& dialog_window) {
  if (!dialog_window) return std::nullopt;
  return PanelSize{dialog_window->right - dialog_window->left + kFrameExtraWidth,
                   dialog_window->bottom - dialog_window->top + kFrameExtraHeight};
}

PlacementRecord ShowPlacement(const ScreenRect& desktop_window, PanelSize panel) {
  PlacementRecord record;
  record.show_command = kShowNormal;
  record.normal = {desktop_window.right - panel.width, desktop_window.bottom - panel.height,
                   desktop_window.right, desktop_window.bottom};
  return record;
}

PlacementRecord MinimisedPlacement(const ScreenRect& current_normal) {
  PlacementRecord record;
  record.show_command = kShowMinimised;
  record.normal = current_normal;
  return record;
}

}  // namespace halvorn::panel
