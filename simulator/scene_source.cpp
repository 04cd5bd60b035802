#include "simulator/scene_source.h"

#include <algorithm>
#include <cmath>

#include "simulator/bitstreams.h"
#include "simulator/control_record.h"
#include "simulator/preselector.h"

namespace halvorn::simulator {
namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr std::int32_t kLargest24Bit = 8388607;
constexpr std::uint64_t kNoiseSeed = 0x48414C564F524E31ULL;

double DbToAmplitude(double db) { return std::pow(10.0, db / 20.0); }

// `hz` folded into [-clock/2, clock/2), where the sampled spectrum repeats.
double Fold(double hz, double clock_hz) { return hz - clock_hz * std::floor(hz / clock_hz + 0.5); }

void Write24(std::int32_t value, std::uint8_t* out) {
  out[0] = static_cast<std::uint8_t>(value);
  out[1] = static_cast<std::uint8_t>(value >> 8);
  out[2] = static_cast<std::uint8_t>(value >> 16);
}

// Limited to 24 bits, then rounded half away from zero.
std::int32_t Quantise(double value) {
  const double limited = std::clamp(value, -static_cast<double>(kLargest24Bit), static_cast<double>(kLargest24Bit));
  return static_cast<std::int32_t>(limited + std::copysign(0.5, limited));
}

}  // namespace

SceneSource::SceneSource()
    : keyer_(kCwMessage, kCwWordsPerMinute, kCwEdgeSeconds),
      am_programme_(kAmToneHz, kAmToneDepth, sizeof kAmToneHz / sizeof kAmToneHz[0]),
      noise_(kNoiseSeed) {
  for (int s = 0; s < kSceneSignalCount; ++s) emitters_[s].kind = kSceneSignals[s].kind;
}

void SceneSource::Configure(const FrontEnd& front_end) {
  const double clock_hz = front_end.true_clock_hz;
  const int row = front_end.bitstream < 0 ? 0 : front_end.bitstream;
  const double rate_hz = clock_hz / kBitstreams[row].clock_divider;
  const double nco_hz = NcoFrequencyHz(front_end.nco_word, clock_hz);
  const double gain_db = -kAttenuatorStepDb * front_end.attenuator_step +
                         ((front_end.flags & kPreampFlag) != 0 ? kPreampGainDb : 0.0);

  keyer_.SetSampleRate(rate_hz);
  am_programme_.SetSampleRate(rate_hz);
  noise_sigma_ = kFullScale * DbToAmplitude(kNoiseDensityDbfsPerHz) * std::sqrt(rate_hz / 2.0);

  for (int e = 0; e < kEmitterCount; ++e) {
    Emitter& emitter = emitters_[e];
    double rf_hz;
    if (e == kSpur) {
      rf_hz = kSpurClockFraction * clock_hz;
      const bool dither = (front_end.flags & kDitherFlag) != 0;
      emitter.amplitude = dither ? 0.0 : kFullScale * DbToAmplitude(kSpurLevelDbfs);
    } else {
      const SceneSignal& signal = kSceneSignals[e];
      rf_hz = signal.rf_hz;
      const double loss_db = PreselectorPasses(front_end.preselector, rf_hz) ? 0.0 : kOutOfBandLossDb;
      emitter.amplitude = kFullScale * DbToAmplitude(signal.level_dbfs + gain_db - loss_db);
    }
    // The ADC sees the real signal at +f and -f; the mixer moves both down by
    // the NCO frequency, and the decimating filter keeps what lands in band.
    const double products_hz[2] = {Fold(rf_hz - nco_hz, clock_hz), Fold(-rf_hz - nco_hz, clock_hz)};
    for (int p = 0; p < 2; ++p) {
      Image& image = emitter.images[p];
      image.in_band = emitter.amplitude > 0.0 && std::fabs(products_hz[p]) < rate_hz / 2.0;
      if (!image.in_band) continue;
      const double radians_per_sample = kTwoPi * products_hz[p] / rate_hz;
      for (std::size_t k = 0; k <= kChunk; ++k) {
        image.turn_re[k] = std::cos(radians_per_sample * static_cast<double>(k));
        image.turn_im[k] = std::sin(radians_per_sample * static_cast<double>(k));
      }
    }
  }
}

// Adds one image to the chunk; `envelope` null for a steady signal.
void SceneSource::MixImage(Image& image, double amplitude, const double* envelope, std::size_t count) {
  const double start_re = amplitude * image.re;
  const double start_im = amplitude * image.im;
  const double* turn_re = image.turn_re.data();
  const double* turn_im = image.turn_im.data();
  if (envelope == nullptr) {
    for (std::size_t k = 0; k < count; ++k) {
      i_[k] += start_re * turn_re[k] - start_im * turn_im[k];
      q_[k] += start_re * turn_im[k] + start_im * turn_re[k];
    }
  } else {
    for (std::size_t k = 0; k < count; ++k) {
      i_[k] += envelope[k] * (start_re * turn_re[k] - start_im * turn_im[k]);
      q_[k] += envelope[k] * (start_re * turn_im[k] + start_im * turn_re[k]);
    }
  }
  const double re = image.re * turn_re[count] - image.im * turn_im[count];
  const double im = image.re * turn_im[count] + image.im * turn_re[count];
  // Renormalised once a chunk, so rounding never lets the phasor drift.
  const double scale = 1.5 - 0.5 * (re * re + im * im);
  image.re = re * scale;
  image.im = im * scale;
}

void SceneSource::RenderChunk(std::size_t count) {
  std::fill(i_.begin(), i_.begin() + count, 0.0);
  std::fill(q_.begin(), q_.begin() + count, 0.0);
  noise_.Add(i_.data(), count, noise_sigma_);
  noise_.Add(q_.data(), count, noise_sigma_);
  for (Emitter& emitter : emitters_) {
    if (!emitter.images[0].in_band && !emitter.images[1].in_band) continue;
    const double* envelope = nullptr;
    if (emitter.kind == SignalKind::kKeyedCw) {
      keyer_.Fill(envelope_.data(), count);
      envelope = envelope_.data();
    } else if (emitter.kind == SignalKind::kAm) {
      am_programme_.Fill(envelope_.data(), count);
      envelope = envelope_.data();
    }
    for (Image& image : emitter.images) {
      if (image.in_band) MixImage(image, emitter.amplitude, envelope, count);
    }
  }
}

void SceneSource::Generate(std::uint8_t* pairs, std::size_t pair_count) {
  while (pair_count > 0) {
    const std::size_t count = pair_count < kChunk ? pair_count : kChunk;
    RenderChunk(count);
    for (std::size_t k = 0; k < count; ++k) {
      Write24(Quantise(i_[k]), pairs);
      Write24(Quantise(q_[k]), pairs + 3);
      pairs += kPairBytes;
    }
    pair_count -= count;
  }
}

}  // namespace halvorn::simulator
