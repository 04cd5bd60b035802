// The messages the user must see, word for word, as tests expect them.
#pragma once

namespace halvorn::testing {

inline constexpr const char* kMessageTitle = "Halvorn DLL for Winrad";
inline constexpr const char* kBitstreamMessage =
    "FPGA configuration file not found\nPlease check installation and retry";
inline constexpr const char* kLibraryMessage = "halvornusb.dll not found";

}  // namespace halvorn::testing
