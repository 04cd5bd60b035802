// Recording the delivered stream to WAV files with the receiver chunk.
#pragma once

#include <cstdint>

#include "panel/user_interface.h"
#include "plugin/host_link.h"
#include "plugin/trace.h"
#include "receiver/receiver.h"
#include "streaming/block_sink.h"

namespace halvorn::recorder {

class Recorder : public streaming::BlockSink {
 public:
  Recorder(const receiver::Receiver& receiver, const HostLink& host, UserInterface& ui, const Trace& trace)
      : receiver_(receiver), host_(host), ui_(ui), trace_(trace) {}

  void StartRecording() {}
  void StopRecording() {}
  void WriteBlock(const std::uint8_t* /*data*/, std::int32_t /*pair_count*/) override {}
  void UpdateRecordingStatus() {}
  bool IsRecording() const { return false; }

 private:
  const receiver::Receiver& receiver_;
  const HostLink& host_;
  UserInterface& ui_;
  const Trace& trace_;
};

}  // namespace halvorn::recorder
