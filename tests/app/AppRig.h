// Whole runs of the program in this process, against an in-memory simulated machine: the
// program file carries its package, the boxes are answered from a text, the console is
// captured, and the operating system is the simulated machine's (every effect journaled)
// except that the end of the process becomes an exception.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/sim/Profile.h"

namespace nox::app::test {

using Json = nlohmann::json;

// What the system or the user does differently from a quiet run.
struct Quirks {
  std::optional<int> shutdownComesBack;      // restart and power-off answer this and return
  std::optional<uint32_t> directoryError;    // the program's path is unknown, the directory unreadable
  bool allocationFailsWhileWriting = false;  // blocking input before a piece is written throws
  bool powerButtonsNotRestored = false;      // putting the buttons back fails, with its line
  bool mainWindowClosedAtOnce = false;
  std::string allocationFailsAtBox;          // showing a box with this text throws
};

// The images a package may carry, named by whom they are made for.
enum class Image { kFit, kOther, kOther2 };

// One whole run (the machine, the package, what the user and the system do) and what must
// come out of it. Region names ("ncb", "nvram", "ec", "main", "bb") are those of legacy-8m.
struct RunCase {
  std::string name;
  std::string script;  // the package's option script
  std::vector<std::string> words;
  std::function<void(sim::Profile&)> machine = [](sim::Profile&) {};
  std::map<uint32_t, Image> roms = {{0, Image::kFit}};
  std::string answers = "OK\nOK\n";  // a line a box; here the start box and the flash warning
  Quirks quirks;
  uint32_t exitCode = 0;
  std::vector<std::string> says, saysNot;
  std::vector<Json> inOrder;  // journal lines holding these fields, one after another
  std::vector<Json> lacks;    // journal lines that must not be there
  std::optional<std::string> touched;  // regions erased, written or verified, in first-touch order
  std::vector<std::string> nowImage;   // regions that hold image 0 afterwards
  std::optional<int> keyWaits;
  std::string preset = "legacy-8m";
  unsigned holes = 0;  // ROM holes make the run read the whole part before it writes
  std::map<std::string, std::vector<uint8_t>> further;  // package modules besides the images
  std::optional<std::pair<uint32_t, uint32_t>> erasesIn;  // this range is erased exactly once
};

inline void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

// Runs `c` and checks what every run must do (end once, leave the system as it found it,
// do nothing more after a restart or power-off request) and what `c` expects.
void RunAndCheck(const RunCase& c);

class Runs : public ::testing::TestWithParam<RunCase> {};

inline std::string CaseName(const ::testing::TestParamInfo<RunCase>& p) { return p.param.name; }

}  // namespace nox::app::test
