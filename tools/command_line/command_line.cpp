#include "tools/command_line/command_line.h"

namespace halvorn::cli {
namespace {

bool IsHelp(const std::string& argument) {
#ifdef _WIN32
  if (argument == "/?") return true;
#endif
  return argument == "--help" || argument == "-h";
}

}  // namespace

CommandLine::CommandLine(std::size_t fewest_operands, std::size_t most_operands, std::string operand)
    : fewest_operands_(fewest_operands), most_operands_(most_operands), operand_(std::move(operand)) {}

void CommandLine::Flag(const std::string& name, bool& set) { options_[name].flag = &set; }

void CommandLine::Value(const std::string& name, std::string& target) {
  Value(name, [&target](const std::string& value) -> std::optional<std::string> {
    target = value;
    return std::nullopt;
  });
}

void CommandLine::Value(const std::string& name, Accept accept) { options_[name].accept = std::move(accept); }

std::optional<std::string> CommandLine::Take(const std::string& argument, int& i, int argc,
                                             const char* const* argv) const {
  const std::size_t equals = argument.find('=');
  const std::string name = argument.substr(0, equals);
  const auto option = options_.find(name);
  if (option == options_.end()) return "unknown option " + name;
  if (option->second.flag != nullptr) {
    if (equals != std::string::npos) return name + " takes no value";
    *option->second.flag = true;
    return std::nullopt;
  }
  std::string value;
  if (equals != std::string::npos) {
    value = argument.substr(equals + 1);
  } else if (i + 1 < argc) {
    value = argv[++i];
  }
  if (value.empty()) return name + " wants a value";
  return option->second.accept(value);
}

Parsed CommandLine::Parse(int argc, const char* const* argv) const {
  Parsed parsed;
  for (int i = 1; i < argc && std::string(argv[i]) != "--"; ++i) {
    const std::string argument = argv[i];
    if (IsHelp(argument)) return {Request::kHelp, {}, {}};
    if (argument == "--version") return {Request::kVersion, {}, {}};
  }
  bool options_ended = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (!options_ended && argument == "--") {
      options_ended = true;
    } else if (!options_ended && argument.size() > 1 && argument[0] == '-') {
      if (auto error = Take(argument, i, argc, argv)) return {Request::kWrong, {}, *error};
    } else if (parsed.operands.size() == most_operands_) {
      return {Request::kWrong, {}, "unexpected argument " + argument};
    } else {
      parsed.operands.push_back(argument);
    }
  }
  if (parsed.operands.size() < fewest_operands_) return {Request::kWrong, {}, "which " + operand_ + "?"};
  return parsed;
}

}  // namespace halvorn::cli
