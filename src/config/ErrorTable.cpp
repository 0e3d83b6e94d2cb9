#include "config/ErrorTable.h"

namespace nox::config {
namespace {

// A slot whose value is not below the record count means "no record"; filling every byte
// with 0x11 gives a value far above any count.
constexpr uint32_t kEmptySlot = 0x11111111;

struct BuiltInError {
  uint32_t id;
  const char* message;
};

constexpr BuiltInError kBuiltInErrors[] = {
    {0, ""},
    {1, "Error: Unknown command"},
    {2, "BIOS has no flash information available"},
    {3, "ROM file size does not match existing BIOS size"},
    {4, "ROM file ROMID is not compatible with existing BIOS ROMID"},
    {5, "Error: Bootblock error"},
    {6, "Error: This BIOS version has more Not-Critical blocks than supported"},
    {7, "Error: BIOS checksum error"},
    {8, "Error: Invalid option"},
    {9, "Error: Size of ROM file does not match the size of system ROM"},
    {10, "Error: Unable to update ROM hole"},
    {16, "Error: Unable to load driver"},
    {17, "Error: Unable to unload driver"},
    {18, "Error: No non-critical blocks found in ROM file"},
    {19, "Error: Requested non-critical block not available in ROM file"},
    {20, "Error: Non-critical blocks in ROM image file do not match those in the system"},
    {21, "Error: Secure Flash function is not supported on this platform."},
    {22, "Error: Unable to get Secure Flash policy from BIOS."},
    {23, "Error: Unsupported Secure Flash policy."},
    {24, "Error: Unable to start a Secure Flash session."},
    {25, "Error: Failed to erase flash chip (at Runtime Secure Flash)."},
    {26, "Error: Failed to update flash chip (at Runtime Secure Flash)."},
    {27, "Error: Failed to read flash chip (at Runtime Secure Flash)."},
    {28, "Error: Failed to verify flash chip (at Runtime Secure Flash)."},
    {29, "Error: Failed to load image into memory."},
    {30, "Error: Reserved for Secure Flash."},
    {31, "Error: Reserved for Secure Flash."},
    {32, "Error: Unable to initialize memory manager"},
    {33, "Error: Unable to close memory manager"},
    {34, "Error: Problem allocating memory"},
    {35, "Error: Problem freeing memory"},
    {36, "Error: Problem allocating BIOS buffer"},
    {37, "Error: Problem freeing BIOS buffer"},
    {38, "Error: Problem freeing mapping BIOS"},
    {39, "Problem freeing unmapping BIOS"},
    {40, "Error: Problem mapping BIOS data"},
    {41, "Error: Problem unmapping BIOS data"},
    {48, "Error: Problem opening file for reading"},
    {49, "Error: Problem reading file"},
    {50, "Error: Problem opening file to write"},
    {51, "Error: Problem writting file"},
    {64, "Error: BIOS is write-protected"},
    {65, "Error: Can not close flash interface"},
    {66, "Error: Problem reading flash"},
    {67, "Error: Problem erasing flash"},
    {68, "Error: Problem writting flash"},
    {69, "Error: Problem verifying flash"},
    {70, "Error: Problem getting flash information"},
    {71, "Error: Problem not firmware id"},
    {72, "Error: Power cord not connected.  Plug in power cord to flash"},
    {73, "Error: A platform condition has prevented flashing"},
    {80, "Error: This program must be run in MS-DOS mode"},
    {96, "Error: Accessing registry"},
    {97, "Error: Program already running"},
    {112, "Error: BSD access IO"},
    {128, "Error: Size of system ROM mismatches size of ROM file"},
    {129, "Error: ROM ID mismatch"},
    {130, "Error: Bootblock checksum error"},
    {144, "Error: Error to shutdown"},
    {145, "Error: Error to restart..."},
    {146, "Error: Can't open ROM ID file"},
    {147, "Error: ROM ID file is not a ROM file"},
    {148, "Error: Invalid MAC address"},
    {149, "Error: Invalid load current CMOS option"},
    {150, "Error: Invalid retry count"},
    {151, "Error: Invalid defined ROM ID length"},
    {152, "Error: Invalid SMI"},
    {153, "Error: ROM File ID don't exist"},
    {154, "Error: System ROM ID don't exist"},
    {155, "Error: Password Retry count exceeded!"},
    {156, "Error: BIOS donn't support SETUP preserve funtion."},
    {157, "Error: Store SETUP setting error."},
    {158, "Error: Restore SETUP setting error."},
    {159, "Error: Can not analyze ROM file. ROM file may be corrupted."},
    {160, "Error: Can not analyze the ME Data. ROM file may be corrupted."},
    {161, "Error: BIOS does not support ME Entire Firmware update"},
    {162, "Error: BIOS does not support ME Ignition Firmware update"},
    {163, "Error: Invalid EC ROM file."},
    {164, "Error: EC ROM file checksum error."},
    {165, "Error: Can't entry EC flash mode."},
    {166, "Error: Erasing EC flash memory fail."},
    {167, "Error: Initial EC programming fail."},
    {168, "Error: EC flash data transmit error."},
    {169, "Error: Writting EC flash memory fail."},
    {170, "Error: Exit EC programming mode fail."},
    {171, "Error: ROM Chip ID mismatch."},
    {172, "Error: Invalid EC Header Table."},
    {173, "Error: EC does not permit BIOS update"},
};

static_assert(std::size(kBuiltInErrors) == ErrorTable::kBuiltInCount);

}  // namespace

void ErrorTable::BuildErrorTable() {
  records_.clear();
  records_.reserve(kBuiltInCount);
  index_.fill(kEmptySlot);
  for (const BuiltInError& e : kBuiltInErrors) Add(e.id, e.message);
}

void ErrorTable::Add(uint32_t id, const char* message) {
  if (id >= kIndexSlots) return;
  index_[id] = static_cast<uint32_t>(records_.size());
  records_.push_back(ErrorRecord{id, id, message});
}

const ErrorRecord* ErrorTable::Find(uint32_t id) const {
  if (id >= kIndexSlots) return nullptr;
  const uint32_t slot = index_[id];
  return slot < records_.size() ? &records_[slot] : nullptr;
}

const char* ErrorTable::ErrorMessage(uint32_t id) const {
  const ErrorRecord* r = Find(id);
  return r ? r->message.c_str() : kUndefinedMessage;
}

uint32_t ErrorTable::ExitCodeOf(uint32_t id) const {
  const ErrorRecord* r = Find(id);
  return r ? r->exitCode : 0;
}

}  // namespace nox::config
