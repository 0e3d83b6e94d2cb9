#include <gtest/gtest.h>

#include <filesystem>

#include "platform/console/RunningExecutable.h"

namespace nox::platform {
namespace {

TEST(RunningExecutable, NamesThisTestProgram) {
  const auto path = RunningExecutablePath();
  ASSERT_TRUE(path);
  EXPECT_EQ(std::filesystem::path(*path).filename(), "nox_platform_tests");
  EXPECT_TRUE(std::filesystem::equivalent(*path, "/proc/self/exe"));
}

}  // namespace
}  // namespace nox::platform
