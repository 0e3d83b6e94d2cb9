// The ME region programmed between the firmware's begin and end requests, from the image
// the check at start-up found: the bare region, or the front of a full-flash image.
#pragma once

#include <cstdint>

#include "app/Session.h"
#include "ui/MainDialog.h"

namespace nox::app {

// 0, or the error of the begin request, the programming or the end request.
uint32_t UpdateMe(Session& s, ui::FlashDialog& dialog);

}  // namespace nox::app
