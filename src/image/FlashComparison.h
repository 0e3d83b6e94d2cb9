// Whether the flash part already holds an image: what tells a finished update of a version
// from one that was cut off halfway, after which the machine may already run that version.
#pragma once

#include <optional>

#include "core/Bytes.h"
#include "image/FlashLayout.h"
#include "image/RegionSelection.h"

namespace nox::image {

// True when every block the selection writes (main BIOS, boot block, EC, NCBs) holds the
// image's bytes, apart from what an update keeps from the machine: the unselected ROM holes
// and the boot block's SMBIOS area. None when the flash cannot be read.
std::optional<bool> FlashHoldsImage(const FlashLayout& layout, const RegionSelection& selection, core::ByteSpan image,
                                    const FlashLayout::FlashReader& readFlash);

}  // namespace nox::image
