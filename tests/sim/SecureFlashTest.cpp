// The secure-flash firmware: its digest, the capsule images noxsim makes against the firmware's
// own check, the 'p' exchanges (capability, pieces, sessions), the session's hold on erase and
// write, and what a boot does with a pending update. Blocks are built from the wire format.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "SimRig.h"
#include "core/Format.h"
#include "platform/sim/Capsule.h"
#include "platform/sim/SecureFlash.h"
#include "platform/sim/Sha256.h"

namespace nox::sim::test {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kFlash = 0x100000;  // minimal-1m
constexpr uint32_t kBootBlock = 0xE0000;

Profile SecureProfile(bool requireSigned = true) {
  Profile p = Preset("minimal-1m");
  p.ofbdVersion = 0x0230;
  p.secureFlash.capable = true;
  p.secureFlash.requireSigned = requireSigned;
  return p;
}

// A capsule file for minimal-1m running A01: version A02, filler of seed 2.
const std::vector<uint8_t>& File(CapsuleForm form, bool sign = true, bool damage = false) {
  static std::map<std::tuple<CapsuleForm, bool, bool>, std::vector<uint8_t>> made;
  auto& file = made[{form, sign, damage}];
  if (file.empty()) {
    const Profile p = SecureProfile();
    RomOptions o = RunningRomOptions(p);
    o.version = "A02";
    o.seed = 2;
    RomResult r = BuildCapsuleImage(p, o, {form, sign, damage});
    if (!r.error.empty()) throw std::runtime_error(r.error);
    file = std::move(r.image);
  }
  return file;
}
std::span<const uint8_t> Proper(const std::vector<uint8_t>& file) { return std::span(file).last(kFlash); }

uint8_t Piece(Rig& rig, uint32_t offset, std::span<const uint8_t> bytes) {
  PutPiece(rig, offset, bytes);
  rig.Raise(38);
  return rig.block[kBehind + 16];
}

void Upload(Rig& rig, std::span<const uint8_t> bytes, uint32_t base = 0) {
  for (size_t at = 0; at < bytes.size(); at += 32768) {
    ASSERT_EQ(Piece(rig, static_cast<uint32_t>(base + at), bytes.subspan(at, std::min<size_t>(32768, bytes.size() - at))), 0);
  }
}

uint8_t Session(Rig& rig, uint8_t type, uint32_t regions, size_t size, const std::string& name = "") {
  PutPolicy(rig, type, regions, size, name);
  rig.Raise(38);
  return rig.block[kBehind + 29];
}

std::string Hex(const Sha256::Digest& d) {
  std::string s;
  for (uint8_t b : d) s += core::Format("%02x", b);
  return s;
}

bool Has(Rig& rig, const json& fields) {
  const auto entries = rig.Entries();
  return std::ranges::any_of(entries, [&](const json& e) { return Carries(e, fields); });
}

TEST(Sha256, StandardVectors) {
  const auto of = [](const std::string& s) { return Hex(Sha256::Of({reinterpret_cast<const uint8_t*>(s.data()), s.size()})); };
  EXPECT_EQ(of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  // A million "a", fed in pieces that straddle the 64-byte blocks.
  Sha256 h;
  const std::vector<uint8_t> a(999, 'a');
  for (size_t left = 1000000; left != 0; left -= std::min(left, a.size())) h.Update(std::span(a).first(std::min(left, a.size())));
  EXPECT_EQ(Hex(h.Final()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// A marker alone leads to no header; an image without a marker has none either.
TEST(Capsule, NoHeaderWithoutTheCapsuleGuid) {
  EXPECT_FALSE(LocateCapsule(File(CapsuleForm::MarkerOnly)));
  EXPECT_FALSE(LocateCapsule(Proper(File(CapsuleForm::Leading))));
}

// A capable machine clears the pending byte and tells its image memory; another leaves the block alone.
TEST(SecureFlash, OnlyACapableMachineAnswersTheCapabilityQuery) {
  for (const bool capable : {true, false}) {
    Profile p = SecureProfile();
    p.secureFlash.capable = capable;
    Rig rig(p);
    PutSecure(rig, 4);
    rig.block[kBehind + 258] = 1;
    rig.Raise(38);
    EXPECT_EQ(std::make_tuple(rig.U16(12) & 1, int{rig.block[kBehind + 258]}, int{rig.block[kBehind + 1]},
                              core::LoadLe32(rig.block.data() + kBehind + 2), int{rig.block[kBehind + 6]}),
              capable ? std::make_tuple(1, 0, 7, kFlash + 65536, 1) : std::make_tuple(0, 1, 0, 0u, 0));
  }
}

enum class Send { Whole, HeaderApart, LastPieceMissing };
void HoleByte(std::vector<uint8_t>& f) { f[f.size() - kFlash + FindRomHoles(Proper(f))[0].start + 100] ^= 1; }
enum class Size { File, Proper, Other };

// Session requests, each on a fresh machine: the image memory is verified before byte 29 is
// cleared, and a refusal leaves its status there and says why in the journal. The images are
// those noxsim makes, in either form, so its capsules are proven against the firmware's check:
// the digest leaves the ranges an updater may change out, and covers the header's own fields.
TEST(SecureFlash, SessionStartVerifiesTheImageMemory) {
  struct Case {
    const char* what;
    CapsuleForm form;
    bool sign = true, damage = false, requireSigned = true;
    Send send = Send::Whole;
    Size size = Size::File;
    uint32_t regions = 0x2;
    uint8_t sessionStatus = 0;
    std::function<void(std::vector<uint8_t>&)> spoil{};
    uint8_t status = 0;
    const char* reason = "";
  };
  const Case cases[] = {
      {.what = "header in front, sent whole", .form = CapsuleForm::Leading},
      {.what = "header found inside, sent apart", .form = CapsuleForm::Inside, .send = Send::HeaderApart},
      {.what = "the policy counts the image proper alone", .form = CapsuleForm::Leading, .size = Size::Proper},
      {.what = "unsigned on a machine that does not insist", .form = CapsuleForm::Leading, .sign = false, .requireSigned = false},
      {.what = "last piece never sent", .form = CapsuleForm::Leading, .send = Send::LastPieceMissing, .status = 2, .reason = "image incomplete"},
      {.what = "no capsule header", .form = CapsuleForm::MarkerOnly, .status = 5, .reason = "unsigned image refused"},
      {.what = "no capsule header where none is required", .form = CapsuleForm::MarkerOnly, .requireSigned = false},
      {.what = "header shorter than its ranges", .form = CapsuleForm::Leading, .spoil = [](auto& f) { f[24] += 4; }, .status = 3,
       .reason = "does not hold"},
      {.what = "damaged", .form = CapsuleForm::Leading, .damage = true, .status = 4, .reason = "digest mismatch"},
      {.what = "damaged, inside", .form = CapsuleForm::Inside, .damage = true, .send = Send::HeaderApart, .status = 4},
      {.what = "a ROM hole changed", .form = CapsuleForm::Leading, .spoil = HoleByte},
      {.what = "a ROM hole changed, inside", .form = CapsuleForm::Inside, .send = Send::HeaderApart, .spoil = HoleByte},
      {.what = "a range record changed", .form = CapsuleForm::Leading, .spoil = [](auto& f) { f[64] ^= 1; }, .status = 4},
      {.what = "an unknown flag", .form = CapsuleForm::Leading, .spoil = [](auto& f) { f[20] |= 2; }, .status = 3,
       .reason = "unknown header flags"},
      {.what = "a range outside the image", .form = CapsuleForm::Leading, .spoil = [](auto& f) { f[64 + 3] = 0x7F; },
       .status = 3, .reason = "outside the image"},
      {.what = "unsigned", .form = CapsuleForm::Leading, .sign = false, .status = 5, .reason = "unsigned image refused"},
      {.what = "made for another part", .form = CapsuleForm::Leading, .spoil = [](auto& f) { f[18] += 1; }, .status = 6,
       .reason = "for a flash part of 1048576"},
      {.what = "policy size of neither", .form = CapsuleForm::Leading, .size = Size::Other, .status = 6, .reason = "policy's image size"},
      {.what = "no region", .form = CapsuleForm::Leading, .regions = 0, .status = 8, .reason = "no region"},
      {.what = "a firmware that refuses", .form = CapsuleForm::Leading, .sessionStatus = 9, .status = 9, .reason = "refuses every session"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Profile p = SecureProfile(c.requireSigned);
    p.secureFlash.sessionStatus = c.sessionStatus;
    Rig rig(p);
    std::vector<uint8_t> file = File(c.form, c.sign, c.damage);
    if (c.spoil) c.spoil(file);
    if (c.send == Send::HeaderApart) {
      const auto header = LocateCapsule(file)->header;
      Upload(rig, header);
      Upload(rig, file, static_cast<uint32_t>(header.size()));
      file.insert(file.begin(), header.begin(), header.end());  // what the memory holds
    } else {
      Upload(rig, std::span(file).first(c.send == Send::Whole ? file.size() : file.size() / 32768 * 32768));
    }
    const size_t size = c.size == Size::File ? file.size() : c.size == Size::Proper ? kFlash : file.size() + 1;
    EXPECT_EQ(Session(rig, 4, c.regions, size), c.status);
    EXPECT_EQ(rig.machine->Secure().SessionOpen(), c.status == 0);
    EXPECT_NE(rig.LastSmi().value("reason", "").find(c.reason), std::string::npos) << rig.LastSmi().dump();
  }
}

// Erase and write need a session and stay inside its regions; a write must bring the verified
// image's bytes; a new piece ends the session. Reads never need one.
TEST(SecureFlash, EraseAndWriteOnlyInsideASessionAndOnlyTheVerifiedImage) {
  Rig rig(SecureProfile());
  const std::vector<uint8_t>& file = File(CapsuleForm::Leading);
  const auto image = Proper(file);
  ASSERT_EQ(rig.Enable(), 0);
  const auto write = [&](uint32_t address, bool differ) {
    rig.PutRequest(address, 1024);
    std::copy_n(image.begin() + address, 1024, rig.block.begin() + 17);
    if (differ) rig.block[17 + 512] ^= 0x40;
    rig.Raise(35);
    return rig.block[16];
  };
  struct Step { const char* what; std::function<uint8_t()> run; uint8_t status; const char* refused; };
  const Step steps[] = {
      {"erase before any session", [&] { return rig.Request(34, 0x10000, 0x1000); }, 1, "no secure-flash session"},
      {"write before any session", [&] { return write(0x10000, false); }, 1, "no secure-flash session"},
      {"read", [&] { return rig.Request(33, 0x10000); }, 0, ""},
      {"session for the main BIOS", [&] { Upload(rig, file); return Session(rig, 4, 0x2, file.size()); }, 0, ""},
      {"erase in the main BIOS", [&] { return rig.Request(34, 0x10000, 0x1000); }, 0, ""},
      {"write of the image", [&] { return write(0x10000, false); }, 0, ""},
      {"write of other data", [&] { return write(0x10400, true); }, 1, "data differs from the verified image"},
      {"erase of the boot block", [&] { return rig.Request(34, kBootBlock, 0x1000); }, 1, "outside the session's regions"},
      {"a new piece", [&] { return Piece(rig, 0, std::span(file).first(64)); }, 0, ""},
      {"write after it", [&] { return write(0x10400, false); }, 1, "no secure-flash session"},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(s.run(), s.status) << s.what;
    EXPECT_EQ(rig.LastSmi().value("refused", ""), s.refused) << s.what;
  }
  EXPECT_TRUE(std::equal(image.begin() + 0x10000, image.begin() + 0x10400, rig.machine->Flash().Bytes().begin() + 0x10000));
  EXPECT_EQ(rig.machine->Flash().Bytes()[0x10400], 0xFF) << "the refused write changed nothing";
}

// A piece past the image memory is misuse and left unanswered; a piece the firmware fails
// (failPieceAt) is answered 2 and not kept.
TEST(SecureFlash, PiecesOutsideTheImageMemoryOrFailedAreNotKept) {
  Profile p = SecureProfile();
  p.secureFlash.failPieceAt = 0x8000;
  Rig rig(p);
  const std::vector<uint8_t> bytes(200, 0x5A);
  EXPECT_EQ(Piece(rig, kFlash + 65536 - 100, bytes), 1);
  EXPECT_EQ(rig.LastSmi().value("misuse", ""), "image piece lies outside the image memory");
  EXPECT_EQ(Piece(rig, kFlash + 65536 - 200, bytes), 0);
  EXPECT_EQ(Piece(rig, 0x7F80, bytes), 2);
  EXPECT_EQ(rig.machine->Secure().BytesHeld(), 200u);
}

// A type-2 session arms the verified image; only the boot writes it, and only the blocks of
// its region bits. The firmware then runs the identity the part holds, and forgets its memory.
TEST(SecureFlash, APendingCapsuleIsAppliedAtBootToItsRegionsOnly) {
  for (const uint32_t regions : {0x1u, 0x3u}) {
    SCOPED_TRACE(regions);
    Rig rig(SecureProfile());
    const std::vector<uint8_t>& file = File(CapsuleForm::Leading);
    const std::vector<uint8_t> before(rig.machine->Flash().Bytes().begin(), rig.machine->Flash().Bytes().end());
    Upload(rig, file);
    ASSERT_EQ(Session(rig, 2, regions, file.size()), 0);
    EXPECT_TRUE(std::ranges::equal(rig.machine->Flash().Bytes(), before)) << "nothing is written before the boot";
    EXPECT_EQ(rig.machine->Boot(), regions == 1 ? "applied capsule (boot block)" : "applied capsule (boot block, main BIOS)");
    const auto flash = rig.machine->Flash().Bytes();
    const auto image = Proper(file);
    EXPECT_TRUE(std::equal(flash.begin() + kBootBlock, flash.end(), image.begin() + kBootBlock));
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + kBootBlock, (regions & 2 ? image : std::span(before)).begin()));
    EXPECT_EQ(rig.machine->GetProfile().identity.version, regions & 2 ? "A02" : "A01");
    EXPECT_TRUE(Has(rig, {{"event", "capsule-applied"}, {"regions", regions}}));
    EXPECT_EQ(rig.machine->Secure().BytesHeld(), 0u);
    EXPECT_EQ(rig.machine->Boot(), "nothing pending");
  }
}

// A recovery names a file the firmware reads at boot: from the utility's working directory,
// else its program's directory. Missing at the start, nothing is armed; gone or damaged at the
// boot, nothing is written.
TEST(SecureFlash, RecoveryFileFoundMissingGoneOrDamaged) {
  const fs::path root = fs::temp_directory_path() / "noxsim-recovery-test";
  struct Case { const char* what; const char* where; bool damage, removeBeforeBoot; uint8_t status; const char* boot; };
  const Case cases[] = {
      {"in the working directory", "work", false, false, 0, "applied recovery (main BIOS)"},
      {"beside the program", "bin", false, false, 0, "applied recovery (main BIOS)"},
      {"nowhere", nullptr, false, false, 7, "nothing pending"},
      {"gone before the boot", "work", false, true, 0, "recovery not applied: recovery file is gone"},
      {"damaged", "bin", true, false, 0, "recovery not applied: recovery file fails its check: digest mismatch: image damaged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(root);
    fs::create_directories(root / "work");
    fs::create_directories(root / "bin");
    if (c.where) {
      const auto& file = File(CapsuleForm::Inside, true, c.damage);
      std::ofstream(root / c.where / "RECOVERY.ROM", std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
    }
    Rig rig(SecureProfile());
    rig.machine->SetUtilityPaths(root / "bin" / "noxwingui", root / "work");
    EXPECT_EQ(Session(rig, 1, 0x2, kFlash, "RECOVERY.ROM"), c.status);
    if (c.removeBeforeBoot) fs::remove(root / c.where / "RECOVERY.ROM");
    const auto before = std::vector<uint8_t>(rig.machine->Flash().Bytes().begin(), rig.machine->Flash().Bytes().end());
    EXPECT_EQ(rig.machine->Boot(), c.boot);
    EXPECT_EQ(std::ranges::equal(rig.machine->Flash().Bytes(), before), std::string(c.boot).find("applied recovery") != 0);
  }
  fs::remove_all(root);
}

// Firmware memory and an armed update live in the machine directory between runs; the power
// going drops the memory and the session but not the armed update; a boot leaves no state behind.
TEST(SecureFlash, StateBetweenRunsAndAcrossAPowerLoss) {
  const fs::path dir = fs::temp_directory_path() / "noxsim-secure-dir-test";
  fs::remove_all(dir);
  std::string error;
  Profile p = SecureProfile();
  p.faults.powerLossAfterSmi = 1000;
  const std::vector<uint8_t>& file = File(CapsuleForm::Leading);
  {
    Rig rig(Machine::Create(dir, p, error));
    Upload(rig, file);
    ASSERT_EQ(Session(rig, 2, 0x3, file.size()), 0);
  }
  Rig rig(Machine::Open(dir, error));
  EXPECT_EQ(rig.machine->Secure().Summary()["pending"]["kind"], "capsule");
  EXPECT_EQ(rig.machine->Secure().BytesHeld(), file.size());
  ASSERT_EQ(Session(rig, 4, 0x2, file.size()), 0);
  rig.machine->MutableState().smiCount = 999;
  EXPECT_THROW(rig.Request(33, 0), PowerLost);
  EXPECT_EQ(std::make_pair(rig.machine->Secure().BytesHeld(), rig.machine->Secure().SessionOpen()),
            std::make_pair(uint64_t{0}, false));
  EXPECT_EQ(rig.machine->Boot(), "applied capsule (boot block, main BIOS)");
  rig.machine.reset();
  EXPECT_FALSE(fs::exists(dir / "image-memory.bin") || fs::exists(dir / "pending-capsule.bin"));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace nox::sim::test
