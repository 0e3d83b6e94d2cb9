// The description of one simulated machine: its flash part, the records its firmware leaves
// in the legacy segments, how its handler answers, and the faults to inject. Kept as
// machine.json in the machine's directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace nox::sim {

struct BlockEntry {
  uint32_t start = 0;
  uint32_t size = 0;
  uint8_t type = 0;
};

struct FlashProfile {
  uint32_t size = 0;
  // Where the firmware's part of the chip begins. The block table describes [base, size);
  // what lies below (a descriptor, other regions) is not the firmware's to read or write.
  uint32_t base = 0;
  uint8_t replyVersion = 11;   // 9 to 13: 10 and below the short header, 11 and up the long one
  uint8_t refusalMarker = 0;   // byte 4 of the flash-information reply
  uint32_t ecVersionOffset = 0;   // reply header, versions 11 and up
  uint32_t ecVersionMask = 0;
  std::vector<BlockEntry> blocks;   // in the firmware's order; together they tile [base, size)
};

struct FadtProfile {
  bool present = true;
  uint16_t smiCmd = 0xB2;
};

struct AsfProfile {
  bool present = false;
  uint16_t port = 0xB2;
  uint8_t slotDistance = 16;   // from the record's start to the u32 address slot
  uint32_t offset = 0x100;     // where the record sits in the F segment
};

struct EcbProfile {
  bool present = false;
  uint32_t offset = 0x200;     // in the E segment
  uint8_t flags = 0;
  uint32_t ecBlockStart = 0;
  uint32_t ecBlockSize = 0;
  uint16_t ecVersionOffset = 0;
  uint32_t ecVersionMask = 0xFFFFFFFF;
  // Refusal texts for flag bits 4..7; an empty text leaves its message offset at zero.
  std::vector<std::string> messages = {"", "", "", ""};
};

// The platform status word: the "ECB1" record on legacy machines, OEM call 99/17 on UEFI.
struct Ecb1Profile {
  bool present = false;
  uint32_t offset = 0x300;     // in the E segment
  uint16_t flags = 0;
  // After this many refreshes the word becomes flagsAfter (0: never changes), so that a
  // "plug in the power cord" loop can be seen to end.
  uint32_t refreshesUntilChange = 0;
  uint16_t flagsAfter = 0;
};

struct EcProfile {
  uint32_t version = 0x00010000;   // the running EC firmware's version word
};

enum class IdentityPlacement { Segment, Oem };

struct IdentityProfile {
  std::string version = "A06";
  uint8_t systemId = 0x9A;
  uint16_t extendedId = 0x1234;
  std::vector<uint16_t> extensionIds;   // the "$DI$" list of the machine's images
  std::vector<std::string> names = {"Model 1"};
  std::string systemName = "Model 1";   // the "Korv System" block
  IdentityPlacement placement = IdentityPlacement::Segment;
  uint32_t offset = 0x400;              // first marker block in the F segment
};

struct OemProfile {
  bool identity = false;              // 99/15
  bool platformFlags = false;         // 99/17
  uint8_t updatePermission = 255;     // low byte of 99/17 output 2
  int nameIndex = -1;                 // 99/31; -1 leaves the call unanswered
  bool protectionCheck = false;       // 99/40
  std::vector<std::string> protectedVersions;
  bool adminPassword = false;         // class 10
  std::string password;               // empty: no password set
  uint8_t passwordMaxLength = 16;
};

// The command-line configuration exchange: whether the firmware answers it and with which
// option bits to switch on and off.
struct DefaultsProfile {
  bool enabled = false;
  uint32_t switchOn = 0;
  uint32_t switchOff = 0;
};

// The firmware password of the OFBD 'R' operation. A query answers "required" (or "no more
// attempts" once they are used up); a submission answers accepted (2) or wrong. The texts
// are offered behind the answer block; an empty text offers none.
struct OfbdPasswordProfile {
  bool enabled = false;
  std::string password;
  uint32_t maxAttempts = 3;        // wrong submissions before the firmware locks
  std::string prompt;              // behind the query's answer
  std::string wrongMessage;        // behind the answer to a wrong submission
  std::string lockedMessage;       // behind every answer once locked
};

// The setup-preserve 'V' operation: the firmware keeps the setup settings across an NVRAM
// rewrite. Each sub-function can be made to fail.
struct SetupPreserveProfile {
  bool supported = false;
  bool storeFails = false;
  bool restoreFails = false;
};

// Secure flash: the firmware takes the whole image into its own memory through OFBD 'p'
// blocks, checks its capsule header, and then lets the utility write only that image inside
// a session, or programs it itself at the next boot (capsule and recovery updates).
struct SecureFlashProfile {
  bool capable = false;
  bool requireSigned = false;     // refuse images whose capsule header carries no digest
  uint8_t sessionStatus = 0;      // 0: decide by the checks; else refuse every session with it
  std::optional<uint32_t> failPieceAt;  // a piece covering this image-memory offset fails
};

