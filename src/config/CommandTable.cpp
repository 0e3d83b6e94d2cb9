#include "config/CommandTable.h"

#include <iterator>

namespace nox::config {
namespace {

constexpr CommandDeclaration kBuiltInCommands[] = {
    {3, "p", 0x03, "Program main BIOS image"},
    {4, "b", 0x03, "Program Boot Block"},
    {5, "n", 0x03, "Program NVRAM"},
    {6, "c", 0x02, "Destroy CMOS checksum"},
    {7, "e", 0x03, "Program Embedded Controller Block"},
    {8, "K", 0x03, "Program all non-critical blocks"},
    {9, "KN[0-7]", 0x03, "Program n'th non-critical block only"},
    {1, "i", 0x09, "ROM filename"},
    {2, "o", 0x03, "Save current BIOS into file"},
    {10, "q", 0x03, "Silent execution"},
    {11, "reboot", 0x03, "Reboot after programming"},
    {12, "x", 0x03, "Don't Check ROM ID"},
    {13, "x:", 0x09,
     "ROM ID check with user defined length.+X:n [n=1-N]+Example: /X:8 - indicates flash utility "
     "will check ROM ID+with 8 ascii characters in length."},
    {29, "sw", 0x01, "Show Warning Messages."},
    {14, "u", 0x03, "Display ROM file's ROMID"},
    {15, "s", 0x03, "Display current system's ROMID"},
    {16, "LN[0-3]", 0x02,
     "Load CMOS defaults:+L0: Load current optimal+L1: Load current failsafe+L2: Load optimal from "
     "ROM file+L3: Load failsafe from ROM file"},
    {17, "m", 0x0A,
     "Update bootblock MAC address if it exists+Example: /M1234ABCD will update MAC to 1234ABCD"},
    {18, "r", 0x0B, "Preserve ALL SMBIOS structure during BB programming"},
    {19, "RN[0-255]", 0x03, "Preserve SMBIOS type N during BB programming"},
    {21, "retry:", 0x09, "Maximum retry"},
    {25, "h|?", 0x01, "Print help"},
    {20, "chgver:", 0x29, "Change Flash Utility Version."},
    {30, "cfgbhv:", 0x09,
     "NOXWIN Default Configure Behaviour:+0 Check Box checked and unchangeable+1 Check Box checked "
     "and changeable"},
    {31, "makedrv", 0x00,
     "Make NOXLNX driver with user defined environment+Example: /MAKEDRV "
     "KERNEL=/lib/modules/$(uname -r)/build"},
    {32, "gendrv", 0x00,
     "Generate NOXLNX driver source files to specific directory.+[Option 1]: Specific kernel source "
     "'KERNEL=XXXX'+            same as the /MAKEDRV+[Option 2]: Specific output directory "
     "'OUTPUT=XXXX'+Example: /GENDRV KERNEL=/usr/src OUTPUT=./driver"},
    {33, "mai", 0x02, "Disaply System ROM and ROM file's MA information"},
    {34, "ecuf", 0x03, "Update EC BIOS when newer version is detected."},
    {35, "oemsmi:", 0x09, "Send OEM specific SMI according to given Hex value."},
    {51, "notaver=", 0x09, "Can't flash to this version."},
    {52, "notxver=", 0x09, "Can't flash to this version."},
    {36, "shutdown", 0x03, "Shutdown after programming."},
    {28, "d", 0x03, "Verification test of given ROM File without flashing BIOS."},
    {37, "hole:", 0x0B, "Update specific ROM Hole according to RomHole GUID.+NewRomHole1.BIN /HOLE:RomH1"},
    {39, "sp", 0x03, "Preserve Setup setting."},
    {41, "meuf", 0x03, "Program ME Ignition Firmware Block."},
    {40, "ec", 0x03, "Program Embedded Controller Block. (Flash Type)"},
    {42, "me", 0x03, "Program ME Entire Firmware Block."},
    {53, "capsule", 0x03, "The command to trigger flash by Capsule."},
    {54, "recovery", 0x03, "The command to trigger flash by Recovery."},
    {46, "caf", 0x03,
     "Compare ROM file's data with Systems is different or +not, if not then cancel related update."},
    {55, "ndwaver=", 0x09, "Can't flash to this version."},
    {56, "sysext", 0x01, "Check System Extern Id List"},
    {57, "mefwupdlcl", 0x01, "Program ME Block By Intel FwUpdLcl tool."},
};

}  // namespace

std::span<const CommandDeclaration> BuiltInCommands() { return kBuiltInCommands; }

ArgumentKind KindOf(const CommandRecord& record) {
  if (!record.Available()) return ArgumentKind::kNone;
  if (!record.name.empty() && record.name[0] >= 'A' && record.name[0] <= 'Z') {
    return ArgumentKind::kLetterDigit;
  }
  if (record.status & status::kTakesValue) return ArgumentKind::kNameWithValue;
  if (!(record.status & status::kKeepsCase)) return ArgumentKind::kExactSwitch;
  return ArgumentKind::kNone;
}

}  // namespace nox::config
