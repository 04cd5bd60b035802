// A user interface and dialog that record what the core asked of them, in
// order, and keep the controls' check, enable and text state like a dialog
// would.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "panel/dialog_controls.h"
#include "ports/user_interface.h"

namespace halvorn::testing {

class FakeUserInterface : public UserInterface, public panel::DialogControls {
 public:
  struct Control {
    int check = 0;
    bool enabled = true;
    std::string text;
  };

  void ShowError(const char* text) override { Record("error " + std::string(text)); }
  void ShowNotice(const char* text) override { Record("notice " + std::string(text)); }
  // The events as this records them.
  static std::string CheckEvent(int id, bool marked) { return "check " + std::to_string(id) + (marked ? " 1" : " 0"); }
  static std::string EnableEvent(int id, bool enabled) {
    return "enable " + std::to_string(id) + (enabled ? " 1" : " 0");
  }
  static std::string TextEvent(int id, const std::string& text) {
    return "text " + std::to_string(id) + " '" + text + "'";
  }

  void SetCheck(int id, bool marked) override {
    std::lock_guard lock(mutex_);
    controls_[id].check = marked ? 1 : 0;
    events_.push_back(CheckEvent(id, marked));
  }
  int GetCheck(int id) override {
    std::lock_guard lock(mutex_);
    return controls_[id].check;
  }
  void Enable(int id, bool enabled) override {
    std::lock_guard lock(mutex_);
    controls_[id].enabled = enabled;
    events_.push_back(EnableEvent(id, enabled));
  }
  void SetText(int id, const char* text) override {
    std::lock_guard lock(mutex_);
    controls_[id].text = text;
    events_.push_back(TextEvent(id, text));
  }
  void BeginWaitCursor() override { Record("wait-cursor"); }
  void EndWaitCursor() override { Record("restore-cursor"); }
  void StartStatusTimer() override {
    Record("timer-start");
    timer_running_ = true;
  }
  void StopStatusTimer() override {
    Record("timer-stop");
    timer_running_ = false;
  }
  void PreparePanel() override { ++panels_prepared_; }
  void ShowPanel() override { Record("show-panel"); }
  void MinimisePanel() override { Record("minimise-panel"); }
  void SwitchPanel() override { Record("switch-panel"); }
  void RunOnPanelThread(std::function<void()> work) override { work(); }

  // What a click on an automatic check box does before its handler runs.
  void Toggle(int id) {
    std::lock_guard lock(mutex_);
    controls_[id].check = controls_[id].check == 1 ? 0 : 1;
  }
  void SetCheckState(int id, int state) {
    std::lock_guard lock(mutex_);
    controls_[id].check = state;
  }

  Control control(int id) {
    std::lock_guard lock(mutex_);
    return controls_[id];
  }
  std::vector<std::string> events() {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<std::string> errors() { return EventsOf("error "); }
  std::vector<std::string> notices() { return EventsOf("notice "); }
  void ClearEvents() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }
  bool timer_running() const { return timer_running_; }
  int panels_prepared() const { return panels_prepared_; }

 private:
  std::vector<std::string> EventsOf(const std::string& kind) {
    std::vector<std::string> texts;
    for (const auto& event : events()) {
      if (event.rfind(kind, 0) == 0) texts.push_back(event.substr(kind.size()));
    }
    return texts;
  }
  void Record(std::string event) {
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(event));
  }

  std::mutex mutex_;
  std::map<int, Control> controls_;
  std::vector<std::string> events_;
  bool timer_running_ = false;
  std::atomic<int> panels_prepared_{0};
};

}  // namespace halvorn::testing
