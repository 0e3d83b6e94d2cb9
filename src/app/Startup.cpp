#include "app/Startup.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/MainWindowHost.h"
#include "app/StartupSteps.h"
#include "core/Bytes.h"
#include "core/CText.h"
#include "package/ExtractionRuns.h"
#include "package/OwnFilePath.h"

namespace nox::app {

namespace {

using namespace config::option;
using ui::Button;

constexpr uint32_t kStartTextResource = 1052;
constexpr const char* kUnknownCommand = "Error : Unknown command.\n";
constexpr const char* kUnableToLoadDriver = "Error : Unable to load driver.\n";
constexpr const char* kNoFlashSupport = "Error : Firmware does not have flash (NOXWINGUI) support.";

// Exit codes of the four ends that do not go through the session.
constexpr uint32_t kExitAlreadyRunning = 1;
constexpr uint32_t kExitUnknownCommand = 2;
constexpr uint32_t kExitNoDriver = 4;
constexpr uint32_t kExitNoFlashSupport = 6;

std::string Tail(const std::string& arg) { return arg.empty() ? std::string() : core::AsciiLower(arg.substr(1)); }

[[noreturn]] void ExitWithBox(Session& s, const char* text, uint32_t code) {
  s.platform.ui.MessageBox(text, ui::kAppTitle, ui::style::kOk);
  s.platform.os.ExitProcess(code);
  std::abort();  // the port's exit does not come back
}

void LoadDriverOrExit(Session& s) {
  if (!s.driver.LoadIoDriver()) ExitWithBox(s, kUnableToLoadDriver, kExitNoDriver);
}

[[noreturn]] void NoFlashSupport(Session& s) {
  s.smi.DisableFlash();
  ExitWithBox(s, kNoFlashSupport, kExitNoFlashSupport);
}

}  // namespace

bool NcbSelectionValid(size_t ncbCount, uint32_t mask) {
  if (ncbCount == 0) return true;
  return ncbCount >= 32 || (uint64_t{1} << ncbCount) > mask;
}

void WriteImageFile(Session& s, const std::string& path, std::span<const uint8_t> image) {
  if (!s.platform.freeSpace || !s.platform.freeSpace()) {
    s.Print("Invalid drive specified\n");
    return;
  }
  std::FILE* f = std::fopen(path.c_str(), "w+b");
  if (!f) return;
  std::fwrite(image.data(), 1, image.size(), f);
  std::fclose(f);
}

namespace {

void RomSelectionLoop(Session& s) {
  while (true) {
    s.LoadRomImage();
    if (s.meCapability != 0) {
      // The ME image check arrives with the management-engine update; until then a firmware
      // that offers it cannot be served safely.
      s.Print("- ME region data of this firmware are not supported by this version.\n");
      s.EndSession(160);
    }
    s.meInImage = false;
    RunPolicyChecks(s);
    if (s.words.romGiven || s.candidateMatched || s.words.forcetype) return;
    do {
      if (s.romNumber >= 9) {
        s.smi.DisableFlash();
        ShowUnsupportedSystem(s, /*restoreFirstCandidate=*/true);
        s.EndSession(0);
      }
      ++s.romNumber;
      s.SelectPackageRom();
    } while (s.config.Modules()[config::ModuleSlotId::kRom].Empty());
  }
}

}  // namespace

int RunStartup(Session& s, std::vector<std::string> args) {
  os::OsServices& os = s.platform.os;
  ui::Ui& ui = s.platform.ui;
  if (args.empty()) args.emplace_back("NOXWINGUI");

  // 1. One instance at a time.
  if (!os.CreateInstanceMutex(os::kFirstInstanceMutex)) {
    os.BringOtherInstanceToFront();
    os.ExitProcess(kExitAlreadyRunning);
  }
  // 2. First scan.
  for (const std::string& arg : args) {
    const std::string tail = Tail(arg);
    if (tail == "log") {
      s.flags.logRequested = true;
    } else if (tail == "sl") {
      s.flags.slRequested = true;
    }
  }
  // 3, 4, 5, 6.
  os.InitOsServices();
  const std::string startText = os.LoadStringResource(kStartTextResource).value_or(kStartText);
  for (const std::string& arg : args) {
    const std::string tail = Tail(arg);
    if (tail == "writeromfile" || tail == "writehdrfile" || tail == "lr") s.flags.quietStart = true;
    if (tail == "lr") s.flags.lrFlag = true;
    if (tail == "nopause") s.flags.noPause = true;
  }
  os.BindToFirstProcessor();

  // 7. The driver modules of the package in the program's own file.
  const auto ownPath = package::OwnFilePath(args[0], os.CurrentDirectory(),
                                            s.platform.runningExecutable ? s.platform.runningExecutable() : std::nullopt);
  if (!ownPath) {
    s.Print(package::kGetCurrentPathFailed, errno);
    s.FinalExit(0);
  }
  s.ownFilePath = *ownPath;
  package::ExtractDriverModules(s.ownFilePath, s.config.Modules());

  // 8, 9. The driver and the first look at the firmware.
  LoadDriverOrExit(s);
  if (s.info.ProbeFirmware() != 0) NoFlashSupport(s);
  if (s.info.EcbFlags() & 0x40) {
    s.flags.lrFlag = true;
  } else {
    s.flags.noPause = false;
  }
  if (!s.flags.quietStart && !s.flags.noPause &&
      ui.MessageBox(startText, ui::kAppTitle, ui::style::kOkCancel | ui::style::kIconInformation) == Button::kCancel) {
    s.FinalExit(0);
  }

  // 10, 11. The command script's capsule word, then the user's word options.
  CheckCapsuleWords(s, package::ExtractCommandScript(s.ownFilePath));
  if (TranslateWords(s, args) < 0) ExitWithBox(s, kUnknownCommand, kExitUnknownCommand);

  // 12, 13. The modules of the current ROM number, and the driver once more.
  TakeCommandScript(s, package::ExtractPackageModules(s.ownFilePath, s.romNumber, s.config.Modules()), args);
  LoadDriverOrExit(s);

  // 14. The file-writing modes end the run here.
  if (s.words.writehdrfile) {
    s.LoadRomImage();
    std::span<uint8_t> image = s.Image();
    if (const auto declared = WholeImageDeclaredSize(s); declared && image.size() > uint64_t{*declared} + 4096) {
      image = image.last(*declared);
    }
    WriteImageFile(s, s.headerFileName, image);
    s.EndSession(0);
  }
  if (s.words.writeromfile) {
    s.LoadRomImage();
    if (s.Image().empty()) s.EndSession(51);
    WriteImageFile(s, s.romFileName, s.Image());
    s.EndSession(0);
  }
  std::optional<uint8_t> oemSmi;
  if (s.config.IsSelected(kOemSmi)) {
    oemSmi = static_cast<uint8_t>(OemSmiValue(s.config.GetValue(kOemSmi).value_or(std::string())));
  }
  if (s.info.OpenFirmware(oemSmi, s.parse.prepareFlashInterface) != 0) NoFlashSupport(s);

  // 15. Options, the command script's second pass and the firmware's defaults.
  s.smi.DisableFlash();
  if (config::ParseOptions(s.config, args, s.parse) != 0) {
    ui.MessageBox(kUnknownCommand, ui::kAppTitle, ui::style::kOk);
    s.FinalExit(0);
  }
  if (s.parse.silenced) s.Silence();
  if (RunScriptPass(s) != 0) ExitWithBox(s, kUnknownCommand, kExitUnknownCommand);
  if (s.parse.silenced) s.Silence();
  if (!s.config.IsSelected(kSaveFile)) ApplyFirmwareDefaults(s);

  // 16. The administrator password.
  if (!CheckAdminPassword(s)) s.EndSession(0);

  // 17. Permission of a secure-flash firmware.
  if (s.info.SecureFlashCapable()) {
    const bool permitted = s.info.CheckUpdatePermission(s.info.Ecb(), [&](const std::string& text) {
      ui.MessageBox(text, "Cannot Update BIOS", ui::style::kIconWarning);
    });
    if (!permitted) {
      if (!s.info.MessageShown()) ui.MessageBox("BIOS can't be updated", "Cannot Update BIOS", 48);
      s.EndSession(0);
    }
  }

  // 18. What the firmware offers for the management engine.
  if (s.ofbd.MeRegionQuery(0) == 0) {
    s.meCapability |= 1;
    if (const auto& answer = s.ofbd.KeptMeAnswer()) {
      s.meTarget = {core::LoadLe32(&(*answer)[2]), core::LoadLe32(&(*answer)[6])};
    }
  }
  if (s.ofbd.MeRegionQuery(3) == 0) s.meCapability |= 2;

  // 19, 20. The image that fits, and the log.
  RomSelectionLoop(s);
  if (s.flags.logRequested) s.flashLog = std::fopen("Flash.log", "w+b");
  if (s.flashLog) {
    const std::string line = core::Format(" Use @R%02d Rom data for BIOS update ...\r\n", s.romNumber);
    std::fwrite(line.data(), 1, line.size(), s.flashLog);
  }

  // 21 to 23. No firmware this build serves flashes itself from a loaded image.
  if (s.info.SecureFlashCapable()) s.EndSession(21);

  // 24 to 27.
  if (s.flags.slRequested) s.oem.SignalSl();
  ApplyOptionsToSession(s.config, s.ImageFromPackage(), s.flashSession);
  if (s.flashSession.vendorMeTool) {
    s.Print("- The vendor ME update tool is not supported by this version.\n");
    s.EndSession(8);
  }
  s.setupPreserveUnsupported = s.ofbd.SetupPreserve(1) != 0;

  // 28. The main dialog.
  MainWindowHost host(s);
  ui.RunMainDialog(host);
  return 0;
}

}  // namespace nox::app
