#include "device/device_library.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/support/native_module.h"

namespace halvorn::device {
namespace {

// Presents the real simulator with some entries hidden, as a library that
// lacks them would be.
class HidingLoader : public LibraryLoader {
 public:
  explicit HidingLoader(std::set<std::string> hidden)
      : real_(MakePlatformLibraryLoader(testing::SimulatorDirectory())), hidden_(std::move(hidden)) {}
  Handle Load(const char* name) override {
    ++loads;
    return real_->Load(name);
  }
  void* Find(Handle library, const char* name) override {
    looked_up.emplace_back(name);
    return hidden_.count(name) ? nullptr : real_->Find(library, name);
  }
  bool Unload(Handle library) override {
    ++unloads;
    return real_->Unload(library);
  }

  int loads = 0;
  int unloads = 0;
  std::vector<std::string> looked_up;

 private:
  std::unique_ptr<LibraryLoader> real_;
  std::set<std::string> hidden_;
};

std::set<std::string> AllEntries() { return {std::begin(kEntryNames), std::end(kEntryNames)}; }

TEST(DeviceLibraryTest, LooksUpTheFifteenEntriesInOrderAfterEachLoad) {
  HidingLoader loader({});
  DeviceLibrary device(loader);
  ASSERT_TRUE(device.Load());
  ASSERT_TRUE(device.Load());
  const std::vector<std::string> order(std::begin(kEntryNames), std::end(kEntryNames));
  ASSERT_EQ(loader.looked_up.size(), 30u);
  EXPECT_EQ(std::vector<std::string>(loader.looked_up.begin(), loader.looked_up.begin() + 15), order);
  EXPECT_EQ(std::vector<std::string>(loader.looked_up.begin() + 15, loader.looked_up.end()), order);
  // The second load dropped the first reference, so one unload releases it.
  EXPECT_EQ(loader.unloads, 1);
  EXPECT_TRUE(device.Unload());
  EXPECT_FALSE(device.IsLoaded());
}

TEST(DeviceLibraryTest, MissingEntriesGiveTheirFailureValuesWithoutACall) {
  HidingLoader loader(AllEntries());
  DeviceLibrary device(loader);
  ASSERT_TRUE(device.Load());
  std::uint8_t record[5] = {};
  const std::uint8_t descriptor[8] = {};
  EXPECT_FALSE(device.Open());
  EXPECT_FALSE(device.Close());
  EXPECT_EQ(device.FirmwareDownload(nullptr), -1);
  EXPECT_EQ(device.FpgaConfig("halvorn125k24v21", descriptor), -1);
  EXPECT_FALSE(device.SetAttenuator(1));
  EXPECT_FALSE(device.SetPreselector(3));
  EXPECT_EQ(device.Sio(record, 5), -1);
  EXPECT_FALSE(device.StartAsyncInput(6144, nullptr));
  EXPECT_FALSE(device.StopAsyncInput());
  for (const char* name : kEntryNames) EXPECT_FALSE(device.HasEntry(name)) << name;
}

TEST(DeviceLibraryTest, PresentEntriesAreCalled) {
  HidingLoader loader({});
  DeviceLibrary device(loader);
  ASSERT_TRUE(device.Load());
  for (const char* name : kEntryNames) EXPECT_TRUE(device.HasEntry(name)) << name;
  EXPECT_TRUE(device.Open());
  EXPECT_EQ(device.FirmwareDownload(nullptr), 0);
}

TEST(DeviceLibraryTest, AfterUnloadEveryWrapperDoesNothing) {
  HidingLoader loader({});
  DeviceLibrary device(loader);
  ASSERT_TRUE(device.Load());
  ASSERT_TRUE(device.Unload());
  std::uint8_t record[5] = {};
  EXPECT_FALSE(device.Open());
  EXPECT_EQ(device.Sio(record, 5), -1);
  EXPECT_EQ(device.FirmwareDownload(nullptr), -1);
  for (const char* name : kEntryNames) EXPECT_FALSE(device.HasEntry(name)) << name;
  // Nothing left to release.
  EXPECT_FALSE(device.Unload());
}

TEST(DeviceLibraryTest, AFailedLoadKeepsThePreviousTable) {
  HidingLoader loader({});
  DeviceLibrary device(loader);
  ASSERT_TRUE(device.Load());
  auto missing = MakePlatformLibraryLoader("/nonexistent-directory");
  DeviceLibrary absent(*missing);
  EXPECT_FALSE(absent.Load());
  EXPECT_FALSE(absent.IsLoaded());
  EXPECT_TRUE(device.IsLoaded());
  EXPECT_TRUE(device.Open());
}

}  // namespace
}  // namespace halvorn::device
