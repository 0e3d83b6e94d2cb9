#include "platform/sim/Presets.h"

#include <nlohmann/json.hpp>

namespace nox::sim {
namespace {

Profile Legacy8m() {
  Profile p;
  p.name = "legacy-8m";
  p.uefi = false;
  p.flash.size = 0x800000;
  p.flash.replyVersion = 11;
  p.flash.ecVersionOffset = 0x100;
  p.flash.ecVersionMask = 0x00FFFFFF;
  p.flash.blocks = {
      {0x000000, 0x010000, 0x80}, {0x010000, 0x010000, 0x81}, {0x020000, 0x020000, 2},
      {0x040000, 0x020000, 3},    {0x060000, 0x3C0000, 1},    {0x420000, 0x3C0000, 1},
      {0x7E0000, 0x020000, 0},
  };
  p.fadt = {true, 0xB2};
  p.asf = {true, 0xB2, 16, 0x120};
  p.ecb.present = true;
  p.ecb.offset = 0x200;
  p.ecb.flags = 0x01;
  p.ecb.ecBlockStart = 0x040000;
  p.ecb.ecBlockSize = 0x020000;
  p.ecb.ecVersionOffset = 0x100;
  p.ecb.ecVersionMask = 0x00FFFFFF;
  p.ecb.messages = {"The battery is too weak to update the firmware.",
                    "The firmware update is locked by the administrator.",
                    "Close the lid sensor override before updating.",
                    "This firmware cannot be updated on this platform."};
  p.ecb1 = {true, 0x300, 0x0000, 0, 0};
  p.ec.version = 0x00010200;
  p.identity.version = "A06";
  p.identity.systemId = 0x9A;
  p.identity.extendedId = 0x1234;
  p.identity.extensionIds = {0x1235, 0x1236};
  p.identity.names = {"Korv 9A", "Korv 9A Pro"};
  p.identity.systemName = "Korv 9A";
  p.identity.placement = IdentityPlacement::Segment;
  p.ofbdVersion = 0x0210;
  return p;
}

Profile Uefi16m() {
  Profile p;
  p.name = "uefi-16m";
  p.uefi = true;
  p.flash.size = 0x1000000;
  p.flash.replyVersion = 12;
  p.flash.ecVersionOffset = 0x200;
  p.flash.ecVersionMask = 0xFFFFFFFF;
  p.flash.blocks = {
      {0x000000, 0x040000, 2},    {0x040000, 0x020000, 0x80}, {0x060000, 0xF00000, 1},
      {0xF60000, 0x020000, 3},    {0xF80000, 0x080000, 0},
  };
  // No "$ASF": once the firmware is opened the utility falls back to 0xB2, so a FADT that
  // named another port would leave the handler unreachable after the probe.
  p.fadt = {true, 0xB2};
  p.asf.present = false;
  p.ecb.present = false;
  p.ecb1.present = false;
  p.ec.version = 0x00020001;
  p.identity.version = "B12";
  p.identity.systemId = 0xFE;
  p.identity.extendedId = 0x2A51;
  p.identity.extensionIds = {0x2A52};
  p.identity.names = {"Korv Tablet 16", "Korv Tablet 16 LTE"};
  p.identity.systemName = "Korv Tablet 16";
  p.identity.placement = IdentityPlacement::Oem;
  p.oem.identity = true;
  p.oem.platformFlags = true;
  p.oem.updatePermission = 0;
  p.oem.nameIndex = 1;
  p.oem.protectionCheck = true;
  p.oem.adminPassword = true;
  p.oem.passwordMaxLength = 16;
  p.ofbdVersion = 0x0220;
  return p;
}

// A UEFI machine whose firmware updates itself: the utility hands it a signed image and may
// write only that image, inside a session, or leaves the update to the next boot.
Profile Secure16m() {
  Profile p = Uefi16m();
  p.name = "secure-16m";
  p.ec.version = 0x00030004;
  p.identity.version = "S03";
  p.identity.systemId = 0xE7;
  p.identity.extendedId = 0x3C10;
  p.identity.extensionIds = {0x3C11};
  p.identity.names = {"Korv Secure 16", "Korv Secure 16 Pro"};
  p.identity.systemName = "Korv Secure 16";
  p.ofbdVersion = 0x0230;
  p.secureFlash.capable = true;
  p.secureFlash.requireSigned = true;
  return p;
}

// A 16 MiB chip whose first 8 MiB hold the flash descriptor and the management engine's
// region; the firmware's 8 MiB follow. The embedded controller has a flash of its own that the
// firmware rewrites through EC transfers.
Profile Me16m() {
  Profile p = Uefi16m();
  p.name = "me-16m";
  p.flash.size = 0x800000;
  p.flash.blocks = {
      {0x000000, 0x040000, 2}, {0x040000, 0x020000, 0x80}, {0x060000, 0x700000, 1},
      {0x760000, 0x020000, 3}, {0x780000, 0x080000, 0},
  };
  p.ec.version = 0x00040002;
  p.identity.version = "M05";
  p.identity.systemId = 0x4D;
  p.identity.extendedId = 0x4D45;
  p.identity.extensionIds = {0x4D46};
  p.identity.names = {"Korv Work 14", "Korv Work 14 Plus"};
  p.identity.systemName = "Korv Work 14";
  p.ofbdVersion = 0x0240;
  p.me = {true, 0x800000, 0x1000, 0x7FF000, true, true, {}};
  p.ecFlash = {true, 0x20000, {}};
  return p;
}

Profile Minimal1m() {
  Profile p;
  p.name = "minimal-1m";
  p.uefi = false;
  p.flash.size = 0x100000;
  p.flash.replyVersion = 10;
  p.flash.blocks = {{0x000000, 0x0E0000, 1}, {0x0E0000, 0x020000, 0}};
  p.fadt = {true, 0xB2};
  p.asf.present = false;
  p.identity.version = "A01";
  p.identity.systemId = 0x31;
  p.identity.extendedId = 0x0031;
  p.identity.names = {"Korv Mini"};
  p.identity.systemName = "Korv Mini";
  p.ofbdVersion = 0;
  return p;
}

}  // namespace

std::vector<std::string> PresetNames() { return {"legacy-8m", "uefi-16m", "secure-16m", "me-16m", "minimal-1m"}; }

std::optional<Profile> MakePreset(std::string_view name) {
  if (name == "legacy-8m") return Legacy8m();
  if (name == "uefi-16m") return Uefi16m();
  if (name == "secure-16m") return Secure16m();
  if (name == "me-16m") return Me16m();
  if (name == "minimal-1m") return Minimal1m();
  return std::nullopt;
}

std::string ApplySetting(nlohmann::json& profile, std::string_view assignment) {
  const size_t eq = assignment.find('=');
  if (eq == std::string_view::npos || eq == 0) {
    return "\"" + std::string(assignment) + "\": expected key=value";
  }
  const std::string key(assignment.substr(0, eq));
  const std::string text(assignment.substr(eq + 1));
  nlohmann::json* node = &profile;
  size_t pos = 0;
  while (pos <= key.size()) {
    const size_t dot = std::min(key.find('.', pos), key.size());
    const std::string part = key.substr(pos, dot - pos);
    if (node->is_object() && node->contains(part)) {
      node = &(*node)[part];
    } else if (node->is_array() && !part.empty() &&
               part.find_first_not_of("0123456789") == std::string::npos && part.size() < 9 &&
               std::stoul(part) < node->size()) {
      node = &(*node)[std::stoul(part)];
    } else {
      return key + ": no such field";
    }
    pos = dot + 1;
  }
  nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
  if (value.is_discarded()) value = text;
  *node = value;
  return "";
}

}  // namespace nox::sim
