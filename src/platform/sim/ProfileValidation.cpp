// The checks of a whole profile: fields that must agree with each other, and the layouts
// (block table, segment records, the ME region in front of the firmware's part) that a real
// machine could not have.
#include <algorithm>
#include <utility>
#include <vector>

#include "core/Format.h"
#include "platform/sim/ProfileError.h"
#include "platform/sim/Segments.h"

namespace nox::sim::profile_detail {
namespace {

bool IsVersion(const std::string& v) {
  return v.size() == 3 && v[0] >= 0x20 && v[0] < 0x7F && v[1] >= '0' && v[1] <= '9' &&
         v[2] >= '0' && v[2] <= '9';
}

// The blocks must tile the firmware's part: sorted by start, each begins where the one
// before ends, the first at flash.base and the last at the flash size. The table itself
// stays in the firmware's order.
void ValidateBlocks(const FlashProfile& f) {
  if (f.blocks.empty()) Fail("flash.blocks", "needs at least one block");
  if (f.blocks.size() > 4096) Fail("flash.blocks", "more than 4096 blocks");
  std::vector<size_t> order(f.blocks.size());
  for (size_t i = 0; i < order.size(); ++i) {
    const BlockEntry& b = f.blocks[i];
    const std::string path = core::Format("flash.blocks[%u]", static_cast<unsigned>(i));
    if (b.size == 0 || b.size % 4096 != 0) Fail(path + ".size", "must be a non-zero multiple of 4096");
    if (b.start % 4096 != 0) Fail(path + ".start", "must be a multiple of 4096");
    order[i] = i;
  }
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return f.blocks[a].start < f.blocks[b].start; });
  uint64_t covered = f.base;
  size_t previous = 0;
  for (size_t i : order) {
    const BlockEntry& b = f.blocks[i];
    const std::string path = core::Format("flash.blocks[%u]", static_cast<unsigned>(i));
    if (b.start < f.base) Fail(path + ".start", core::Format("0x%X lies below flash.base 0x%X", b.start, f.base));
    if (b.start < covered) Fail(path + ".start", core::Format("overlaps flash.blocks[%u]", static_cast<unsigned>(previous)));
    if (b.start > covered) {
      Fail("flash.blocks", core::Format("nothing covers 0x%llX-0x%X", static_cast<unsigned long long>(covered), b.start - 1));
    }
    covered = uint64_t{b.start} + b.size;
    if (covered > f.size) {
      Fail(path, core::Format("ends at 0x%llX, past the flash size 0x%X", static_cast<unsigned long long>(covered), f.size));
    }
    previous = i;
  }
  if (covered < f.size) {
    Fail("flash.blocks", core::Format("nothing covers 0x%llX-0x%X", static_cast<unsigned long long>(covered), f.size - 1));
  }
}

// The port the firmware's records name must be one port.
void ValidatePorts(const Profile& p) {
  if (!p.asf.present) return;
  if (p.asf.port == 0) Fail("asf.port", "0 is no port");
  if (p.fadt.present && p.fadt.smiCmd != 0 && p.fadt.smiCmd != p.asf.port) {
    Fail("asf.port", core::Format("0x%X, but the FADT's SMI_CMD names 0x%X", p.asf.port, p.fadt.smiCmd));
  }
}

// The EC block "$ECB" names is the one the block table gives type 3.
void ValidateEcBlock(const Profile& p) {
  if (!p.ecb.present || p.ecb.ecBlockSize == 0) return;
  const uint64_t start = p.ecb.ecBlockStart;
  const uint64_t end = start + p.ecb.ecBlockSize;
  uint64_t covered = 0;
  for (const BlockEntry& b : p.flash.blocks) {
    if (b.type != 3) continue;
    const uint64_t from = std::max<uint64_t>(start, b.start);
    const uint64_t to = std::min<uint64_t>(end, uint64_t{b.start} + b.size);
    if (from < to) covered += to - from;
  }
  if (covered != p.ecb.ecBlockSize) {
    Fail("ecb.ecBlockStart", core::Format("the EC block 0x%X+0x%X is not covered by blocks of type 3",
                                          p.ecb.ecBlockStart, p.ecb.ecBlockSize));
  }
}

// The descriptor takes at least the chip's first sector, the ME region follows it inside the
// span, and the firmware's part begins at the span.
void ValidateMe(const Profile& p) {
  const MeProfile& m = p.me;
  for (size_t i = 0; i < m.failSelectors.size(); ++i) {
    if (m.failSelectors[i] > 5) Fail(core::Format("me.failSelectors[%u]", static_cast<unsigned>(i)), "selectors are 0 to 5");
  }
  if (!m.present) return;
  if (m.span == 0 || m.span % 4096 != 0) Fail("me.span", "must be a non-zero multiple of 4096");
  if (m.regionStart < 4096 || m.regionStart % 4096 != 0) {
    Fail("me.regionStart", "must be a multiple of 4096 from 0x1000 on (the descriptor takes the first sector)");
  }
  if (m.regionSize == 0 || m.regionSize % 4096 != 0) Fail("me.regionSize", "must be a non-zero multiple of 4096");
  if (uint64_t{m.regionStart} + m.regionSize > m.span) Fail("me.regionSize", "the ME region ends past me.span");
  if (uint64_t{m.span} + p.flash.size > kMaxFlashSize) Fail("me.span", "the chip (me.span + flash.size) is larger than 256 MiB");
  if (p.flash.base != 0) Fail("flash.base", "must be 0 with an ME region: me.span places the firmware's part on the chip");
  if (p.secureFlash.capable) Fail("secureFlash.capable", "a secure-flash firmware with an ME region is not simulated");
}

