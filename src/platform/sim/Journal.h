// What happened on the machine, one JSON object a line (journal.jsonl). SMI lines are
// formatted by hand because the handler writes one for every request of a flash run; events
// that happen a few times a run go through nlohmann::json. Once appending, an event's line
// reaches the file as it is recorded; SMI lines are gathered and reach it before the flash
// part changes again (the machine calls WritePending then) and at the end, after the change
// they tell of: a process killed at any moment leaves a journal that lists every change the
// part holds (the very last one's line may be missing, as with any kill between a change and
// its line), without a system call for every request.
//
// SMI line:   {"n":12,"t":2000,"smi":35,"op":"write","addr":4096,"len":1024,"status":0}
//             plus "misuse":"..." when the request broke the handler's rules, or "fault":"..."
//             when an injected fault decided the answer, or "refused":"..." when the
//             firmware's rules (secure flash) turned it down, and "chip":true when the
//             address is a chip address (inside an ME begin/end pair).
// Event line: {"n":12,"t":2000,"event":"keep-awake", ...detail fields}
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace nox::sim {

struct SmiRecord {
  uint64_t number = 0;
  uint64_t timeMs = 0;
  uint8_t command = 0;
  const char* op = "";
  uint32_t address = 0;
  uint32_t length = 0;
  int status = -1;            // -1: the command has no status byte
  const char* misuse = nullptr;
  const char* fault = nullptr;
  const char* refused = nullptr;  // the firmware's own rules turned a sound request down
  bool chip = false;              // the address is a chip address, not a block-table one
};

class Journal {
 public:
  // Lines stay in memory until StartAppending(); the file, when given, is read by Entries().
  explicit Journal(std::filesystem::path file = {});
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  void RecordSmi(const SmiRecord& record);
  // An SMI whose answer has more to say than address and length (OEM calls, OFBD blocks).
  void RecordSmiDetail(uint64_t number, uint64_t timeMs, uint8_t command, const char* op,
                       const nlohmann::json& detail);
  // `detail` must be an object; its fields follow "n", "t" and "event" on the line.
  void RecordEvent(uint64_t number, uint64_t timeMs, std::string_view event,
                   const nlohmann::json& detail = nlohmann::json::object());

  // Opens the file to append every line from now on (and those held so far); false, with
  // the reason in `error`, when it cannot be.
  bool StartAppending(std::string& error);
  // Writes the lines gathered so far, when appending.
  void WritePending() { Emit(); }
  // The first failure to append ("FILE: cannot be written: REASON"), empty while there is
  // none; lines from then on are kept in memory only.
  const std::string& WriteError() const { return writeError_; }
  // Every line so far (file and buffer), parsed. Unparsable lines are skipped.
  std::vector<nlohmann::json> Entries() const;
  // Lines recorded through this object (not those already in the file when it was opened).
  uint64_t LinesRecorded() const { return lines_; }

 private:
  void Append(std::string_view line);
  // Writes what is pending when appending.
  void Emit();

  std::filesystem::path file_;
  std::unique_ptr<std::ofstream> out_;
  std::string writeError_;
  std::string pending_;  // lines not in the file
  uint64_t lines_ = 0;
};

}  // namespace nox::sim
