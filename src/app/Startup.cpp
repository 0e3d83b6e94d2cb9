#include "app/Startup.h"

#include <cstdlib>
#include <new>

#include "app/FlashRun.h"
#include "app/MainWindowHost.h"
#include "app/SecureFlashStart.h"
#include "config/CommandScript.h"
#include "core/Bytes.h"
#include "core/CText.h"
#include "ecme/MeTool.h"
#include "firmware/MeRegion.h"
#include "package/ExtractionRuns.h"
#include "package/OwnFilePath.h"
#include "policy/AdminPassword.h"
#include "policy/PolicyChecks.h"
#include "policy/Wipe.h"

namespace nox::app {

namespace {

using namespace config::option;
using ui::Button;

constexpr uint32_t kStartTextResource = 1052;
constexpr const char* kStartText =
    "To ensure that no other program interferes with the BIOS update process,\n"
    "it is highly recommended to close all other programs before continue.";
constexpr const char* kUnknownCommand = "Error : Unknown command.\n";
constexpr const char* kUnableToLoadDriver = "Error : Unable to load driver.\n";
constexpr const char* kNoFlashSupport = "Error : Firmware does not have flash (NOXWINGUI) support.";
// The firmware's status bit for runs without a technician at the keyboard: "lr" is implied
// and "nopause" is honoured.
constexpr uint16_t kEcbUnattended = 0x40;

std::string Tail(const std::string& arg) { return arg.empty() ? std::string() : core::AsciiLower(arg.substr(1)); }

void LoadDriverOrExit(Session& s) {
  if (!s.driver.LoadIoDriver()) s.ExitEarly(kUnableToLoadDriver, kExitNoDriver);
}

[[noreturn]] void NoFlashSupport(Session& s) {
  s.smi.DisableFlash();
  s.ExitEarly(kNoFlashSupport, kExitNoFlashSupport);
}

// The file names come from the lower-cased program path; on a file system that tells case
// apart the directory must keep its own spelling, so the original characters come back.
std::string KeepOriginalCase(std::string name, const std::string& original) {
  for (size_t i = 0; i < name.size() && i < original.size(); ++i) {
    if (core::AsciiLower(original[i]) == name[i]) name[i] = original[i];
  }
  return name;
}

// The user's word options become the internal argument list that every later stage reads.
void TranslateWords(Session& s, std::vector<std::string>& args) {
  auto translated = config::TranslateWordOptions(args, s.flags.lrFlag, s.capsuleWarning, s.platform.ui, s,
                                                 [&](const std::string& text) { s.Print("%s", text.c_str()); });
  if (translated.result < 0) {
    s.ExitEarly(translated.refusal.empty() ? kUnknownCommand : translated.refusal.c_str(), kExitUnknownCommand);
  }
  s.words = translated.flags;
  s.headerFileName = KeepOriginalCase(translated.headerFileName, args[0]);
  s.romFileName = KeepOriginalCase(translated.romFileName, args[0]);
  if (s.words.romGiven) s.romNumber = s.words.romNumber;
  translated.arguments[0] = args[0];
  // The password given with "/p=" lives on only in the word flags, which the check wipes.
  for (std::string& arg : args) {
    if (core::AsciiLower(arg).rfind("/p=", 0) == 0) policy::WipeString(arg);
  }
  args = std::move(translated.arguments);
}

// Writes `image` to `path` unless the current drive's free space cannot be read.
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

// "writehdrfile" and "writeromfile" write the package's image to a file and end the run.
void WriteFileModes(Session& s) {
  if (s.words.writehdrfile) {
    s.LoadRomImage();
    std::span<uint8_t> image = s.Image();
    policy::ReadRomIdentity(s.identity, image, policy::RomScanMode::kWholeImage);
    // Without a "$SIZ" block there is no declared size to cut the image to; a few bytes over
    // it are tolerated as padding.
    const uint32_t declared = s.identity.romDeclaredSize;
    if (declared != 0 && image.size() > uint64_t{declared} + 4096) image = image.last(declared);
    WriteImageFile(s, s.headerFileName, image);
    s.EndSession(0);
  }
  if (s.words.writeromfile) {
    s.LoadRomImage();
    if (s.Image().empty()) s.EndSession(config::error::kWriteFile);
    WriteImageFile(s, s.romFileName, s.Image());
    s.EndSession(0);
  }
}

// Options from the command line, the package's script as a second pass, then the
// firmware's defaults.
void ParseAllOptions(Session& s, const std::vector<std::string>& args) {
  if (config::ParseOptions(s.config, args, s.parse) != 0) {
    s.platform.ui.MessageBox(kUnknownCommand, ui::kAppTitle, ui::style::kOk);
    s.EndSession(0);
  }
  if (s.parse.silenced) s.Silence();
  if (s.script.SecondPassDue() && s.script.SecondPass(s.config, s.parse) != 0) {
    s.ExitEarly(kUnknownCommand, kExitUnknownCommand);
  }
  if (s.parse.silenced) s.Silence();
  if (s.config.IsSelected(kSaveFile)) return;
  if (!s.defaults) s.defaults = std::make_unique<firmware::FirmwareDefaults>(s.ofbd);
  s.defaults->Fetch(s.config, s.script.ConfigBehaviour());
}

// A secure-flash firmware may refuse the update outright; its own text says why.
void CheckUpdatePermission(Session& s) {
  if (!s.info.SecureFlashCapable()) return;
  ui::Ui& ui = s.platform.ui;
  const bool permitted = s.info.CheckUpdatePermission(s.info.Ecb(), [&](const std::string& text) {
    ui.MessageBox(text, flash_text::kCannotUpdateTitle, ui::style::kIconWarning);
  });
  if (permitted) return;
  if (!s.info.MessageShown()) {
    ui.MessageBox("BIOS can't be updated", flash_text::kCannotUpdateTitle, ui::style::kIconWarning);
  }
  s.EndSession(0);
}

void QueryMeCapability(Session& s) {
  if (s.ofbd.MeRegionQuery(0) == 0) {
    s.meCapability |= Session::kMeRegionAnswered;
    if (const auto& answer = s.ofbd.KeptMeAnswer()) {
      s.meTarget = {core::LoadLe32(&(*answer)[2]), core::LoadLe32(&(*answer)[6])};
    }
  }
  if (s.ofbd.MeRegionQuery(3) == 0) s.meCapability |= Session::kMeEntireAccepted;
}

// On a machine with a management engine the image may be a full-flash image (flashed from
// its system-firmware region on) or the bare ME region.
void CheckMeImage(Session& s) {
  const firmware::MeCheckInput input{s.config.IsSelected(kMeIgnition), s.config.IsSelected(kMeEntire),
                                     firmware::MeAnswer::From(s.ofbd.KeptMeAnswer()), s.smi.TotalFlashSize()};
  const firmware::MeCheckResult check =
      firmware::CheckMeImage(s.Image(), input, [&](const char* text) { s.Print("%s", text); });
  if (check.error != 0 && s.words.romGiven) {
    auto env = s.Policy();
    policy::ReadCurrentIdentity(env, s.identity);
    policy::RefuseUnsupported(env, s.identity);
  }
  s.meInImage = check.MeInImage();
  s.meIgnitionImage = check.ignitionImage;
  if (check.regionFromFull) s.NarrowImage(check.offset, check.size);
}

// Tries the package's images from the current ROM number on until one fits the machine
// (or the number was fixed), skipping numbers the package does not carry.
void SelectRomImage(Session& s) {
  const auto romMissing = [&] { return s.config.Modules()[config::ModuleSlotId::kRom].Empty(); };
  while (true) {
    s.LoadRomImage();
    s.meInImage = false;
    s.meIgnitionImage = false;
    if (s.meCapability != 0) CheckMeImage(s);
    auto env = s.Policy();
    policy::RunPolicyChecks(env, s.identity, {s.romNumber, !romMissing(), s.Image(), s.meIgnitionImage},
                            s.candidateMatched);
    if (s.words.romGiven || s.candidateMatched || s.words.forcetype) return;
    do {
      if (s.romNumber >= policy::kLastRomNumber) {
        s.smi.DisableFlash();
        s.identity.RestoreFirstCandidate();
        policy::RefuseUnsupported(env, s.identity);
      }
      ++s.romNumber;
      s.SelectPackageRom();
    } while (romMissing());
  }
}

void OpenFlashLog(Session& s) {
  if (s.flags.logRequested) s.flashLog = std::fopen("Flash.log", "w+b");
  if (!s.flashLog) return;
  const std::string line = core::Format(" Use @R%02d Rom data for BIOS update ...\r\n", s.romNumber);
  std::fwrite(line.data(), 1, line.size(), s.flashLog);
}

// Returns once the main dialog has closed by itself; every other outcome ends the process.
void RunStartup(Session& s, std::vector<std::string> args) {
  os::OsServices& os = s.platform.os;
  ui::Ui& ui = s.platform.ui;
  if (args.empty()) args.emplace_back("NOXWINGUI");

  if (!os.CreateInstanceMutex(os::kFirstInstanceMutex)) {
    os.BringOtherInstanceToFront();
    os.ExitProcess(kExitAlreadyRunning);
  }
  // "log" and "sl" are looked for before the word options are checked, whatever their
  // first character.
  for (const std::string& arg : args) {
    const std::string tail = Tail(arg);
    if (tail == "log") {
      s.flags.logRequested = true;
    } else if (tail == "sl") {
      s.flags.slRequested = true;
    }
  }
  os.InitOsServices();
  const std::string startText = os.LoadStringResource(kStartTextResource).value_or(kStartText);
  for (const std::string& arg : args) {
    const std::string tail = Tail(arg);
    if (tail == "writeromfile" || tail == "writehdrfile" || tail == "lr") s.flags.quietStart = true;
    if (tail == "lr") s.flags.lrFlag = true;
    if (tail == "nopause") s.flags.noPause = true;
  }
  os.BindToFirstProcessor();

  // The package travels in the program's own file; the driver comes out of it first.
  uint32_t directoryError = 0;
  const std::optional<std::string> directory = os.CurrentDirectory(directoryError);
  const auto running = s.platform.runningExecutable ? s.platform.runningExecutable() : std::nullopt;
  const auto ownPath = package::OwnFilePath(args[0], directory, running);
  if (!ownPath) {
    s.Print(package::kGetCurrentPathFailed, static_cast<int>(directoryError));
    s.EndSession(0);
  }
  s.ownFilePath = *ownPath;
  package::ExtractDriverModules(s.ownFilePath, s.config.Modules());

  LoadDriverOrExit(s);
  if (s.info.ProbeFirmware() != 0) NoFlashSupport(s);
  if (s.info.EcbFlags() & kEcbUnattended) {
    s.flags.lrFlag = true;
  } else {
    s.flags.noPause = false;
  }
  if (!s.flags.quietStart && !s.flags.noPause &&
      ui.MessageBox(startText, ui::kAppTitle, ui::style::kOkCancel | ui::style::kIconInformation) == Button::kCancel) {
    s.EndSession(0);
  }

  // The script's capsule word changes the warning the word options show.
  const std::optional<std::string> capsuleScript = package::ExtractCommandScript(s.ownFilePath);
  s.capsuleWarning = capsuleScript && config::ScriptNamesCapsule(s.config, *capsuleScript);
  TranslateWords(s, args);

  const auto script = package::ExtractPackageModules(s.ownFilePath, s.romNumber, s.config.Modules());
  if (script) s.script.Build(s.config, args[0], args, *script);
  s.parse.commandScriptHeld = s.script.Held();
  LoadDriverOrExit(s);

  WriteFileModes(s);
  std::optional<uint8_t> oemSmi;
  if (s.config.IsSelected(kOemSmi)) {
    oemSmi = static_cast<uint8_t>(OemSmiValue(s.config.GetValue(kOemSmi).value_or(std::string())));
  }
  if (s.info.OpenFirmware(oemSmi, s.parse.prepareFlashInterface) != 0) NoFlashSupport(s);

  s.smi.DisableFlash();
  ParseAllOptions(s, args);
  {
    auto env = s.Policy();
    if (!policy::CheckAdminPassword(env, s.words)) s.EndSession(0);
  }
  CheckUpdatePermission(s);
  QueryMeCapability(s);
  SelectRomImage(s);
  OpenFlashLog(s);

  if (s.info.SecureFlashCapable()) PrepareSecureFlash(s);

  if (s.flags.slRequested) s.oem.SignalSl();
  ApplyOptionsToSession(s.config, s.ImageFromPackage(), s.flashSession);
  if (s.flashSession.vendorMeTool) s.meTool = ecme::PrepareMeTool(s.config.Modules(), s.platform.os);
  s.setupPreserveUnsupported = s.ofbd.SetupPreserve(1) != 0;

  MainWindowHost host(s);
  ui.RunMainDialog(host);
}

}  // namespace

void RunProgram(Session& s, std::vector<std::string> args) {
  try {
    RunStartup(s, std::move(args));
  } catch (const std::bad_alloc&) {
    s.EndSession(config::error::kNoMemory);
  }
  s.CloseAfterMainWindow();
}

}  // namespace nox::app
