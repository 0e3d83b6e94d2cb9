#include "firmware/IoDriver.h"

#include <array>

#include "core/Bytes.h"

namespace nox::firmware {

using namespace driver;

IoDriver::IoDriver(DriverPort& port, const config::ModuleSlots& modules, bool wideBuild)
    : port_(port), modules_(modules), wideBuild_(wideBuild) {}

namespace {

std::span<const uint8_t> ModuleBytes(const config::ModuleSlot& slot) {
  return std::span<const uint8_t>(slot.data).first(std::min<size_t>(slot.size, slot.data.size()));
}

}  // namespace

bool IoDriver::LoadIoDriver() {
  if (loaded_) return true;
  platformIsNt_ = port_.PlatformIsNt();
  return platformIsNt_ ? LoadNt() : LoadVxd();
}

bool IoDriver::LoadNt() {
  const auto exe = port_.OwnExecutablePath();
  if (!exe) return false;
  // The driver goes next to the executable. Windows paths use backslashes; the POSIX
  // build of the same logic runs with forward slashes.
  const size_t cut = exe->find_last_of("\\/");
  if (cut == std::string::npos) return false;
  driverFile_ = exe->substr(0, cut + 1) + "orufldrv" + (wideBuild_ ? "64.sys" : "32.sys");

  const auto& module = modules_[wideBuild_ ? config::ModuleSlotId::kW64 : config::ModuleSlotId::kW32];
  port_.WriteWholeFile(driverFile_, ModuleBytes(module));  // a failure shows when the device won't open

  if (PortHandle manager = port_.OpenServiceManager(kManagerAllAccess)) {
    StopService(manager);
    RemoveService(manager);
    port_.CloseServiceHandle(manager);
  }

  PortHandle device = 0;
  if (PortHandle manager = port_.OpenServiceManager(kManagerAllAccess)) {
    RemoveService(manager);
    if (PortHandle service = port_.CreateKernelService(manager, kServiceName, driverFile_)) {
      port_.CloseServiceHandle(service);
    }
    if (PortHandle service = port_.OpenNamedService(manager, kServiceName, kServiceAllAccess)) {
      uint32_t error = 0;
      port_.StartNamedService(service, error);  // already running (1056) is as good as started
      port_.CloseServiceHandle(service);
    }
    device = OpenNtDevice();
    port_.CloseServiceHandle(manager);
  }
  if (!device) return false;

  port_.RemoveFile(driverFile_);
  device_ = device;
  loaded_ = true;
  return true;
}

bool IoDriver::LoadVxd() {
  driverFile_ = port_.CurrentDirectoryPrefix() + "orufldrv.vxd";
  port_.WriteWholeFile(driverFile_, ModuleBytes(modules_[config::ModuleSlotId::kVxd]));
  PortHandle device = port_.OpenDevice("\\\\.\\orufldrv.vxd", 0, 0, 0, 0);
  if (!device) device = port_.OpenDevice(std::string("\\\\.\\") + kServiceName, 0, 0, 0, kDeleteOnClose);
  if (!device) return false;
  port_.RemoveFile(driverFile_);
  device_ = device;
  loaded_ = true;
  return true;
}

PortHandle IoDriver::OpenNtDevice() {
  const std::string path =
      std::string(port_.MajorVersion() < 5 ? "\\\\.\\" : "\\\\.\\Global\\") + kServiceName;
  return port_.OpenDevice(path, kGenericReadWrite, 0, kOpenExisting, kAttributeNormal);
}

bool IoDriver::StopService(PortHandle manager) {
  const PortHandle service = port_.OpenNamedService(manager, kServiceName, kServiceAllAccess);
  if (!service) return false;
  const bool stopped = port_.StopService(service);
  port_.CloseServiceHandle(service);
  return stopped;
}

bool IoDriver::RemoveService(PortHandle manager) {
  const PortHandle service = port_.OpenNamedService(manager, kServiceName, kServiceAllAccess);
  if (!service) return false;
  const bool deleted = port_.DeleteNamedService(service);
  port_.CloseServiceHandle(service);
  // The manager removes a deleted service only once its last handle is gone; wait for that.
  for (int i = 0; i < kServiceVanishTries; ++i) {
    const PortHandle again = port_.OpenNamedService(manager, kServiceName, kServiceAllAccess);
    if (!again) break;
    port_.CloseServiceHandle(again);
  }
  return deleted;
}

bool IoDriver::UnloadIoDriver() {
  if (!device_) return true;
  const PortHandle device = device_;
  device_ = 0;
  loaded_ = false;
  if (!platformIsNt_) return port_.CloseDevice(device);
  port_.CloseDevice(device);
  const PortHandle manager = port_.OpenServiceManager(kManagerAllAccess);
  if (!manager) return false;
  StopService(manager);
  const bool removed = RemoveService(manager);
  port_.CloseServiceHandle(manager);
  return removed;
}

bool IoDriver::Request(uint32_t code, std::span<uint8_t> record, uint32_t& bytesReturned) {
  bytesReturned = 0;
  if (!device_) return false;
  if (requestHook_) requestHook_();
  return port_.Control(device_, code, record, bytesReturned);
}

std::optional<SharedBlock> IoDriver::AllocSharedBlock(uint32_t size) {
  std::array<uint8_t, kAllocateRecordSize> record{};
  core::StoreLe32(&record[0], size);
  uint32_t returned = 0;
  if (!Request(Code(kNtAllocate, kVxdAllocate), record, returned)) return std::nullopt;
  // The driver answers with a 32-bit program address that is sign-extended to a pointer.
  const auto address = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(core::LoadLe32(&record[4]))));
  const uint32_t physical = core::LoadLe32(&record[8]);
  const std::span<uint8_t> memory = port_.Memory(address, size);
  if (address == 0 || memory.size() != size) return std::nullopt;
  currentBlockPhysical_ = physical;
  return SharedBlock{memory, physical};
}

bool IoDriver::ReleaseSharedBlock(uint32_t /*physical*/, uint32_t /*size*/) {
  std::array<uint8_t, kReleaseRecordSize> record{};
  uint32_t returned = 0;
  Request(Code(kNtRelease, kVxdRelease), record, returned);
  currentBlockPhysical_ = 0;
  return true;
}

std::span<uint8_t> IoDriver::MapPhysical(uint32_t physical, uint32_t length) {
  std::array<uint8_t, kMapRecordSize> record{};
  core::StoreLe32(&record[8], length);
  core::StoreLe32(&record[12], physical);
  uint32_t returned = 0;
  if (!Request(Code(kNtMap, kVxdMap), record, returned) || returned == 0) return {};
  const uint64_t address = core::LoadLe64(&record[16]);
  if (address == 0) return {};
  const std::span<uint8_t> view = port_.Memory(address, length);
  return view.size() == length ? view : std::span<uint8_t>{};
}

bool IoDriver::WritePort(uint16_t port, uint32_t /*width*/, uint8_t value) {
  std::array<uint8_t, kWritePortRecordSize> record{};
  core::StoreLe32(&record[0], port);
  core::StoreLe32(&record[4], 1);  // I/O port space
  core::StoreLe32(&record[8], 0);
  record[12] = value;
  core::StoreLe32(&record[16], currentBlockPhysical_);
  uint32_t returned = 0;
  return Request(Code(kNtWritePort, kVxdWritePort), record, returned);
}

}  // namespace nox::firmware
