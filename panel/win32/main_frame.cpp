#include "panel/win32/main_frame.h"

#include "panel/control_ids.h"

namespace halvorn::panel {
namespace {

ScreenRect FromRect(const RECT& rect) {
  return {static_cast<std::int32_t>(rect.left), static_cast<std::int32_t>(rect.top),
          static_cast<std::int32_t>(rect.right), static_cast<std::int32_t>(rect.bottom)};
}

WINDOWPLACEMENT ToWindowPlacement(const PlacementRecord& record) {
  WINDOWPLACEMENT placement{};
  placement.length = record.length;
  placement.flags = record.flags;
  placement.showCmd = record.show_command;
  placement.ptMinPosition = {record.minimised_position.x, record.minimised_position.y};
  placement.ptMaxPosition = {record.maximised_position.x, record.maximised_position.y};
  placement.rcNormalPosition = {record.normal.left, record.normal.top, record.normal.right, record.normal.bottom};
  return placement;
}

static_assert(sizeof(WINDOWPLACEMENT) == kPlacementRecordLength);
static_assert(SW_SHOWNORMAL == kShowNormal && SW_MINIMIZE == kShowMinimised);

}  // namespace

int CMainFrame::CreatePanel(win::Application& application) {
  const HINSTANCE instance = application.instance();
  const std::string class_name = application.RegisterFrameClass(
      kFrameClassStyle, LoadCursorA(nullptr, IDC_ARROW), CreateSolidBrush(GetSysColor(COLOR_BTNFACE)),
      LoadIconA(instance, MAKEINTRESOURCEA(kIconId)));
  const RECT creation{kFrameCreationRect.left, kFrameCreationRect.top, kFrameCreationRect.right,
                      kFrameCreationRect.bottom};
  Create(instance, class_name, kFrameCaption, kFrameStyle, kFrameExtendedStyle, creation);

  std::optional<ScreenRect> dialog_window;
  if (control_dialog_.CreateModeless(instance, hwnd(), application.door())) {
    ShowWindow(control_dialog_.hwnd(), SW_SHOW);
    RECT rect{};
    if (GetWindowRect(control_dialog_.hwnd(), &rect)) dialog_window = FromRect(rect);
  }
  panel_size_ = PanelSizeFor(dialog_window);

  MinimisePanel();
  return 1;
}

BOOL CMainFrame::ShowPanel() {
  const HWND frame = hwnd();
  if (frame == nullptr || !panel_size_) return FALSE;
  RECT desktop{};
  GetWindowRect(GetDesktopWindow(), &desktop);
  const WINDOWPLACEMENT placement = ToWindowPlacement(ShowPlacement(FromRect(desktop), *panel_size_));
  SetWindowPos(frame, HWND_TOPMOST, 0, 0, 0, 0, SWP_SHOWWINDOW);
  const BOOL placed = SetWindowPlacement(frame, &placement);
  // The panel's thread is not the host's: the host's process lets it take
  // the keyboard, as a panel shown on the host's own thread would have.
  SetForegroundWindow(frame);
  return placed;
}

BOOL CMainFrame::MinimisePanel() {
  const HWND frame = hwnd();
  if (frame == nullptr || !panel_size_) return FALSE;
  WINDOWPLACEMENT current{};
  current.length = sizeof current;
  if (!GetWindowPlacement(frame, &current)) return FALSE;
  const WINDOWPLACEMENT placement = ToWindowPlacement(MinimisedPlacement(FromRect(current.rcNormalPosition)));
  return SetWindowPlacement(frame, &placement);
}

BOOL CMainFrame::SwitchPanel() {
  const HWND frame = hwnd();
  if (frame != nullptr && IsWindowVisible(frame) && !IsIconic(frame)) return MinimisePanel();
  return ShowPanel();
}

}  // namespace halvorn::panel
