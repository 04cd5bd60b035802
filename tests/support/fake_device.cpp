#include "tests/support/fake_device.h"

#include <cstring>

namespace halvorn::testing {
namespace {

FakeDevice& Device() { return FakeDevice::Instance(); }

bool HALVORN_STDCALL FakeOpen() {
  Device().Record({"Open", ""});
  return Device().ResultFor("Open", 1) != 0;
}
bool HALVORN_STDCALL FakeClose() {
  Device().Record({"Close", ""});
  return true;
}
std::int32_t HALVORN_STDCALL FakeFirmwareDownload(void* image) {
  Device().Record({"FirmwareDownload", image == nullptr ? "null" : "image"});
  return static_cast<std::int32_t>(Device().ResultFor("FirmwareDownload", 0));
}
std::int32_t HALVORN_STDCALL FakeFpgaConfig(const char* name, const std::uint8_t* descriptor) {
  DeviceCall call{"FpgaConfig", name};
  std::memcpy(call.bytes.data(), descriptor, 8);
  Device().Record(call);
  return static_cast<std::int32_t>(Device().ResultFor("FpgaConfig", 0));
}
bool HALVORN_STDCALL FakeSetAttenuator(std::uint32_t step) {
  Device().Record({"SetAttenuator", "", step});
  return true;
}
bool HALVORN_STDCALL FakeSetPreselector(std::int32_t setting) {
  Device().Record({"SetPreselector", "", setting});
  return true;
}
std::int32_t HALVORN_STDCALL FakeSio(std::uint8_t* record, std::int32_t length) {
  DeviceCall call{"Sio", "", length};
  std::memcpy(call.bytes.data(), record, 5);
  Device().Record(call);
  if (auto hook = Device().on_sio.load()) hook();
  return static_cast<std::int32_t>(Device().ResultFor("Sio", 0));
}
bool HALVORN_STDCALL FakeStartAsyncInput(std::int32_t bytes, device::TransferCallbackFn callback,
                                         std::int32_t) {
  Device().Record({"StartAsyncInput", "", bytes});
  Device().transfer_callback = callback;
  if (Device().on_start_input) Device().on_start_input(bytes, callback);
  return Device().ResultFor("StartAsyncInput", 1) != 0;
}
bool HALVORN_STDCALL FakeStopAsyncInput() {
  Device().Record({"StopAsyncInput", ""});
  if (Device().on_stop_input) Device().on_stop_input();
  const bool stopped = Device().ResultFor("StopAsyncInput", 1) != 0;
  if (stopped) Device().transfer_callback = nullptr;
  return stopped;
}
bool HALVORN_STDCALL FakeUnused() { return false; }

const std::map<std::string, void*>& EntryTable() {
  static const std::map<std::string, void*> table = {
      {"Open", reinterpret_cast<void*>(&FakeOpen)},
      {"Close", reinterpret_cast<void*>(&FakeClose)},
      {"FirmwareDownload", reinterpret_cast<void*>(&FakeFirmwareDownload)},
      {"FpgaConfig", reinterpret_cast<void*>(&FakeFpgaConfig)},
      {"GetDeviceName", reinterpret_cast<void*>(&FakeUnused)},
      {"GetFriendlyDeviceName", reinterpret_cast<void*>(&FakeUnused)},
      {"SetAttenuator", reinterpret_cast<void*>(&FakeSetAttenuator)},
      {"SetPreselector", reinterpret_cast<void*>(&FakeSetPreselector)},
      {"Sio", reinterpret_cast<void*>(&FakeSio)},
      {"GetInputData", reinterpret_cast<void*>(&FakeUnused)},
      {"StartAsyncInput", reinterpret_cast<void*>(&FakeStartAsyncInput)},
      {"StopAsyncInput", reinterpret_cast<void*>(&FakeStopAsyncInput)},
      {"EepromRead", reinterpret_cast<void*>(&FakeUnused)},
      {"EepromWrite", reinterpret_cast<void*>(&FakeUnused)},
      {"GetDLLVersion", reinterpret_cast<void*>(&FakeUnused)},
  };
  return table;
}

int g_library_token;

}  // namespace

FakeDevice& FakeDevice::Instance() {
  static FakeDevice device;
  return device;
}

void FakeDevice::Reset() {
  std::lock_guard lock(mutex_);
  calls_.clear();
  results_.clear();
  on_sio = nullptr;
  transfer_callback = nullptr;
  on_start_input = nullptr;
  on_stop_input = nullptr;
}

void FakeDevice::Record(DeviceCall call) {
  std::lock_guard lock(mutex_);
  calls_.push_back(std::move(call));
}

std::vector<DeviceCall> FakeDevice::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<DeviceCall> FakeDevice::calls(const std::string& entry) const {
  std::vector<DeviceCall> selected;
  for (auto& call : calls()) {
    if (call.entry == entry) selected.push_back(call);
  }
  return selected;
}

std::vector<std::string> FakeDevice::entries() const {
  std::vector<std::string> names;
  for (const auto& call : calls()) names.push_back(call.entry);
  return names;
}

std::vector<receiver::ControlRecord> FakeDevice::records() const {
  std::vector<receiver::ControlRecord> records;
  for (const auto& call : calls("Sio")) records.push_back(receiver::DecodeControlRecord(call.bytes.data()));
  return records;
}

void FakeDevice::SetResult(const std::string& entry, std::int64_t result) {
  std::lock_guard lock(mutex_);
  results_[entry] = result;
}

std::int64_t FakeDevice::ResultFor(const std::string& entry, std::int64_t if_unset) const {
  std::lock_guard lock(mutex_);
  auto it = results_.find(entry);
  return it == results_.end() ? if_unset : it->second;
}

device::LibraryLoader::Handle FakeDeviceLoader::Load(const char* /*library_name*/) {
  if (!loadable_) return nullptr;
  ++counts_->loads;
  return &g_library_token;
}

void* FakeDeviceLoader::Find(Handle /*library*/, const char* entry_name) {
  if (missing_.count(entry_name)) return nullptr;
  auto it = EntryTable().find(entry_name);
  return it == EntryTable().end() ? nullptr : it->second;
}

bool FakeDeviceLoader::Unload(Handle /*library*/) {
  ++counts_->unloads;
  return true;
}

}  // namespace halvorn::testing
