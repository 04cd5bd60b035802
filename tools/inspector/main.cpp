// halvorn-inspect: tells what a recording holds, and finishes one that a
// crash left unfinished.
//
//   halvorn-inspect FILE [--repair]
//
// Exit status: 0 for a recording (finished or not), 1 when the file is not a
// recording or cannot be repaired, 2 for wrong arguments.
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/inspector/repair.h"
#include "tools/inspector/report.h"
#include "tools/recording/recording_info.h"

using namespace halvorn::inspector;
using halvorn::recording::Completion;
using halvorn::recording::ReadRecordingInfo;
using halvorn::recording::RecordingInfo;

int main(int argc, char** argv) {
  std::string path;
  bool repair = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--repair") == 0) {
      repair = true;
    } else if (path.empty()) {
      path = argv[i];
    } else {
      path.clear();
      break;
    }
  }
  if (path.empty()) {
    std::fprintf(stderr, "usage: halvorn-inspect FILE [--repair]\n");
    return 2;
  }

  std::string error;
  std::optional<RecordingInfo> info = ReadRecordingInfo(path, error);
  if (!info) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
    return 1;
  }
  if (repair) {
    if (info->completion == Completion::kFinished) {
      std::printf("%s: already finished, nothing to repair\n", path.c_str());
    } else if (info->completion == Completion::kMismatched) {
      std::fprintf(stderr, "%s: its sizes are set but do not match its length; it was not left by a crash, "
                           "so it is not changed\n", path.c_str());
      return 1;
    } else {
      if (!RepairRecording(path, *info, error)) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return 1;
      }
      std::printf("%s: repaired\n", path.c_str());
      info = ReadRecordingInfo(path, error);
      if (!info) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
        return 1;
      }
    }
  }
  std::fputs(Describe(path, *info).c_str(), stdout);
  return 0;
}
