#include "device/device_library.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/support/hiding_loader.h"

namespace halvorn::device {
namespace {

using testing::HidingLoader;

std::set<std::string> AllEntries() { return {std::begin(kEntryNames), std::end(kEntryNames)}; }

TEST(DeviceLibraryTest, LooksUpTheFifteenEntriesInOrderAfterEachLoad) {
  HidingLoader loader;
  DeviceLibrary device(loader);
  ASSERT_TRUE(device.Load());
  ASSERT_TRUE(device.Load());
  std::vector<std::string> twice(std::begin(kEntryNames), std::end(kEntryNames));
  twice.insert(twice.end(), std::begin(kEntryNames), std::end(kEntryNames));
  EXPECT_EQ(loader.looked_up(), twice);
  // The second load dropped the first reference, so one unload releases it.
  EXPECT_EQ(loader.unloads(), 1);
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
  HidingLoader loader;
  DeviceLibrary device(loader);
  ASSERT_TRUE(device.Load());
  for (const char* name : kEntryNames) EXPECT_TRUE(device.HasEntry(name)) << name;
  EXPECT_TRUE(device.Open());
  EXPECT_EQ(device.FirmwareDownload(nullptr), 0);
}

TEST(DeviceLibraryTest, AfterUnloadEveryWrapperDoesNothing) {
  HidingLoader loader;
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
  HidingLoader loader;
  DeviceLibrary device(loader);
  ASSERT_TRUE(device.Load());
  loader.SetAbsent(true);
  EXPECT_FALSE(device.Load());
  // The reference and every entry of the earlier load are still there.
  EXPECT_TRUE(device.IsLoaded());
  EXPECT_EQ(loader.unloads(), 0);
  for (const char* name : kEntryNames) EXPECT_TRUE(device.HasEntry(name)) << name;
  EXPECT_TRUE(device.Open());
  EXPECT_EQ(device.FirmwareDownload(nullptr), 0);
}

}  // namespace
}  // namespace halvorn::device
