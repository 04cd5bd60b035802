// Identifiers of the control dialog's controls. Every part of the plug-in that
// touches the panel addresses its controls by these numbers.
#pragma once

namespace halvorn::panel {

inline constexpr int kDialogTemplateId = 103;
inline constexpr int kIconId = 129;

inline constexpr int kAttenuator0dB = 1002;  // step = id - kAttenuator0dB
inline constexpr int kAttenuator30dB = 1005;
inline constexpr int kFirstRateButton = 1006;  // sample-rate index = id - kFirstRateButton
inline constexpr int kLastRateButton = 1014;
inline constexpr int kAdcPreamp = 1018;
inline constexpr int kAdcDither = 1019;
inline constexpr int kClockCalibrate = 1020;
inline constexpr int kStopButton = 1021;
inline constexpr int kRecButton = 1022;
inline constexpr int kFileSizeField = 1023;
inline constexpr int kFileNameField = 1024;
inline constexpr int kRecordingTimeField = 1025;
inline constexpr int kPreselector = 1026;

inline constexpr int kStatusTimerId = 1;
inline constexpr unsigned kStatusTimerPeriodMs = 1000;

constexpr int RateButtonFor(int sample_rate_index) { return kFirstRateButton + sample_rate_index; }

}  // namespace halvorn::panel
