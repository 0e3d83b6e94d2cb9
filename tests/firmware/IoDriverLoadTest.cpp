// The driver loader against a double of the Windows service control manager.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>
#include <utility>

#include "firmware/IoDriver.h"

namespace nox::firmware {
namespace {

using Strings = std::vector<std::string>;

// Plays the service control manager for the one service the loader knows, "GENERICDRV":
// records every call in order, and opens the device only while the service runs.
class FakeServiceManager : public DriverPort {
 public:
  struct Service { std::string imagePath; bool running = false, markedForDelete = false; };

  // Settings a test changes. `lingerAfterDelete`: "open service" polls that still succeed
  // after deletion.
  bool nt = true, startFailsAlreadyRunning = false, vxdOpens = true;
  std::optional<std::string> exePath = std::string("C:\\Tools\\NOXWINGUI.exe");
  int lingerAfterDelete = 0;

  // What happened: every call in order (a file write with its content), the files there now,
  // the service, and the manager, service and device handles not closed yet.
  Strings calls;
  std::set<std::string> files;
  std::optional<Service> service;
  std::map<PortHandle, std::string> handles;

  bool PlatformIsNt() override { return nt; }
  uint32_t MajorVersion() override { return 10; }
  std::optional<std::string> OwnExecutablePath() override { return exePath; }
  std::string CurrentDirectoryPrefix() override { return "C:\\Work\\"; }

  bool WriteWholeFile(const std::string& path, std::span<const uint8_t> bytes) override {
    calls.push_back("write " + path + " " + std::string(bytes.begin(), bytes.end()));
    files.insert(path);
    return true;
  }
  bool RemoveFile(const std::string& path) override {
    calls.push_back("delete " + path);
    return files.erase(path) == 1;
  }

  PortHandle OpenServiceManager(uint32_t) override { return Call("open-manager", true, "manager"); }
  PortHandle CreateKernelService(PortHandle manager, const std::string& name, const std::string& path) override {
    const bool ok = handles[manager] == "manager" && name == "GENERICDRV" && !service;
    if (ok) service = Service{path};
    return Call("create " + name, ok, "service");
  }
  PortHandle OpenNamedService(PortHandle manager, const std::string& name, uint32_t) override {
    bool ok = handles[manager] == "manager" && name == "GENERICDRV" && service;
    if (ok && service->markedForDelete && lingering_-- <= 0) {
      service.reset();
      ok = false;
    }
    return Call("open-service " + name + (ok ? "" : " failed"), ok, "service");
  }
  bool StartNamedService(PortHandle handle, uint32_t& lastError) override {
    Service& s = Named(handle, "start");
    if (s.running || startFailsAlreadyRunning) {
      s.running = true;
      lastError = 1056;
      return false;
    }
    s.running = files.count(s.imagePath) == 1;  // the driver file must be there to load
    return s.running;
  }
  bool StopService(PortHandle handle) override { return std::exchange(Named(handle, "stop").running, false); }
  bool DeleteNamedService(PortHandle handle) override {
    Named(handle, "delete-service").markedForDelete = true;
    lingering_ = lingerAfterDelete;
    return true;
  }
  void CloseServiceHandle(PortHandle handle) override { handles.erase(handle); }

  PortHandle OpenDevice(const std::string& path, uint32_t, uint32_t, uint32_t, uint32_t flags) override {
    const bool ok = nt ? service && service->running : vxdOpens;
    return Call("open-device " + path + (flags == 0x04000000 ? " delete-on-close" : ""), ok, "device");
  }
  bool CloseDevice(PortHandle device) override {
    calls.push_back("close-device");
    return handles.erase(device) == 1;
  }
  bool Control(PortHandle, uint32_t, std::span<uint8_t>, uint32_t&) override { return false; }
  std::span<uint8_t> Memory(uint64_t, size_t) override { return {}; }

