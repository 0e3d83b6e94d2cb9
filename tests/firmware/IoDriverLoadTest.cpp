#include <gtest/gtest.h>

#include <algorithm>

#include "FakeServiceManager.h"
#include "config/ModuleSlots.h"
#include "firmware/IoDriver.h"

namespace nox::firmware {
namespace {

using testing::FakeServiceManager;
using Strings = std::vector<std::string>;

// Module buffers may be longer than the modules themselves.
const config::ModuleSlots kModules = [] {
  config::ModuleSlots modules;
  for (const auto& [id, text] : {std::pair<config::ModuleSlotId, std::string_view>{config::ModuleSlotId::kW64, "64"},
                                 {config::ModuleSlotId::kW32, "32!"}, {config::ModuleSlotId::kVxd, "V"}}) {
    modules[id].data.assign(text.begin(), text.end());
    modules[id].size = static_cast<uint32_t>(text.size());
    modules[id].data.resize(text.size() + 16, 0xEE);
  }
  return modules;
}();

size_t At(const FakeServiceManager& scm, const std::string& call) {
  return static_cast<size_t>(std::find(scm.calls.begin(), scm.calls.end(), call) - scm.calls.begin());
}

// The module's own bytes go next to the executable and are gone once the driver runs; every
// handle but the device's is closed, and a second load does nothing.
TEST(IoDriverLoad, WritesTheModuleNextToTheExecutableAndRemovesItOnceOpen) {
  for (const bool wide : {true, false}) {
    SCOPED_TRACE(wide);
    FakeServiceManager scm;
    IoDriver driver(scm, kModules, wide);
    ASSERT_TRUE(driver.LoadIoDriver());
    const std::string file = wide ? "C:\\Tools\\orufldrv64.sys" : "C:\\Tools\\orufldrv32.sys";
    EXPECT_EQ(driver.DriverFilePath(), file);
    EXPECT_EQ(scm.calls.front(), "write " + file + (wide ? " 64" : " 32!"));
    EXPECT_LT(At(scm, "open-device \\\\.\\Global\\GENERICDRV"), At(scm, "delete " + file));
    EXPECT_TRUE(scm.files.empty());
    EXPECT_EQ(scm.services.at("GENERICDRV").imagePath, file);
    EXPECT_EQ(scm.handles.size(), 1u);
    const size_t calls = scm.calls.size();
    ASSERT_TRUE(driver.LoadIoDriver());
    EXPECT_EQ(scm.calls.size(), calls);
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
    EXPECT_EQ(std::count(scm.calls.begin(), scm.calls.end(), "create GENERICDRV"), 1);
    if (c.running) {
      EXPECT_LT(At(scm, "stop"), At(scm, "delete-service"));
      EXPECT_LT(At(scm, "delete-service"), At(scm, "create GENERICDRV"));
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
  EXPECT_EQ(scm.calls, (Strings{"write C:\\Work\\orufldrv.vxd V", "open-device \\\\.\\orufldrv.vxd",
                                "delete C:\\Work\\orufldrv.vxd"}));
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
