// Before a region is written, the machine's own ROM hole contents that the user did not
// pick for updating are carried into the image, so that writing whole blocks keeps them.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "core/Progress.h"
#include "firmware/SmiFlash.h"
#include "image/FlashLayout.h"
#include "image/RegionSelection.h"

namespace nox::image {

// Reads the machine's whole flash through the firmware (each request reported to
// `onReading`), matches its ROM holes one for one (name, size, order) against the image's
// and records where each lies in the flash, then copies the machine's bytes of every hole
// not to be updated into `image`. True when done or when nothing was needed; false when
// the flash could not be read or its holes do not match the image's, and then the image
// is left as it was. A hole of the image that is nowhere in the flash any more (an
// interrupted update erased it) keeps the image's contents; `onLostHole` hears of each
// such hole that was to keep the machine's.
using LostHoleCallback = std::function<void(const HoleRecord&)>;
bool PrepareNcbsForWriting(FlashLayout& layout, const RegionSelection& selection, std::span<uint8_t> image,
                           firmware::SmiFlash& smi, const core::ProgressCallback& onReading,
                           const LostHoleCallback& onLostHole = {});

}  // namespace nox::image
