// How the Information page names a firmware: its version, model and model codes, read from
// the marker blocks of the running firmware or of a ROM file in the same way, so that the
// two can be compared side by side.
#pragma once

#include "app/Session.h"
#include "ui/InformationPageModel.h"

namespace nox::app {

ui::FirmwareIdentityText RunningIdentityText(const Session& s);
// The image in use; its identity has been read from its identity file.
ui::FirmwareIdentityText FileIdentityText(const Session& s);

}  // namespace nox::app