 private:
  // Records `call`; when it succeeds, a new handle of the `kind` given.
  PortHandle Call(const std::string& call, bool ok, const std::string& kind) {
    calls.push_back(call);
    if (!ok) return 0;
    handles[next_] = kind;
    return next_++;
  }
  // Records `call` on the service behind an open service handle.
  Service& Named(PortHandle handle, const std::string& call) {
    calls.push_back(call);
    if (handles.at(handle) != "service" || !service) throw std::logic_error(call + " without a service handle");
    return *service;
  }
  PortHandle next_ = 100;
  int lingering_ = 0;
};

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
// handle but the device's is closed, and a second load does nothing. Unloading does nothing
// before a load; after it, it stops and removes the service and closes every handle.
TEST(IoDriverLoad, WritesTheModuleNextToTheExecutableRemovesItOnceOpenAndUnloadRemovesTheService) {
  for (const bool wide : {true, false}) {
    SCOPED_TRACE(wide);
    FakeServiceManager scm;
    IoDriver driver(scm, kModules, wide);
    EXPECT_TRUE(driver.UnloadIoDriver());
    EXPECT_TRUE(scm.calls.empty()) << "an unload before the load";
    ASSERT_TRUE(driver.LoadIoDriver());
    const std::string file = wide ? "C:\\Tools\\orufldrv64.sys" : "C:\\Tools\\orufldrv32.sys";
    EXPECT_EQ(driver.DriverFilePath(), file);
    EXPECT_EQ(scm.calls.front(), "write " + file + (wide ? " 64" : " 32!"));
    EXPECT_LT(At(scm, "open-device \\\\.\\Global\\GENERICDRV"), At(scm, "delete " + file));
    EXPECT_TRUE(scm.files.empty());
    EXPECT_EQ(scm.service->imagePath, file);
    EXPECT_EQ(scm.handles.size(), 1u);
    const size_t calls = scm.calls.size();
    ASSERT_TRUE(driver.LoadIoDriver());
    EXPECT_EQ(scm.calls.size(), calls);
    EXPECT_TRUE(driver.UnloadIoDriver());
    EXPECT_TRUE(scm.handles.empty());
    EXPECT_TRUE(!scm.service || scm.service->markedForDelete);
    EXPECT_FALSE(driver.Loaded());
  }
}

// A running leftover is stopped and removed before the utility's own service is created, a
// deleted one is waited for until it vanishes, and "already running" still opens the device.
TEST(IoDriverLoad, WhatTheServiceManagerHoldsFromBeforeIsReplaced) {
  struct Case { bool leftover, running; int linger; bool alreadyRunning; };
  for (const Case& c : {Case{true, true, 0, false}, Case{true, false, 7, false}, Case{false, false, 0, true}}) {
    SCOPED_TRACE(::testing::Message() << c.leftover << c.running << c.linger);
    FakeServiceManager scm;
    if (c.leftover) scm.service = {"C:\\Old\\old.sys", c.running};
    scm.lingerAfterDelete = c.linger;
    scm.startFailsAlreadyRunning = c.alreadyRunning;
    ASSERT_TRUE(IoDriver(scm, kModules, true).LoadIoDriver());
    EXPECT_EQ(scm.service->imagePath, "C:\\Tools\\orufldrv64.sys");
    EXPECT_EQ(std::count(scm.calls.begin(), scm.calls.end(), "create GENERICDRV"), 1);
    if (c.running) {
      EXPECT_LT(At(scm, "stop"), At(scm, "delete-service"));
      EXPECT_LT(At(scm, "delete-service"), At(scm, "create GENERICDRV"));
    }
  }
}

// Windows 9x loads the VxD from the current directory, and falls back to the NT driver's
// device; on NT an executable path without a directory loads nothing.
TEST(IoDriverLoad, Windows9xLoadsTheVxdFromTheCurrentDirectoryAndNtNeedsTheExecutablesDirectory) {
  FakeServiceManager scm;
  scm.nt = false;
  ASSERT_TRUE(IoDriver(scm, kModules, true).LoadIoDriver());
  EXPECT_EQ(scm.calls, (Strings{"write C:\\Work\\orufldrv.vxd V", "open-device \\\\.\\orufldrv.vxd",
                                "delete C:\\Work\\orufldrv.vxd"}));
  FakeServiceManager refusing;
  refusing.nt = refusing.vxdOpens = false;
  EXPECT_FALSE(IoDriver(refusing, kModules, true).LoadIoDriver());
  EXPECT_EQ(refusing.calls.back(), "open-device \\\\.\\GENERICDRV delete-on-close");
  FakeServiceManager bare;
  bare.exePath = "NOXWINGUI.exe";
  EXPECT_FALSE(IoDriver(bare, kModules, true).LoadIoDriver());
  EXPECT_TRUE(bare.calls.empty());
}

}  // namespace
}  // namespace nox::firmware
