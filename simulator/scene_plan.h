// What the simulated antenna hears: a few stations around 7.05 MHz over the
// ADC's noise floor, and how the front end changes their levels. The table
// is repeated in README.md.
#pragma once

#include <cstdint>

namespace halvorn::simulator {

enum class SignalKind { kSteady, kKeyedCw, kAm };

struct SceneSignal {
  double rf_hz;
  SignalKind kind;
  // Amplitude of the signal at the I/Q output relative to full scale, with
  // attenuator 0 dB, preamp off and the signal inside the preselector band.
  double level_dbfs;
};

inline constexpr SceneSignal kSceneSignals[] = {
    {6995000.0, SignalKind::kSteady, -80.0},
    {7020000.0, SignalKind::kKeyedCw, -75.0},
    {7040000.0, SignalKind::kSteady, -100.0},
    {7051500.0, SignalKind::kSteady, -90.0},
    {7075000.0, SignalKind::kAm, -70.0},
    {7100000.0, SignalKind::kSteady, -85.0},
    {7500000.0, SignalKind::kSteady, -80.0},
    {5900000.0, SignalKind::kSteady, -75.0},
};
inline constexpr int kSceneSignalCount = sizeof kSceneSignals / sizeof kSceneSignals[0];

// 24-bit full scale.
inline constexpr double kFullScale = 8388607.0;

// The ADC's own noise, white over the band, the same at every setting of
// the front end: total noise power per sample grows with the output rate.
inline constexpr double kNoiseDensityDbfsPerHz = -153.0;

inline constexpr double kAttenuatorStepDb = 10.0;
inline constexpr double kPreampGainDb = 10.0;

// Without dither the ADC shows a weak spur at a fixed fraction of its clock
// (7.032 MHz at 80 MHz), whatever the front end does.
inline constexpr double kSpurClockFraction = 0.0879;
inline constexpr double kSpurLevelDbfs = -105.0;

// The keyed carrier's message, repeated with a word space between.
inline constexpr const char* kCwMessage = "CQ CQ DE SIM K";
inline constexpr double kCwWordsPerMinute = 20.0;
// Rise and fall time of the keyed carrier, so it does not click.
inline constexpr double kCwEdgeSeconds = 0.005;

// The AM station's programme: two tones, as modulation depths.
inline constexpr double kAmToneHz[] = {400.0, 1000.0};
inline constexpr double kAmToneDepth[] = {0.3, 0.2};

}  // namespace halvorn::simulator
