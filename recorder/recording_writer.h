// One recording on its way to the disk. The delivery thread stores each block
// in a ring, reduced to 16 bits at the 2 MS/s row, and never waits on the
// disk; a writing thread of the recording's own hands what is stored to the
// file in large pieces every tenth of a second, brings the header's
// sizes up to date once a second, and opens the next file where the delivery
// thread started one (a size limit, a rate change). So a crash loses at most
// the last second, and a disk that stalls for less than the ring holds stalls
// nobody but this thread; only a longer stall, or a disk slower than the
// stream, makes the delivery thread wait for room, and then for less than it
// would have waited had it written each block itself.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "ports/platform_kit.h"
#include "ports/sample_block.h"
#include "ports/worker_exit.h"
#include "receiver/receiver.h"
#include "recorder/recording_files.h"
#include "recorder/recording_ring.h"

namespace halvorn::recorder {

struct WriterTiming {
  // Bytes held for the disk; about a second at 2 MS/s.
  std::uint32_t buffer_bytes = 8u << 20;
  // How often what is stored goes to the file.
  std::uint32_t write_interval_ms = 100;
  // How often the header's sizes are brought up to date.
  std::uint32_t header_interval_ms = 1000;
};

class RecordingWriter {
 public:
  // What the window thread shows and acts on.
  struct Status {
    bool failed = false;
    std::uint32_t generation = 0;  // counts the files of the recording
    RecordingName name;
    std::int64_t start_time_utc_s = 0;
  };
  struct Outcome {
    Failure failure;
    // The last file, when it could not be finished.
    std::optional<std::pair<RecordingName, FileError>> unfinished;
  };

  // Takes over `first`, already created with its header. Null, with the
  // reason in `failure`, when the buffer or the thread cannot be had; the file
  // is then left to the caller.
  static std::unique_ptr<RecordingWriter> Start(RecordingFiles& files, const receiver::Receiver& receiver,
                                                PlatformKit& kit, OpenRecording& first,
                                                std::uint32_t max_data_bytes, const WriterTiming& timing,
                                                Failure& failure);
  // Only after Finish.
  ~RecordingWriter();
  RecordingWriter(const RecordingWriter&) = delete;
  RecordingWriter& operator=(const RecordingWriter&) = delete;

  // Delivery thread: at most one block's pairs (1024).
  void Append(const std::uint8_t* pairs, int pair_count, int sample_rate_index);
  // Sample bytes stored for the current file, for the display.
  std::uint32_t shown_bytes() const { return shown_bytes_.load(std::memory_order_relaxed); }

  Status Look() const;

  // Once nothing appends any more: writes everything stored, finishes the
  // files and ends the thread. Waits for the disk.
  Outcome Finish();

  // The process is ending and every other thread is gone, this one's perhaps
  // in the middle of a write: writes what is stored for the current file and
  // finishes it, without a lock, a wait or an allocation.
  void FinishAtProcessExit();

 private:
  // Where the delivery thread began a new file.
  struct FileStart {
    std::uint32_t position = 0;
    int sample_rate_index = 0;
    std::int64_t name_time_utc_s = 0;
  };
  static constexpr std::uint32_t kMaxFileStarts = 16;  // a power of two

  RecordingWriter(RecordingFiles& files, const receiver::Receiver& receiver, std::unique_ptr<RecordingRing> ring,
                  OpenRecording& first, std::uint32_t max_data_bytes, const WriterTiming& timing);
  static void Run(void* writer);
  void Loop();

  // Writing thread.
  void WriteStored();
  bool PendingFileStart(std::uint32_t published, FileStart& start) const;
  bool WriteUpTo(std::uint32_t end);
  bool StartNextFile(const FileStart& start);
  void Fail(Trouble trouble, FileError error, const RecordingName& name);
  std::uint32_t FileBytes() const { return written_.load(std::memory_order_relaxed) - file_start_; }
  // Delivery thread. False when the recording failed meanwhile.
  bool WaitForRoom(std::uint32_t bytes, bool new_file);
  void BeginFile(int sample_rate_index);
  bool FileStartsFull() const;
  // Writing thread: lets a waiting delivery thread go on.
  void GiveRoom();

  RecordingFiles& files_;
  const receiver::Receiver& receiver_;
  const std::unique_ptr<RecordingRing> ring_;
  const std::uint32_t max_data_bytes_;
  const WriterTiming timing_;
  std::unique_ptr<WakeEvent> wake_;
  std::unique_ptr<WakeEvent> room_;
  WorkerExit exit_;
  std::unique_ptr<WorkerThread> thread_;

  // Delivery thread only.
  int appending_rate_index_;
  std::uint32_t appending_file_bytes_ = 0;
  std::array<std::uint8_t, kBlockPairs * 4> staging_{};  // a reduced block that wraps the ring
  // Set by the writing thread on a failure: nothing more is stored.
  std::atomic<bool> stopped_{false};
  // The delivery thread waits for room.
  std::atomic<bool> room_wanted_{false};
  std::atomic<std::uint32_t> shown_bytes_{0};

  // File starts: the delivery thread adds, the writing thread takes.
  std::array<FileStart, kMaxFileStarts> starts_{};
  std::atomic<std::uint32_t> starts_added_{0};
  std::atomic<std::uint32_t> starts_taken_{0};

  // Writing thread, and the process's exit once it is gone.
  OpenRecording current_;
  std::uint32_t file_start_ = 0;             // ring position of the current file's first sample byte
  std::atomic<std::uint32_t> written_{0};    // ring position up to which the file holds the bytes
  // Null while the writing thread changes or finishes the current file.
  std::atomic<OpenRecording*> exit_target_{nullptr};
  std::optional<std::pair<RecordingName, FileError>> unfinished_;

  std::atomic<bool> finish_requested_{false};
  std::atomic<bool> process_ending_{false};

  mutable std::mutex status_mutex_;  // once a file and once a tick, never per block
  Status status_;                    // guarded by status_mutex_
  Failure failure_;                  // guarded by status_mutex_
};

}  // namespace halvorn::recorder
