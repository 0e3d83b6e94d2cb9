#include "app/Session.h"

#include <cstdarg>
#include <cstdlib>
#include <new>

#include "app/ImagePreparation.h"
#include "package/ExtractionRuns.h"

namespace nox::app {

Session::Session(Platform& p)
    : platform(p),
      driver(p.driver, config.Modules()),
      smi(driver, p.os),
      ofbd(smi),
      oem(smi),
      secure(smi, ofbd),
      info(smi, ofbd, oem, secure, p.os, [this](const std::string& text) { Print("%s", text.c_str()); }) {
  platform.os.SetMessagePrinter([this](const std::string& line) { Print("%s", line.c_str()); });
  driver.SetRequestHook([this] { StopIfInterrupted(); });
  platform.ui.SetWaitHook([this] { StopIfInterrupted(); });
}

Session::~Session() {
  platform.os.SetMessagePrinter({});
  platform.ui.SetWaitHook({});
  if (flashLog) std::fclose(flashLog);
}

bool Session::Silent() const { return silent_ || config.IsSelected(config::option::kSilent); }

void Session::Print(const char* format, ...) {
  if (Silent() || !format || !platform.console) return;
  if (format[0] == 'X') ++format;
  va_list args;
  va_start(args, format);
  try {
    platform.console(core::FormatV(format, args));
  } catch (const std::bad_alloc&) {
    // A line that cannot be built is dropped: the end of a run that ran out of memory
    // prints through here and must still get to its end.
  }
  va_end(args);
}

policy::PolicyEnv Session::Policy() {
  return policy::PolicyEnv{config, words, smi, info, oem, driver, layout, platform.ui, *this,
                           [this](const std::string& text) { Print("%s", text.c_str()); }, scratch_,
                           [this](std::span<const uint8_t> image) { return PartHoldsImage(*this, image); }};
}

void Session::LoadRomImage() {
  config::ModuleSlot& slot = config.Modules()[config::ModuleSlotId::kRom];
  SetImage(std::span<uint8_t>(slot.data).first(std::min<size_t>(slot.size, slot.data.size())));
  // The image's offsets are flash addresses only behind a capsule header; the checks and
  // the preparation work there, and the header still goes to the firmware with the rest.
  if (secure.Capable()) {
    if (const auto header = firmware::LeadingCapsuleHeader(image_)) {
      leadingHeader_ = header->length;
      image_ = image_.subspan(header->length);
    }
  }
  imageFromPackage_ = !image_.empty();
  // A failed allocation throws; the run then ends with the memory error where start-up is
  // entered.
  scratch_.assign(kScratchSize, 0);
}

void Session::SetImage(std::span<uint8_t> image) {
  image_ = image;
  loaded_ = image;
  leadingHeader_ = 0;
}

void Session::ReleaseImage() {
  SetImage({});
  imageFromPackage_ = false;
  config::ModuleSlot& slot = config.Modules()[config::ModuleSlotId::kRom];
  slot.Clear();
}

void Session::AdoptFileImage(std::vector<uint8_t> bytes, size_t size) {
  if (imageFromPackage_) ReleaseImage();
  fileImage_ = std::move(bytes);
  SetImage(std::span<uint8_t>(fileImage_).first(std::min(size, fileImage_.size())));
}

bool Session::SelectPackageRom() {
  SetImage({});
  return package::RefillRomModules(ownFilePath, romNumber, config.Modules());
}

void Session::EndSession(uint32_t errorId) { End(errorId, true); }

void Session::CloseAfterMainWindow() { End(0, false); }

void Session::EndInterrupted(uint32_t exitCode) { End(0, false, exitCode); }

void Session::StopIfInterrupted() {
  if (ending_ || platform.os.InterruptsHeld()) return;
  const uint32_t exitCode = platform.os.InterruptRequested();
  if (exitCode == 0) return;
  Print(" - %s\n", kInterruptedText);
  EndInterrupted(exitCode);
}

void Session::End(uint32_t errorId, bool keyWait, std::optional<uint32_t> exitCode) {
  // An end that fails on its way out must not loop back into itself.
  if (ending_) Exit(errorId, keyWait, exitCode);
  ending_ = true;
  defaults.reset();
  if (smi.InterfaceOpen()) smi.CloseFlashInterface();
  // Flash writes may be enabled without the interface being open (the image checks enable
  // them); the firmware must not be left accepting them.
  smi.DisableFlash();
  platform.os.BlockUserInput(false);
  if (errorId != 0 && !info.MessageShown() && !firmwareMessageShown) Print(" - %s\n", config.ErrorMessage(errorId));
  ReleaseResources(true);
  script.Release();
  Exit(errorId, keyWait, exitCode);
}

void Session::ExitEarly(const char* text, uint32_t exitCode) {
  platform.ui.MessageBox(text, ui::kAppTitle, ui::style::kOk);
  // The driver may be running by now; its service must not outlive the program.
  ReleaseResources(false);
  platform.os.ReleasePowerLibrary();
  platform.os.ExitProcess(exitCode);
  std::abort();  // the port's exit does not come back
}

void Session::ReleaseResources(bool reportUnload) {
  smbios.Clear();
  scratch_.clear();
  SetImage({});
  fileImage_.clear();
  info.CloseFirmware();
  if (!driver.UnloadIoDriver() && reportUnload) Print(" - %s\n", config.ErrorMessage(config::error::kUnloadDriver));
}

void Session::ReleaseForShutdown() {
  if (flashLog) {
    std::fclose(flashLog);
    flashLog = nullptr;
  }
  ReleaseResources(false);
}

void Session::FinalExit(uint32_t errorId) { Exit(errorId, true); }

void Session::Exit(uint32_t errorId, bool keyWait, std::optional<uint32_t> exitCode) {
  if (flashLog) {
    std::fclose(flashLog);
    flashLog = nullptr;
  }
  os::OsServices& os = platform.os;
  os.KeepAwake(false);
  // The lock policy and the power buttons outlive the process in the system's settings:
  // whichever way a flash ended, they go back here.
  os.SetFlashProtection(false);
  os.ReleasePowerLibrary();
  if (keyWait && !Silent()) {
    Print("<Press Any Key....>\n");
    if (platform.waitForKey) platform.waitForKey();
  }
  os.ExitProcess(exitCode ? *exitCode : config.ExitCodeOf(errorId));
  std::abort();  // the port's exit does not come back
}

}  // namespace nox::app
