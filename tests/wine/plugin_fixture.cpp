#include "tests/wine/plugin_fixture.h"

#include "tests/support/win32/pump_until.h"

namespace halvorn::wine_tests {
namespace {

const char* const kSimulatorSettings[] = {"HALVORNSIM_JOURNAL", "HALVORNSIM_MISSING", "HALVORNSIM_FAIL",
                                          "HALVORNSIM_SOURCE", "HALVORNSIM_PACING", "HALVORNSIM_CLOCK_HZ",
                                          "HALVORNSIM_STAMP", "HALVORNSIM_STALL", "HALVORNSIM_UNPLUG"};

std::string JournalPathForCurrentTest() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/' || c == '\\') c = '_';
  }
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  return std::string(temp) + "halvorn-" + name + ".journal";
}

}  // namespace

std::string PluginTest::BuildDirectory() { return host::ProgramDirectory() + "..\\"; }

std::string PluginTest::PluginPath() {
  const std::string folder = host::ProgramDirectory() + "plugin-alone\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  const std::string copy = folder + "ExtIO_halvorn.dll";
  // Fails harmlessly while this process still has the copy loaded.
  CopyFileA((BuildDirectory() + "ExtIO_halvorn.dll").c_str(), copy.c_str(), FALSE);
  return copy;
}

bool PluginTest::PluginGone() {
  return testing::PumpUntil([] { return GetModuleHandleA("ExtIO_halvorn.dll") == nullptr; }, 5000);
}

void PluginTest::SetUp() {
  for (const char* setting : kSimulatorSettings) SetEnvironmentVariableA(setting, nullptr);
  journal_ = testing::Journal(JournalPathForCurrentTest());
  journal_.Clear();
  SetSimulator("HALVORNSIM_JOURNAL", journal_.path());
  UseSimulator(true);
  callback_.Reset();
  std::string error;
  plugin_ = host::ExtIoPlugin::Load(PluginPath(), &error);
  ASSERT_TRUE(plugin_) << error;
}

void PluginTest::TearDown() {
  plugin_.reset();
  SetDllDirectoryA(nullptr);
  // Programs a test starts itself see none of its settings.
  for (const char* setting : kSimulatorSettings) SetEnvironmentVariableA(setting, nullptr);
}

void PluginTest::UseSimulator(bool available) {
  if (available) {
    SetDllDirectoryA(BuildDirectory().c_str());
  } else {
    const std::string empty = host::ProgramDirectory() + "no-device-library";
    CreateDirectoryA(empty.c_str(), nullptr);
    SetDllDirectoryA(empty.c_str());
  }
}

void PluginTest::SetSimulator(const char* name, const std::string& value) {
  SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str());
}

bool PluginTest::Init() { return plugin_->InitHW(name_, model_, &sample_type_); }

}  // namespace halvorn::wine_tests
