// What the tools' tests share: running a program as a user would, with its
// standard output, standard error and exit status kept apart, and finishing
// the recordings they make up.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "recorder/wav_header.h"

extern char** environ;

namespace halvorn::testing {

struct ToolRun {
  int status = -1;  // the exit status; -1 when the program did not exit
  std::string out;
  std::string err;
  long max_rss_kib = 0;
  std::string output() const { return out + err; }
};

inline ToolRun RunTool(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<std::string> words{program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  ToolRun run;
  // Standard error goes to a file, read after the exit: two pipes read one
  // after the other could fill and stall the program.
  char err_path[] = "/tmp/halvorn-tool-stderr-XXXXXX";
  const int err_file = mkstemp(err_path);
  int pipe_ends[2];
  if (err_file < 0 || pipe(pipe_ends) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err_file, STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
  pid_t child = -1;
  const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[1]);
  if (spawned == 0) {
    char buffer[4096];
    for (ssize_t got; (got = read(pipe_ends[0], buffer, sizeof buffer)) > 0;) run.out.append(buffer, got);
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) == child && WIFEXITED(status)) run.status = WEXITSTATUS(status);
    run.max_rss_kib = usage.ru_maxrss;
    lseek(err_file, 0, SEEK_SET);
    for (ssize_t got; (got = read(err_file, buffer, sizeof buffer)) > 0;) run.err.append(buffer, got);
  }
  close(pipe_ends[0]);
  close(err_file);
  unlink(err_path);
  return run;
}

inline bool Has(const ToolRun& run, const std::string& text) {
  return run.out.find(text) != std::string::npos || run.err.find(text) != std::string::npos;
}

// Writes the two sizes of a recording's header, as finishing it does.
inline void FinishRecording(std::vector<std::uint8_t>& file) {
  const auto data_bytes = static_cast<std::uint32_t>(file.size() - recorder::kHeaderBytes);
  const auto riff = recorder::EncodeSizeField(recorder::RiffSizeFor(data_bytes));
  const auto data = recorder::EncodeSizeField(data_bytes);
  std::copy(riff.begin(), riff.end(), file.begin() + recorder::kRiffSizeOffset);
  std::copy(data.begin(), data.end(), file.begin() + recorder::kDataSizeOffset);
}

// Runs sox, which rewrites WAV files as other programs write them; true when
// it succeeded.
inline bool Sox(const std::vector<std::string>& arguments) {
  const ToolRun run = RunTool(HALVORN_SOX, arguments);
  return run.status == 0;
}

}  // namespace halvorn::testing