// A management engine with a region of its own on the chip, in front of the system
// firmware's: [0, span) holds the flash descriptor and the ME region, [span, span +
// flash.size) the part the block table describes. Outside a begin/end pair the firmware takes
// flash addresses in the block table's space (address 0 is chip address `span`), so the
// descriptor and the ME region cannot even be named; between a begin and its end it takes
// chip addresses and lets only the range the begin unlocked be erased or written.
struct MeProfile {
  bool present = false;
  uint32_t span = 0;
  uint32_t regionStart = 0;
  uint32_t regionSize = 0;
  bool ignition = true;                // answers selectors 0 to 2: the ME region alone
  bool entire = true;                  // answers selectors 3 to 5: everything in front of the span
  std::vector<uint8_t> failSelectors;  // requests answered as failed (record byte 0 = 2)
};

// The embedded controller's own flash (ec.bin), which the firmware programs with what the
// utility hands it in OFBD 'T' transfers.
enum class EcRequest { Begin, Data, End };

// The requests of one kind are counted over a run of the utility from 1; the nth and the
// times - 1 after it are answered with `status` (times 0: every one from the nth on).
struct EcFault {
  EcRequest request = EcRequest::Data;
  uint32_t nth = 1;
  uint16_t status = 8;
  uint32_t times = 1;
};

struct EcFlashProfile {
  bool present = false;
  uint32_t size = 0x20000;
  std::vector<EcFault> faults;
};

// Real time a flash request, and a piece of an image handed to a secure-flash firmware,
// take, so that a person can watch a run; the virtual clock is not affected. 0 (the default)
// answers at once.
struct TimingProfile {
  uint32_t realMicrosPerRequest = 0;
  uint32_t realMicrosPerPiece = 0;
};

struct StuckFault {
  uint32_t fromSmi = 0;                 // 0 with an address: match by address
  std::optional<uint32_t> address;
  uint32_t attempts = 1;
};

enum class FlashOp { Read, Erase, Write };

struct RangeFault {
  FlashOp op = FlashOp::Write;
  uint32_t start = 0;
  uint32_t length = 0;
};

struct BitFlipFault {
  uint32_t start = 0;
  uint32_t length = 0;
  uint32_t writes = 1;
  uint8_t mask = 0x01;
};

struct FaultProfile {
  bool writeProtected = false;
  bool noSharedBlock = false;       // the driver finds no memory for the shared block
  std::vector<StuckFault> stuck;
  std::vector<RangeFault> fail;
  std::vector<BitFlipFault> bitFlips;
  uint64_t powerLossAfterSmi = 0;   // 0: never
};

struct Profile {
  std::string name;
  bool uefi = false;
  FlashProfile flash;
  uint8_t enableAnswer = 0;     // status of command 32; 1, 2 and 3 refuse, the rest enable
  // Command 32 writes its status byte only to refuse (the caller clears it beforehand);
  // false makes it write 0 on success too.
  bool enableSilentOnSuccess = true;
  uint8_t successStatus = 0;    // any value below 255 other than 1
  FadtProfile fadt;
  AsfProfile asf;
  EcbProfile ecb;
  Ecb1Profile ecb1;
  EcProfile ec;
  IdentityProfile identity;
  OemProfile oem;
  uint16_t ofbdVersion = 0;     // 0: no OFBD
  DefaultsProfile defaults;
  OfbdPasswordProfile ofbdPassword;
  SetupPreserveProfile setupPreserve;
  SecureFlashProfile secureFlash;
  MeProfile me;
  EcFlashProfile ecFlash;
  TimingProfile timing;
  FaultProfile faults;
};

// Reading a profile reports the first problem as "<field path>: <reason>".
struct ProfileResult {
  std::optional<Profile> profile;
  std::string error;
};

ProfileResult ProfileFromJson(const nlohmann::json& json);
nlohmann::json ProfileToJson(const Profile& profile);

// The EC block's start, size and version field as the firmware describes them: from "$ECB"
// when present, else from the first type-3 block and the reply header.
struct EcLayout {
  bool present = false;
  uint32_t start = 0;
  uint32_t size = 0;
  uint32_t versionOffset = 0;
  uint32_t versionMask = 0;
};
EcLayout EcLayoutOf(const Profile& profile);

// The whole chip: the ME's span in front of the block table's part, when there is one.
uint32_t ChipSize(const Profile& profile);
// Where address 0 of the block table lies on the chip.
uint32_t FirmwareBase(const Profile& profile);

// The port the SMI handler listens on, as the firmware's records name it: the "$ASF" port,
// else the FADT's SMI_CMD when it names one, else 0xB2.
uint16_t HandlerPort(const Profile& profile);

}  // namespace nox::sim
