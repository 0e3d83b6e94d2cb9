#include "platform/sim/Profile.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

#include <nlohmann/json.hpp>

#include "core/Format.h"
#include "platform/sim/Segments.h"

namespace nox::sim {
namespace {

using nlohmann::json;

// Thrown only inside this file; ProfileFromJson turns it into the error text.
struct ProfileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

constexpr uint32_t kMaxFlashSize = 256u << 20;

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
  throw ProfileError(path + ": " + reason);
}

std::string Join(const std::string& path, const std::string& key) {
  return path.empty() ? key : path + "." + key;
}

// Numbers may be given as JSON numbers or as "0x..." text, which is how people write
// addresses and IDs.
uint64_t Unsigned(const json& v, const std::string& path, uint64_t max) {
  uint64_t value = 0;
  if (v.is_number_unsigned()) {
    value = v.get<uint64_t>();
  } else if (v.is_number_integer()) {
    if (v.get<int64_t>() < 0) Fail(path, "must not be negative");
    value = static_cast<uint64_t>(v.get<int64_t>());
  } else if (v.is_string()) {
    const std::string text = v.get<std::string>();
    size_t used = 0;
    try {
      value = std::stoull(text, &used, 0);
    } catch (const std::exception&) {
      Fail(path, "\"" + text + "\" is not a number");
    }
    if (used != text.size() || text.empty() || text[0] == '-') {
      Fail(path, "\"" + text + "\" is not a number");
    }
  } else {
    Fail(path, "must be a number");
  }
  if (value > max) Fail(path, core::Format("%llu is larger than %llu",
                                           static_cast<unsigned long long>(value),
                                           static_cast<unsigned long long>(max)));
  return value;
}

class Reader {
 public:
  Reader(const json& object, std::string path) : object_(object), path_(std::move(path)) {
    if (!object_.is_object()) Fail(path_.empty() ? "profile" : path_, "must be an object");
  }

  bool Has(const char* key) const { return object_.contains(key); }
  std::string PathOf(const char* key) const { return Join(path_, key); }
  const std::string& Path() const { return path_; }
  const json& At(const char* key) const { return object_.at(key); }

  template <typename T>
  void Number(const char* key, T& out) const {
    if (!Has(key)) return;
    out = static_cast<T>(Unsigned(At(key), PathOf(key), std::numeric_limits<T>::max()));
  }
  void Bool(const char* key, bool& out) const {
    if (!Has(key)) return;
    if (!At(key).is_boolean()) Fail(PathOf(key), "must be true or false");
    out = At(key).get<bool>();
  }
  void Text(const char* key, std::string& out) const {
    if (!Has(key)) return;
    if (!At(key).is_string()) Fail(PathOf(key), "must be a text");
    out = At(key).get<std::string>();
  }
  void TextList(const char* key, std::vector<std::string>& out) const {
    if (!Has(key)) return;
    if (!At(key).is_array()) Fail(PathOf(key), "must be a list of texts");
    out.clear();
    for (size_t i = 0; i < At(key).size(); ++i) {
      const json& e = At(key)[i];
      if (!e.is_string()) Fail(PathOf(key) + core::Format("[%u]", static_cast<unsigned>(i)), "must be a text");
      out.push_back(e.get<std::string>());
    }
  }
  // Calls `each(reader, index)` for every object of the list `key`.
  template <typename F>
  void List(const char* key, F each) const {
    if (!Has(key)) return;
    if (!At(key).is_array()) Fail(PathOf(key), "must be a list");
    for (size_t i = 0; i < At(key).size(); ++i) {
      each(Reader(At(key)[i], PathOf(key) + core::Format("[%u]", static_cast<unsigned>(i))), i);
    }
  }
  std::optional<Reader> Object(const char* key) const {
    if (!Has(key)) return std::nullopt;
    return Reader(At(key), PathOf(key));
  }

