// The flash run: prepares the firmware and the machine, checks the selection once more,
// updates the selected regions in their fixed order (NVRAM, main BIOS, boot block, NCBs,
// EC) and then restarts or powers off the machine, or ends the session.
#pragma once

#include <cstdint>
#include <string>

#include "app/Session.h"
#include "image/FlashLayout.h"
#include "image/RegionSelection.h"
#include "ui/MainDialog.h"

namespace nox::app {

namespace flash_text {
inline constexpr const char* kFailureBox =
    "Update Failed!  \nPlease call your local KORV service center for assistance.\n";
inline constexpr const char* kCannotUpdateTitle = "Cannot Update BIOS";
inline constexpr const char* kEcNotNewer = "Embedded Controller in ROM file isn't newer than in system.";
inline constexpr const char* kNcbNotAvailable =
    "Error: Requested non-critical block not available in ROM file.\nPlease make sure your selection and try to "
    "FLASH again";
inline constexpr const char* kNcbPrepareFailed = "Error:Prepare Ncbs For Writing occur error,try to FLASH again";
inline constexpr const char* kStoreSetupFailed = "Error: Store SETUP setting error.";
inline constexpr const char* kRestoreSetupFailed = "Error: Restore SETUP setting error.";
inline constexpr const char* kRomIdMismatch = "Korv ID is not match.\n";
inline constexpr const char* kPowerOffWarning = "WARNING : System must power-off to have the changes take effect!";
inline constexpr const char* kMeIgnitionFailed = "Programming ME Ignition Firmware Block error.";
inline constexpr const char* kMeEntireFailed = "Programming ME Entire Firmware Block error.";
inline constexpr const char* kEcFailed = "Programming EC error.";
// Someone asked the program to stop while a region was written: no failure box, nothing
// failed, but the machine holds only what was finished.
inline constexpr const char* kInterruptedAfter = "Interrupted: the %s is finished, nothing further is written.";
inline constexpr const char* kInterruptedBefore = "Interrupted: nothing was written.";
inline constexpr const char* kInterruptedStatus = "Interrupted.";
}  // namespace flash_text

class FlashRun {
 public:
  FlashRun(Session& session, ui::FlashDialog& dialog) : s_(session), dialog_(dialog) {}

  // Returns only after a failed EC version read (the window stays open); every other path
  // ends the session or the machine.
  void Run();

  // Writes one region's log lines and runs the engine over it; on failure the message has
  // been shown.
  bool UpdateRegion(image::RegionKind kind);

 private:
  // Settles the NCB selection and prepares the holes; false with the error text set.
  bool PrepareNcbs();
  // The opened file's identity matches the running machine's.
  bool FileFitsMachine() const;
  void PreserveSmbios();
  // The ME region, then the package's EC firmware; false with the error text set.
  bool UpdateMeRegion();
  bool UpdatePackageEc();
  // The regions in their fixed order; false at the first one that failed.
  bool WriteRegions();
  bool UpdateNvram();
  bool UpdateIfSelected(bool selected, const char* label, image::RegionKind kind);
  // Between regions: false once someone asked the program to stop.
  bool GoOn() const { return s_.platform.os.InterruptRequested() == 0; }
  void ReportInterruption();
  void Fail(const char* text);
  void RegionFailed(const char* status, bool reenableButtons);
  void LogRegion(image::RegionKind kind);
  void Log(const std::string& line);
  void Finish();
  [[noreturn]] void RestartOrPowerOff();

  Session& s_;
  ui::FlashDialog& dialog_;
  std::string errorText_;
  bool errorShown_ = false;
  bool success_ = false;
  const char* finished_ = nullptr;  // what was written last, for an interrupted run's message
};

}  // namespace nox::app
