// The command line as every program of the project reads it: options by name,
// a value after its option ("--fft 4096" or "--fft=4096"), operands anywhere,
// "--" ending the options, and --help (-h) and --version recognised
// everywhere.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace halvorn::cli {

enum class Request { kRun, kHelp, kVersion, kWrong };

struct Parsed {
  Request request = Request::kRun;
  std::vector<std::string> operands;
  std::string error;  // why the command line is wrong
};

class CommandLine {
 public:
  // Takes a value; returns why it is refused, or nothing.
  using Accept = std::function<std::optional<std::string>(const std::string& value)>;

  // `operand` names what the operands are, for "which recording?".
  CommandLine(std::size_t fewest_operands, std::size_t most_operands, std::string operand);

  void Flag(const std::string& name, bool& set);
  void Value(const std::string& name, std::string& target);
  void Value(const std::string& name, Accept accept);

  // Stops at the first wrong argument; --help and --version win over the rest.
  Parsed Parse(int argc, const char* const* argv) const;

 private:
  struct Option {
    bool* flag = nullptr;
    Accept accept;
  };
  std::optional<std::string> Take(const std::string& argument, int& i, int argc, const char* const* argv) const;

  std::map<std::string, Option> options_;
  std::size_t fewest_operands_;
  std::size_t most_operands_;
  std::string operand_;
};

}  // namespace halvorn::cli
