#include "app/SecureFlashStart.h"

#include <algorithm>
#include <cstdio>

#include "app/FlashRun.h"
#include "app/ImagePreparation.h"
#include "core/Format.h"

namespace nox::app {

namespace {

using namespace config::option;
namespace secure = firmware::secure;

void Box(Session& s, const std::string& text, uint32_t style = ui::style::kOk) {
  s.platform.ui.MessageBox(text, ui::kAppTitle, style);
}

uint8_t RequestedType(const config::ConfigStore& c) {
  if (c.IsSelected(kCapsule)) return secure::kCapsule;
  if (c.IsSelected(kRecovery)) return secure::kRecovery;
  return secure::kRuntime;
}

void RequestRegions(Session& s) {
  const config::ConfigStore& c = s.config;
  const uint8_t type = RequestedType(c);
  const std::array<uint8_t, 16> name = RecoveryName(s.headerFileName);
  std::optional<std::span<const uint8_t>> recoveryName;
  if (type == secure::kRecovery) recoveryName = std::span<const uint8_t>(name);
  const auto size = static_cast<uint32_t>(s.LoadedImage().size());
  const auto request = [&](unsigned bit) { s.secure.RequestSecureRegion(type, bit, recoveryName, size); };
  // A non-critical block lies in the main firmware image as the firmware sees it.
  if (type == secure::kRuntime && (c.IsSelected(kAllNcb) || c.IsSelected(kNcbN))) request(secure::kMainBiosBit);
  if (c.IsSelected(kMainBios)) request(secure::kMainBiosBit);
  if (c.IsSelected(kBootBlock)) request(secure::kBootBlockBit);
  if (c.IsSelected(kNvram)) request(secure::kNvramBit);
  if (c.IsSelected(kEc)) request(secure::kEcBit);
}

// The image goes to the firmware as it is to be written: the kept holes and the SMBIOS
// area of the machine carried into it first.
void PrepareImage(Session& s) {
  const config::ConfigStore& c = s.config;
  FlashSession& fs = s.flashSession;
  fs.programMainBios = c.IsSelected(kMainBios);
  fs.programBootBlock = c.IsSelected(kBootBlock);
  fs.programNcbs = false;
  fs.allNcbs = false;
  if (c.IsSelected(kNcbN)) {
    fs.programNcbs = true;
    fs.ncbMask = c.GetNumber(kNcbN);
  }
  if (c.IsSelected(kAllNcb)) fs.programNcbs = fs.allNcbs = true;
  const size_t count = s.layout.NcbCount();
  if (fs.programNcbs && count > 0 && (uint64_t{1} << count) <= fs.ncbMask) {
    Box(s, flash_text::kNcbNotAvailable);
    s.EndSession(config::error::kNcbNotAvailable);
  }
  if (!PrepareNcbs(s, {})) {
    Box(s, secure_text::kNcbPrepareFailed);
    s.EndSession(config::error::kNcbPrepare);
  }
  // The settings are not filled from the options until later; the user's wish to keep the
  // SMBIOS area must still reach the image that the firmware will write.
  fs.skipSmbiosPreservation = !c.IsSelected(kPreserveAllSmbios);
  if (fs.programBootBlock && !fs.skipSmbiosPreservation) CarryMachineSmbiosIntoImage(s);

  ui::Ui& ui = s.platform.ui;
  const core::ProgressCallback transfer = [&ui](uint32_t size, uint32_t offset, uint32_t) {
    ui.ShowImageTransfer(size == 0 ? 0 : std::min(size, offset + secure::kPieceSize), size);
  };
  if (!s.secure.LoadImageToFirmware(s.LoadedImage(), 0, transfer)) {
    ui.ShowImageTransfer(0, 0);
    Box(s, secure_text::kLoadFailed);
    s.EndSession(config::error::kLoadImage);
  }
}

bool WriteRecoveryFile(const std::string& path, std::span<const uint8_t> image) {
  std::FILE* f = std::fopen(path.c_str(), "w+b");
  if (!f) return false;
  const bool written = std::fwrite(image.data(), 1, image.size(), f) == image.size();
  return std::fclose(f) == 0 && written;
}

}  // namespace

std::array<uint8_t, 16> RecoveryName(const std::string& headerFileName) {
  // The firmware finds the file by this name alone; a path too long for the field is cut
  // to its file name rather than to a meaningless head of the path.
  std::string_view name = headerFileName;
  if (name.size() > 16) {
    const size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  }
  std::array<uint8_t, 16> bytes{};
  std::copy_n(name.begin(), std::min(name.size(), bytes.size()), bytes.begin());
  return bytes;
}

void PrepareSecureFlash(Session& s) {
  RequestRegions(s);
  const bool capsule = s.config.IsSelected(kCapsule);
  const bool recovery = s.config.IsSelected(kRecovery);
  // With no region asked for there is nothing to hand over: the window opens without a
  // session (Save and the pages still serve), and a capsule or recovery run says so.
  const bool noRegion = s.secure.Policy().type == secure::kNoType;
  if (!recovery && !noRegion) PrepareImage(s);
  if (capsule || recovery) s.EndSession(RunCapsuleOrRecovery(s, true));
  if (noRegion) return;
  if (const uint8_t status = s.secure.StartSecureFlashSession(); status != 0) {
    Box(s, core::Format(secure_text::kSessionRefused, status));
    s.EndSession(config::error::kSecureSession);
  }
  StripCapsuleHeader(s);
}

uint32_t StripCapsuleHeader(Session& s) {
  if (s.LeadingHeaderLength() != 0 || s.secure.CapsuleHeaderSent()) return 0;
  Box(s, secure_text::kNoCapsuleHeader);
  return 3;
}

uint32_t RunCapsuleOrRecovery(Session& s, bool unattended) {
  const uint8_t type = s.secure.Policy().type;
  if (type != secure::kRecovery && type != secure::kCapsule) {
    Box(s, core::Format(secure_text::kWrongType, type));
    return 0;
  }
  os::OsServices& os = s.platform.os;
  s.smi.CloseFlashInterface();
  os.BlockUserInput(false);
  const bool restart = type == secure::kRecovery;
  if (restart && s.ImageFromPackage() && !WriteRecoveryFile(s.headerFileName, s.LoadedImage())) {
    Box(s, core::Format(secure_text::kRecoveryFileFailed, s.headerFileName.c_str()));
    return config::error::kWriteFile;
  }
  if (const uint8_t status = s.secure.StartSecureFlashSession(); status != 0) {
    Box(s, core::Format(secure_text::kSessionRefusedAtBoot, status));
    return config::error::kSecureSession;
  }
  const char* question = restart ? secure_text::kAskReboot : secure_text::kAskShutdown;
  if (unattended || s.platform.ui.MessageBox(question, ui::kAppTitle, ui::style::kYesNo) == ui::Button::kYes) {
    if (restart) {
      os.RestartMachine();
    } else {
      os.PowerOffMachine();
    }
  }
  os.BlockUserInput(true);
  s.smi.GetFlashInfo();
  return 0;
}

}  // namespace nox::app
