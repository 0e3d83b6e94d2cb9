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

std::vector<uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> Module(const std::string& tag, const std::vector<uint8_t>& content, bool compress = false) {
  return BuildModule({tag, content, false, compress}).value();
}

std::vector<uint8_t> Pkg(const std::vector<std::vector<uint8_t>>& modules) { return BuildPackage(modules).value(); }

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The module's content as text, or "-" when it cannot be taken out.
std::string Extract(const Package& package, std::string_view tag) {
  ExtractedModule m;
  if (ExtractModule(package, tag, m) != 0) return "-";
  return std::string(m.data.begin(), m.data.begin() + m.size);
}

const std::vector<uint8_t> kStub = Bytes("MZ\x90\0 program code and data of the utility ... ");

// ---------------------------------------------------------------------------------------
// Locating the package in a file

TEST(OpenPackage, TagInsideTheProgramIsPassedOver) {
  // The scanner's own tag literal sits in the program's data, followed by bytes that do not
  // make a header with a zero sum.
  const auto package = Pkg({Module("@R00", Bytes("rom"))});
  const auto file = Join({kStub, Bytes("@ZPK\x10\0\0\0junkjunk"), kStub, package});
  Package p;
  ASSERT_EQ(OpenPackageImage(p, file), kPackageOk);
  EXPECT_EQ(p.fileOffset, file.size() - package.size());
  EXPECT_EQ(Extract(p, "@R00"), "rom");
}

TEST(OpenPackage, LaterOfTwoPackagesWins) {
  const auto first = Pkg({Module("@R00", Bytes("old rom")), Module("@EC0", Bytes("old ec"))});
  const auto second = Pkg({Module("@R00", Bytes("new rom"))});
  Package p;
  ASSERT_EQ(OpenPackageImage(p, Join({kStub, first, kStub, second})), kPackageOk);
  EXPECT_EQ(Extract(p, "@R00"), "new rom");
  EXPECT_EQ(Extract(p, "@EC0"), "-");  // nothing is merged from the earlier package
}

TEST(OpenPackage, HeaderWhoseLengthLeavesTheFileIsNotAPackage) {
  const auto good = Pkg({Module("@R00", Bytes("good"))});
  auto cut = Pkg({Module("@R00", Bytes("cut off"))});
  cut.resize(cut.size() - 16);  // header still sums to zero, but claims more than is there
  Package p;
  ASSERT_EQ(OpenPackageImage(p, Join({kStub, good, cut})), kPackageOk);
  EXPECT_EQ(Extract(p, "@R00"), "good");
  EXPECT_EQ(OpenPackageImage(p, Join({kStub, cut})), kPackageNotFound);
  EXPECT_FALSE(p.IsOpen());
}

TEST(OpenPackage, HeaderShorterThanItselfIsNotAPackage) {
  std::vector<uint8_t> header = Pkg({});
  core::StoreLe32(header.data() + 4, 8);
  SealChecksum(header, 8);
  Package p;
  EXPECT_EQ(OpenPackageImage(p, Join({kStub, header, kStub})), kPackageNotFound);
}

