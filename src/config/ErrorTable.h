// The table of error ids: every failure that ends a run is named by one of these ids, which
// gives the message printed at the end and the process exit code.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace nox::config {

// Ids that the session and start-up name; the layers below keep the ones they answer with.
namespace error {
inline constexpr uint32_t kInvalidOption = 8;
inline constexpr uint32_t kUnloadDriver = 17;
inline constexpr uint32_t kNcbNotAvailable = 19;
inline constexpr uint32_t kNcbPrepare = 20;
inline constexpr uint32_t kSecureSession = 24;
inline constexpr uint32_t kLoadImage = 29;
inline constexpr uint32_t kNoMemory = 34;
inline constexpr uint32_t kReadFile = 49;
inline constexpr uint32_t kWriteFile = 51;
inline constexpr uint32_t kMeData = 160;
}  // namespace error

struct ErrorRecord {
  uint32_t id = 0;
  uint32_t exitCode = 0;
  std::string message;
};

class ErrorTable {
 public:
  static constexpr uint32_t kIndexSlots = 175;  // ids 0..174
  static constexpr size_t kBuiltInCount = 88;
  static constexpr const char* kUndefinedMessage = "Undefined Error ID\n";

  // Empties the table and adds the built-in records in their fixed order.
  void BuildErrorTable();

  // The record's message, or "Undefined Error ID\n" for an id without a record
  // (including every id of 175 and above). The text is owned by the table.
  const char* ErrorMessage(uint32_t id) const;
  // The record's exit code, or 0 for an id without a record.
  uint32_t ExitCodeOf(uint32_t id) const;
  bool HasRecord(uint32_t id) const { return Find(id) != nullptr; }

  const std::vector<ErrorRecord>& Records() const { return records_; }

 private:
  const ErrorRecord* Find(uint32_t id) const;
  void Add(uint32_t id, const char* message);

  std::vector<ErrorRecord> records_;
  std::array<uint32_t, kIndexSlots> index_{};
};

}  // namespace nox::config
