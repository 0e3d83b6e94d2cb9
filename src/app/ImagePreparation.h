// What is carried from the machine into the image before it is written: the ROM holes the
// user keeps and the SMBIOS area. The flash run does it on the way to the engine; on
// firmware that programs the flash itself it is done before the image is handed over.
#pragma once

#include "app/Session.h"
#include "core/Progress.h"

namespace nox::app {

// Copies the machine's kept ROM holes into the image for the session's selection; false
// when the flash could not be read or its holes do not match the image's.
bool PrepareNcbs(Session& s, const core::ProgressCallback& onReading);

// Saves the machine's SMBIOS area and writes it into the image. A flash that cannot be
// read or no memory ends the session.
void CarryMachineSmbiosIntoImage(Session& s);

// Whether the flash part holds `image` in every region the options select (what the machine
// keeps of its own aside) and in the ME region when that is selected; also true when the part
// cannot be read, as nothing tells otherwise. Never true for a package with EC firmware.
bool PartHoldsImage(Session& s, std::span<const uint8_t> image);

}  // namespace nox::app
