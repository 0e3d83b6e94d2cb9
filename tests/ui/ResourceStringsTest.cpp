// The Windows resource script repeats the pages' tool-tip texts as string resources; they
// must stay the models' texts byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "ui/InformationPageModel.h"
#include "ui/SetupPageModel.h"

namespace nox::ui {
namespace {

// The string table of the script: id -> text, with "" read as one quote and \n as a line feed.
std::map<int, std::string> StringTable(const std::string& path) {
  std::ifstream in(path);
  std::map<int, std::string> table;
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("STRINGTABLE", 0) == 0) inside = true;
    if (!inside) continue;
    if (line.rfind("END", 0) == 0) break;
    std::istringstream fields(line);
    int id = 0;
    if (!(fields >> id)) continue;
    const size_t open = line.find('"');
    const size_t close = line.rfind('"');
    if (open == std::string::npos || close <= open) continue;
    std::string text;
    for (size_t i = open + 1; i < close; ++i) {
      if (line[i] == '"' && line[i + 1] == '"') ++i;
      if (line[i] == '\\' && line[i + 1] == 'n') {
        text += '\n';
        ++i;
        continue;
      }
      text += line[i];
    }
    table[id] = text;
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
