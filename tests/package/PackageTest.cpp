#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestData.h"
#include "core/Bytes.h"
#include "package/Lh5Decoder.h"
#include "package/Package.h"
#include "package/PackageWriter.h"

namespace nox::package {
namespace {

using Buffer = std::vector<uint8_t>;
using testdata::Bits;

Buffer Bytes(std::string_view text) { return {text.begin(), text.end()}; }
Buffer Module(const std::string& tag, const Buffer& content, bool compress = false) {
  return BuildModule({tag, content, false, compress}).value();
}
Buffer Pkg(const std::vector<Buffer>& modules) { return BuildPackage(modules).value(); }
Buffer Join(std::initializer_list<Buffer> parts) {
  Buffer out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The module's content as text, or "-" when it cannot be taken out.
std::string Extract(const Package& package, std::string_view tag) {
  ExtractedModule m;
  if (ExtractModule(package, tag, m) != 0) return "-";
  return std::string(m.data.begin(), m.data.begin() + m.size);
}

const Buffer kStub = Bytes("MZ\x90\0 program code and data of the utility ... ");

// A compressed module made by hand: `stream` behind a data header that claims `expanded`.
Buffer RawModule(const std::string& tag, const Buffer& stream, uint32_t expanded, uint32_t storedSize) {
  Buffer m(kModuleHeaderSize + kDataHeaderSize + (stream.size() + 15) / 16 * 16, 0);
  std::copy(tag.begin(), tag.end(), m.begin());
  core::StoreLe32(m.data() + 4, static_cast<uint32_t>(m.size()));
  core::StoreLe32(m.data() + 16, storedSize);
  core::StoreLe32(m.data() + 20, expanded);
  std::copy(stream.begin(), stream.end(), m.begin() + 24);
  SealChecksum(m, 8);
  return m;
}

// A package with 8 filler bytes in front of one module, so that the module sits off the
// 16-byte step, with the header's step byte as given.
Buffer PackageWithModuleAt24(uint8_t step) {
  auto package = Pkg({Buffer(8, 0), Module("@R00", Bytes("misplaced"))});
  package[10] = step;
  SealChecksum(core::MutableByteSpan(package).first(kPackageHeaderSize), 8);
  return package;
}

struct ImageCase {
  std::string name;
  Buffer image;
  uint32_t open;
  std::string tag, text;  // "-": the module cannot be taken out
};

void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.name; }

std::vector<ImageCase> ImageCases() {
  std::vector<ImageCase> c;
  // The scanner's own tag literal in the program's data, not followed by a zero-sum header.
  c.push_back({"TagInsideTheProgram", Join({kStub, Bytes("@ZPK\x10\0\0\0junkjunk"), kStub, Pkg({Module("@R00", Bytes("rom"))})}),
               kPackageOk, "@R00", "rom"});
  const auto old = Pkg({Module("@R00", Bytes("old rom")), Module("@EC0", Bytes("old ec"))});
  const auto later = Join({kStub, old, kStub, Pkg({Module("@R00", Bytes("new rom"))})});
  c.push_back({"LaterPackageWins", later, kPackageOk, "@R00", "new rom"});
  c.push_back({"NothingMergedFromTheEarlier", later, kPackageOk, "@EC0", "-"});
  auto cut = Pkg({Module("@R00", Bytes("cut off"))});
  cut.resize(cut.size() - 16);  // header still sums to zero, but claims more than is there
  c.push_back({"CutPackageBehindAGoodOne", Join({kStub, Pkg({Module("@R00", Bytes("good"))}), cut}), kPackageOk, "@R00", "good"});
  c.push_back({"CutPackageAlone", Join({kStub, cut}), kPackageNotFound, "@R00", "-"});
  Buffer header = Pkg({});
  core::StoreLe32(header.data() + 4, 8);
  SealChecksum(header, 8);
  c.push_back({"HeaderShorterThanItself", Join({kStub, header, kStub}), kPackageNotFound, "@R00", "-"});

  auto broken = Module("@R00", Bytes("first copy"));
  broken[kModuleHeaderSize + kDataHeaderSize] ^= 0x01;
  c.push_back({"BadChecksumSkipped", Pkg({broken, Module("@R00", Bytes("second copy"))}), kPackageOk, "@R00", "second copy"});
  c.push_back({"BadChecksumOnly", Pkg({broken}), kPackageOk, "@R00", "-"});
  c.push_back({"ModuleOffTheStep", PackageWithModuleAt24(0x10), kPackageOk, "@R00", "-"});
  c.push_back({"ModuleOnASmallerStep", PackageWithModuleAt24(0x08), kPackageOk, "@R00", "misplaced"});
  c.push_back({"StepZeroFindsNothing", PackageWithModuleAt24(0), kPackageOk, "@R00", "-"});
  Buffer stub(16, 0);  // a header with a good sum but no room for the data header
  std::copy_n("@R00", 4, stub.begin());
  core::StoreLe32(stub.data() + 4, 16);
  SealChecksum(stub, 8);
  c.push_back({"NoRoomForTheDataHeader", Pkg({stub}), kPackageOk, "@R00", "-"});
  auto longer = Module("@R00", Bytes("data"));
  core::StoreLe32(longer.data() + 4, static_cast<uint32_t>(longer.size() + 16));
  SealChecksum(longer, 8);
  c.push_back({"ModuleLengthPastThePackage", Pkg({longer}), kPackageOk, "@R00", "-"});

  // 100 literals, then a block whose code-length table is over-subscribed.
  const auto q = Bits().Put(16, 100).Put(5, 0).Put(5, 0).Put(9, 0).Put(9, 'Q').Put(4, 0).Put(4, 0)
                     .Put(16, 5).Put(5, 3).Put(3, 1).Put(3, 1).Put(3, 1).Put(2, 0).Bytes();
  const auto qSize = static_cast<uint32_t>(q.size() + kDataHeaderSize);
  c.push_back({"ExpansionExact", Pkg({RawModule("@EC0", q, 100, qSize)}), kPackageOk, "@EC0", std::string(100, 'Q')});
  c.push_back({"ExpansionOneByteShort", Pkg({RawModule("@EC0", q, 101, qSize)}), kPackageOk, "@EC0", "-"});
  const auto z = Bits().Put(16, 0).Put(5, 0).Put(5, 0).Put(9, 0).Put(9, 'Z').Put(4, 0).Put(4, 0).Bytes();
  const auto zSize = static_cast<uint32_t>(z.size() + kDataHeaderSize);
  c.push_back({"StoredSizeFits", Pkg({RawModule("@R00", z, 50, zSize)}), kPackageOk, "@R00", std::string(50, 'Z')});
  c.push_back({"StoredSizePastTheModule", Pkg({RawModule("@R01", z, 50, zSize + 64)}), kPackageOk, "@R01", "-"});
  c.push_back({"StoredSizeInsideTheDataHeader", Pkg({RawModule("@R02", z, 50, 7)}), kPackageOk, "@R02", "-"});
  c.push_back({"StoredLongerThanTheModule", Pkg({RawModule("@R03", z, 200, 200)}), kPackageOk, "@R03", "-"});
  c.push_back({"ExpandedSizeOverTheLimit", Pkg({RawModule("@R00", z, kMaxExpandedSize + 1, zSize)}), kPackageOk, "@R00", "-"});
  return c;
}

class PackageImage : public ::testing::TestWithParam<ImageCase> {};

TEST_P(PackageImage, OpensAndGivesTheModuleOrRefusesIt) {
  const ImageCase& c = GetParam();
  Package p;
  EXPECT_EQ(OpenPackageImage(p, c.image), c.open);
  EXPECT_EQ(p.IsOpen(), c.open == kPackageOk);
  EXPECT_EQ(Extract(p, c.tag), c.text);
}

INSTANTIATE_TEST_SUITE_P(Images, PackageImage, ::testing::ValuesIn(ImageCases()), [](const auto& p) { return p.param.name; });

TEST(OpenPackage, ResultCodesOfTheFile) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("nox_pkg_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::create_directories(dir);
  auto write = [&](const std::string& name, const Buffer& bytes) {
    const auto file = (dir / name).string();
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return file;
  };
  Package p;
  EXPECT_EQ(OpenPackage(p, (dir / "missing.exe").string()), kPackageUnreadable);
  EXPECT_EQ(OpenPackage(p, write("empty.exe", {})), kPackageFileEmpty);
  EXPECT_EQ(OpenPackage(p, write("plain.exe", kStub)), kPackageNotFound);
  EXPECT_EQ(OpenPackage(p, write("tool.exe", Join({kStub, Pkg({Module("@CMD", Bytes("/p /b"))})}))), kPackageOk);
  EXPECT_EQ(Extract(p, "@CMD"), "/p /b");
  ClosePackage(p);
  EXPECT_FALSE(p.IsOpen());
  EXPECT_EQ(Extract(p, "@CMD"), "-");
  std::filesystem::remove_all(dir);
}

TEST(ExtractModule, StoredAndExpandedModulesAreFollowedByZeroSlack) {
  for (const bool compressible : {false, true}) {
    const auto content = compressible ? testdata::SyntheticRom(1 << 20, 5) : testdata::RandomBytes(1000, 3);
    const auto module = Module("@R00", content, true);
    EXPECT_EQ(module.size() < content.size() / 2, compressible);
    Package p;
    ASSERT_EQ(OpenPackageImage(p, Pkg({module})), kPackageOk);
    ExtractedModule m;
    ASSERT_EQ(ExtractModule(p, "@R00", m), 0u);
    ASSERT_EQ(m.size, content.size());
    ASSERT_EQ(m.data.size(), content.size() + kExtractSlack);
    EXPECT_TRUE(std::equal(content.begin(), content.end(), m.data.begin()));
    EXPECT_TRUE(std::all_of(m.data.begin() + m.size, m.data.end(), [](uint8_t b) { return b == 0; }));
  }
}

TEST(PackageWriter, ModulesAndHeaderCheckOut) {
  const auto module = BuildModule({"@W64", Bytes("driver image"), true, false}).value();
  EXPECT_EQ(module.size() % kModuleStep, 0u);
  EXPECT_EQ(core::Sum16(module), 0);
  EXPECT_EQ(module[10], 0x01);
  EXPECT_EQ(core::LoadLe32(module.data() + 4), module.size());
  const auto package = Pkg({module});
  EXPECT_EQ(core::Sum16(core::ByteSpan(package).first(kPackageHeaderSize)), 0);
  EXPECT_EQ(core::LoadLe32(package.data() + 4), package.size());
  EXPECT_EQ(package[10], kModuleStep);
  EXPECT_FALSE(BuildModule({"@R0", Bytes("x"), false, true}));
  // What does not compress is stored: the stored size equals the expanded size.
  EXPECT_EQ(core::LoadLe32(Module("@ME0", testdata::RandomBytes(5000, 8), true).data() + 16), 5000u);
  EXPECT_EQ(core::LoadLe32(Module("@CMD", Bytes("/p /b /n"), true).data() + 16), 8u);
  EXPECT_LT(core::LoadLe32(Module("@R00", Buffer(5000, 0), true).data() + 16), 100u);
}

TEST(PackageWriter, ListShowsEveryModuleInOrder) {
  auto broken = Module("@EC0", Bytes("ec"));
  broken.back() ^= 1;
  Package p;
  ASSERT_EQ(OpenPackageImage(p, Join({kStub, Pkg({Module("@UII", Bytes("info")), Module("@R00", Buffer(4000, 7), true), broken})})),
            kPackageOk);
  const auto list = ListModules(p);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].tag, "@UII");
  EXPECT_EQ(list[0].offset, kPackageHeaderSize);
  EXPECT_EQ(list[1].tag, "@R00");
  EXPECT_TRUE(list[1].compressed);
  EXPECT_EQ(list[1].expandedSize, 4000u);
  EXPECT_EQ(list[2].offset, list[1].offset + list[1].length);
  EXPECT_TRUE(list[1].checksumOk);
  EXPECT_FALSE(list[2].checksumOk);
}

}  // namespace
}  // namespace nox::package
