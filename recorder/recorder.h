// Records the delivered stream to WAV files with the receiver chunk. The
// window thread starts, stops and shows a recording; the delivery thread
// hands every block to the recording's writer, which takes no lock per block
// and waits on the disk only when its ring is full (recording_writer.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ports/guarded_route.h"
#include "ports/host_link.h"
#include "ports/panel_view.h"
#include "ports/platform_kit.h"
#include "ports/trace.h"
#include "ports/user_interface.h"
#include "receiver/receiver.h"
#include "recorder/recording_file.h"
#include "recorder/recording_files.h"
#include "recorder/recording_writer.h"
#include "recorder/wav_header.h"
#include "streaming/block_sink.h"

namespace halvorn::recorder {

struct RecorderOptions {
  // Null: files go to the process's current directory.
  std::unique_ptr<RecordingDirectory> directory;
  // Empty: the system clock.
  UtcClock clock;
  // Sample bytes one file may hold. A recording whose next block would pass
  // it goes on in a new file. At least one whole block.
  std::uint32_t max_data_bytes = kMaxDataBytes;
  WriterTiming timing;
  // Where the writing thread comes from; null: the platform's own. Outlives
  // the recorder.
  PlatformKit* kit = nullptr;
};

class Recorder : public streaming::BlockSink {
 public:
  Recorder(const receiver::Receiver& receiver, const HostLink& host, UserInterface& ui, PanelView& view,
           const Trace& trace, RecorderOptions options = {});
  // Finishes a recording still open, as FinishAtUnload does. The stream must
  // no longer deliver blocks here.
  ~Recorder() override;
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Window thread. Each returns a text for the user when a recording could not
  // start, or ended badly; the recorder is then idle, its timer stopped and the
  // host told (103).
  std::optional<std::string> StartRecording();
  std::optional<std::string> StopRecording();
  // The status timer's tick: shows size and time, or ends a recording that
  // could not go on. Ignored while idle.
  std::optional<std::string> UpdateRecordingStatus();

  // Delivery thread: stores the block for the open recording, if any.
  void WriteBlock(const std::uint8_t* data, std::int32_t pair_count) override;
  // Delivery thread: blocks lost before the next one; the user learns of them
  // when the recording ends.
  void BlocksLost(std::uint64_t blocks) override;

  // For a module being unloaded: finishes an open recording without touching
  // the window or the host, which may be gone.
  void FinishAtUnload();
  // For a process that is ending: its other threads are gone, perhaps in the
  // middle of a block or a write. Finishes the open recording with everything
  // stored for it, taking no lock and waiting for nothing.
  void FinishAtProcessExit();

  // From a start to the end that the window thread carries out.
  bool IsRecording() const { return recording_.load(std::memory_order_acquire); }

 private:
  // Takes the recording away from the delivery thread, lets its writer finish
  // the files and says what went wrong, if anything.
  std::optional<std::string> EndRecording();
  std::string Explain(const RecordingWriter::Outcome& outcome) const;
  static std::string ExplainLoss(std::uint64_t blocks, double seconds);

  const receiver::Receiver& receiver_;
  const HostLink& host_;
  UserInterface& ui_;
  PanelView& view_;
  const Trace& trace_;
  RecordingFiles files_;
  const std::uint32_t max_data_bytes_;
  const WriterTiming timing_;
  // The writing thread and its events.
  const std::unique_ptr<PlatformKit> own_kit_;
  PlatformKit& kit_;

  std::atomic<bool> recording_{false};
  // What WriteBlock stores into; closed first when a recording ends.
  GuardedRoute<RecordingWriter> accepting_;
  // Blocks the stream dropped between blocks of this recording, and the time
  // they would have covered.
  std::atomic<std::uint64_t> lost_blocks_{0};
  std::atomic<std::uint64_t> lost_microseconds_{0};
  std::atomic<bool> has_blocks_{false};
  // The open recording's writer, for the process's exit.
  std::atomic<RecordingWriter*> open_writer_{nullptr};

  // Between the window thread and an unload on another thread.
  std::mutex control_mutex_;
  std::unique_ptr<RecordingWriter> writer_;  // guarded by control_mutex_

  // Window thread only.
  std::uint32_t shown_generation_ = 0;
  std::int64_t shown_start_time_utc_s_ = 0;
};

}  // namespace halvorn::recorder
