#include "package/ExtractionRuns.h"

#include <array>
#include <utility>

#include "core/CText.h"
#include "core/Format.h"
#include "package/Package.h"

namespace nox::package {
namespace {

using config::ModuleSlotId;

struct DriverModule {
  const char* tag;
  ModuleSlotId slot;
  uint8_t bit;
};
constexpr std::array<DriverModule, 3> kDriverModules{{
    {"@VXD", ModuleSlotId::kVxd, config::driver_bit::kVxd},
    {"@W32", ModuleSlotId::kW32, config::driver_bit::kW32},
    {"@W64", ModuleSlotId::kW64, config::driver_bit::kW64},
}};

// Opens the package for one run and closes it when the run ends.
class OpenedPackage {
 public:
  explicit OpenedPackage(const std::string& path) { ok_ = OpenPackage(package_, path) == kPackageOk; }
  ~OpenedPackage() { ClosePackage(package_); }
  OpenedPackage(const OpenedPackage&) = delete;
  OpenedPackage& operator=(const OpenedPackage&) = delete;

  bool Ok() const { return ok_; }

  // Replaces the slot's content when the module can be taken out.
  bool Fill(std::string_view tag, config::ModuleSlot& slot) const {
    ExtractedModule module;
    if (ExtractModule(package_, tag, module) != 0) return false;
    slot.data = std::move(module.data);
    slot.size = module.size;
    return true;
  }

  std::optional<std::string> Text(std::string_view tag) const {
    ExtractedModule module;
    if (ExtractModule(package_, tag, module) != 0) return std::nullopt;
    return std::string(core::BoundedCString(core::ByteSpan(module.data).first(module.size), 0));
  }

 private:
  Package package_;
  bool ok_ = false;
};

}  // namespace

std::string RomTag(uint32_t romNumber) { return core::Format("@R%02u", romNumber); }
std::string EcTag(uint32_t romNumber) { return core::Format("@EC%1u", romNumber % 10); }
std::string MeTag(uint32_t romNumber) { return core::Format("@ME%1u", romNumber % 10); }

bool ExtractDriverModules(const std::string& path, config::ModuleSlots& slots) {
  OpenedPackage package(path);
  if (!package.Ok()) return false;
  for (const DriverModule& d : kDriverModules)
    if (package.Fill(d.tag, slots[d.slot])) slots.driverMask |= d.bit;
  return true;
}

std::optional<std::string> ExtractCommandScript(const std::string& path) {
  OpenedPackage package(path);
  if (!package.Ok()) return std::nullopt;
  return package.Text("@CMD");
}

std::optional<std::string> ExtractPackageModules(const std::string& path, uint32_t romNumber,
                                                 config::ModuleSlots& slots) {
  OpenedPackage package(path);
  if (!package.Ok()) return std::nullopt;
  package.Fill(RomTag(romNumber), slots[ModuleSlotId::kRom]);
  package.Fill(EcTag(romNumber), slots[ModuleSlotId::kEc]);
  package.Fill(MeTag(romNumber), slots[ModuleSlotId::kMe]);
  package.Fill("@MET", slots[ModuleSlotId::kMeTool]);
  package.Fill("@MEC", slots[ModuleSlotId::kMeToolArgs]);
  for (const DriverModule& d : kDriverModules)
    if (!(slots.driverMask & d.bit) && package.Fill(d.tag, slots[d.slot])) slots.driverMask |= d.bit;
  return package.Text("@CMD");
}

bool RefillRomModules(const std::string& path, uint32_t romNumber, config::ModuleSlots& slots) {
  OpenedPackage package(path);
  if (!package.Ok()) return false;
  for (ModuleSlotId id : {ModuleSlotId::kRom, ModuleSlotId::kEc, ModuleSlotId::kMe}) slots[id].Clear();
  package.Fill(RomTag(romNumber), slots[ModuleSlotId::kRom]);
  package.Fill(EcTag(romNumber), slots[ModuleSlotId::kEc]);
  package.Fill(MeTag(romNumber), slots[ModuleSlotId::kMe]);
  return true;
}

}  // namespace nox::package
