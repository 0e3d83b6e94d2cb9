#include "app/RomFileActions.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <vector>

#include "app/IdentityText.h"
#include "core/Format.h"
#include "policy/SystemIdentity.h"

namespace nox::app {

namespace {

namespace option = config::option;
namespace text = rom_file_text;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// One past what a 32-bit flash size can be: a larger file can never fit the part, and is
// not read into memory to find that out.
constexpr uint64_t kLargestImage = 0xFFFFFFFFull;

}  // namespace

void RomFileActions::Open() {
  // The program works from the file from now on.
  if (s_.ImageFromPackage()) s_.ReleaseImage();
  const ui::FileDialogOptions options{text::kOpenFilter, "",
                                ui::file_flag::kHideReadOnly | ui::file_flag::kPathMustExist |
                                    ui::file_flag::kFileMustExist | ui::file_flag::kEnableSizing};
  const std::optional<std::string> path = s_.platform.ui.OpenFileDialog(options);
  if (!path) return;

  if (ui::InformationPageModel* info = dialog_.InformationPage()) info->ForgetRomFile();
  dialog_.EnableFlashButton(false);
  s_.config.SetValue(option::kRomFile, "");
  s_.config.SetValue(option::kRomFile, *path);
  s_.config.SelectCommand(option::kRomFile, true);
  s_.flashSession.romFileGiven = true;
  s_.flashSession.romFileName = *path;

  if (LoadFile(*path) && SizeMatches() && AnalyseLoadedImage()) {
    ShowLoaded(*path);
    return;
  }
  s_.flashSession.romFileGiven = false;
  if (ui::InformationPageModel* info = dialog_.InformationPage()) info->ClearRomFilePath();
}

bool RomFileActions::LoadFile(const std::string& path) {
  // Only a regular file is an image: a directory or a device opens but cannot be read as one.
  std::error_code error;
  const bool regular = std::filesystem::is_regular_file(std::filesystem::u8path(path), error);
  const uint64_t size = regular ? std::filesystem::file_size(std::filesystem::u8path(path), error) : 0;
  File file(regular && !error ? std::fopen(path.c_str(), "rb") : nullptr);
  if (!file) {
    s_.platform.ui.MessageBox(core::Format(text::kCannotOpen, path.c_str()), ui::kAppTitle, ui::style::kIconError);
    return false;
  }
  std::vector<uint8_t> bytes;
  const size_t kept = static_cast<size_t>(std::min(size, kLargestImage));
  try {
    // Whole 32-bit words, one more than the size needs, all zero.
    bytes.assign((kept / 4 + 1) * 4, 0);
    s_.Scratch().assign(Session::kScratchSize, 0);
  } catch (const std::bad_alloc&) {
    s_.EndSession(config::error::kNoMemory);
  }
  for (size_t at = 0; at < kept;) {
    const size_t piece = std::min(kLoadPiece, kept - at);
    if (std::fread(bytes.data() + at, 1, piece, file.get()) != piece) {
      file.reset();
      s_.EndSession(config::error::kReadFile);
    }
    at += piece;
  }
  file.reset();
  // A file past 32 bits is kept one byte too long, so that it can never pass the size check.
  s_.AdoptFileImage(std::move(bytes), size > kLargestImage ? kept + 1 : kept);
  return true;
}

bool RomFileActions::SizeMatches() {
  const uint64_t imageSize = s_.Image().size();
  for (uint32_t attempt = 0; attempt < s_.flashSession.retryCount; ++attempt) {
    if (imageSize == s_.smi.TotalFlashSize()) return true;
    // The firmware may have answered with a partial table; ask it again.
    if (s_.smi.LoadFlashInfo() == 0) {
      if (const auto& info = s_.smi.Info()) s_.layout.SetBlockTable(*info);
    }
  }
  if (imageSize == s_.smi.TotalFlashSize()) return true;
  s_.platform.ui.MessageBox(text::kSizeMismatch, ui::kAppTitle, ui::style::kOk);
  return false;
}

bool RomFileActions::AnalyseLoadedImage() {
  // The holes, NCBs and identity file of the image that was in use no longer apply; a file
  // whose NCBs cannot be numbered is refused instead of ending the program.
  if (const uint32_t error = s_.layout.AnalyseImage(s_.Image()); error != 0) {
    s_.platform.ui.MessageBox(s_.config.ErrorMessage(error), ui::kAppTitle, ui::style::kIconError);
    return false;
  }
  const image::PlatformIdentityFile& id = s_.layout.IdentityFile();
  policy::ReadRomIdentity(s_.identity, s_.Image(), policy::RomScanMode::kIdentityFile, id.Found() ? id.imageOffset : 0,
                          id.size);
  return true;
}

void RomFileActions::ShowLoaded(const std::string& path) {
  if (ui::InformationPageModel* info = dialog_.InformationPage()) {
    info->SetRomFile(path, FileIdentityText(s_));
  }
  dialog_.EnableFlashButton(true);
  if (ui::SetupPageModel* setup = dialog_.SetupPage()) {
    // The main BIOS box's state becomes the selection again, whatever the file before set.
    setup->OnClicked(ui::setup_id::kMainBios);
    if (s_.layout.NcbCount() > 0) setup->EnableNcbBoxes(s_.layout.NcbCount());
    dialog_.ShowSetupPage();
  }
}

void RomFileActions::Save() {
  os::OsServices& os = s_.platform.os;
  os.SetFlashProtection(true);
  const ui::FileDialogOptions options{text::kSaveFilter, text::kSaveExtension,
                                ui::file_flag::kHideReadOnly | ui::file_flag::kOverwritePrompt};
  const std::optional<std::string> path = s_.platform.ui.SaveFileDialog(options);
  if (!path) {
    // Nothing is read: the power buttons and the lock policy go back at once.
    os.SetFlashProtection(false);
    return;
  }
  dialog_.ResetMap(ui::kGrey);
  dialog_.ShowProgressPage();
  s_.config.SetValue(option::kSaveFile, "");
  s_.config.SetValue(option::kSaveFile, *path);
  s_.config.SelectCommand(option::kSaveFile, true);
  s_.flashSession.saveFileName = *path;

  os.BlockUserInput(true);
  dialog_.ResetMap(0xFFFFFFFF);
  const auto onReading = [this](uint32_t a, uint32_t v, uint32_t l) { dialog_.OnReading(a, v, l); };
  while (!WriteFlashToFile(*path, onReading)) {
    os.BlockUserInput(false);
    dialog_.SetStatus("Failed.");
    const ui::Button answer = s_.platform.ui.MessageBox(
        text::kUnableToSave, ui::kAppTitle, ui::style::kRetryCancel | ui::style::kIconError);
    if (answer != ui::Button::kRetry) {
      os.SetFlashProtection(false);
      return;
    }
    dialog_.ResetMap(ui::kGrey);
    os.BlockUserInput(true);
  }
  dialog_.SetStatus("Done.");
  os.BlockUserInput(false);
  os.SetFlashProtection(false);
}

bool RomFileActions::WriteFlashToFile(const std::string& path, const core::ProgressCallback& progress) {
  File file(std::fopen(path.c_str(), "w+b"));
  if (!file) return false;
  const auto blocks = s_.layout.Blocks();
  if (progress) progress(0xFFFFFFFE, blocks.empty() ? 0 : blocks.front().start, 0);
  std::vector<uint8_t> piece;
  for (const firmware::FlashBlockEntry& block : blocks) {
    for (uint64_t done = 0; done < block.size;) {
      const uint32_t address = static_cast<uint32_t>(block.start + done);
      const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(kReadPiece, block.size - done));
      try {
        piece.assign(length, 0);
      } catch (const std::bad_alloc&) {
        file.reset();
        s_.EndSession(config::error::kNoMemory);
      }
      if (!s_.smi.ReadFlash(address, length, piece, progress)) return false;
      // The file mirrors the flash: a table that starts above 0 leaves zeros in front.
      if (std::fseek(file.get(), static_cast<long>(address), SEEK_SET) != 0) return false;
      for (size_t at = 0; at < length; at += kWritePiece) {
        const size_t n = std::min(kWritePiece, length - at);
        if (std::fwrite(piece.data() + at, 1, n, file.get()) != n) return false;
      }
      done += length;
    }
  }
  // A write the system only buffered fails when the file is closed.
  if (std::fclose(file.release()) != 0) return false;
  if (progress) progress(0xFFFFFFFF, s_.smi.TotalFlashSize(), 0);
  return true;
}

}  // namespace nox::app
