// One session of extio_host: the plug-in loaded on this thread, the receiver
// opened, the stream run for the time asked while this thread pumps the
// messages the plug-in's panel needs, then everything taken down in order,
// and a summary.
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
#include "host/rate_meter.h"
#include "host/session_callback.h"

namespace halvorn::host {

// 2, a wrong command line, is every program's (cli::kExitUsage).
enum ExitStatus : int {
  kExitOk = 0,
  kExitLoadFailed = 1,
  kExitOpenFailed = 3,
  kExitNoBlocks = 4,
  kExitOutputFailed = 5,
  kExitBlocksLost = 6,
};

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
  void PrintMenus() const;
  bool StartStream();
  bool StartRecording();
  void Stream();
  void StopRecording();
  void TakeDown();
  void PrintSummary();

  void HandleStatuses();
  // StopHW and StartHW again; false when the new start was refused.
  bool RestartStream();
  void SavePanelPicture();
  void FollowRecordingNames();
  std::uint64_t RecordingBytes() const;
  void PrintProgress(double elapsed_s);
  std::string DroppedText(bool for_summary) const;
  // Prints the message boxes the watcher closed since the last call.
  void ReportMessageBoxes();
  std::string LastMessageBoxText() const;

  // Keeps the first failure: its status is the program's.
  void Fail(int status, const std::string& problem);
  void Say(const char* format, ...) const;
  void Note(const char* format, ...) const;

  HostOptions options_;
  CallGuard guard_{kExitNoBlocks};
  MessageBoxWatcher boxes_{MessageBoxWatcher::Kind::kMessageBoxesOnly};
  std::size_t boxes_reported_ = 0;
  SessionCallback& callback_ = SessionCallback::Instance();

  std::string plugin_path_;
  std::unique_ptr<ExtIoPlugin> plugin_;
  std::optional<HalvornPanel> panel_;
  // Read after OpenHW, as hosts build theirs.
  HostMenus menus_;
  std::unique_ptr<CaptureWriter> capture_;

  bool opened_ = false;
  bool streaming_ = false;
  bool recording_ = false;
  bool restart_wanted_ = false;
  std::string receiver_name_;
  int sample_type_ = -1;
  int pair_bytes_ = 0;
  int block_pairs_ = 0;
  std::int32_t lo_hz_ = 0;
  std::int32_t reported_rate_hz_ = 0;

  Clock::time_point epoch_ = Clock::now();
  Clock::time_point stream_start_;
  double streamed_s_ = 0.0;
  RateMeter meter_;
  // Totals of the stream segments before the last restart.
  std::uint64_t earlier_blocks_ = 0;
  std::uint64_t earlier_missing_pairs_ = 0;
  std::uint64_t earlier_disordered_pairs_ = 0;
  std::uint64_t earlier_torn_blocks_ = 0;
  int restarts_ = 0;

  std::vector<std::string> recording_names_;
  std::string panel_picture_result_;
  std::string capture_result_;

  int exit_status_ = kExitOk;
  std::string problem_;
};

}  // namespace halvorn::host
