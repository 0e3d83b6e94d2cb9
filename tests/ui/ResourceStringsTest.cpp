// The Windows resource script repeats the pages' tool-tip texts as string resources; they
// must stay the models' texts byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <string>

#include "ui/InformationPageModel.h"
#include "ui/SetupPageModel.h"

namespace nox::ui {
namespace {

// The string table of the script: id -> text, with "" read as one quote.
std::map<int, std::string> StringTable(const std::string& path) {
  std::ifstream in(path);
  const std::string script{std::istreambuf_iterator<char>(in), {}};
  const std::regex row(R"re(\n\s+(\d+)\s+"((?:[^"\n]|"")*)")re");
  std::map<int, std::string> table;
  for (std::sregex_iterator it(script.begin(), script.end(), row), end; it != end; ++it) {
    table[std::stoi((*it)[1])] = std::regex_replace((*it)[2].str(), std::regex("\"\""), "\"");
  }
  return table;
}

TEST(ResourceStrings, ToolTipsAreTheModelsTexts) {
  const std::map<int, std::string> table = StringTable(NOX_RESOURCE_SCRIPT);
  ASSERT_FALSE(table.empty()) << NOX_RESOURCE_SCRIPT;
  size_t compared = 0;
  for (const SetupControl& control : SetupControls()) {
    if (!control.toolTip) continue;
    EXPECT_EQ(table.count(control.id) ? table.at(control.id) : "(none)", control.toolTip) << control.id;
    ++compared;
  }
  for (const InfoToolTip& tip : InformationToolTips()) {
    EXPECT_EQ(table.count(tip.id) ? table.at(tip.id) : "(none)", tip.text) << tip.id;
    ++compared;
  }
  EXPECT_GE(compared, 30u);
  EXPECT_EQ(table.at(1028), "Property Sheet");
}

}  // namespace
}  // namespace nox::ui
