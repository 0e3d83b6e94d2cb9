// The main window's Open and Save buttons: a ROM file chosen, loaded and checked against
// the flash part, and the machine's current firmware read through the firmware and written
// to a file.
#pragma once

#include <cstdint>
#include <string>

#include "app/Session.h"
#include "core/Progress.h"
#include "ui/MainDialog.h"

namespace nox::app {

namespace rom_file_text {
inline constexpr const char* kOpenFilter = "ROM Files (*.ROM)|*.ROM|BIN Files (*.BIN)|*.BIN|All Files (*.*)|*.*||";
inline constexpr const char* kSaveFilter = "ROM Files (*.ROM)|*.ROM|All Files (*.*)|*.*||";
inline constexpr const char* kSaveExtension = "ROM";
inline constexpr const char* kCannotOpen = "Cannot open %s\n";
inline constexpr const char* kSizeMismatch = "Firmware file size does not match existing Firmware size.";
inline constexpr const char* kUnableToSave = "Unable to save existing BIOS.\n";
}  // namespace rom_file_text

class RomFileActions {
 public:
  // The file is read and written in pieces of these sizes.
  static constexpr size_t kLoadPiece = 4096;
  static constexpr uint32_t kReadPiece = 0x10000;
  static constexpr size_t kWritePiece = 4096;

  RomFileActions(Session& session, ui::FlashDialog& dialog) : s_(session), dialog_(dialog) {}

  void Open();
  void Save();

  // Byte k of the file is the byte at flash address k, for every block of the table;
  // false when the file cannot be made or a read or write fails. The file is closed
  // whatever happens.
  bool WriteFlashToFile(const std::string& path, const core::ProgressCallback& progress);

 private:
  // The file's bytes become the image; false (with its box shown) when it cannot be read.
  bool LoadFile(const std::string& path);
  // The image fits the flash part, re-reading the flash information between tries.
  bool SizeMatches();
  // Holes, NCBs, the identity file and the EC check now go by the new image.
  bool AnalyseLoadedImage();
  void ShowLoaded(const std::string& path);

  Session& s_;
  ui::FlashDialog& dialog_;
};

}  // namespace nox::app
