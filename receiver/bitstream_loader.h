// Loading a sample rate's FPGA bitstream into the receiver.
#pragma once

#include "device/device_library.h"
#include "ports/trace.h"
#include "ports/user_interface.h"

namespace halvorn::receiver {

inline constexpr const char* kBitstreamMissingMessage =
    "FPGA configuration file not found\nPlease check installation and retry";

class BitstreamLoader {
 public:
  BitstreamLoader(device::DeviceLibrary& device, UserInterface& ui, const Trace& trace)
      : device_(device), ui_(ui), trace_(trace) {}

  // Hands the row's bitstream name and descriptor record to FpgaConfig; any
  // non-zero result is a refusal.
  bool TryLoad(int sample_rate_index);
  // Tells the user of a refusal; returns once the message has been closed.
  void ReportRefused();

 private:
  device::DeviceLibrary& device_;
  UserInterface& ui_;
  const Trace& trace_;
};

}  // namespace halvorn::receiver
