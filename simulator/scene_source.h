// The scene as the receiver delivers it: each signal of the plan sampled by
// the ADC at the true clock (a real signal shows at +f and -f), mixed down by
// the NCO word received, kept when it falls inside the output band, at the
// true output rate (true clock / divider), with the front end's gain and the
// ADC's noise, rounded and limited to 24 bits.
#pragma once

#include <array>

#include "simulator/envelopes.h"
#include "simulator/noise.h"
#include "simulator/sample_source.h"
#include "simulator/scene_plan.h"

namespace halvorn::simulator {

class SceneSource final : public SampleSource {
 public:
  SceneSource();

  void Configure(const FrontEnd& front_end) override;
  void Generate(std::uint8_t* pairs, std::size_t pair_count) override;

 private:
  // The scene's signals and the ADC spur.
  static constexpr int kEmitterCount = kSceneSignalCount + 1;
  static constexpr int kSpur = kSceneSignalCount;
  static constexpr std::size_t kChunk = kEnvelopeBlock;

  // One of the two mixing products of a signal: its phasor at the start of
  // the next chunk and its rotation by 0 to kChunk samples, so that every
  // sample of a chunk is one complex product with no chain from sample to
  // sample. Phases run on through every change of setting.
  struct Image {
    bool in_band = false;
    double re = 1.0, im = 0.0;
    std::array<double, kChunk + 1> turn_re{};
    std::array<double, kChunk + 1> turn_im{};
  };
  struct Emitter {
    SignalKind kind = SignalKind::kSteady;
    double amplitude = 0.0;  // output units
    Image images[2];
  };

  void RenderChunk(std::size_t count);
  void MixImage(Image& image, double amplitude, const double* envelope, std::size_t count);

  std::array<Emitter, kEmitterCount> emitters_;
  MorseKeyer keyer_;
  ToneEnvelope am_programme_;
  NoiseGenerator noise_;
  double noise_sigma_ = 0.0;  // per component
  std::array<double, kChunk> i_{};
  std::array<double, kChunk> q_{};
  std::array<double, kChunk> envelope_{};
};

}  // namespace halvorn::simulator
