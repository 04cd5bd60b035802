// The messages the user must see, word for word, as tests expect them.
#pragma once

namespace halvorn::testing {

inline constexpr const char* kMessageTitle = "Halvorn DLL for Winrad";
inline constexpr const char* kBitstreamMessage =
    "FPGA configuration file not found\nPlease check installation and retry";
inline constexpr const char* kLibraryMessage = "halvornusb.dll not found";
// The first words of the message a calibration no crystal needs gets, and of
// the one a recording that lost blocks ends with.
inline constexpr const char* kCalibrationRefusedStart = "Clock calibration refused: ";
inline constexpr const char* kRecordingLossStart = "Recording incomplete: ";

}  // namespace halvorn::testing
