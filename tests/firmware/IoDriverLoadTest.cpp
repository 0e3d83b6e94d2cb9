#include <gtest/gtest.h>

#include "FakeServiceManager.h"
#include "config/ModuleSlots.h"
#include "firmware/IoDriver.h"

namespace nox::firmware {
namespace {

using testing::FakeServiceManager;

config::ModuleSlots DriverModules() {
  config::ModuleSlots slots;
  auto put = [&](config::ModuleSlotId id, std::vector<uint8_t> bytes) {
    slots[id].size = static_cast<uint32_t>(bytes.size());
    bytes.resize(bytes.size() + 16, 0xEE);  // buffers may be longer than the module
    slots[id].data = std::move(bytes);
  };
  put(config::ModuleSlotId::kW64, {'6', '4'});
  put(config::ModuleSlotId::kW32, {'3', '2', '!'});
  put(config::ModuleSlotId::kVxd, {'V'});
  return slots;
}

TEST(IoDriverLoad, WritesTheDriverNextToTheExecutableAndRemovesItOnceOpen) {
  FakeServiceManager scm;
  const auto modules = DriverModules();
  IoDriver driver(scm, modules, /*wideBuild=*/true);
  ASSERT_TRUE(driver.LoadIoDriver());
  EXPECT_EQ(driver.DriverFilePath(), "C:\\Tools\\orufldrv64.sys");
  EXPECT_TRUE(scm.filesEverWritten.count("C:\\Tools\\orufldrv64.sys"));
  EXPECT_TRUE(scm.files.empty());  // gone once the driver runs
  EXPECT_EQ(scm.services.at("GENERICDRV").imagePath, "C:\\Tools\\orufldrv64.sys");
  EXPECT_EQ(scm.lastDevicePath, "\\\\.\\Global\\GENERICDRV");
  EXPECT_TRUE(scm.managers.empty()) << "every manager handle is closed";
  EXPECT_TRUE(scm.handles.empty()) << "every service handle is closed";
}

TEST(IoDriverLoad, ThirtyTwoBitBuildWritesOnlyTheModuleBytes) {
  FakeServiceManager scm;
  const auto modules = DriverModules();
  IoDriver driver(scm, modules, /*wideBuild=*/false);
  ASSERT_TRUE(driver.LoadIoDriver());
  EXPECT_EQ(scm.written.at("C:\\Tools\\orufldrv32.sys"), (std::vector<uint8_t>{'3', '2', '!'}));
}

TEST(IoDriverLoad, LoadingTwiceOpensOnce) {
  FakeServiceManager scm;
  const auto modules = DriverModules();
  IoDriver driver(scm, modules, true);
  ASSERT_TRUE(driver.LoadIoDriver());
  const size_t callsAfterFirst = scm.calls.size();
  ASSERT_TRUE(driver.LoadIoDriver());
  EXPECT_EQ(scm.calls.size(), callsAfterFirst) << "the second load writes no file and touches no service";
}

TEST(IoDriverLoad, RemovesALeftoverServiceBeforeCreatingItsOwn) {
  FakeServiceManager scm;
  scm.services["GENERICDRV"] = {"C:\\Old\\old.sys", /*running=*/true};
  const auto modules = DriverModules();
  IoDriver driver(scm, modules, true);
  ASSERT_TRUE(driver.LoadIoDriver());
  // The leftover is stopped and deleted before the one create call.
  const auto& c = scm.calls;
  const auto stop = std::find(c.begin(), c.end(), "stop");
  const auto del = std::find(c.begin(), c.end(), "delete-service");
  const auto create = std::find(c.begin(), c.end(), "create GENERICDRV");
  ASSERT_NE(stop, c.end());
  ASSERT_NE(del, c.end());
  ASSERT_NE(create, c.end());
  EXPECT_LT(stop, del);
  EXPECT_LT(del, create);
  EXPECT_EQ(scm.Count("create"), 1u);
  EXPECT_EQ(scm.services.at("GENERICDRV").imagePath, "C:\\Tools\\orufldrv64.sys");
}

TEST(IoDriverLoad, WaitsForADeletedServiceToVanish) {
  FakeServiceManager scm;
  scm.services["GENERICDRV"] = {"C:\\Old\\old.sys", false};
  scm.lingerAfterDelete = 7;
  const auto modules = DriverModules();
  IoDriver driver(scm, modules, true);
  ASSERT_TRUE(driver.LoadIoDriver());
  EXPECT_EQ(scm.services.at("GENERICDRV").imagePath, "C:\\Tools\\orufldrv64.sys");
}

TEST(IoDriverLoad, AlreadyRunningStillOpensTheDevice) {
  FakeServiceManager scm;
  scm.startFailsAlreadyRunning = true;
  const auto modules = DriverModules();
  IoDriver driver(scm, modules, true);
  EXPECT_TRUE(driver.LoadIoDriver());
}

TEST(IoDriverLoad, OldNtOpensTheDeviceWithoutTheGlobalPrefix) {
  FakeServiceManager scm;
  scm.majorVersion = 4;
  const auto modules = DriverModules();
  IoDriver driver(scm, modules, true);
  ASSERT_TRUE(driver.LoadIoDriver());
  EXPECT_EQ(scm.lastDevicePath, "\\\\.\\GENERICDRV");
}

TEST(IoDriverLoad, FailsWithoutADirectoryInTheExecutablePath) {
  FakeServiceManager noDir;
  noDir.exePath = "NOXWINGUI.exe";
  const auto modules = DriverModules();
  EXPECT_FALSE(IoDriver(noDir, modules, true).LoadIoDriver());
  EXPECT_TRUE(noDir.calls.empty());

}

TEST(IoDriverLoad, Windows9xLoadsTheVxdFromTheCurrentDirectory) {
  FakeServiceManager scm;
  scm.nt = false;
  const auto modules = DriverModules();
  IoDriver driver(scm, modules, true);
  ASSERT_TRUE(driver.LoadIoDriver());
  EXPECT_TRUE(scm.filesEverWritten.count("C:\\Work\\orufldrv.vxd"));
  EXPECT_EQ(scm.lastDevicePath, "\\\\.\\orufldrv.vxd");
  EXPECT_TRUE(scm.files.empty());
  EXPECT_EQ(scm.Count("open-manager"), 0u);

  FakeServiceManager refusing;
  refusing.nt = false;
  refusing.vxdOpens = false;
  IoDriver failing(refusing, modules, true);
  EXPECT_FALSE(failing.LoadIoDriver());
  EXPECT_EQ(refusing.calls.back(), "open-device \\\\.\\GENERICDRV delete-on-close");
}

TEST(IoDriverUnload, StopsAndRemovesTheServiceAndIsANoOpWhenNotLoaded) {
  FakeServiceManager scm;
  const auto modules = DriverModules();
  IoDriver driver(scm, modules, true);
  EXPECT_TRUE(driver.UnloadIoDriver());
  EXPECT_TRUE(scm.calls.empty());
  ASSERT_TRUE(driver.LoadIoDriver());
  EXPECT_TRUE(driver.UnloadIoDriver());
  EXPECT_TRUE(scm.devices.empty());
  EXPECT_FALSE(scm.services.count("GENERICDRV") && !scm.services.at("GENERICDRV").markedForDelete);
  EXPECT_FALSE(driver.Loaded());
}

}  // namespace
}  // namespace nox::firmware
