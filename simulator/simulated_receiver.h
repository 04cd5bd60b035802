// The simulated receiver behind the library's fifteen entries: it keeps what
// the entries set, journals every call, fails the calls HALVORNSIM_FAIL names,
// refuses the device's calls while HALVORNSIM_UNPLUG has it unplugged, and
// streams samples between StartAsyncInput and StopAsyncInput. Entries may be
// called from several threads at once.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "device/device_abi.h"
#include "simulator/front_end.h"
#include "simulator/input_stream.h"
#include "simulator/presence.h"

namespace halvorn::simulator {

inline constexpr int kEepromBytes = 256;
inline constexpr std::int32_t kLibraryVersion = 0x0100;
inline constexpr const char* kDeviceName = "HALVORN-SIM";
inline constexpr const char* kFriendlyDeviceName = "Halvorn HF receiver (simulated)";

// FpgaConfig results besides 0: the device failed (an injected failure, an
// unplugged receiver), the name is unknown, the descriptor is wrong.
inline constexpr std::int32_t kFpgaFailure = -1;
inline constexpr std::int32_t kFpgaUnknownBitstream = 1;
inline constexpr std::int32_t kFpgaDescriptorMismatch = 2;

class SimulatedReceiver {
 public:
  SimulatedReceiver();
  SimulatedReceiver(const SimulatedReceiver&) = delete;
  SimulatedReceiver& operator=(const SimulatedReceiver&) = delete;

  bool Open();
  // Also ends a stream still running, as releasing the device would.
  bool Close();
  std::int32_t FirmwareDownload(void* image);
  std::int32_t FpgaConfig(const char* bitstream_name, const std::uint8_t* descriptor);
  bool GetDeviceName(char* buffer, std::int32_t length);
  bool GetFriendlyDeviceName(char* buffer, std::int32_t length);
  bool SetAttenuator(std::uint32_t step);
  bool SetPreselector(std::int32_t setting);
  std::int32_t Sio(std::uint8_t* record, std::int32_t length);
  std::int32_t GetInputData(std::uint8_t* buffer, std::int32_t length);
  bool StartAsyncInput(std::int32_t bytes_per_transfer, device::TransferCallbackFn callback, std::int32_t reserved);
  bool StopAsyncInput();
  bool EepromRead(std::uint8_t* buffer, std::int32_t address, std::int32_t length);
  bool EepromWrite(const std::uint8_t* buffer, std::int32_t address, std::int32_t length);
  std::int32_t GetDLLVersion();

 private:
  bool CopyName(const char* entry, const char* name, char* buffer, std::int32_t length);

  FrontEndState front_end_;
  Presence presence_;
  std::mutex eeprom_mutex_;
  std::array<std::uint8_t, kEepromBytes> eeprom_;
  // Declared last: destroyed first, while the settings its thread reads live.
  InputStream input_;
};

}  // namespace halvorn::simulator
