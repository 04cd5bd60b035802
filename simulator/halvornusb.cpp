// Placeholder entries; the simulated receiver grows here.
#include "device/device_abi.h"

using namespace halvorn::device;

extern "C" {
bool HALVORN_STDCALL Open() { return true; }
bool HALVORN_STDCALL Close() { return true; }
std::int32_t HALVORN_STDCALL FirmwareDownload(void*) { return 0; }
std::int32_t HALVORN_STDCALL FpgaConfig(const char*, const std::uint8_t*) { return 0; }
bool HALVORN_STDCALL GetDeviceName(char*, std::int32_t) { return false; }
bool HALVORN_STDCALL GetFriendlyDeviceName(char*, std::int32_t) { return false; }
bool HALVORN_STDCALL SetAttenuator(std::uint32_t) { return true; }
bool HALVORN_STDCALL SetPreselector(std::int32_t) { return true; }
std::int32_t HALVORN_STDCALL Sio(std::uint8_t*, std::int32_t) { return 0; }
std::int32_t HALVORN_STDCALL GetInputData(std::uint8_t*, std::int32_t) { return 0; }
bool HALVORN_STDCALL StartAsyncInput(std::int32_t, TransferCallbackFn, std::int32_t) { return true; }
bool HALVORN_STDCALL StopAsyncInput() { return true; }
bool HALVORN_STDCALL EepromRead(std::uint8_t*, std::int32_t, std::int32_t) { return false; }
bool HALVORN_STDCALL EepromWrite(const std::uint8_t*, std::int32_t, std::int32_t) { return false; }
std::int32_t HALVORN_STDCALL GetDLLVersion() { return 0x0100; }
}
