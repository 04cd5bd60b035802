// Creating, sizing and finishing the files of a recording, and the words for
// what went wrong with them. Used by the window thread for a recording's
// first file and by the writing thread for the files that follow it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "receiver/receiver_state.h"
#include "recorder/recording_file.h"
#include "recorder/recording_name.h"
#include "recorder/wav_header.h"

namespace halvorn::recorder {

// Seconds since 1970-01-01 00:00:00 UTC.
using UtcClock = std::function<std::int64_t()>;
std::int64_t SystemUtcSeconds();

// One file of a recording, from its creation to its finishing.
struct OpenRecording {
  std::unique_ptr<RecordingFile> file;  // null: none
  RecordingName name;
  int sample_rate_index = 0;
  int pair_bytes = 6;
  std::int64_t start_time_utc_s = 0;
  // As written, with the sizes of the data the file describes so far.
  std::array<std::uint8_t, kHeaderBytes> header{};
};

enum class Trouble {
  kNone,
  kCreateFailed,
  kNoBuffer,
  kNoWriter,
  kWriteFailed,
  kFinishFailed,
  kNextFileFailed,
};

struct Failure {
  Trouble trouble = Trouble::kNone;
  FileError error;
  RecordingName name;
};

// Brings the header's two sizes up to `data_bytes`, in one write so that a
// reader never sees one size without the other.
bool WriteSizes(OpenRecording& open, std::uint32_t data_bytes);

// Cuts a torn pair off where the file allows it, writes the sizes and closes
// the file; either way the sizes match the file's length. `data_bytes` are the
// sample bytes that reached the file.
bool FinishFile(OpenRecording& open, std::uint32_t data_bytes, FileError& error);

class RecordingFiles {
 public:
  // Null directory: the process's current directory. Empty clock: the system's.
  RecordingFiles(std::unique_ptr<RecordingDirectory> directory, UtcClock clock);

  std::int64_t Now() const { return clock_(); }
  // Creates a file named after `name_time_utc_s` under a name not taken yet
  // and writes its header, stamped with a second reading of the clock.
  bool Create(const receiver::ReceiverSettings& settings, std::int64_t name_time_utc_s, OpenRecording& out,
              Failure& failure);
  // Closes and deletes a file just created that will hold nothing.
  void Discard(OpenRecording& open);

  std::string Explain(const Failure& failure) const;
  std::string ExplainUnfinished(const RecordingName& name, FileError error) const;

 private:
  const std::unique_ptr<RecordingDirectory> directory_;
  const UtcClock clock_;
  // The last name used, so files started in one second get copy numbers in turn.
  std::int64_t last_name_time_ = INT64_MIN;
  int last_copy_ = 0;
};

}  // namespace halvorn::recorder
