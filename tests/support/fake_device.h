// An in-process stand-in for the device library, for tests that need to see
// every call exactly (or make one fail) without the simulator: a loader whose
// "library" is a table of this file's functions, and a log of each call.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device/device_abi.h"
#include "device/library_loader.h"
#include "receiver/control_record.h"

namespace halvorn::testing {

struct DeviceCall {
  std::string entry;
  std::string text;  // FpgaConfig: the bitstream name
  std::int64_t value = 0;  // step, setting, bytes per transfer
  std::array<std::uint8_t, 8> bytes{};  // Sio: the record; FpgaConfig: the descriptor
  std::thread::id thread = std::this_thread::get_id();
};

class FakeDevice {
 public:
  static FakeDevice& Instance();

  void Reset();
  std::vector<DeviceCall> calls() const;
  std::vector<DeviceCall> calls(const std::string& entry) const;
  std::vector<std::string> entries() const;
  // The records Sio received, decoded.
  std::vector<receiver::ControlRecord> records() const;

  // Results the entries give; unset ones succeed.
  void SetResult(const std::string& entry, std::int64_t result);
  std::int64_t ResultFor(const std::string& entry, std::int64_t if_unset) const;
  void Record(DeviceCall call);

  // Called inside each Sio, on the caller's thread, while the plug-in holds
  // its locks (for tests of serialisation).
  std::atomic<void (*)()> on_sio{nullptr};
  // What StartAsyncInput received.
  std::atomic<device::TransferCallbackFn> transfer_callback{nullptr};
  // Run inside StartAsyncInput and StopAsyncInput, for tests that play the
  // library's input thread. Set them before the stream starts.
  std::function<void(std::int32_t bytes_per_transfer, device::TransferCallbackFn callback)> on_start_input;
  std::function<void()> on_stop_input;

 private:
  mutable std::mutex mutex_;
  std::vector<DeviceCall> calls_;
  std::map<std::string, std::int64_t> results_;
};

// Serves FakeDevice's entries, minus `missing`. `loadable` false makes every
// load fail, as a missing library does.
class FakeDeviceLoader : public device::LibraryLoader {
 public:
  explicit FakeDeviceLoader(std::set<std::string> missing = {}, bool loadable = true)
      : missing_(std::move(missing)), loadable_(loadable) {}

  Handle Load(const char* library_name) override;
  void* Find(Handle library, const char* entry_name) override;
  bool Unload(Handle library) override;

  struct Counts {
    std::atomic<int> loads{0};
    std::atomic<int> unloads{0};
  };
  int loads() const { return counts_->loads; }
  int unloads() const { return counts_->unloads; }
  // The counts, for a test that outlives the loader.
  std::shared_ptr<const Counts> counts() const { return counts_; }
  void set_loadable(bool loadable) { loadable_ = loadable; }

 private:
  std::set<std::string> missing_;
  bool loadable_;
  std::shared_ptr<Counts> counts_ = std::make_shared<Counts>();
};

}  // namespace halvorn::testing
