#include "platform/sim/Profile.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

#include <nlohmann/json.hpp>

#include "core/Format.h"
#include "platform/sim/ProfileError.h"

namespace nox::sim {
namespace {

using nlohmann::json;

using profile_detail::Fail;
using profile_detail::ProfileError;

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
  template <typename T>
  void NumberList(const char* key, std::vector<T>& out) const {
    if (!Has(key)) return;
    if (!At(key).is_array()) Fail(PathOf(key), "must be a list of numbers");
    out.clear();
    for (size_t i = 0; i < At(key).size(); ++i) {
      const std::string path = PathOf(key) + core::Format("[%u]", static_cast<unsigned>(i));
      out.push_back(static_cast<T>(Unsigned(At(key)[i], path, std::numeric_limits<T>::max())));
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

void ReadMe(const Reader& r, MeProfile& m) {
  r.Bool("present", m.present);
  r.Number("span", m.span);
  r.Number("regionStart", m.regionStart);
  r.Number("regionSize", m.regionSize);
  r.Bool("ignition", m.ignition);
  r.Bool("entire", m.entire);
  r.NumberList("failSelectors", m.failSelectors);
}

constexpr std::pair<EcRequest, const char*> kEcRequestNames[] = {
    {EcRequest::Begin, "begin"}, {EcRequest::Data, "data"}, {EcRequest::End, "end"}};

void ReadEcFlash(const Reader& r, EcFlashProfile& e) {
  r.Bool("present", e.present);
  r.Number("size", e.size);
  if (r.Has("faults")) e.faults.clear();
  r.List("faults", [&](const Reader& f, size_t) {
    EcFault fault;
    std::string request = "data";
    f.Text("request", request);
    const auto* named = std::find_if(std::begin(kEcRequestNames), std::end(kEcRequestNames),
                                     [&](const auto& n) { return request == n.second; });
    if (named == std::end(kEcRequestNames)) Fail(f.PathOf("request"), "must be \"begin\", \"data\" or \"end\"");
    fault.request = named->first;
    f.Number("nth", fault.nth);
    f.Number("status", fault.status);
    f.Number("times", fault.times);
    e.faults.push_back(fault);
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
    i->NumberList("extensionIds", p.identity.extensionIds);
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
  if (auto m = r.Object("me")) ReadMe(*m, p.me);
  if (auto e = r.Object("ecFlash")) ReadEcFlash(*e, p.ecFlash);
  if (auto f = r.Object("faults")) ReadFaults(*f, p.faults);
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
  p.ecFlash.faults.push_back({});
  return ProfileToJson(p);
}

}  // namespace

ProfileResult ProfileFromJson(const nlohmann::json& json) {
  ProfileResult result;
  try {
    Profile p;
    CheckKeys(json, FullShape(), "");
    ReadAll(Reader(json, ""), p);
    profile_detail::Validate(p);
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
  j["me"] = {{"present", p.me.present},         {"span", p.me.span},     {"regionStart", p.me.regionStart},
             {"regionSize", p.me.regionSize}, {"ignition", p.me.ignition}, {"entire", p.me.entire},
             {"failSelectors", p.me.failSelectors}};
  json ecFaults = json::array();
  for (const EcFault& f : p.ecFlash.faults) {
    const auto* named = std::find_if(std::begin(kEcRequestNames), std::end(kEcRequestNames),
                                     [&](const auto& n) { return n.first == f.request; });
    ecFaults.push_back({{"request", named->second}, {"nth", f.nth}, {"status", f.status}, {"times", f.times}});
  }
  j["ecFlash"] = {{"present", p.ecFlash.present}, {"size", p.ecFlash.size}, {"faults", ecFaults}};
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

uint32_t FirmwareBase(const Profile& p) { return p.me.present ? p.me.span : 0; }

uint32_t ChipSize(const Profile& p) { return FirmwareBase(p) + p.flash.size; }

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
