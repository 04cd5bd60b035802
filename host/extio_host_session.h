// One session of extio_host: the plug-in loaded on this thread, the receiver
// opened, the stream run for the time asked while this thread pumps the
// messages the plug-in's panel needs, then everything taken down in order,
// and a summary. What it says is SessionReport's.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/call_guard.h"
#include "host/capture_writer.h"
#include "host/extio_host_options.h"
#include "host/extio_plugin.h"
#include "host/halvorn_panel.h"
#include "host/host_menus.h"
#include "host/message_box_watcher.h"
#include "host/session_callback.h"
#include "host/session_report.h"

namespace halvorn::host {

class HostSession {
 public:
  explicit HostSession(const HostOptions& options);
  ~HostSession();
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // Runs the whole session and gives the program's exit status. Ctrl+C ends
  // the stream early and the session then ends as usual.
  int Run();

 private:
  using Clock = std::chrono::steady_clock;

  bool LoadPlugin();
  bool OpenReceiver();
  bool ChooseRate();
  bool ChooseAttenuator();
  // Entry `index` of one of the plug-in's menus, chosen with `set` and read
  // back with `current`; false, with the failure said, when not taken.
  bool ChooseFromMenu(const char* setter, int (ExtIoPlugin::*set)(int), int index, const char* getter,
                      int (ExtIoPlugin::*current)());
  bool StartStream();
  bool StartRecording();
  void Stream();
  void StopRecording();
  void TakeDown();

  void HandleStatuses();
  // StopHW and StartHW again; false when the new start was refused.
  bool RestartStream();
  void SavePanelPicture();
  void FollowRecordingNames();

  HostOptions options_;
  CallGuard guard_{kExitNoBlocks};
  MessageBoxWatcher boxes_{MessageBoxWatcher::Kind::kMessageBoxesOnly};
  SessionCallback& callback_ = SessionCallback::Instance();
  SessionFacts facts_;
  SessionReport report_{options_, facts_, callback_, boxes_};

  std::unique_ptr<ExtIoPlugin> plugin_;
  std::optional<HalvornPanel> panel_;
  // Read after OpenHW, as hosts build theirs.
  HostMenus menus_;
  std::unique_ptr<CaptureWriter> capture_;

  bool opened_ = false;
  bool streaming_ = false;
  bool restart_wanted_ = false;

  Clock::time_point epoch_ = Clock::now();
  Clock::time_point stream_start_;
};

}  // namespace halvorn::host
