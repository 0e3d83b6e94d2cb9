// The four times start-up takes modules out of the package. Each run opens the package of
// the program's file, fills module slots, and closes it again; a package that cannot be
// opened leaves every slot as it was.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "config/ModuleSlots.h"

namespace nox::package {

// The tags of the modules that belong to a ROM number: "@R%02d", "@EC%1d", "@ME%1d" (the
// last two with the number's last digit).
std::string RomTag(uint32_t romNumber);
std::string EcTag(uint32_t romNumber);
std::string MeTag(uint32_t romNumber);

// Fills the driver slots from "@VXD", "@W32" and "@W64" and sets their bits in the driver
// mask. Returns false when the package could not be opened.
bool ExtractDriverModules(const std::string& path, config::ModuleSlots& slots);

// The command script text of "@CMD" (up to its first zero byte), or none.
std::optional<std::string> ExtractCommandScript(const std::string& path);

// The modules of `romNumber` ("@R..", "@EC.", "@ME."), "@MET", "@MEC" and the driver
// modules whose mask bit is clear. Each module found replaces its slot; a missing one
// leaves the slot alone. Returns the "@CMD" text when there is one.
std::optional<std::string> ExtractPackageModules(const std::string& path, uint32_t romNumber,
                                                 config::ModuleSlots& slots);

// Moving to another ROM number: empties the ROM, EC and ME slots and fills them for
// `romNumber`; a module that is missing leaves its slot empty. When the package cannot be
// opened nothing changes and the result is false.
bool RefillRomModules(const std::string& path, uint32_t romNumber, config::ModuleSlots& slots);

}  // namespace nox::package
