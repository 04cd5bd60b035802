#include "device/device_library.h"

#include <cstring>

namespace halvorn::device {
namespace {

// Positions in kEntryNames.
enum Entry : int {
  kOpen = 0,
  kClose = 1,
  kFirmwareDownload = 2,
  kFpgaConfig = 3,
  kSetAttenuator = 6,
  kSetPreselector = 7,
  kSio = 8,
  kStartAsyncInput = 10,
  kStopAsyncInput = 11,
};

}  // namespace

DeviceLibrary::~DeviceLibrary() {
  if (IsLoaded()) Unload();
}

bool DeviceLibrary::Load() {
  LibraryLoader::Handle library = loader_.Load(kLibraryName);
  if (library == nullptr) return false;

  std::array<void*, kEntryCount> entries{};
  for (int i = 0; i < kEntryCount; ++i) entries[i] = loader_.Find(library, kEntryNames[i]);

  std::lock_guard lock(call_mutex_);
  if (library_ != nullptr) loader_.Unload(library_);
  library_ = library;
  entries_ = entries;
  return true;
}

bool DeviceLibrary::Unload() {
  std::lock_guard lock(call_mutex_);
  entries_.fill(nullptr);
  LibraryLoader::Handle library = library_;
  library_ = nullptr;
  return library != nullptr && loader_.Unload(library);
}

void DeviceLibrary::HandOverForRelease(bool stop_input, bool close) {
  LibraryLoader::Release release{};
  {
    std::lock_guard lock(call_mutex_);
    if (library_ == nullptr) return;
    release.library = library_;
    release.stop_input = stop_input ? reinterpret_cast<StopAsyncInputFn>(entries_[kStopAsyncInput]) : nullptr;
    release.close = close ? reinterpret_cast<CloseFn>(entries_[kClose]) : nullptr;
    // An input running without a stop to call may go on calling into the library.
    release.keep_loaded = stop_input && release.stop_input == nullptr;
    entries_.fill(nullptr);
    library_ = nullptr;
  }
  loader_.ReleaseForGood(release);
}

bool DeviceLibrary::IsLoaded() const {
  std::lock_guard lock(call_mutex_);
  return library_ != nullptr;
}

bool DeviceLibrary::HasEntry(const char* entry_name) const {
  std::lock_guard lock(call_mutex_);
  for (int i = 0; i < kEntryCount; ++i) {
    if (std::strcmp(kEntryNames[i], entry_name) == 0) return entries_[i] != nullptr;
  }
  return false;
}

template <typename Fn, typename Result, typename... Args>
Result DeviceLibrary::Call(int entry, Result if_missing, Args... args) {
  std::lock_guard lock(call_mutex_);
  void* address = entries_[entry];
  if (address == nullptr) return if_missing;
  return reinterpret_cast<Fn>(address)(args...);
}

bool DeviceLibrary::Open() { return Call<OpenFn>(kOpen, false); }

bool DeviceLibrary::Close() { return Call<CloseFn>(kClose, false); }

std::int32_t DeviceLibrary::FirmwareDownload(void* image) {
  return Call<FirmwareDownloadFn>(kFirmwareDownload, std::int32_t{-1}, image);
}

std::int32_t DeviceLibrary::FpgaConfig(const char* bitstream_name, const std::uint8_t* descriptor) {
  return Call<FpgaConfigFn>(kFpgaConfig, std::int32_t{-1}, bitstream_name, descriptor);
}

bool DeviceLibrary::SetAttenuator(std::uint8_t step) {
  return Call<SetAttenuatorFn>(kSetAttenuator, false, std::uint32_t{step});
}

bool DeviceLibrary::SetPreselector(std::int32_t setting) {
  return Call<SetPreselectorFn>(kSetPreselector, false, setting);
}

std::int32_t DeviceLibrary::Sio(std::uint8_t* record, std::int32_t length) {
  return Call<SioFn>(kSio, std::int32_t{-1}, record, length);
}

bool DeviceLibrary::StartAsyncInput(std::int32_t bytes_per_transfer, TransferCallbackFn callback) {
  return Call<StartAsyncInputFn>(kStartAsyncInput, false, bytes_per_transfer, callback,
                                 std::int32_t{0});
}

bool DeviceLibrary::StopAsyncInput() { return Call<StopAsyncInputFn>(kStopAsyncInput, false); }

}  // namespace halvorn::device
