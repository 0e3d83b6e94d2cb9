#include <gtest/gtest.h>

#include <filesystem>

#include "platform/sim/Journal.h"

namespace nox::sim {
namespace {

namespace fs = std::filesystem;

TEST(Journal, SmiLinesAreJsonWithTheRequestFields) {
  Journal j;
  j.RecordSmi({7, 1000, 35, "write", 0x7E0400, 1024, 0, "quote \" and backslash \\", nullptr});
  j.RecordSmi({.op = "disable"});
  const auto e = j.Entries();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0], nlohmann::json::parse(R"({"n":7,"t":1000,"smi":35,"op":"write","addr":8258560,"len":1024,
                                            "status":0,"misuse":"quote \" and backslash \\"})"));
  EXPECT_FALSE(e[1].contains("status"));
}

TEST(Journal, FileJournalBuffersUntilFlushOrItGrowsAndAppends) {
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
  Journal(file).RecordEvent(3, 4, "input-blocked");  // destruction flushes
  const auto e = Journal(file).Entries();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(e[0]["event"], "keep-awake");
  EXPECT_EQ(e[1]["event"], "input-blocked");
  EXPECT_EQ(e[1]["t"], 4);
  fs::remove(file);

  Journal big(file);
  for (int i = 0; i < 5000; ++i) big.RecordSmi({.op = "read"});
  EXPECT_GT(fs::file_size(file), 0u);  // without an explicit flush
  EXPECT_EQ(big.Entries().size(), 5000u);
  fs::remove(file);
}

}  // namespace
}  // namespace nox::sim
