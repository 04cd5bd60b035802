// What every program of the project answers before it does its work: --help
// with its usage on standard output, --version, and a wrong command line
// refused on standard error with one exit status, the same in every program.
#pragma once

#include <optional>
#include <string>

#include "tools/command_line/command_line.h"

namespace halvorn::cli {

// 0 is success; 1 and the codes above 2 are each program's own failures.
inline constexpr int kExitUsage = 2;

struct Program {
  const char* name;
  const char* usage;  // the --help text; its first line is "usage: ..."
};

// "halvorn-inspect (ExtIO_halvorn) 1.0.0"
std::string VersionLine(const char* name);

// The exit status when the program ends here, having said what it had to;
// nothing when it is to run.
std::optional<int> Answer(const Program& program, const Parsed& parsed);

}  // namespace halvorn::cli