 private:
  const json& object_;
  std::string path_;
};

void ReadFlash(const Reader& r, FlashProfile& f) {
  r.Number("size", f.size);
  r.Number("base", f.base);
  r.Number("replyVersion", f.replyVersion);
  r.Number("refusalMarker", f.refusalMarker);
  r.Number("ecVersionOffset", f.ecVersionOffset);
  r.Number("ecVersionMask", f.ecVersionMask);
  if (r.Has("blocks")) f.blocks.clear();
  r.List("blocks", [&](const Reader& b, size_t) {
    BlockEntry e;
    if (!b.Has("start") || !b.Has("size") || !b.Has("type")) {
      Fail(b.Path(), "needs start, size and type");
    }
    b.Number("start", e.start);
    b.Number("size", e.size);
    b.Number("type", e.type);
    f.blocks.push_back(e);
  });
}

void ReadFaults(const Reader& r, FaultProfile& f) {
  r.Bool("writeProtected", f.writeProtected);
  r.Bool("noSharedBlock", f.noSharedBlock);
  r.Number("powerLossAfterSmi", f.powerLossAfterSmi);
  if (r.Has("stuck")) f.stuck.clear();
  r.List("stuck", [&](const Reader& s, size_t) {
    StuckFault fault;
    s.Number("fromSmi", fault.fromSmi);
    if (s.Has("address")) {
      uint32_t a = 0;
      s.Number("address", a);
      fault.address = a;
    }
    s.Number("attempts", fault.attempts);
    if (fault.fromSmi == 0 && !fault.address) Fail(s.PathOf("fromSmi"), "give fromSmi or address");
    f.stuck.push_back(fault);
  });
  if (r.Has("fail")) f.fail.clear();
  r.List("fail", [&](const Reader& s, size_t) {
    RangeFault fault;
    std::string op = "write";
    s.Text("op", op);
    if (op == "read") fault.op = FlashOp::Read;
    else if (op == "erase") fault.op = FlashOp::Erase;
    else if (op == "write") fault.op = FlashOp::Write;
    else Fail(s.PathOf("op"), "must be \"read\", \"erase\" or \"write\"");
    s.Number("start", fault.start);
    s.Number("length", fault.length);
    f.fail.push_back(fault);
  });
  if (r.Has("bitFlips")) f.bitFlips.clear();
  r.List("bitFlips", [&](const Reader& s, size_t) {
    BitFlipFault fault;
    s.Number("start", fault.start);
    s.Number("length", fault.length);
    s.Number("writes", fault.writes);
    s.Number("mask", fault.mask);
    if (fault.mask == 0) Fail(s.PathOf("mask"), "must flip at least one bit");
    f.bitFlips.push_back(fault);
  });
}

void ReadAll(const Reader& r, Profile& p) {
  r.Text("name", p.name);
  if (r.Has("firmware")) {
    std::string fw;
    r.Text("firmware", fw);
    if (fw == "uefi") p.uefi = true;
    else if (fw == "legacy") p.uefi = false;
    else Fail(r.PathOf("firmware"), "must be \"legacy\" or \"uefi\"");
  }
  if (auto f = r.Object("flash")) ReadFlash(*f, p.flash);
  r.Number("enableAnswer", p.enableAnswer);
  r.Bool("enableSilentOnSuccess", p.enableSilentOnSuccess);
  r.Number("successStatus", p.successStatus);
  r.Number("ofbdVersion", p.ofbdVersion);
  if (auto f = r.Object("fadt")) {
    f->Bool("present", p.fadt.present);
    f->Number("smiCmd", p.fadt.smiCmd);
  }
  if (auto a = r.Object("asf")) {
    a->Bool("present", p.asf.present);
    a->Number("port", p.asf.port);
    a->Number("slotDistance", p.asf.slotDistance);
    a->Number("offset", p.asf.offset);
  }
  if (auto e = r.Object("ecb")) {
    e->Bool("present", p.ecb.present);
    e->Number("offset", p.ecb.offset);
    e->Number("flags", p.ecb.flags);
    e->Number("ecBlockStart", p.ecb.ecBlockStart);
    e->Number("ecBlockSize", p.ecb.ecBlockSize);
    e->Number("ecVersionOffset", p.ecb.ecVersionOffset);
    e->Number("ecVersionMask", p.ecb.ecVersionMask);
    e->TextList("messages", p.ecb.messages);
  }
  if (auto e = r.Object("ecb1")) {
    e->Bool("present", p.ecb1.present);
    e->Number("offset", p.ecb1.offset);
    e->Number("flags", p.ecb1.flags);
    e->Number("refreshesUntilChange", p.ecb1.refreshesUntilChange);
    e->Number("flagsAfter", p.ecb1.flagsAfter);
  }
  if (auto e = r.Object("ec")) e->Number("version", p.ec.version);
  if (auto i = r.Object("identity")) {
    i->Text("version", p.identity.version);
    i->Number("systemId", p.identity.systemId);
    i->Number("extendedId", p.identity.extendedId);
    if (i->Has("extensionIds")) {
      p.identity.extensionIds.clear();
      const json& list = i->At("extensionIds");
      if (!list.is_array()) Fail(i->PathOf("extensionIds"), "must be a list of numbers");
      for (size_t k = 0; k < list.size(); ++k) {
        p.identity.extensionIds.push_back(static_cast<uint16_t>(
            Unsigned(list[k], i->PathOf("extensionIds") + core::Format("[%u]", static_cast<unsigned>(k)), 0xFFFF)));
      }
    }
    i->TextList("names", p.identity.names);
    i->Text("systemName", p.identity.systemName);
    i->Number("offset", p.identity.offset);
    if (i->Has("placement")) {
      std::string where;
      i->Text("placement", where);
      if (where == "segment") p.identity.placement = IdentityPlacement::Segment;
      else if (where == "oem") p.identity.placement = IdentityPlacement::Oem;
      else Fail(i->PathOf("placement"), "must be \"segment\" or \"oem\"");
    }
  }
  if (auto o = r.Object("oem")) {
    o->Bool("identity", p.oem.identity);
    o->Bool("platformFlags", p.oem.platformFlags);
    o->Number("updatePermission", p.oem.updatePermission);
    if (o->Has("nameIndex")) {
      const json& v = o->At("nameIndex");
      if (v.is_number_integer() && v.get<int64_t>() == -1) p.oem.nameIndex = -1;
      else p.oem.nameIndex = static_cast<int>(Unsigned(v, o->PathOf("nameIndex"), 255));
    }
    o->Bool("protectionCheck", p.oem.protectionCheck);
    o->TextList("protectedVersions", p.oem.protectedVersions);
    o->Bool("adminPassword", p.oem.adminPassword);
    o->Text("password", p.oem.password);
    o->Number("passwordMaxLength", p.oem.passwordMaxLength);
  }
  if (auto d = r.Object("defaults")) {
    d->Bool("enabled", p.defaults.enabled);
    d->Number("switchOn", p.defaults.switchOn);
    d->Number("switchOff", p.defaults.switchOff);
  }
  if (auto t = r.Object("timing")) {
    t->Number("realMicrosPerRequest", p.timing.realMicrosPerRequest);
    if (p.timing.realMicrosPerRequest > 1000000) Fail(t->PathOf("realMicrosPerRequest"), "at most 1000000");
    t->Number("realMicrosPerPiece", p.timing.realMicrosPerPiece);
    if (p.timing.realMicrosPerPiece > 1000000) Fail(t->PathOf("realMicrosPerPiece"), "at most 1000000");
  }
  if (auto sp = r.Object("setupPreserve")) {
    sp->Bool("supported", p.setupPreserve.supported);
    sp->Bool("storeFails", p.setupPreserve.storeFails);
    sp->Bool("restoreFails", p.setupPreserve.restoreFails);
  }
  if (auto o = r.Object("ofbdPassword")) {
    o->Bool("enabled", p.ofbdPassword.enabled);
    o->Text("password", p.ofbdPassword.password);
    o->Number("maxAttempts", p.ofbdPassword.maxAttempts);
    o->Text("prompt", p.ofbdPassword.prompt);
    o->Text("wrongMessage", p.ofbdPassword.wrongMessage);
    o->Text("lockedMessage", p.ofbdPassword.lockedMessage);
  }
  if (auto s = r.Object("secureFlash")) {
    s->Bool("capable", p.secureFlash.capable);
    s->Bool("requireSigned", p.secureFlash.requireSigned);
    s->Number("sessionStatus", p.secureFlash.sessionStatus);
    if (s->Has("failPieceAt") && !s->At("failPieceAt").is_null()) {
      uint32_t at = 0;
      s->Number("failPieceAt", at);
      p.secureFlash.failPieceAt = at;
    }
  }
  if (auto f = r.Object("faults")) ReadFaults(*f, p.faults);
}

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

// Checks what cannot be told from one field alone.
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
  const std::string records = CheckSegmentRecords(p);
  if (!records.empty()) throw ProfileError(records);
}

