// halvorn-inspect: tells what recordings hold, finishes those a crash left
// unfinished, and writes them as SigMF recordings. `halvorn-inspect --help`
// tells how, and what its exit status means.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "tools/inspector/options.h"
#include "tools/inspector/repair.h"
#include "tools/inspector/report.h"
#include "tools/inspector/sigmf.h"
#include "tools/recording/recording_info.h"

using namespace halvorn;
using namespace halvorn::inspector;
using recording::Completion;
using recording::RecordingInfo;

namespace {

bool Refuse(const std::string& path, const std::string& why) {
  std::fprintf(stderr, "%s: %s\n", path.c_str(), why.c_str());
  return false;
}

// Everything asked for one file; false when any of it failed.
bool Inspect(const std::string& path, const Options& options) {
  std::string error;
  std::optional<RecordingInfo> info = recording::ReadRecordingInfo(path, error);
  if (!info) return Refuse(path, error);
  if (options.repair) {
    if (info->completion == Completion::kFinished) {
      std::printf("%s: already finished, nothing to repair\n", path.c_str());
    } else if (info->completion == Completion::kMismatched) {
      return Refuse(path, "its sizes are set but do not match its length; it was not left by a crash, "
                          "so it is not changed");
    } else {
      if (!RepairRecording(path, *info, error)) return Refuse(path, error);
      std::printf("%s: repaired\n", path.c_str());
      info = recording::ReadRecordingInfo(path, error);
      if (!info) return Refuse(path, error);
    }
  }
  std::fputs(Describe(path, *info).c_str(), stdout);
  if (options.sigmf) {
    const SigmfExport exported = ExportSigmf(path, *info);
    if (exported.error) return Refuse(path, "no SigMF recording written: " + *exported.error);
    const SigmfNames names = SigmfNamesFor(path);
    std::printf("SigMF:              %s and %s (%s, %" PRIu64 " pairs)\n", names.data.c_str(), names.meta.c_str(),
                SigmfDatatype(info->format), exported.pairs);
    if (!info->receiver) std::printf("note: no receiver chunk: the SigMF metadata has no frequency or start time\n");
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const auto status = cli::Answer(kProgram, ParseOptions(argc, argv, options))) return *status;
  bool all_done = true;
  for (std::size_t i = 0; i < options.files.size(); ++i) {
    if (i > 0) std::printf("\n");
    // What went wrong with one file is said beside its own description.
    std::fflush(stdout);
    all_done = Inspect(options.files[i], options) && all_done;
    std::fflush(stdout);
  }
  return all_done ? 0 : 1;
}
