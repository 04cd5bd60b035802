// The binding to the receiver's device access library: one table of entry
// points filled after each load, and the guarded wrappers that are the only
// callers of those entries. A missing entry makes its wrapper return the fixed
// failure value without calling anything.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "device/device_abi.h"
#include "device/library_loader.h"

namespace halvorn::device {

class DeviceLibrary {
 public:
  explicit DeviceLibrary(LibraryLoader& loader) : loader_(loader) {}
  ~DeviceLibrary();
  DeviceLibrary(const DeviceLibrary&) = delete;
  DeviceLibrary& operator=(const DeviceLibrary&) = delete;

  // Loads the library and looks up its fifteen entries. False when it cannot
  // be loaded; the table then stays as it was. Loading again while loaded
  // drops the earlier reference, so one Unload always releases the library.
  bool Load();
  // Releases the library and clears the table. True when it was released.
  bool Unload();
  // For a module that goes: the library is given to the loader to release
  // for good, its input stopped first when `stop_input` (it may be running)
  // and the receiver closed first when `close`. The table is cleared at once.
  void HandOverForRelease(bool stop_input, bool close);
  bool IsLoaded() const;
  bool HasEntry(const char* entry_name) const;

  bool Open();
  bool Close();
  std::int32_t FirmwareDownload(void* image);
  std::int32_t FpgaConfig(const char* bitstream_name, const std::uint8_t* descriptor);
  bool SetAttenuator(std::uint8_t step);
  bool SetPreselector(std::int32_t setting);
  std::int32_t Sio(std::uint8_t* record, std::int32_t length);
  bool StartAsyncInput(std::int32_t bytes_per_transfer, TransferCallbackFn callback);
  bool StopAsyncInput();

 private:
  template <typename Fn, typename Result, typename... Args>
  Result Call(int entry, Result if_missing, Args... args);

  LibraryLoader& loader_;
  // Held across every call into the library, so Unload can never free it
  // under a caller on another thread, and the library sees one call at a time.
  mutable std::mutex call_mutex_;
  LibraryLoader::Handle library_ = nullptr;
  std::array<void*, kEntryCount> entries_{};
};

}  // namespace halvorn::device
