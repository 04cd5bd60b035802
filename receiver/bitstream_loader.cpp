#include "receiver/bitstream_loader.h"

#include "receiver/sample_rate_table.h"

namespace halvorn::receiver {

bool BitstreamLoader::TryLoad(int sample_rate_index) {
  const SampleRateRow& row = SampleRateRowAt(sample_rate_index);
  if (device_.FpgaConfig(row.bitstream_name, row.descriptor) != 0) return false;
  trace_("Halvorn FpgaConfig ok...");
  return true;
}

void BitstreamLoader::ReportRefused() { ui_.ShowError(kBitstreamMissingMessage); }

}  // namespace halvorn::receiver
