#include "tools/inspector/options.h"

#include <cstddef>
#include <limits>

namespace halvorn::inspector {

cli::Parsed ParseOptions(int argc, const char* const* argv, Options& options) {
  cli::CommandLine line(1, std::numeric_limits<std::size_t>::max(), "file");
  line.Flag("--repair", options.repair);
  line.Flag("--sigmf", options.sigmf);
  cli::Parsed parsed = line.Parse(argc, argv);
  options.files = parsed.operands;
  return parsed;
}

}  // namespace halvorn::inspector
