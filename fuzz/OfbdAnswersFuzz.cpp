// The firmware's answers to every OFBD block and OEM call the utility sends, taken from
// arbitrary bytes written over the shared block after each request: the first byte picks
// the order of the requests, so that answers meet the state earlier ones left.
#include <cstdint>
#include <cstdlib>

#include "FuzzFirmware.h"
#include "firmware/MeRegion.h"
#include "firmware/OemCall.h"
#include "firmware/Ofbd.h"
#include "firmware/SecureFlash.h"
#include "policy/SystemIdentity.h"

using namespace nox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  fuzz::FirmwareRig rig(in);
  firmware::Ofbd ofbd(rig.smi);
  firmware::OemCalls oem(rig.smi);
  firmware::SecureFlash secure(rig.smi, ofbd);
  const uint8_t ecData[64] = {1, 2, 3};
  for (int step = 0; step < 24 && !in.Empty(); ++step) {
    switch (in.Byte() % 14) {
      case 0: ofbd.SetVersion(ofbd.QueryVersion()); break;
      case 1: {
        const uint8_t selector = in.Byte() % 6;
        if (ofbd.MeRegionQuery(selector) == 0 && (selector == 0 || selector == 3) && !ofbd.KeptMeAnswer()) std::abort();
        firmware::MeAnswer::From(ofbd.KeptMeAnswer());
        break;
      }
      case 2: {
        const auto answer = ofbd.QueryPassword();
        if (answer.text && answer.text->empty()) std::abort();
        break;
      }
      case 3: ofbd.SubmitPassword(std::string(in.Byte() * 5u, 'p')); break;
      case 4: ofbd.EcTransfer(in.Byte() & 7, std::span<const uint8_t>(ecData).first(in.Byte() % 65), in.Le32()); break;
      case 5: ofbd.CommandLineConfiguration(in.Le32(), in.Le32()); break;
      case 6: ofbd.SetupPreserve(in.Byte() & 7); break;
      case 7:
        if (secure.QuerySecureFlash() && !secure.Capable()) std::abort();
        break;
      case 8: secure.StartSecureFlashSession(); break;
      case 9:
        if (const auto areas = oem.ReadIdentity()) {
          policy::SystemIdentity id;
          if (const auto index = oem.ReadSystemNameIndex()) id.systemNameIndex = *index;
          policy::ReadIdentityArea(id, areas->identity, areas->modelName);
        }
        break;
      case 10: oem.ReadPlatformStatus(); break;
      case 11: oem.VersionProtected(in.Le32(), {'A', '0', '7'}); break;
      case 12: oem.MaximumPasswordLength(); break;
      default: oem.SubmitAdministratorPassword(std::string(in.Byte() * 5u, 'q')); break;
    }
  }
  return 0;
}
