// Whether the receiver is plugged in (HALVORNSIM_UNPLUG). Unplugged, it takes
// no call; plugged back, it has lost its firmware and its bitstream, and only
// a new Open (after a Close if its handle went stale) and a firmware download
// bring it back. The unplug and the replug are journaled once each, by
// whichever caller notices them first.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "simulator/front_end.h"
#include "simulator/settings.h"

namespace halvorn::simulator {

class Presence {
 public:
  // What a refused call depends on.
  enum class Call { kOpen, kFirmwareDownload, kDevice };

  explicit Presence(FrontEndState& front_end) : front_end_(front_end) {}
  Presence(const Presence&) = delete;
  Presence& operator=(const Presence&) = delete;

  // The first schedule set starts its clock; later ones change nothing.
  void Arm(const Unplug& unplug);

  // Null when the receiver takes the call now, else the journal's word for
  // why not: "unplugged", "stale_handle", "not_open" or "no_firmware".
  const char* Refusal(Call call);
  // Open, Close and FirmwareDownload succeeded.
  void Opened();
  void Closed();
  void FirmwareDownloaded();
  // Journals a change that has happened since the last call.
  void Notice();

  // Changes each time the receiver goes or comes back: a stream started
  // under one attachment never delivers under another.
  std::uint32_t Attachment();
  bool Serves(std::uint32_t attachment);

 private:
  enum class State { kAttached, kGone, kBackStaleHandle, kBackUnopened, kBackNoFirmware };
  using Clock = std::chrono::steady_clock;

  // Moves on to what the clock says, journaling each change; mutex_ held.
  void Advance();

  FrontEndState& front_end_;
  // Set once; read without the lock so that an unarmed receiver costs nothing.
  std::atomic<bool> armed_{false};
  std::mutex mutex_;
  Unplug unplug_;
  Clock::time_point armed_at_{};
  State state_ = State::kAttached;
  bool unplugged_ = false;  // the unplug has happened: it happens once a load
  bool open_ = false;       // Open succeeded and no Close since
  std::uint32_t attachment_ = 0;
};

}  // namespace halvorn::simulator
