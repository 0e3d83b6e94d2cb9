#include "policy/PowerSource.h"

#include <string>

#include "core/Format.h"

namespace nox::policy {
namespace {
constexpr uint16_t kPowerMissing = 0x0003;
constexpr uint16_t kBatteryLow = 0x0004;
}  // namespace

int CheckPowerSource(PolicyEnv& env, const SystemIdentity& identity) {
  env.info.RefreshEcbFlags();
  const uint16_t flags = env.info.EcbFlags();
  const char* text = nullptr;
  // The charge is only looked at once the adapter and battery are both in.
  if (flags & kPowerMissing) {
    text =
        "The AC adapter and Battery must be plugged in before the system BIOS\ncan be flashed.Press OK when they are "
        "both plugged in or CANCEL to quit.";
  } else if (flags & kBatteryLow) {
    text =
        "The Battery must be charged above 10 percent before the system BIOS can be flashed.\nPress OK when the "
        "Battery is charged or CANCEL to quit.";
  } else {
    return 1;
  }
  const std::string title = core::Format("%s", std::string(identity.currentSystemName.Text()).c_str());
  if (env.ui.MessageBox(text, title, ui::style::kOkCancel) != ui::Button::kOk) env.session.EndSession(0);
  return 0;
}

}  // namespace nox::policy
