// Whole runs of the program in this process, against an in-memory simulated machine: the
// program file carries its package, the boxes are answered from a text, the console is
// captured, and the operating system is the simulated machine's (every effect journaled)
// except that the end of the process becomes an exception.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/sim/Profile.h"

namespace nox::app::test {

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
enum class Image { kFit, kOlder, kOther, kOther2 };

struct Expect {
  uint32_t exitCode = 0;
  std::vector<std::string> says;
  std::vector<std::string> saysNot;
  std::vector<nlohmann::json> journalInOrder;  // lines holding these fields, one after another
  std::vector<nlohmann::json> journalLacks;
  std::optional<std::string> touched;  // regions erased, written or verified, in first-touch order
  std::vector<std::string> nowImage;   // regions that hold image 0 afterwards
  std::vector<std::string> kept;       // regions that hold what they held before
  struct {
    uint32_t from = 0, to = 0;  // an empty range checks nothing
    long count = 0;
  } erases;
  std::optional<int> keyWaits;
};

// One whole run: the machine, the package, what the user and the system do, what must come
// out. Region names ("ncb", "nvram", "ec", "main", "bb") are those of legacy-8m.
struct RunCase {
  std::string name;
  std::string preset = "legacy-8m";
  std::function<void(sim::Profile&)> machine = [](sim::Profile&) {};
  std::map<uint32_t, Image> roms = {{0, Image::kFit}};
  unsigned holes = 0;  // ROM holes make the run read the whole part before it writes
  std::string script;
  std::map<std::string, std::vector<uint8_t>> further;  // package modules besides the images
  std::vector<std::string> words;
  std::string answers = "OK\nOK\n";  // a line a box; here the start box and the flash warning
  Quirks quirks;
  Expect expect;
};

inline void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

inline RunCase Case(std::string name, std::string script, const std::function<void(RunCase&)>& change) {
  RunCase c;
  c.name = std::move(name);
  c.script = std::move(script);
  change(c);
  return c;
}

// Runs `c` and checks what every run must do (end once, leave the system as it found it,
// do nothing more after a restart or power-off request) and what `c` expects.
void RunAndCheck(const RunCase& c);

}  // namespace nox::app::test
