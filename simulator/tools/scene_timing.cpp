// Prints what generating the scene costs at each sample rate: the fraction of
// one core the input thread spends producing samples in real time.
//   halvornsim_scene_timing [seconds of signal per rate, default 2]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "simulator/bitstreams.h"
#include "simulator/control_record.h"
#include "simulator/scene_source.h"

int main(int argc, char** argv) {
  using namespace halvorn::simulator;
  const double signal_seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
  std::printf("%-18s %10s %14s %12s\n", "bitstream", "rate_hz", "ns_per_pair", "core_share");
  for (int row = 0; row < kBitstreamCount; ++row) {
    FrontEnd front_end;
    front_end.bitstream = row;
    front_end.flags = kDitherFlag;
    front_end.nco_word = 0x168F5C28;  // 7.05 MHz at 80 MHz
    front_end.preselector = 5;
    SceneSource scene;
    scene.Configure(front_end);
    const Bitstream& bitstream = kBitstreams[row];
    const std::size_t pairs_per_transfer = bitstream.packets_per_transfer * 1024u;
    std::vector<std::uint8_t> transfer(pairs_per_transfer * kPairBytes);
    const auto pairs_total = static_cast<std::size_t>(signal_seconds * bitstream.nominal_rate_hz());
    const auto started = std::chrono::steady_clock::now();
    std::size_t done = 0;
    for (; done < pairs_total; done += pairs_per_transfer) scene.Generate(transfer.data(), pairs_per_transfer);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double ns_per_pair = elapsed * 1e9 / static_cast<double>(done);
    std::printf("%-18s %10d %14.1f %11.2f%%\n", bitstream.name, bitstream.nominal_rate_hz(), ns_per_pair,
                100.0 * ns_per_pair * 1e-9 * bitstream.nominal_rate_hz());
  }
  return 0;
}
