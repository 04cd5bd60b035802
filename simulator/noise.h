// The ADC's noise: a fast generator (xoshiro128**) and a triangular
// distribution, the sum of two uniform variables. Any spectrum bin sums many
// samples, so the floor a display shows is Gaussian all the same.
#pragma once

#include <cstddef>
#include <cstdint>

namespace halvorn::simulator {

class NoiseGenerator {
 public:
  explicit NoiseGenerator(std::uint64_t seed);

  // Adds noise of standard deviation `sigma` to each of the `count` values.
  void Add(double* values, std::size_t count, double sigma);

 private:
  std::uint32_t Next();

  std::uint32_t state_[4];
};

}  // namespace halvorn::simulator