class TempDir {
 public:
  TempDir() : path_(std::filesystem::temp_directory_path() / ("nox_pkg_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    std::filesystem::create_directories(path_);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const auto file = (path_ / name).string();
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return file;
  }
  std::string Path(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

TEST(OpenPackage, ResultCodesOfTheFile) {
  TempDir dir;
  Package p;
  EXPECT_EQ(OpenPackage(p, dir.Path("missing.exe")), kPackageUnreadable);
  EXPECT_EQ(OpenPackage(p, dir.Write("empty.exe", {})), kPackageFileEmpty);
  EXPECT_EQ(OpenPackage(p, dir.Write("plain.exe", kStub)), kPackageNotFound);
  EXPECT_FALSE(p.IsOpen());
  EXPECT_EQ(OpenPackage(p, dir.Write("tool.exe", Join({kStub, Pkg({Module("@CMD", Bytes("/p /b"))})}))), kPackageOk);
  EXPECT_EQ(Extract(p, "@CMD"), "/p /b");
  ClosePackage(p);
  EXPECT_FALSE(p.IsOpen());
  EXPECT_EQ(Extract(p, "@CMD"), "-");
}

// ---------------------------------------------------------------------------------------
// Finding modules

TEST(FindModule, BadChecksumIsSkippedAndALaterCopyFound) {
  auto broken = Module("@R00", Bytes("first copy"));
  broken[kModuleHeaderSize + kDataHeaderSize] ^= 0x01;
  Package p;
  ASSERT_EQ(OpenPackageImage(p, Pkg({broken, Module("@R00", Bytes("second copy"))})), kPackageOk);
  EXPECT_EQ(Extract(p, "@R00"), "second copy");
  ASSERT_EQ(OpenPackageImage(p, Pkg({broken})), kPackageOk);
  EXPECT_EQ(Extract(p, "@R00"), "-");
}

// A package with 8 filler bytes in front of one module, so that the module sits off the
// 16-byte step, with the header's step byte as given.
std::vector<uint8_t> PackageWithModuleAt24(uint8_t step) {
  auto package = Pkg({std::vector<uint8_t>(8, 0), Module("@R00", Bytes("misplaced"))});
  package[10] = step;
  SealChecksum(core::MutableByteSpan(package).first(kPackageHeaderSize), 8);
  return package;
}

TEST(FindModule, OnlyModulesOnTheStepAreFound) {
  Package p;
  ASSERT_EQ(OpenPackageImage(p, PackageWithModuleAt24(0x10)), kPackageOk);
  size_t at = 0;
  EXPECT_EQ(FindModule(p, "@R00", at), 1u);
  ASSERT_EQ(OpenPackageImage(p, PackageWithModuleAt24(0x08)), kPackageOk);
  ASSERT_EQ(FindModule(p, "@R00", at), 0u);
  EXPECT_EQ(at, 24u + kModuleHeaderSize);
  ASSERT_EQ(OpenPackageImage(p, PackageWithModuleAt24(0)), kPackageOk);
  EXPECT_EQ(FindModule(p, "@R00", at), 1u);  // a step of 0 finds nothing
}

TEST(FindModule, ModuleTooShortForItsDataHeaderIsNotFound) {
  // 16 bytes: a header with a good sum but no room for the data header.
  std::vector<uint8_t> stub(16, 0);
  std::copy_n("@R00", 4, stub.begin());
  core::StoreLe32(stub.data() + 4, 16);
  SealChecksum(stub, 8);
  Package p;
  ASSERT_EQ(OpenPackageImage(p, Pkg({stub})), kPackageOk);
  size_t at = 0;
  EXPECT_EQ(FindModule(p, "@R00", at), 1u);
}

TEST(FindModule, ModuleLengthPastThePackageIsNotFound) {
  auto module = Module("@R00", Bytes("data"));
  core::StoreLe32(module.data() + 4, static_cast<uint32_t>(module.size() + 16));
  SealChecksum(module, 8);
  Package p;
  ASSERT_EQ(OpenPackageImage(p, Pkg({module})), kPackageOk);
  EXPECT_EQ(Extract(p, "@R00"), "-");
}

// ---------------------------------------------------------------------------------------
// Taking modules out

TEST(ExtractModule, StoredModuleIsCopiedWithZeroSlackBehind) {
  const auto content = testdata::RandomBytes(1000, 3);
  Package p;
  ASSERT_EQ(OpenPackageImage(p, Pkg({Module("@MET", content, true)})), kPackageOk);
  ExtractedModule m;
  ASSERT_EQ(ExtractModule(p, "@MET", m), 0u);
  ASSERT_EQ(m.size, content.size());
  EXPECT_TRUE(std::equal(content.begin(), content.end(), m.data.begin()));
  ASSERT_EQ(m.data.size(), content.size() + kExtractSlack);
  EXPECT_TRUE(std::all_of(m.data.begin() + 1000, m.data.end(), [](uint8_t b) { return b == 0; }));
}

TEST(ExtractModule, CompressedModuleIsExpanded) {
  const auto content = testdata::SyntheticRom(1 << 20, 5);
  const auto module = Module("@R00", content, true);
  ASSERT_LT(module.size(), content.size() / 2);
  Package p;
  ASSERT_EQ(OpenPackageImage(p, Pkg({module})), kPackageOk);
  ExtractedModule m;
  ASSERT_EQ(ExtractModule(p, "@R00", m), 0u);
  ASSERT_EQ(m.size, content.size());
  EXPECT_TRUE(std::equal(content.begin(), content.end(), m.data.begin()));
}

// A compressed module made by hand: `stream` behind a data header that claims `expanded`.
std::vector<uint8_t> RawModule(const std::string& tag, const std::vector<uint8_t>& stream, uint32_t expanded,
                               uint32_t storedSize) {
  std::vector<uint8_t> m(kModuleHeaderSize + kDataHeaderSize + (stream.size() + 15) / 16 * 16, 0);
  std::copy(tag.begin(), tag.end(), m.begin());
  core::StoreLe32(m.data() + 4, static_cast<uint32_t>(m.size()));
  core::StoreLe32(m.data() + 16, storedSize);
  core::StoreLe32(m.data() + 20, expanded);
  std::copy(stream.begin(), stream.end(), m.begin() + 24);
  SealChecksum(m, 8);
  return m;
}

TEST(ExtractModule, ExpansionOneByteShortIsRejected) {
  // 100 literals, then a block whose code-length table is over-subscribed.
  const auto stream = testdata::Bits()
                          .Put(16, 100).Put(5, 0).Put(5, 0).Put(9, 0).Put(9, 'Q').Put(4, 0).Put(4, 0)
                          .Put(16, 5).Put(5, 3).Put(3, 1).Put(3, 1).Put(3, 1).Put(2, 0)
                          .Bytes();
  const auto stored = static_cast<uint32_t>(stream.size() + kDataHeaderSize);
  Package p;
  ASSERT_EQ(OpenPackageImage(p, Pkg({RawModule("@EC0", stream, 100, stored), RawModule("@EC1", stream, 101, stored)})),
            kPackageOk);
  EXPECT_EQ(Extract(p, "@EC0"), std::string(100, 'Q'));
  EXPECT_EQ(Extract(p, "@EC1"), "-");
}

TEST(ExtractModule, DataHeaderReachingPastTheModuleIsRejected) {
  const auto stream = testdata::Bits().Put(16, 50).Put(5, 0).Put(5, 0).Put(9, 0).Put(9, 'Z').Put(4, 0).Put(4, 0).Bytes();
  const auto fits = static_cast<uint32_t>(stream.size() + kDataHeaderSize);
  Package p;
  ASSERT_EQ(OpenPackageImage(p, Pkg({RawModule("@R00", stream, 50, fits), RawModule("@R01", stream, 50, fits + 64),
                                     RawModule("@R02", stream, 50, 7),
                                     // stored (equal sizes) but longer than the module
                                     RawModule("@R03", stream, 200, 200)})),
            kPackageOk);
  EXPECT_EQ(Extract(p, "@R00"), std::string(50, 'Z'));
  EXPECT_EQ(Extract(p, "@R01"), "-");
  EXPECT_EQ(Extract(p, "@R02"), "-");
  EXPECT_EQ(Extract(p, "@R03"), "-");
}

TEST(ExtractModule, ExpandedSizeBeyondTheLimitIsRejected) {
  const auto stream = testdata::Bits().Put(16, 0).Put(5, 0).Put(5, 0).Put(9, 0).Put(9, 'Z').Put(4, 0).Put(4, 0).Bytes();
  Package p;
  ASSERT_EQ(OpenPackageImage(p, Pkg({RawModule("@R00", stream, kMaxExpandedSize + 1,
                                               static_cast<uint32_t>(stream.size() + kDataHeaderSize))})),
            kPackageOk);
  EXPECT_EQ(Extract(p, "@R00"), "-");
}

// ---------------------------------------------------------------------------------------
// Writing

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
}

TEST(PackageWriter, StoresWhatDoesNotCompress) {
  const auto random = testdata::RandomBytes(5000, 8);
  const auto module = Module("@ME0", random, true);
  EXPECT_EQ(core::LoadLe32(module.data() + 16), 5000u);  // stored size equals expanded size
  const auto text = Module("@CMD", Bytes("/p /b /n"), true);
  EXPECT_EQ(core::LoadLe32(text.data() + 16), 8u);
  const auto zeros = Module("@R00", std::vector<uint8_t>(5000, 0), true);
  EXPECT_LT(core::LoadLe32(zeros.data() + 16), 100u);
}

TEST(PackageWriter, ListShowsEveryModuleInOrder) {
  auto broken = Module("@EC0", Bytes("ec"));
  broken.back() ^= 1;
  Package p;
  ASSERT_EQ(OpenPackageImage(p, Join({kStub, Pkg({Module("@UII", Bytes("info")), Module("@R00", std::vector<uint8_t>(4000, 7), true), broken})})),
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
