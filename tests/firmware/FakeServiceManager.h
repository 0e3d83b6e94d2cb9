// A driver port that plays the Windows service control manager: it keeps services by name,
// records every call in order, and opens the device only while the driver service runs.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "firmware/DriverPort.h"

namespace nox::firmware::testing {

class FakeServiceManager : public DriverPort {
 public:
  struct Service {
    std::string imagePath;
    bool running = false;
    bool markedForDelete = false;
  };

  // Settings a test changes.
  bool nt = true;
  std::optional<std::string> exePath = std::string("C:\\Tools\\NOXWINGUI.exe");
  bool startFailsAlreadyRunning = false;
  bool vxdOpens = true;
  int lingerAfterDelete = 0;  // "open service" polls that still succeed after deletion

  // What happened: every call in order (a file write with its content), the files there now,
  // the services, and the manager, service and device handles not closed yet.
  std::vector<std::string> calls;
  std::set<std::string> files;
  std::map<std::string, Service> services;
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

  PortHandle OpenServiceManager(uint32_t) override {
    calls.push_back("open-manager");
    return Track("manager");
  }
  PortHandle CreateKernelService(PortHandle manager, const std::string& name, const std::string& path) override {
    calls.push_back("create " + name);
    if (handles[manager] != "manager" || services.count(name)) return 0;
    services[name] = Service{path};
    return Track(name);
  }
  PortHandle OpenNamedService(PortHandle manager, const std::string& name, uint32_t) override {
    auto it = services.find(name);
    bool ok = handles[manager] == "manager" && it != services.end();
    if (ok && it->second.markedForDelete && lingering_-- <= 0) {
      services.erase(it);
      ok = false;
    }
    calls.push_back("open-service " + name + (ok ? "" : " failed"));
    return ok ? Track(name) : 0;
  }
  bool StartNamedService(PortHandle service, uint32_t& lastError) override {
    calls.push_back("start");
    Service& s = services.at(handles.at(service));
    if (s.running || startFailsAlreadyRunning) {
      s.running = true;
      lastError = 1056;
      return false;
    }
    s.running = files.count(s.imagePath) == 1;  // the driver file must be there to load
    return s.running;
  }
  bool StopService(PortHandle service) override {
    calls.push_back("stop");
    return std::exchange(services.at(handles.at(service)).running, false);
  }
  bool DeleteNamedService(PortHandle service) override {
    calls.push_back("delete-service");
    services.at(handles.at(service)).markedForDelete = true;
    lingering_ = lingerAfterDelete;
    return true;
  }
  void CloseServiceHandle(PortHandle handle) override { handles.erase(handle); }

  PortHandle OpenDevice(const std::string& path, uint32_t, uint32_t, uint32_t, uint32_t flags) override {
    calls.push_back("open-device " + path + (flags == 0x04000000 ? " delete-on-close" : ""));
    const auto it = services.find("GENERICDRV");
    if (nt ? it == services.end() || !it->second.running : !vxdOpens) return 0;
    return Track("device");
  }
  bool CloseDevice(PortHandle device) override {
    calls.push_back("close-device");
    return handles.erase(device) == 1;
  }
  bool Control(PortHandle, uint32_t, std::span<uint8_t>, uint32_t&) override { return false; }
  std::span<uint8_t> Memory(uint64_t, size_t) override { return {}; }

 private:
  PortHandle Track(const std::string& name) {
    handles[next_] = name;
    return next_++;
  }
  PortHandle next_ = 100;
  int lingering_ = 0;
};

}  // namespace nox::firmware::testing
