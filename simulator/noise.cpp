#include "simulator/noise.h"

namespace halvorn::simulator {
namespace {

std::uint32_t RotateLeft(std::uint32_t x, int k) { return (x << k) | (x >> (32 - k)); }

// Two 16-bit uniforms summed: mean 2 x 32767.5, variance 2 x (65536^2 - 1) / 12.
constexpr double kSumMean = 65535.0;
constexpr double kSumScale = 1.0 / 26755.0;

}  // namespace

NoiseGenerator::NoiseGenerator(std::uint64_t seed) {
  // splitmix64 spreads any seed over the whole state.
  for (int word = 0; word < 4; word += 2) {
    seed += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = seed;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    state_[word] = static_cast<std::uint32_t>(z);
    state_[word + 1] = static_cast<std::uint32_t>(z >> 32);
  }
}

std::uint32_t NoiseGenerator::Next() {
  const std::uint32_t result = RotateLeft(state_[1] * 5, 7) * 9;
  const std::uint32_t t = state_[1] << 9;
  state_[2] ^= state_[0];
  state_[3] ^= state_[1];
  state_[1] ^= state_[2];
  state_[0] ^= state_[3];
  state_[2] ^= t;
  state_[3] = RotateLeft(state_[3], 11);
  return result;
}

void NoiseGenerator::Add(double* values, std::size_t count, double sigma) {
  const double scale = sigma * kSumScale;
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint32_t a = Next();
    const double sum = static_cast<double>((a & 0xFFFF) + (a >> 16));
    values[k] += (sum - kSumMean) * scale;
  }
}

}  // namespace halvorn::simulator