const char* OpName(FlashOp op) {
  switch (op) {
    case FlashOp::Read: return "read";
    case FlashOp::Erase: return "erase";
    case FlashOp::Write: return "write";
  }
  return "write";
}

// A key the reader does not know is almost always a typo that would otherwise be ignored
// silently; compare against the shape of a profile that uses every field.
void CheckKeys(const json& given, const json& known, const std::string& path) {
  if (given.is_object() && known.is_object()) {
    for (auto it = given.begin(); it != given.end(); ++it) {
      if (!known.contains(it.key())) Fail(Join(path, it.key()), "unknown field");
      CheckKeys(it.value(), known.at(it.key()), Join(path, it.key()));
    }
  } else if (given.is_array() && known.is_array() && !known.empty()) {
    for (size_t i = 0; i < given.size(); ++i) {
      CheckKeys(given[i], known[0], path + core::Format("[%u]", static_cast<unsigned>(i)));
    }
  }
}

json FullShape() {
  Profile p;
  p.flash.blocks.push_back({});
  p.faults.stuck.push_back({0, 0, 1});
  p.faults.fail.push_back({});
  p.faults.bitFlips.push_back({});
  return ProfileToJson(p);
}

}  // namespace

ProfileResult ProfileFromJson(const nlohmann::json& json) {
  ProfileResult result;
  try {
    Profile p;
    CheckKeys(json, FullShape(), "");
    ReadAll(Reader(json, ""), p);
    Validate(p);
    result.profile = std::move(p);
  } catch (const ProfileError& e) {
    result.error = e.what();
  } catch (const nlohmann::json::exception& e) {
    result.error = std::string("profile: ") + e.what();
  }
  return result;
}

