// What the firmware tells about itself, from arbitrary bytes: the FADT, the records in the
// F and E segments ("$ASF", "$ECB", "ECB1", refusal texts), the OFBD version and
// secure-flash answers, and the flash information reply with its block table, which then
// becomes the flash layout.
#include <cstdint>
#include <cstdlib>

#include "FuzzFirmware.h"
#include "firmware/FirmwareInfo.h"
#include "image/FlashLayout.h"

using namespace nox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t mode = in.Byte();
  const auto fadt = in.Take(in.Byte());
  fuzz::FirmwareRig rig(in);
  rig.port.SetFadt(fadt);
  rig.port.SetVariableProbe(mode & 1 ? 0 : 2);  // 2: a UEFI firmware answers "not found"
  rig.port.SeedSegments();

  firmware::Ofbd ofbd(rig.smi);
  firmware::OemCalls oem(rig.smi);
  firmware::SecureFlash secure(rig.smi, ofbd);
  firmware::FirmwareInfo info(rig.smi, ofbd, oem, secure, rig.port, [](const std::string&) {});
  if (info.ProbeFirmware() != 0) return 0;
  std::string shown;
  info.CheckUpdatePermission(info.Ecb(), [&](const std::string& text) { shown = text; });
  if (!shown.empty() && info.ESegment().size() > 0 && shown.size() >= info.ESegment().size()) std::abort();
  info.RefreshEcbFlags();
  if (info.OpenFirmware(mode & 2 ? std::optional<uint8_t>(mode) : std::nullopt) != 0) return 0;
  info.CheckUpdatePermission(info.Ecb(), {});

  if (!rig.smi.Info()) rig.smi.LoadFlashInfo();
  if (const auto& flash = rig.smi.Info()) {
    if (flash->Bytes().size() != size_t{flash->BlockCount()} * firmware::FlashInfo::kEntrySize + 25) std::abort();
    image::FlashLayout layout;
    layout.SetBlockTable(*flash);
  }
  info.CloseFirmware();
  return 0;
}
