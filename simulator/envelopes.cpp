#include "simulator/envelopes.h"

#include <algorithm>
#include <cmath>

namespace halvorn::simulator {
namespace {

// Dots and dashes of the letters and digits.
const char* MorseSigns(char c) {
  static const char* const kLetters[] = {".-",   "-...", "-.-.", "-..",  ".",   "..-.", "--.",  "....", "..",
                                         ".---", "-.-",  ".-..", "--",   "-.",  "---",  ".--.", "--.-", ".-.",
                                         "...",  "-",    "..-",  "...-", ".--", "-..-", "-.--", "--.."};
  static const char* const kDigits[] = {"-----", ".----", "..---", "...--", "....-",
                                        ".....", "-....", "--...", "---..", "----."};
  if (c >= 'A' && c <= 'Z') return kLetters[c - 'A'];
  if (c >= 'a' && c <= 'z') return kLetters[c - 'a'];
  if (c >= '0' && c <= '9') return kDigits[c - '0'];
  return nullptr;
}

constexpr double kTwoPi = 6.283185307179586;

// One step of renormalisation: keeps a rotating phasor on the unit circle.
void Renormalise(double& re, double& im) {
  const double scale = 1.5 - 0.5 * (re * re + im * im);
  re *= scale;
  im *= scale;
}

}  // namespace

MorseKeyer::MorseKeyer(const char* text, double words_per_minute, double edge_seconds)
    // "PARIS" is 50 units: a word a minute is 50 units a minute.
    : unit_seconds_(60.0 / (50.0 * words_per_minute)), edge_seconds_(edge_seconds) {
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == ' ') {
      Append(false, 4);  // with the letter space before: seven units
      continue;
    }
    const char* signs = MorseSigns(*c);
    if (signs == nullptr) continue;
    for (const char* sign = signs; *sign != '\0'; ++sign) {
      Append(true, *sign == '.' ? 1 : 3);
      Append(false, sign[1] != '\0' ? 1 : 3);
    }
  }
  Append(false, 4);
  SetSampleRate(48000.0);
  samples_left_ = elements_[0].units * unit_samples_;
}

void MorseKeyer::Append(bool key_down, int units) {
  if (element_count_ > 0 && elements_[element_count_ - 1].key_down == key_down) {
    elements_[element_count_ - 1].units += units;
  } else if (element_count_ < kMaxElements) {
    elements_[element_count_++] = {key_down, units};
  }
}

void MorseKeyer::SetSampleRate(double rate_hz) {
  const double new_unit_samples = unit_seconds_ * rate_hz;
  if (unit_samples_ > 0.0) samples_left_ *= new_unit_samples / unit_samples_;
  unit_samples_ = new_unit_samples;
  edge_step_ = 1.0 / std::max(1.0, edge_seconds_ * rate_hz);
}

void MorseKeyer::Fill(double* envelope, std::size_t count) {
  std::size_t k = 0;
  while (k < count) {
    while (samples_left_ <= 0.0) {
      element_ = (element_ + 1) % element_count_;
      samples_left_ += elements_[element_].units * unit_samples_;
    }
    const double target = elements_[element_].key_down ? 1.0 : 0.0;
    const std::size_t run = std::min(count - k, static_cast<std::size_t>(std::ceil(samples_left_)));
    // Between edges the level stands still.
    if (level_ == target) {
      std::fill(envelope + k, envelope + k + run, level_);
    } else {
      for (std::size_t j = k; j < k + run; ++j) {
        level_ += std::clamp(target - level_, -edge_step_, edge_step_);
        envelope[j] = level_;
      }
    }
    k += run;
    samples_left_ -= static_cast<double>(run);
  }
}

ToneEnvelope::ToneEnvelope(const double* tone_hz, const double* depth, std::size_t tone_count)
    : tone_count_(std::min(tone_count, kMaxTones)) {
  for (std::size_t t = 0; t < tone_count_; ++t) {
    tones_[t].hz = tone_hz[t];
    tones_[t].depth = depth[t];
  }
  SetSampleRate(48000.0);
}

void ToneEnvelope::SetSampleRate(double rate_hz) {
  for (std::size_t t = 0; t < tone_count_; ++t) {
    const double radians_per_sample = kTwoPi * tones_[t].hz / rate_hz;
    for (std::size_t k = 0; k <= kEnvelopeBlock; ++k) {
      tones_[t].turn_re[k] = std::cos(radians_per_sample * static_cast<double>(k));
      tones_[t].turn_im[k] = std::sin(radians_per_sample * static_cast<double>(k));
    }
  }
}

void ToneEnvelope::Fill(double* envelope, std::size_t count) {
  std::fill(envelope, envelope + count, 1.0);
  for (std::size_t t = 0; t < tone_count_; ++t) {
    Tone& tone = tones_[t];
    const double start_re = tone.depth * tone.re;
    const double start_im = tone.depth * tone.im;
    for (std::size_t k = 0; k < count; ++k) {
      envelope[k] += start_re * tone.turn_re[k] - start_im * tone.turn_im[k];
    }
    double re = tone.re * tone.turn_re[count] - tone.im * tone.turn_im[count];
    double im = tone.re * tone.turn_im[count] + tone.im * tone.turn_re[count];
    Renormalise(re, im);
    tone.re = re;
    tone.im = im;
  }
}

}  // namespace halvorn::simulator