nlohmann::json ProfileToJson(const Profile& p) {
  json j;
  j["name"] = p.name;
  j["firmware"] = p.uefi ? "uefi" : "legacy";
  json blocks = json::array();
  for (const BlockEntry& b : p.flash.blocks) {
    blocks.push_back({{"start", b.start}, {"size", b.size}, {"type", b.type}});
  }
  j["flash"] = {{"size", p.flash.size},
                {"base", p.flash.base},
                {"replyVersion", p.flash.replyVersion},
                {"refusalMarker", p.flash.refusalMarker},
                {"ecVersionOffset", p.flash.ecVersionOffset},
                {"ecVersionMask", p.flash.ecVersionMask},
                {"blocks", blocks}};
  j["enableAnswer"] = p.enableAnswer;
  j["enableSilentOnSuccess"] = p.enableSilentOnSuccess;
  j["successStatus"] = p.successStatus;
  j["ofbdVersion"] = p.ofbdVersion;
  j["fadt"] = {{"present", p.fadt.present}, {"smiCmd", p.fadt.smiCmd}};
  j["asf"] = {{"present", p.asf.present}, {"port", p.asf.port},
              {"slotDistance", p.asf.slotDistance}, {"offset", p.asf.offset}};
  j["ecb"] = {{"present", p.ecb.present},           {"offset", p.ecb.offset},
              {"flags", p.ecb.flags},               {"ecBlockStart", p.ecb.ecBlockStart},
              {"ecBlockSize", p.ecb.ecBlockSize},   {"ecVersionOffset", p.ecb.ecVersionOffset},
              {"ecVersionMask", p.ecb.ecVersionMask}, {"messages", p.ecb.messages}};
  j["ecb1"] = {{"present", p.ecb1.present}, {"offset", p.ecb1.offset}, {"flags", p.ecb1.flags},
               {"refreshesUntilChange", p.ecb1.refreshesUntilChange},
               {"flagsAfter", p.ecb1.flagsAfter}};
  j["ec"] = {{"version", p.ec.version}};
  j["identity"] = {{"version", p.identity.version},
                   {"systemId", p.identity.systemId},
                   {"extendedId", p.identity.extendedId},
                   {"extensionIds", p.identity.extensionIds},
                   {"names", p.identity.names},
                   {"systemName", p.identity.systemName},
                   {"placement", p.identity.placement == IdentityPlacement::Oem ? "oem" : "segment"},
                   {"offset", p.identity.offset}};
  j["oem"] = {{"identity", p.oem.identity},
              {"platformFlags", p.oem.platformFlags},
              {"updatePermission", p.oem.updatePermission},
              {"nameIndex", p.oem.nameIndex},
              {"protectionCheck", p.oem.protectionCheck},
              {"protectedVersions", p.oem.protectedVersions},
              {"adminPassword", p.oem.adminPassword},
              {"password", p.oem.password},
              {"passwordMaxLength", p.oem.passwordMaxLength}};
  j["defaults"] = {{"enabled", p.defaults.enabled},
                   {"switchOn", p.defaults.switchOn},
                   {"switchOff", p.defaults.switchOff}};
  j["timing"] = {{"realMicrosPerRequest", p.timing.realMicrosPerRequest},
                 {"realMicrosPerPiece", p.timing.realMicrosPerPiece}};
  j["setupPreserve"] = {{"supported", p.setupPreserve.supported},
                        {"storeFails", p.setupPreserve.storeFails},
                        {"restoreFails", p.setupPreserve.restoreFails}};
  j["ofbdPassword"] = {{"enabled", p.ofbdPassword.enabled},
                       {"password", p.ofbdPassword.password},
                       {"maxAttempts", p.ofbdPassword.maxAttempts},
                       {"prompt", p.ofbdPassword.prompt},
                       {"wrongMessage", p.ofbdPassword.wrongMessage},
                       {"lockedMessage", p.ofbdPassword.lockedMessage}};
  j["secureFlash"] = {{"capable", p.secureFlash.capable},
                      {"requireSigned", p.secureFlash.requireSigned},
                      {"sessionStatus", p.secureFlash.sessionStatus},
                      {"failPieceAt", p.secureFlash.failPieceAt ? json(*p.secureFlash.failPieceAt) : json(nullptr)}};
  json stuck = json::array();
  for (const StuckFault& s : p.faults.stuck) {
    json e = {{"fromSmi", s.fromSmi}, {"attempts", s.attempts}};
    if (s.address) e["address"] = *s.address;
    stuck.push_back(e);
  }
  json fail = json::array();
  for (const RangeFault& f : p.faults.fail) {
    fail.push_back({{"op", OpName(f.op)}, {"start", f.start}, {"length", f.length}});
  }
  json flips = json::array();
  for (const BitFlipFault& f : p.faults.bitFlips) {
    flips.push_back({{"start", f.start}, {"length", f.length}, {"writes", f.writes}, {"mask", f.mask}});
  }
  j["faults"] = {{"writeProtected", p.faults.writeProtected},
                 {"noSharedBlock", p.faults.noSharedBlock},
                 {"stuck", stuck},
                 {"fail", fail},
                 {"bitFlips", flips},
                 {"powerLossAfterSmi", p.faults.powerLossAfterSmi}};
  return j;
}

uint16_t HandlerPort(const Profile& p) {
  if (p.asf.present) return p.asf.port;
  if (p.fadt.present && p.fadt.smiCmd != 0) return p.fadt.smiCmd;
  return 0xB2;
}

EcLayout EcLayoutOf(const Profile& p) {
  EcLayout ec;
  if (p.ecb.present && p.ecb.ecBlockSize != 0) {
    ec.present = true;
    ec.start = p.ecb.ecBlockStart;
    ec.size = p.ecb.ecBlockSize;
    ec.versionOffset = p.ecb.ecVersionOffset;
    ec.versionMask = p.ecb.ecVersionMask;
    return ec;
  }
  for (const BlockEntry& b : p.flash.blocks) {
    if (b.type == 3) {
      ec.present = true;
      ec.start = b.start;
      ec.size = b.size;
      ec.versionOffset = p.flash.ecVersionOffset;
      ec.versionMask = p.flash.ecVersionMask;
      break;
    }
  }
  if (ec.present && uint64_t{ec.versionOffset} + 4 > ec.size) ec.present = false;
  return ec;
}

}  // namespace nox::sim
