// The command (option) records: every behaviour switch of a run is a command with a small
// integer id. This file holds the record type, the status bits and the built-in declarations.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace nox::config {

// Status bits of a command record.
namespace status {
inline constexpr uint8_t kAvailable = 0x01;
inline constexpr uint8_t kReserved = 0x02;  // declared, never read
inline constexpr uint8_t kSelected = 0x04;
inline constexpr uint8_t kTakesValue = 0x08;  // a value follows the name directly
inline constexpr uint8_t kKeepsCase = 0x20;   // the value keeps its letter case
}  // namespace status

// Ids that other parts of the program name. Only the ones used in code are listed.
namespace option {
inline constexpr uint32_t kRomFile = 1;
inline constexpr uint32_t kSaveFile = 2;
inline constexpr uint32_t kMainBios = 3;
inline constexpr uint32_t kBootBlock = 4;
inline constexpr uint32_t kNvram = 5;
inline constexpr uint32_t kCmosChecksum = 6;
inline constexpr uint32_t kEc = 7;
inline constexpr uint32_t kAllNcb = 8;
inline constexpr uint32_t kNcbN = 9;
inline constexpr uint32_t kSilent = 10;
inline constexpr uint32_t kReboot = 11;
inline constexpr uint32_t kNoRomIdCheck = 12;
inline constexpr uint32_t kRomIdLength = 13;
inline constexpr uint32_t kShowFileRomId = 14;
inline constexpr uint32_t kShowSystemRomId = 15;
inline constexpr uint32_t kPreserveAllSmbios = 18;
inline constexpr uint32_t kPreserveSmbiosType = 19;
inline constexpr uint32_t kChangeVersion = 20;
inline constexpr uint32_t kRetry = 21;
inline constexpr uint32_t kHelp = 25;
inline constexpr uint32_t kVerifyOnly = 28;
inline constexpr uint32_t kShowWarnings = 29;
inline constexpr uint32_t kDefaultBehaviour = 30;
inline constexpr uint32_t kEcIfNewer = 34;
inline constexpr uint32_t kOemSmi = 35;
inline constexpr uint32_t kShutdown = 36;
inline constexpr uint32_t kRomHole = 37;
inline constexpr uint32_t kPreserveSetup = 39;
inline constexpr uint32_t kEcFlashType = 40;
inline constexpr uint32_t kMeIgnition = 41;
inline constexpr uint32_t kMeEntire = 42;
inline constexpr uint32_t kCompareFirst = 46;
inline constexpr uint32_t kNotAVersion = 51;
inline constexpr uint32_t kNotXVersion = 52;
inline constexpr uint32_t kCapsule = 53;
inline constexpr uint32_t kRecovery = 54;
inline constexpr uint32_t kNdwaVersion = 55;
inline constexpr uint32_t kSystemExtendedId = 56;
inline constexpr uint32_t kMeFwUpdLcl = 57;
}  // namespace option

struct CommandRecord {
  uint32_t id = 0;
  std::string name;
  uint32_t number = 0;   // letter-digit commands: bit mask of the digits given
  std::string values;    // values joined with "<", most recent first; empty = none
  uint8_t status = 0;
  std::string help;

  bool Available() const { return (status & status::kAvailable) != 0; }
  bool Selected() const { return (status & status::kSelected) != 0; }
};

struct CommandDeclaration {
  uint32_t id;
  const char* name;
  uint8_t status;
  const char* help;
};

// The built-in commands in table order (the order also settles matching ties).
std::span<const CommandDeclaration> BuiltInCommands();

// How an argument is matched against a record.
enum class ArgumentKind { kNone, kLetterDigit, kNameWithValue, kExactSwitch };

ArgumentKind KindOf(const CommandRecord& record);

}  // namespace nox::config
