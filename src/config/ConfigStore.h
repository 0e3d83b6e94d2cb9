// The one store of a run's configuration: command records with their selections, values
// and numbers, the error table and the package module slots. Built before start-up and
// alive until the process ends; every other part asks it what is selected.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/CommandTable.h"
#include "config/ErrorTable.h"
#include "config/ModuleSlots.h"

namespace nox::config {

class ConfigStore {
 public:
  static constexpr uint32_t kEnableBytes = 58;     // ids 0..57
  static constexpr uint32_t kCommandSlots = 59;    // ids 0..58
  static constexpr size_t kValueBufferSize = 1024; // values text plus its terminating zero

  ConfigStore();

  // --- queries and changes on command ids -------------------------------------------
  bool IsSelected(uint32_t id) const;
  void SelectCommand(uint32_t id, bool on);
  void DisableCommand(uint32_t id);
  uint32_t GetNumber(uint32_t id) const;
  // The index-th value (0 = the most recent), or none.
  std::optional<std::string> GetValue(uint32_t id, uint32_t index = 0) const;
  // Puts a non-empty text in front of the values; an empty text removes them all.
  // Returns false (and changes nothing) when the values would no longer fit the
  // 1024-byte value buffer, or when the id has no record.
  bool SetValue(uint32_t id, std::string_view text);
  std::optional<std::string_view> CommandName(uint32_t id) const;
  // Letter-digit commands collect the digits given as bits of their number.
  void OrNumber(uint32_t id, uint32_t bits);

  // Drops every record (with its selection, number and values) and adds the built-in
  // commands whose enable byte is still set.
  void BuildCommandTable();

  const std::vector<CommandRecord>& Records() const { return records_; }
  const CommandRecord* Find(uint32_t id) const;
  bool Enabled(uint32_t id) const { return id < kEnableBytes && enabled_[id] != 0; }

  // --- errors ---------------------------------------------------------------------------
  const ErrorTable& Errors() const { return errors_; }
  const char* ErrorMessage(uint32_t id) const { return errors_.ErrorMessage(id); }
  uint32_t ExitCodeOf(uint32_t id) const { return errors_.ExitCodeOf(id); }

  // --- package modules ------------------------------------------------------------------
  ModuleSlots& Modules() { return modules_; }
  const ModuleSlots& Modules() const { return modules_; }

 private:
  CommandRecord* FindMutable(uint32_t id);

  ModuleSlots modules_;
  std::array<uint8_t, kEnableBytes> enabled_{};
  std::vector<CommandRecord> records_;
  std::array<uint32_t, kCommandSlots> index_{};
  ErrorTable errors_;
};

}  // namespace nox::config
