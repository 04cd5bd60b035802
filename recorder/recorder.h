// Records the delivered stream to WAV files with the receiver chunk. The
// window thread starts, stops and shows a recording; the delivery thread
// appends every block. One lock keeps them apart, held for one block's write.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ports/host_link.h"
#include "ports/panel_view.h"
#include "ports/trace.h"
#include "ports/user_interface.h"
#include "receiver/receiver.h"
#include "recorder/recording_file.h"
#include "recorder/recording_name.h"
#include "recorder/wav_header.h"
#include "streaming/block_sink.h"

namespace halvorn::recorder {

// Seconds since 1970-01-01 00:00:00 UTC.
using UtcClock = std::function<std::int64_t()>;
std::int64_t SystemUtcSeconds();

struct RecorderOptions {
  // Null: files go to the process's current directory.
  std::unique_ptr<RecordingDirectory> directory;
  // Empty: the system clock.
  UtcClock clock;
  // Sample bytes one file may hold. A recording whose next block would pass
  // it goes on in a new file. At least one whole block.
  std::uint32_t max_data_bytes = kMaxDataBytes;
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
  // The status timer's tick: shows size and time, or ends a recording that the
  // delivery thread could not continue. Ignored while idle.
  std::optional<std::string> UpdateRecordingStatus();

  // Delivery thread: appends the block to the open file, if any.
  void WriteBlock(const std::uint8_t* data, std::int32_t pair_count) override;

  // For a module being unloaded: finishes an open recording without touching
  // the window or the host, which may be gone.
  void FinishAtUnload();
  // For a process that is ending: its other threads are gone, perhaps one
  // with the lock held, so this waits for the lock only briefly.
  void FinishAtProcessExit();

  // From a start to the end that the window thread carries out.
  bool IsRecording() const { return recording_.load(std::memory_order_acquire); }

 private:
  static constexpr int kConversionPairs = kBlockPairs;

  struct OpenFile {
    std::unique_ptr<RecordingFile> file;  // null: none
    RecordingName name;
    int sample_rate_index = 0;
    int pair_bytes = 6;
    std::uint32_t data_bytes = 0;  // sample bytes that reached the file
    std::int64_t start_time_utc_s = 0;
  };
  enum class Trouble { kNone, kCreateFailed, kWriteFailed, kFinishFailed, kNextFileFailed };
  struct Failure {
    Trouble trouble = Trouble::kNone;
    FileError error;
    RecordingName name;
  };

  // Creates a file under a name not taken yet and writes its header.
  bool OpenNewFile(const receiver::ReceiverSettings& settings, OpenFile& out, Failure& failure);
  // Sizes, then close. A partly written pair at the end is cut off first
  // where the file allows it; either way the sizes match the file's length.
  static bool FinishFile(OpenFile& open, FileError& error);

  void AppendLocked(const std::uint8_t* pairs, int pair_count, int sample_rate_index);
  bool ContinueInNewFileLocked(int sample_rate_index);
  void InterruptLocked(Trouble trouble, FileError error, const RecordingName& name);

  // Takes every file away from the delivery thread and finishes it.
  std::optional<std::string> EndRecording();
  std::optional<std::string> EndRecordingLocked(std::unique_lock<std::mutex>& lock);
  std::string Explain(const Failure& failure) const;

  const receiver::Receiver& receiver_;
  const HostLink& host_;
  UserInterface& ui_;
  PanelView& view_;
  const Trace& trace_;
  const std::unique_ptr<RecordingDirectory> directory_;
  const UtcClock clock_;
  const std::uint32_t max_data_bytes_;

  std::atomic<bool> recording_{false};
  // The quick look WriteBlock takes before the lock; the lock decides.
  std::atomic<bool> accepting_{false};
  // The open file's data byte count, for the display.
  std::atomic<std::uint32_t> shown_bytes_{0};

  std::mutex mutex_;
  // Guarded by mutex_.
  OpenFile open_;
  OpenFile failed_;  // taken aside by the delivery thread after a failure
  Failure failure_;
  std::uint32_t file_generation_ = 0;  // counts files of this recording
  std::int64_t last_name_time_ = INT64_MIN;
  int last_copy_ = 0;
  std::array<std::uint8_t, kConversionPairs * 4> conversion_{};

  // Window thread only.
  std::uint32_t shown_generation_ = 0;
  std::int64_t shown_start_time_utc_s_ = 0;
};

}  // namespace halvorn::recorder
