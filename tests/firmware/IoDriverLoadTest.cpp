#include <gtest/gtest.h>

#include <algorithm>

#include "FakeServiceManager.h"
#include "config/ModuleSlots.h"
#include "firmware/IoDriver.h"

namespace nox::firmware {
namespace {

class IoDriverLoad : public ::testing::Test {
 protected:
  IoDriverLoad() {
    auto put = [&](config::ModuleSlotId id, std::vector<uint8_t> bytes) {
      modules[id].size = static_cast<uint32_t>(bytes.size());
      bytes.resize(bytes.size() + 16, 0xEE);  // buffers may be longer than the module
      modules[id].data = std::move(bytes);
    };
    put(config::ModuleSlotId::kW64, {'6', '4'});
    put(config::ModuleSlotId::kW32, {'3', '2', '!'});
    put(config::ModuleSlotId::kVxd, {'V'});
  }
  size_t At(const std::string& call) const {
    return static_cast<size_t>(std::find(scm.calls.begin(), scm.calls.end(), call) - scm.calls.begin());
  }

  testing::FakeServiceManager scm;
  config::ModuleSlots modules;
  IoDriver driver{scm, modules, /*wideBuild=*/true};
};

TEST_F(IoDriverLoad, WritesTheDriverNextToTheExecutableAndRemovesItOnceOpen) {
  ASSERT_TRUE(driver.LoadIoDriver());
  EXPECT_EQ(driver.DriverFilePath(), "C:\\Tools\\orufldrv64.sys");
  EXPECT_EQ(scm.written.at("C:\\Tools\\orufldrv64.sys"), (std::vector<uint8_t>{'6', '4'}));
  EXPECT_TRUE(scm.files.empty());  // gone once the driver runs
  EXPECT_EQ(scm.services.at("GENERICDRV").imagePath, "C:\\Tools\\orufldrv64.sys");
  EXPECT_TRUE(scm.managers.empty()) << "every manager handle is closed";
  EXPECT_TRUE(scm.handles.empty()) << "every service handle is closed";
  const size_t callsAfterFirst = scm.calls.size();
  ASSERT_TRUE(driver.LoadIoDriver());
  EXPECT_EQ(scm.calls.size(), callsAfterFirst) << "the second load writes no file and touches no service";
}

TEST_F(IoDriverLoad, ThirtyTwoBitBuildWritesOnlyTheModuleBytes) {
  ASSERT_TRUE(IoDriver(scm, modules, /*wideBuild=*/false).LoadIoDriver());
  EXPECT_EQ(scm.written.at("C:\\Tools\\orufldrv32.sys"), (std::vector<uint8_t>{'3', '2', '!'}));
}

TEST_F(IoDriverLoad, RemovesALeftoverServiceBeforeCreatingItsOwn) {
  scm.services["GENERICDRV"] = {"C:\\Old\\old.sys", /*running=*/true};
  ASSERT_TRUE(driver.LoadIoDriver());
  ASSERT_LT(At("create GENERICDRV"), scm.calls.size());
  EXPECT_LT(At("stop"), At("delete-service"));
  EXPECT_LT(At("delete-service"), At("create GENERICDRV"));
  EXPECT_EQ(scm.Count("create"), 1u);
  EXPECT_EQ(scm.services.at("GENERICDRV").imagePath, "C:\\Tools\\orufldrv64.sys");
}

TEST_F(IoDriverLoad, WaitsForADeletedServiceToVanish) {
  scm.services["GENERICDRV"] = {"C:\\Old\\old.sys", false};
  scm.lingerAfterDelete = 7;
  ASSERT_TRUE(driver.LoadIoDriver());
  EXPECT_EQ(scm.services.at("GENERICDRV").imagePath, "C:\\Tools\\orufldrv64.sys");
}

TEST_F(IoDriverLoad, AlreadyRunningStillOpensTheDevice) {
  scm.startFailsAlreadyRunning = true;
  EXPECT_TRUE(driver.LoadIoDriver());
}

TEST_F(IoDriverLoad, FailsWithoutADirectoryInTheExecutablePath) {
  scm.exePath = "NOXWINGUI.exe";
  EXPECT_FALSE(driver.LoadIoDriver());
  EXPECT_TRUE(scm.calls.empty());
}

TEST_F(IoDriverLoad, Windows9xLoadsTheVxdFromTheCurrentDirectory) {
  scm.nt = false;
  ASSERT_TRUE(driver.LoadIoDriver());
  EXPECT_EQ(scm.written.at("C:\\Work\\orufldrv.vxd"), std::vector<uint8_t>{'V'});
  EXPECT_EQ(scm.lastDevicePath, "\\\\.\\orufldrv.vxd");
  EXPECT_TRUE(scm.files.empty());
  EXPECT_EQ(scm.Count("open-manager"), 0u);
  testing::FakeServiceManager refusing;
  refusing.nt = refusing.vxdOpens = false;
  EXPECT_FALSE(IoDriver(refusing, modules, true).LoadIoDriver());
  EXPECT_EQ(refusing.calls.back(), "open-device \\\\.\\GENERICDRV delete-on-close");
}

TEST_F(IoDriverLoad, UnloadStopsAndRemovesTheServiceAndIsANoOpWhenNotLoaded) {
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
