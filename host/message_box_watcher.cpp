#include "host/message_box_watcher.h"

#include <algorithm>

#include "host/window_system.h"

namespace halvorn::host {

MessageBoxWatcher::MessageBoxWatcher(Kind kind) : kind_(kind) {
  // The watcher's looks at the windows must never be the first of the process.
  StartWindowSystem();
  thread_ = std::thread([this] { Run(); });
}

MessageBoxWatcher::~MessageBoxWatcher() {
  stop_ = true;
  thread_.join();
}

std::vector<MessageBoxWatcher::Seen> MessageBoxWatcher::seen() const {
  std::lock_guard lock(mutex_);
  return seen_;
}

void MessageBoxWatcher::Clear() {
  std::lock_guard lock(mutex_);
  seen_.clear();
}

bool MessageBoxWatcher::WaitFor(size_t count, DWORD timeout_ms) const {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  while (seen().size() < count) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(10);
  }
  return true;
}

void MessageBoxWatcher::Run() {
  while (!stop_) {
    {
      std::lock_guard lock(mutex_);
      std::erase_if(closing_, [](HWND window) { return !IsWindow(window); });
      std::erase_if(held_, [](HWND window) { return !IsWindow(window); });
    }
    EnumWindows(&MessageBoxWatcher::Visit, reinterpret_cast<LPARAM>(this));
    Sleep(20);
  }
}

BOOL CALLBACK MessageBoxWatcher::Visit(HWND window, LPARAM self_pointer) {
  auto& self = *reinterpret_cast<MessageBoxWatcher*>(self_pointer);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  char class_name[16] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  if (std::string(class_name) != "#32770") return TRUE;
  if (self.kind_ == Kind::kMessageBoxesOnly && !LooksLikeMessageBox(window)) return TRUE;

  std::lock_guard lock(self.mutex_);
  // A box stays visible for a moment after it is told to close.
  if (std::find(self.closing_.begin(), self.closing_.end(), window) != self.closing_.end()) return TRUE;
  const auto held = std::find(self.held_.begin(), self.held_.end(), window);
  if (held == self.held_.end()) {
    char title[256] = {};
    char text[1024] = {};
    GetWindowTextA(window, title, sizeof title);
    GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
    self.seen_.push_back({title, text});
    if (self.hold_) {
      self.held_.push_back(window);
      return TRUE;
    }
  } else {
    if (self.hold_) return TRUE;
    self.held_.erase(held);
  }
  self.closing_.push_back(window);
  PostMessageA(window, WM_COMMAND, IDOK, 0);
  return TRUE;
}

bool MessageBoxWatcher::LooksLikeMessageBox(HWND window) {
  bool has_text = false;
  bool has_standard_button = false;
  bool only_buttons_and_texts = true;
  int children = 0;
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    ++children;
    char class_name[16] = {};
    GetClassNameA(child, class_name, sizeof class_name);
    const int id = GetDlgCtrlID(child);
    if (lstrcmpiA(class_name, "Static") == 0) {
      has_text = has_text || id == 0xFFFF;
    } else if (lstrcmpiA(class_name, "Button") == 0) {
      has_standard_button = has_standard_button || (id >= IDOK && id <= IDCONTINUE);
    } else {
      only_buttons_and_texts = false;
    }
  }
  // The largest box has three buttons, a help button, its icon and its text.
  return has_text && has_standard_button && only_buttons_and_texts && children <= 8;
}

}  // namespace halvorn::host
