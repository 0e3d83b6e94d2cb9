#include "platform/sim/SmiHandler.h"

#include "platform/sim/Machine.h"

namespace nox::sim {

const char* SmiOpName(uint8_t command) {
  switch (command) {
    case smi::kOemCall: return "oem";
    case smi::kEnable: return "enable";
    case smi::kRead: return "read";
    case smi::kErase: return "erase";
    case smi::kWrite: return "write";
    case smi::kDisable: return "disable";
    case smi::kFlashInfo: return "flash-info";
    case smi::kOfbd: return "ofbd";
    case smi::kRefreshEcb: return "refresh-ecb";
    default: return "unknown";
  }
}

void SmiHandler::RunWithoutBlock(uint8_t command, const char* misuse) {
  SmiRecord r;
  r.number = ++machine_.MutableState().smiCount;
  r.timeMs = machine_.Now();
  r.command = command;
  r.op = SmiOpName(command);
  r.misuse = misuse;
  machine_.GetJournal().RecordSmi(r);
  machine_.AfterSmi();
}

void SmiHandler::Run(uint8_t command, std::span<uint8_t> block, uint32_t blockPhysical) {
  const uint64_t number = ++machine_.MutableState().smiCount;
  switch (command) {
    case smi::kEnable:
    case smi::kRead:
    case smi::kErase:
    case smi::kWrite:
    case smi::kDisable:
    case smi::kFlashInfo: flash_.Serve(command, number, block, blockPhysical); break;
    case smi::kOfbd: ofbd_.Serve(number, block, blockPhysical); break;
    case smi::kOemCall: oem_.Serve(number, block, blockPhysical); break;
    case smi::kRefreshEcb: oem_.Refresh(number); break;
    default: {
      // A platform may hook any other code (the utility raises one on request while it
      // opens the firmware); this firmware has nothing behind them and answers nothing.
      SmiRecord r;
      r.number = number;
      r.timeMs = machine_.Now();
      r.command = command;
      r.op = SmiOpName(command);
      machine_.GetJournal().RecordSmi(r);
      break;
    }
  }
  machine_.AfterSmi();
}

}  // namespace nox::sim
