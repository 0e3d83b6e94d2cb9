#include "app/Session.h"

#include <cstdarg>
#include <cstdlib>

#include "package/ExtractionRuns.h"

namespace nox::app {

namespace {
constexpr uint32_t kErrUnloadDriver = 17;
constexpr uint32_t kErrNoMemory = 34;
}  // namespace

Session::Session(Platform& p)
    : platform(p),
      driver(p.driver, config.Modules()),
      smi(driver, p.os),
      ofbd(smi),
      oem(smi),
      info(smi, ofbd, oem, p.os, [this](const std::string& text) { Print("%s", text.c_str()); }) {}

Session::~Session() {
  if (flashLog) std::fclose(flashLog);
}

void Session::Print(const char* format, ...) {
  if (silent_ || !format) return;
  if (format[0] == 'X') ++format;
  va_list args;
  va_start(args, format);
  const std::string text = core::FormatV(format, args);
  va_end(args);
  if (platform.console) platform.console(text);
}

policy::PolicyEnv Session::Policy() {
  return policy::PolicyEnv{config, words, smi, info, oem, driver, layout, platform.ui, *this,
                           [this](const std::string& text) { Print("%s", text.c_str()); }};
}

void Session::LoadRomImage() {
  config::ModuleSlot& slot = config.Modules()[config::ModuleSlotId::kRom];
  image_ = std::span<uint8_t>(slot.data).first(std::min<size_t>(slot.size, slot.data.size()));
  imageFromPackage_ = !image_.empty();
  scratch_.assign(kScratchSize, 0);
  if (scratch_.size() != kScratchSize) EndSession(kErrNoMemory);
}

void Session::ReleaseImage() {
  image_ = {};
  imageFromPackage_ = false;
  config::ModuleSlot& slot = config.Modules()[config::ModuleSlotId::kRom];
  slot.Clear();
}

bool Session::SelectPackageRom() {
  image_ = {};
  return package::RefillRomModules(ownFilePath, romNumber, config.Modules());
}

void Session::EndSession(uint32_t errorId) {
  // An end that fails on its way out must not loop back into itself.
  if (ending_) FinalExit(errorId);
  ending_ = true;
  defaults.reset();
  if (smi.InterfaceOpen()) smi.CloseFlashInterface();
  platform.os.BlockUserInput(false);
  if (errorId != 0 && !info.MessageShown() && !firmwareMessageShown) Print(" - %s\n", config.ErrorMessage(errorId));
  ReleaseResources(true);
  script.Release();
  FinalExit(errorId);
}

void Session::ReleaseResources(bool reportUnload) {
  smbios.Clear();
  scratch_.clear();
  image_ = {};
  info.CloseFirmware();
  if (!driver.UnloadIoDriver() && reportUnload) Print(" - %s\n", config.ErrorMessage(kErrUnloadDriver));
}

void Session::ReleaseForShutdown() {
  if (flashLog) {
    std::fclose(flashLog);
    flashLog = nullptr;
  }
  ReleaseResources(false);
}

void Session::FinalExit(uint32_t errorId) {
  if (flashLog) {
    std::fclose(flashLog);
    flashLog = nullptr;
  }
  platform.os.KeepAwake(false);
  platform.os.RestorePowerButtons();
  platform.os.ReleasePowerLibrary();
  if (!config.IsSelected(config::option::kSilent)) {
    if (platform.console) platform.console("<Press Any Key....>\n");
    if (platform.waitForKey) platform.waitForKey();
  }
  platform.os.ExitProcess(config.ExitCodeOf(errorId));
  std::abort();  // the port's exit does not come back
}

}  // namespace nox::app
