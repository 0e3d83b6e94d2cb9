// The state of one run of the utility and the one way every run ends. Start-up fills it
// stage by stage; the main dialog and the flash run read it.
#pragma once

#include <array>
#include <memory>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/FlashSession.h"
#include "app/Platform.h"
#include "config/CommandScript.h"
#include "config/ConfigStore.h"
#include "config/OptionParser.h"
#include "config/WordOptions.h"
#include "core/Format.h"
#include "core/SessionEnd.h"
#include "ecme/MeTool.h"
#include "firmware/FirmwareDefaults.h"
#include "firmware/FirmwareInfo.h"
#include "firmware/IoDriver.h"
#include "firmware/OemCall.h"
#include "firmware/Ofbd.h"
#include "firmware/SecureFlash.h"
#include "firmware/SmiFlash.h"
#include "image/FlashLayout.h"
#include "image/SmbiosArea.h"
#include "policy/PolicyEnv.h"
#include "policy/SystemIdentity.h"
#include "ui/Ui.h"

namespace nox::app {

// The line a run that was asked to stop outside a flash ends with.
inline constexpr const char* kInterruptedText = "Interrupted: the program stops here.";

// Flags of the two argument scans at the start.
struct StartupFlags {
  bool logRequested = false;
  bool slRequested = false;
  bool quietStart = false;
  bool lrFlag = false;
  bool noPause = false;
};

class Session : public core::SessionEnd {
 public:
  static constexpr size_t kScratchSize = 0x10000;

  explicit Session(Platform& platform);
  ~Session() override;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Prints one console line through the message printer: nothing once the run is silent;
  // a format beginning with "X" is printed without that character.
  void Print(const char* format, ...) NOX_PRINTF(2, 3);
  // Option "q" was parsed: the message printer prints nothing from here on.
  void Silence() { silent_ = true; }
  // Option "q" took effect, through the parser or through the firmware's defaults.
  bool Silent() const;

  // Every run that started ends here, whatever it holds at that point.
  [[noreturn]] void EndSession(uint32_t errorId) override;
  // The last part of that end alone, for a run that has let go of everything already.
  [[noreturn]] void FinalExit(uint32_t errorId);
  // The main window closed by itself: the session ends as with EndSession(0), but nobody is
  // asked to press a key.
  [[noreturn]] void CloseAfterMainWindow();
  // The ends that bypass the error table (exit codes 2, 4, 6): the box, the firmware and
  // the driver let go, and the process ends with `exitCode` itself.
  [[noreturn]] void ExitEarly(const char* text, uint32_t exitCode);
  // Before a restart or power-off: closes the log and releases buffers, firmware and driver
  // as the end of a session does, without printing anything.
  void ReleaseForShutdown();
  // Someone asked the program to stop (Ctrl+C, the terminal closed, a termination request):
  // the session ends as with EndSession(0), without waiting for a key, and the process ends
  // with `exitCode`, the system's code for a program stopped that way.
  [[noreturn]] void EndInterrupted(uint32_t exitCode);
  // Outside a flash (see os::OsServices::HoldInterrupts) a request to stop ends the session
  // here; called where the program waits for the user or calls the firmware.
  void StopIfInterrupted();

  // What the policy checks work with.
  policy::PolicyEnv Policy();

  // The image in use (from the package, or later from a file). On firmware that programs
  // the flash itself, a package image may begin with a capsule header: the image in use is
  // what follows it, and the whole goes to the firmware.
  std::span<uint8_t> Image() { return image_; }
  // The image as loaded: a capsule header included, a full-flash image not yet narrowed to
  // its firmware region. It goes to the firmware, and the ME update reads it.
  std::span<uint8_t> LoadedImage() { return loaded_; }
  // A full-flash image is flashed from its system-firmware region on; the ME update still
  // reads the whole.
  void NarrowImage(size_t offset, size_t size) { image_ = image_.subspan(offset, size); }
  uint16_t LeadingHeaderLength() const { return leadingHeader_; }
  std::span<const uint8_t> Image() const { return image_; }
  bool ImageFromPackage() const { return imageFromPackage_; }
  // Lets go of the image; the user picks one with Open instead.
  void ReleaseImage();
  // The image read from a file the user opened replaces whatever image was in use.
  void AdoptFileImage(std::vector<uint8_t> bytes, size_t size);
  bool ImageFromFile() const { return !image_.empty() && image_.data() == fileImage_.data(); }
  // Takes the package image of the current ROM number and a new scratch buffer.
  void LoadRomImage();
  // Moves to the next ROM number's modules; false when the package cannot be opened.
  bool SelectPackageRom();
  std::vector<uint8_t>& Scratch() { return scratch_; }

  Platform& platform;
  config::ConfigStore config;
  config::ParseContext parse;
  firmware::IoDriver driver;
  firmware::SmiFlash smi;
  firmware::Ofbd ofbd;
  firmware::OemCalls oem;
  firmware::SecureFlash secure;
  firmware::FirmwareInfo info;
  image::FlashLayout layout;

  StartupFlags flags;
  config::WordOptionFlags words;
  std::string headerFileName;
  std::string romFileName;
  std::string ownFilePath;  // where the package is
  bool capsuleWarning = false;
  config::CommandScript script;
  policy::SystemIdentity identity;
  std::unique_ptr<firmware::FirmwareDefaults> defaults;
  uint32_t romNumber = 0;
  std::FILE* flashLog = nullptr;
  // What the firmware answered for the management engine: the region query (selector 0)
  // and the entire-ME update (selector 3).
  static constexpr uint8_t kMeRegionAnswered = 0x01;
  static constexpr uint8_t kMeEntireAccepted = 0x02;
  uint8_t meCapability = 0;
  std::array<uint32_t, 2> meTarget{};
  bool meInImage = false;
  bool meIgnitionImage = false;    // the image is the bare ME region
  ecme::MeToolFiles meTool;        // the vendor ME tool and its image, when written
  bool setupPreserveUnsupported = true;
  bool candidateMatched = false;
  FlashSession flashSession;
  // Set when a firmware text was shown in a box, so the end does not print the error again.
  bool firmwareMessageShown = false;
  // The firmware password is asked for once per process, at the first flash run.
  bool firmwarePasswordPending = true;
  // The machine's SMBIOS area, kept from its save until the end of the run.
  image::SmbiosArea smbios;

 private:
  [[noreturn]] void End(uint32_t errorId, bool keyWait, std::optional<uint32_t> exitCode = std::nullopt);
  [[noreturn]] void Exit(uint32_t errorId, bool keyWait, std::optional<uint32_t> exitCode = std::nullopt);
  void ReleaseResources(bool reportUnload);
  void SetImage(std::span<uint8_t> image);

  std::span<uint8_t> image_;
  std::span<uint8_t> loaded_;   // the image as loaded, a capsule header included
  uint16_t leadingHeader_ = 0;
  bool imageFromPackage_ = false;
  std::vector<uint8_t> fileImage_;  // owns the image of an opened file
  std::vector<uint8_t> scratch_;
  bool silent_ = false;
  bool ending_ = false;
};

}  // namespace nox::app
