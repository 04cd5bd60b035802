#include "tools/command_line/program_answer.h"

#include <cstdio>

#include "halvorn_version.h"

namespace halvorn::cli {

std::string VersionLine(const char* name) { return std::string(name) + " (ExtIO_halvorn) " HALVORN_VERSION; }

std::optional<int> Answer(const Program& program, const Parsed& parsed) {
  switch (parsed.request) {
    case Request::kRun:
      return std::nullopt;
    case Request::kHelp:
      std::fputs(program.usage, stdout);
      return 0;
    case Request::kVersion:
      std::printf("%s\n", VersionLine(program.name).c_str());
      return 0;
    case Request::kWrong:
      break;
  }
  const std::string usage = program.usage;
  std::fprintf(stderr, "%s: %s\n%s\nTry '%s --help' for more.\n", program.name, parsed.error.c_str(),
               usage.substr(0, usage.find('\n')).c_str(), program.name);
  return kExitUsage;
}

}  // namespace halvorn::cli
