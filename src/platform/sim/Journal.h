// What happened on the machine, one JSON object a line (journal.jsonl). SMI lines are
// formatted by hand and buffered because the handler writes one for every request of a
// flash run; events that happen a few times a run go through nlohmann::json.
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
  // An empty path keeps the journal in memory only.
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

  // Writes buffered lines to the file; false when the file cannot be written.
  bool Flush();
  // Every line so far (file and buffer), parsed. Unparsable lines are skipped.
  std::vector<nlohmann::json> Entries() const;
  // Lines recorded through this object (not those already in the file when it was opened).
  uint64_t LinesRecorded() const { return lines_; }

 private:
  void Append(std::string_view line);

  std::filesystem::path file_;
  std::string pending_;
  uint64_t lines_ = 0;
};

}  // namespace nox::sim
