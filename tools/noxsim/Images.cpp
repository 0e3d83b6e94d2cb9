#include "Images.h"

#include <iostream>

#include "Common.h"
#include "core/Format.h"
#include "platform/sim/Capsule.h"
#include "platform/sim/Machine.h"
#include "platform/sim/RomImage.h"

namespace noxsim {
namespace {

using namespace nox::sim;
using nox::core::Format;

// The one-line reason why the capsule and ME options given make no image, or empty.
std::string CapsuleConflict(const RomArgs& a) {
  if (a.capsule && a.capsuleInside) return "--capsule and --capsule-inside: choose one";
  if (a.markerOnly && (a.capsule || a.capsuleInside || a.unsignedImage || a.damaged)) {
    return "--marker-only makes an image without a capsule header: it takes no other capsule option";
  }
  if ((a.unsignedImage || a.damaged) && !a.capsule && !a.capsuleInside) {
    return "--unsigned and --damaged need --capsule or --capsule-inside";
  }
  if (a.unsignedImage && a.damaged) return "--damaged spoils a signed image: not with --unsigned";
  if (a.meFull && a.meRegion) return "--me-full and --me-region: choose one";
  if (a.noFid && !a.meFull) return "--no-fid leaves the marker out of a full-chip image: it needs --me-full";
  if ((a.meFull || a.meRegion) && (a.capsule || a.capsuleInside || a.markerOnly)) {
    return "--me-full and --me-region make images without a capsule header";
  }
  return "";
}


}  // namespace

int Rom(const std::string& dir, const RomArgs& a) {
  if (const std::string conflict = CapsuleConflict(a); !conflict.empty()) {
    std::cerr << "noxsim: " << conflict << "\n";
    return kExitUsage;
  }
  std::string error;
  auto machine = OpenMachine(dir, error, Machine::Access::kLook);
  if (!machine) return Failed(error);
  const Profile& p = machine->GetProfile();
  if ((a.meFull || a.meRegion) && !p.me.present) return Failed("this machine has no ME region (me.present is false)");
  if (a.meRegion) {
    const std::vector<uint8_t> front = MeFront(p, a.seed);
    if (!WriteBytes(a.output, std::span(front).subspan(p.me.regionStart, p.me.regionSize), error)) return Failed(error);
    std::cout << Format("%s: %u bytes, ME region (seed %llu)\n", a.output.c_str(), p.me.regionSize,
                        static_cast<unsigned long long>(a.seed));
    return kExitOk;
  }
  RomOptions o = RunningRomOptions(p);
  if (a.version.empty()) {
    auto next = NextVersion(o.version);
    if (!next) return Failed("the running version " + o.version + " has no next version; give --version");
    o.version = *next;
  } else {
    if (a.version.size() != 3) return Failed("--version: give three characters, like A07");
    o.version = a.version;
  }
  if (!a.systemId.empty()) {
    auto v = Number(a.systemId, 0xFF);
    if (!v) return Failed("--system-id: not a number from 0 to 0xFF");
    o.systemId = static_cast<uint8_t>(*v);
  }
  if (!a.extId.empty()) {
    auto v = Number(a.extId, 0xFFFF);
    if (!v) return Failed("--ext-id: not a number from 0 to 0xFFFF");
    o.extendedId = static_cast<uint16_t>(*v);
  }
  if (!a.ecVersion.empty()) {
    auto v = Number(a.ecVersion, 0xFFFFFFFF);
    if (!v) return Failed("--ec-version: not a 32-bit number");
    o.ecVersion = static_cast<uint32_t>(*v);
  } else {
    o.ecVersion = p.ec.version + 1;
  }
  if (!a.names.empty()) o.names = a.names;
  for (const std::string& n : o.names) {
    if (n.empty() || n.size() > 19) return Failed("--name: 1 to 19 characters");
  }
  o.holes = a.holes;
  o.seed = a.seed;
  const bool withCapsule = a.capsule || a.capsuleInside || a.markerOnly;
  CapsuleOptions c;
  c.form = a.capsule ? CapsuleForm::Leading : a.capsuleInside ? CapsuleForm::Inside : CapsuleForm::MarkerOnly;
  c.sign = !a.unsignedImage;
  c.damage = a.damaged;
  o.fidMarker = !a.noFid;
  RomResult rom = withCapsule ? BuildCapsuleImage(p, o, c) : a.meFull ? BuildChipImage(p, o) : BuildRomImage(p, o);
  if (!rom.error.empty()) return Failed(rom.error);
  if (!WriteBytes(a.output, rom.image, error)) return Failed(error);
  std::string form;
  if (a.capsule) form = Format(", capsule header of %u bytes in front", static_cast<unsigned>(rom.image.size() - p.flash.size));
  if (a.capsuleInside) form = ", capsule header inside";
  if (withCapsule && !a.markerOnly) form += a.unsignedImage ? " (unsigned)" : a.damaged ? " (signed, damaged)" : " (signed)";
  if (a.markerOnly) form = ", marker file without a capsule header";
  if (a.meFull) form = a.noFid ? ", full chip without the \"$FID\" marker" : ", full chip";
  std::cout << Format("%s: %u bytes, version %s, system ID 0x%02X, extended ID 0x%04X%s\n", a.output.c_str(),
                      static_cast<unsigned>(rom.image.size()), o.version.c_str(), o.systemId, o.extendedId, form.c_str());
  return kExitOk;
}

int Ec(const std::string& dir, const std::string& output, const std::string& sizeText, uint64_t seed) {
  std::string error;
  auto machine = OpenMachine(dir, error, Machine::Access::kLook);
  if (!machine) return Failed(error);
  const EcFlashProfile& ec = machine->GetProfile().ecFlash;
  if (!ec.present) return Failed("this machine's EC has no flash of its own (ecFlash.present is false)");
  uint32_t size = ec.size;
  if (!sizeText.empty()) {
    const auto v = Number(sizeText, 64u << 20);
    if (!v || *v == 0) return Failed("--size: a number of bytes from 1 to 64 MiB");
    size = static_cast<uint32_t>(*v);
  }
  if (!WriteBytes(output, EcFirmwareImage(size, seed), error)) return Failed(error);
  std::cout << Format("%s: %u bytes of EC firmware (seed %llu), the EC flash holds %u%s\n", output.c_str(), size,
                      static_cast<unsigned long long>(seed), ec.size, size > ec.size ? ": too large" : "");
  return kExitOk;
}

}  // namespace noxsim