void ValidateEcFlash(const EcFlashProfile& e) {
  if (e.size == 0 || e.size > (16u << 20)) Fail("ecFlash.size", "must be 1 byte to 16 MiB");
  for (size_t i = 0; i < e.faults.size(); ++i) {
    const std::string path = core::Format("ecFlash.faults[%u]", static_cast<unsigned>(i));
    if (e.faults[i].status == 1) Fail(path + ".status", "1 is the success answer");
    if (e.faults[i].nth == 0) Fail(path + ".nth", "requests are counted from 1");
  }
}

}  // namespace

void Validate(const Profile& p) {
  const FlashProfile& f = p.flash;
  if (f.size == 0 || f.size % 4096 != 0) Fail("flash.size", "must be a non-zero multiple of 4096");
  // The machine keeps the whole part in memory and writes it out on every save.
  if (f.size > kMaxFlashSize) Fail("flash.size", "at most 256 MiB");
  if (f.replyVersion < 9 || f.replyVersion > 13) Fail("flash.replyVersion", "must be 9 to 13");
  if (f.base % 4096 != 0 || f.base >= f.size) Fail("flash.base", "must be a multiple of 4096 below flash.size");
  ValidateBlocks(f);
  if (p.successStatus == 1 || p.successStatus == 255) {
    Fail("successStatus", "must be below 255 and not 1 (1 means failure)");
  }
  ValidatePorts(p);
  if (p.ecb.present) {
    if (p.ecb.messages.size() != 4) Fail("ecb.messages", "needs four texts (flag bits 4 to 7)");
    if (uint64_t{p.ecb.ecBlockStart} + p.ecb.ecBlockSize > f.size) {
      Fail("ecb.ecBlockSize", "the EC block reaches past the flash");
    }
    if (p.ecb.ecBlockSize != 0 && uint64_t{p.ecb.ecVersionOffset} + 4 > p.ecb.ecBlockSize) {
      Fail("ecb.ecVersionOffset", "lies outside the EC block");
    }
    ValidateEcBlock(p);
  }
  const IdentityProfile& id = p.identity;
  if (!IsVersion(id.version)) Fail("identity.version", "must be a letter and two digits, like A06");
  if (id.names.empty()) Fail("identity.names", "needs at least one model name");
  for (size_t i = 0; i < id.names.size(); ++i) {
    if (id.names[i].empty() || id.names[i].size() > 19) {
      Fail(core::Format("identity.names[%u]", static_cast<unsigned>(i)), "must be 1 to 19 characters");
    }
  }
  if (id.systemName.size() > 19) Fail("identity.systemName", "must be at most 19 characters");
  if (id.extensionIds.size() > 11) Fail("identity.extensionIds", "at most 11 IDs");
  for (size_t i = 0; i < id.extensionIds.size(); ++i) {
    if (id.extensionIds[i] == 0) Fail(core::Format("identity.extensionIds[%u]", static_cast<unsigned>(i)), "0 ends the list");
  }
  for (size_t i = 0; i < p.oem.protectedVersions.size(); ++i) {
    if (!IsVersion(p.oem.protectedVersions[i])) {
      Fail(core::Format("oem.protectedVersions[%u]", static_cast<unsigned>(i)), "must be a letter and two digits");
    }
  }
  if (p.oem.password.size() > p.oem.passwordMaxLength) {
    Fail("oem.password", "is longer than oem.passwordMaxLength");
  }
  if (p.oem.password.size() > 1000) Fail("oem.password", "must fit the 1 KiB data area");
  const OfbdPasswordProfile& op = p.ofbdPassword;
  // The submission carries the password behind a 26-byte block inside 1024 bytes; texts
  // go behind the answer block, which is at most 30 bytes.
  if (op.password.size() > 998) Fail("ofbdPassword.password", "must fit behind the block (998 characters)");
  if (op.enabled && op.maxAttempts == 0) Fail("ofbdPassword.maxAttempts", "must be at least 1");
  for (const auto& [key, text] : {std::pair<const char*, const std::string*>{"prompt", &op.prompt},
                                  {"wrongMessage", &op.wrongMessage},
                                  {"lockedMessage", &op.lockedMessage}}) {
    if (text->size() > 900) Fail(std::string("ofbdPassword.") + key, "at most 900 characters");
  }
  for (size_t i = 0; i < p.faults.fail.size(); ++i) {
    if (p.faults.fail[i].length == 0) Fail(core::Format("faults.fail[%u].length", static_cast<unsigned>(i)), "must not be 0");
  }
  for (size_t i = 0; i < p.faults.bitFlips.size(); ++i) {
    if (p.faults.bitFlips[i].length == 0) {
      Fail(core::Format("faults.bitFlips[%u].length", static_cast<unsigned>(i)), "must not be 0");
    }
  }
  if (p.secureFlash.capable && p.ofbdVersion == 0) {
    Fail("secureFlash.capable", "the secure-flash requests travel in OFBD blocks: give ofbdVersion");
  }
  if (p.secureFlash.failPieceAt && *p.secureFlash.failPieceAt >= uint64_t{f.size} + 65536) {
    Fail("secureFlash.failPieceAt", "lies past the image memory (flash size + 65536)");
  }
  ValidateMe(p);
  ValidateEcFlash(p.ecFlash);
  const std::string records = CheckSegmentRecords(p);
  if (!records.empty()) throw ProfileError(records);
}

}  // namespace nox::sim::profile_detail
