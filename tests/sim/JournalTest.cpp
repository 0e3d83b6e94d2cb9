#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/sim/Journal.h"

namespace nox::sim {
namespace {

namespace fs = std::filesystem;

TEST(Journal, SmiLinesAreJsonWithTheRequestFields) {
  Journal j;
  SmiRecord r;
  r.number = 7;
  r.timeMs = 1000;
  r.command = 35;
  r.op = "write";
  r.address = 0x7E0400;
  r.length = 1024;
  r.status = 0;
  r.misuse = "quote \" and backslash \\";
  j.RecordSmi(r);
  const auto e = j.Entries();
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0], nlohmann::json::parse(R"({"n":7,"t":1000,"smi":35,"op":"write","addr":8258560,"len":1024,
                                            "status":0,"misuse":"quote \" and backslash \\"})"));
  SmiRecord noStatus;
  noStatus.op = "disable";
  j.RecordSmi(noStatus);
  EXPECT_FALSE(j.Entries()[1].contains("status"));
}

TEST(Journal, FileJournalBuffersUntilFlushAndAppends) {
  const fs::path file = fs::temp_directory_path() / "noxsim-journal-test.jsonl";
  fs::remove(file);
  {
    Journal j(file);
    j.RecordEvent(1, 2, "keep-awake", {{"on", true}});
    EXPECT_FALSE(fs::exists(file) && fs::file_size(file) > 0);
    EXPECT_EQ(j.Entries().size(), 1u);  // seen before it reaches the file
    ASSERT_TRUE(j.Flush());
    EXPECT_GT(fs::file_size(file), 0u);
  }
  {
    Journal j(file);
    j.RecordEvent(3, 4, "input-blocked");
  }  // destruction flushes
  Journal j(file);
  const auto e = j.Entries();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0]["event"], "keep-awake");
  EXPECT_EQ(e[1]["event"], "input-blocked");
  EXPECT_EQ(e[1]["t"], 4);
  fs::remove(file);
}

TEST(Journal, LargeRunsReachTheFileWithoutAnExplicitFlush) {
  const fs::path file = fs::temp_directory_path() / "noxsim-journal-big.jsonl";
  fs::remove(file);
  Journal j(file);
  SmiRecord r;
  r.op = "read";
  for (int i = 0; i < 5000; ++i) j.RecordSmi(r);
  EXPECT_GT(fs::file_size(file), 0u);
  EXPECT_EQ(j.Entries().size(), 5000u);
  fs::remove(file);
}

}  // namespace
}  // namespace nox::sim
