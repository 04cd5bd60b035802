// The library's fifteen entries, with the signatures the plug-in calls them
// by. Each hands the call to the simulated receiver; no exception may leave
// an entry, so any that escapes becomes the entry's failure value.
#include <type_traits>

#include "device/device_abi.h"
#include "simulator/module.h"

#if defined(_WIN32)
#define HALVORNSIM_EXPORT  // exported by name through halvornusb.def
#else
#define HALVORNSIM_EXPORT __attribute__((visibility("default")))
#endif

using halvorn::device::TransferCallbackFn;
using halvorn::simulator::TheReceiver;

namespace {

template <typename Result, typename Call>
Result Guarded(Result on_error, Call&& call) noexcept {
  try {
    return call();
  } catch (...) {
    return on_error;
  }
}

}  // namespace

extern "C" {

HALVORNSIM_EXPORT bool HALVORN_STDCALL Open() {
  return Guarded(false, [] { return TheReceiver().Open(); });
}

HALVORNSIM_EXPORT bool HALVORN_STDCALL Close() {
  return Guarded(false, [] { return TheReceiver().Close(); });
}

HALVORNSIM_EXPORT std::int32_t HALVORN_STDCALL FirmwareDownload(void* image) {
  return Guarded(-1, [&] { return TheReceiver().FirmwareDownload(image); });
}

HALVORNSIM_EXPORT std::int32_t HALVORN_STDCALL FpgaConfig(const char* bitstream_name, const std::uint8_t* descriptor) {
  return Guarded(-1, [&] { return TheReceiver().FpgaConfig(bitstream_name, descriptor); });
}

HALVORNSIM_EXPORT bool HALVORN_STDCALL GetDeviceName(char* buffer, std::int32_t length) {
  return Guarded(false, [&] { return TheReceiver().GetDeviceName(buffer, length); });
}

HALVORNSIM_EXPORT bool HALVORN_STDCALL GetFriendlyDeviceName(char* buffer, std::int32_t length) {
  return Guarded(false, [&] { return TheReceiver().GetFriendlyDeviceName(buffer, length); });
}

HALVORNSIM_EXPORT bool HALVORN_STDCALL SetAttenuator(std::uint32_t step) {
  return Guarded(false, [&] { return TheReceiver().SetAttenuator(step); });
}

HALVORNSIM_EXPORT bool HALVORN_STDCALL SetPreselector(std::int32_t setting) {
  return Guarded(false, [&] { return TheReceiver().SetPreselector(setting); });
}

HALVORNSIM_EXPORT std::int32_t HALVORN_STDCALL Sio(std::uint8_t* record, std::int32_t length) {
  return Guarded(-1, [&] { return TheReceiver().Sio(record, length); });
}

HALVORNSIM_EXPORT std::int32_t HALVORN_STDCALL GetInputData(std::uint8_t* buffer, std::int32_t length) {
  return Guarded(-1, [&] { return TheReceiver().GetInputData(buffer, length); });
}

HALVORNSIM_EXPORT bool HALVORN_STDCALL StartAsyncInput(std::int32_t bytes_per_transfer, TransferCallbackFn callback,
                                                       std::int32_t reserved) {
  return Guarded(false, [&] { return TheReceiver().StartAsyncInput(bytes_per_transfer, callback, reserved); });
}

HALVORNSIM_EXPORT bool HALVORN_STDCALL StopAsyncInput() {
  return Guarded(false, [] { return TheReceiver().StopAsyncInput(); });
}

HALVORNSIM_EXPORT bool HALVORN_STDCALL EepromRead(std::uint8_t* buffer, std::int32_t address, std::int32_t length) {
  return Guarded(false, [&] { return TheReceiver().EepromRead(buffer, address, length); });
}

HALVORNSIM_EXPORT bool HALVORN_STDCALL EepromWrite(const std::uint8_t* buffer, std::int32_t address,
                                                   std::int32_t length) {
  return Guarded(false, [&] { return TheReceiver().EepromWrite(buffer, address, length); });
}

HALVORNSIM_EXPORT std::int32_t HALVORN_STDCALL GetDLLVersion() {
  return Guarded(0, [] { return TheReceiver().GetDLLVersion(); });
}

}  // extern "C"

// The entries must keep the binary interface the plug-in calls them by.
static_assert(std::is_same_v<decltype(&Open), halvorn::device::OpenFn>);
static_assert(std::is_same_v<decltype(&Close), halvorn::device::CloseFn>);
static_assert(std::is_same_v<decltype(&FirmwareDownload), halvorn::device::FirmwareDownloadFn>);
static_assert(std::is_same_v<decltype(&FpgaConfig), halvorn::device::FpgaConfigFn>);
static_assert(std::is_same_v<decltype(&GetDeviceName), halvorn::device::GetDeviceNameFn>);
static_assert(std::is_same_v<decltype(&GetFriendlyDeviceName), halvorn::device::GetFriendlyDeviceNameFn>);
static_assert(std::is_same_v<decltype(&SetAttenuator), halvorn::device::SetAttenuatorFn>);
static_assert(std::is_same_v<decltype(&SetPreselector), halvorn::device::SetPreselectorFn>);
static_assert(std::is_same_v<decltype(&Sio), halvorn::device::SioFn>);
static_assert(std::is_same_v<decltype(&GetInputData), halvorn::device::GetInputDataFn>);
static_assert(std::is_same_v<decltype(&StartAsyncInput), halvorn::device::StartAsyncInputFn>);
static_assert(std::is_same_v<decltype(&StopAsyncInput), halvorn::device::StopAsyncInputFn>);
static_assert(std::is_same_v<decltype(&EepromRead), halvorn::device::EepromReadFn>);
static_assert(std::is_same_v<decltype(&EepromWrite), halvorn::device::EepromWriteFn>);
static_assert(std::is_same_v<decltype(&GetDLLVersion), halvorn::device::GetDLLVersionFn>);
