// The simulated receiver's settings for one native run, as environment
// variables put back afterwards.
#pragma once

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

namespace halvorn::testing {

// Sets HALVORNSIM_* variables and puts back what was there. The simulator reads
// them at its entry calls, so they change only while no other thread calls it.
class SimulatorSettings {
 public:
  SimulatorSettings() = default;
  SimulatorSettings(const SimulatorSettings&) = delete;
  SimulatorSettings& operator=(const SimulatorSettings&) = delete;
  ~SimulatorSettings() {
    for (const auto& [name, value] : previous_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }

  // Empty unsets.
  void Set(const std::string& name, const std::string& value) {
    if (!previous_.count(name)) {
      const char* old = std::getenv(name.c_str());
      previous_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value.empty()) {
      ::unsetenv(name.c_str());
    } else {
      ::setenv(name.c_str(), value.c_str(), 1);
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> previous_;
};

}  // namespace halvorn::testing
