// The binary interface of the receiver's device access library: calling
// convention and the signature of every entry we call. The simulated library
// implements the same declarations, so a mismatch fails to compile.
#pragma once

#include <cstdint>

#include "ports/calling_convention.h"

namespace halvorn::device {

// Called by the library's input thread with one transfer of the size announced
// to StartAsyncInput; the second argument carries nothing we use.
using TransferCallbackFn = bool(HALVORN_STDCALL*)(std::uint8_t* transfer, void* unused);

using OpenFn = bool(HALVORN_STDCALL*)();
using CloseFn = bool(HALVORN_STDCALL*)();
using FirmwareDownloadFn = std::int32_t(HALVORN_STDCALL*)(void* image);
using FpgaConfigFn = std::int32_t(HALVORN_STDCALL*)(const char* bitstream_name,
                                                    const std::uint8_t* descriptor);
// The step travels as an unsigned byte widened to a 32-bit stack slot.
using SetAttenuatorFn = bool(HALVORN_STDCALL*)(std::uint32_t step);
using SetPreselectorFn = bool(HALVORN_STDCALL*)(std::int32_t setting);
using SioFn = std::int32_t(HALVORN_STDCALL*)(std::uint8_t* record, std::int32_t length);
using StartAsyncInputFn = bool(HALVORN_STDCALL*)(std::int32_t bytes_per_transfer,
                                                 TransferCallbackFn callback,
                                                 std::int32_t reserved);
using StopAsyncInputFn = bool(HALVORN_STDCALL*)();

// Looked up and held, never called by the plug-in.
using GetDeviceNameFn = bool(HALVORN_STDCALL*)(char* buffer, std::int32_t length);
using GetFriendlyDeviceNameFn = bool(HALVORN_STDCALL*)(char* buffer, std::int32_t length);
using GetInputDataFn = std::int32_t(HALVORN_STDCALL*)(std::uint8_t* buffer, std::int32_t length);
using EepromReadFn = bool(HALVORN_STDCALL*)(std::uint8_t* buffer, std::int32_t address,
                                            std::int32_t length);
using EepromWriteFn = bool(HALVORN_STDCALL*)(const std::uint8_t* buffer, std::int32_t address,
                                             std::int32_t length);
using GetDLLVersionFn = std::int32_t(HALVORN_STDCALL*)();

// The library's file name, as LoadLibraryA is given it.
inline constexpr const char* kLibraryName = "halvornusb.dll";

// Entry names in the order they are looked up after every load.
inline constexpr const char* kEntryNames[] = {
    "Open",           "Close",           "FirmwareDownload", "FpgaConfig",
    "GetDeviceName",  "GetFriendlyDeviceName", "SetAttenuator", "SetPreselector",
    "Sio",            "GetInputData",    "StartAsyncInput",  "StopAsyncInput",
    "EepromRead",     "EepromWrite",     "GetDLLVersion",
};
inline constexpr int kEntryCount = 15;
static_assert(sizeof(kEntryNames) / sizeof(kEntryNames[0]) == kEntryCount);

}  // namespace halvorn::device
