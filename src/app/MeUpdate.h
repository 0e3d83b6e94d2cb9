// The ME region programmed between the firmware's begin and end requests, from the image
// the check at start-up found: the bare region, or the front of a full-flash image.
#pragma once

#include <cstdint>

#include "app/Session.h"
#include "ui/MainDialog.h"

namespace nox::app {

// 0, or the error of the begin request, the programming or the end request.
uint32_t UpdateMe(Session& s, ui::FlashDialog& dialog);

// Whether the chip holds what UpdateMe would write, read between the same begin and end
// requests; false when the firmware does not open the range.
bool MeRegionHoldsImage(Session& s);

}  // namespace nox::app
