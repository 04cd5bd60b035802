// What extio_host tells of a session: its steps and the status calls as they
// come, the message boxes the plug-in showed, a line a second while the
// stream runs, the first failure (the program's exit status) and the summary
// at the end. The session acts and records what it learnt in SessionFacts;
// this only reads those, the callback's counts and the closed message boxes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/capture_writer.h"
#include "host/extio_host_options.h"
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

// What the session learnt and did, kept by the session.
struct SessionFacts {
  std::string plugin_path;
  std::string receiver_name;
  int sample_type = -1;
  int pair_bytes = 0;
  int block_pairs = 0;
  std::int32_t lo_hz = 0;
  std::int32_t reported_rate_hz = 0;
  double streamed_s = 0.0;
  bool recording = false;
  // Every file the recording went to, as the panel named them.
  std::vector<std::string> recording_names;
  std::string panel_picture_result;
};

// The full path of `path`, or `path` itself when it has none.
std::string FullPath(const std::string& path);

class SessionReport {
 public:
  SessionReport(const HostOptions& options, const SessionFacts& facts, const SessionCallback& callback,
                const MessageBoxWatcher& boxes)
      : options_(options), facts_(facts), callback_(callback), boxes_(boxes) {}

  // A step of the session; nothing with --quiet.
  void Say(const char* format, ...) const;
  // Something the user asked for that this session cannot do; said even with --quiet.
  void Note(const char* format, ...) const;
  // Keeps the first failure: its status is the program's.
  void Fail(int status, const std::string& problem);
  int exit_status() const { return exit_status_; }

  // The status calls as the session handles them.
  void RateChanged() const;
  void RecordingChanged(bool started) const;
  // `level_db` empty: the plug-in does not list the entry it gives.
  void AttenuatorChanged(int entry, std::optional<float> level_db) const;
  void OtherStatus(int status) const;

  // Prints the message boxes the watcher closed since the last call.
  void MessageBoxes();
  std::string LastMessageBoxText() const;

  // The plug-in's rate and attenuator menus, with their current entries.
  void Menus(const HostMenus& menus, int current_rate, int current_attenuator) const;

  // The stream as measured: pairs received by `at_s` seconds of the session.
  void Measure(double at_s, std::uint64_t pairs) { meter_.Add(at_s, pairs); }
  // The stream restarts: its counts start again from zero, so the figures so
  // far are kept here.
  void StreamRestarts();
  std::uint64_t blocks() const { return earlier_blocks_ + callback_.blocks(); }

  // The once-a-second line.
  void Progress(double elapsed_s) const;
  // The summary; its checks of the recordings and of the counting pattern may
  // still fail the session.
  void Summary(const CaptureWriter* capture);

 private:
  std::uint64_t RecordingBytes() const;
  std::string DroppedText(bool for_summary) const;

  const HostOptions& options_;
  const SessionFacts& facts_;
  const SessionCallback& callback_;
  const MessageBoxWatcher& boxes_;
  std::size_t boxes_reported_ = 0;

  RateMeter meter_;
  // Totals of the stream segments before the last restart.
  std::uint64_t earlier_blocks_ = 0;
  std::uint64_t earlier_missing_pairs_ = 0;
  std::uint64_t earlier_disordered_pairs_ = 0;
  std::uint64_t earlier_torn_blocks_ = 0;
  int restarts_ = 0;

  int exit_status_ = kExitOk;
  std::string problem_;
};

}  // namespace halvorn::host
