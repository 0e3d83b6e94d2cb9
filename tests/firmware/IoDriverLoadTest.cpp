#include <gtest/gtest.h>

#include <algorithm>

#include "FakeServiceManager.h"
#include "config/ModuleSlots.h"
#include "firmware/IoDriver.h"

namespace nox::firmware {
namespace {

using testing::FakeServiceManager;
using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;

// Module buffers may be longer than the modules themselves.
const config::ModuleSlots kModules = [] {
  config::ModuleSlots modules;
  for (const auto& [id, bytes] : {std::pair{config::ModuleSlotId::kW64, Bytes{'6', '4'}},
                                  {config::ModuleSlotId::kW32, Bytes{'3', '2', '!'}}, {config::ModuleSlotId::kVxd, Bytes{'V'}}}) {
    modules[id] = {bytes, static_cast<uint32_t>(bytes.size())};
    modules[id].data.resize(bytes.size() + 16, 0xEE);
  }
  return modules;
}();

TEST(IoDriverLoad, WritesTheModuleNextToTheExecutableAndRemovesItOnceOpen) {
  for (const bool wide : {true, false}) {
    SCOPED_TRACE(wide);
    FakeServiceManager scm;
    IoDriver driver(scm, kModules, wide);
    ASSERT_TRUE(driver.LoadIoDriver());
    const std::string file = wide ? "C:\\Tools\\orufldrv64.sys" : "C:\\Tools\\orufldrv32.sys";
    EXPECT_EQ(driver.DriverFilePath(), file);
    EXPECT_EQ(scm.written.at(file), (wide ? Bytes{'6', '4'} : Bytes{'3', '2', '!'}));
    EXPECT_TRUE(scm.files.empty()) << "gone once the driver runs";
    EXPECT_EQ(scm.services.at("GENERICDRV").imagePath, file);
    EXPECT_EQ(scm.handles.size(), 1u) << "every handle but the device's is closed";
    const size_t calls = scm.calls.size();
    ASSERT_TRUE(driver.LoadIoDriver());
    EXPECT_EQ(scm.calls.size(), calls) << "the second load writes no file and touches no service";
  }
}

// A running leftover is stopped and removed before the utility's own service is created, a
// deleted one is waited for until it vanishes, and "already running" still opens the device.
TEST(IoDriverLoad, WhatTheServiceManagerHoldsFromBeforeIsReplaced) {
  struct Case { bool leftover, running; int linger; bool alreadyRunning; };
  for (const Case& c : {Case{true, true, 0, false}, Case{true, false, 7, false}, Case{false, false, 0, true}}) {
    SCOPED_TRACE(::testing::Message() << c.leftover << c.running << c.linger);
    FakeServiceManager scm;
    if (c.leftover) scm.services["GENERICDRV"] = {"C:\\Old\\old.sys", c.running};
    scm.lingerAfterDelete = c.linger;
    scm.startFailsAlreadyRunning = c.alreadyRunning;
    ASSERT_TRUE(IoDriver(scm, kModules, true).LoadIoDriver());
    EXPECT_EQ(scm.services.at("GENERICDRV").imagePath, "C:\\Tools\\orufldrv64.sys");
    const auto at = [&](const std::string& call) { return std::find(scm.calls.begin(), scm.calls.end(), call) - scm.calls.begin(); };
    EXPECT_EQ(std::count(scm.calls.begin(), scm.calls.end(), "create GENERICDRV"), 1);
    if (c.running) {
      EXPECT_LT(at("stop"), at("delete-service"));
      EXPECT_LT(at("delete-service"), at("create GENERICDRV"));
    }
  }
}

TEST(IoDriverLoad, FailsWithoutADirectoryInTheExecutablePath) {
  FakeServiceManager scm;
  scm.exePath = "NOXWINGUI.exe";
  EXPECT_FALSE(IoDriver(scm, kModules, true).LoadIoDriver());
  EXPECT_TRUE(scm.calls.empty());
}

TEST(IoDriverLoad, Windows9xLoadsTheVxdFromTheCurrentDirectory) {
  FakeServiceManager scm;
  scm.nt = false;
  ASSERT_TRUE(IoDriver(scm, kModules, true).LoadIoDriver());
  EXPECT_EQ(scm.calls, (Strings{"write C:\\Work\\orufldrv.vxd", "open-device \\\\.\\orufldrv.vxd", "delete C:\\Work\\orufldrv.vxd"}));
  EXPECT_EQ(scm.written.at("C:\\Work\\orufldrv.vxd"), Bytes{'V'});
  FakeServiceManager refusing;
  refusing.nt = refusing.vxdOpens = false;
  EXPECT_FALSE(IoDriver(refusing, kModules, true).LoadIoDriver());
  EXPECT_EQ(refusing.calls.back(), "open-device \\\\.\\GENERICDRV delete-on-close");
}

TEST(IoDriverLoad, UnloadStopsAndRemovesTheServiceAndIsANoOpWhenNotLoaded) {
  FakeServiceManager scm;
  IoDriver driver(scm, kModules, true);
  EXPECT_TRUE(driver.UnloadIoDriver());
  EXPECT_TRUE(scm.calls.empty());
  ASSERT_TRUE(driver.LoadIoDriver());
  EXPECT_TRUE(driver.UnloadIoDriver());
  EXPECT_TRUE(scm.handles.empty());
  EXPECT_TRUE(!scm.services.count("GENERICDRV") || scm.services.at("GENERICDRV").markedForDelete);
  EXPECT_FALSE(driver.Loaded());
}

}  // namespace
}  // namespace nox::firmware
