#include "config/OptionParser.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include "core/CText.h"

namespace nox::config {
namespace {

using core::AsciiLower;
using core::AsciiUpper;

struct SortedEntry {
  size_t position;  // index into the store's records
  ArgumentKind kind;
  std::string lowerName;
};

// The candidate search and the three handlers over one snapshot of the table.
class Matcher {
 public:
  explicit Matcher(ConfigStore& store) : store_(store) {
    const auto& records = store.Records();
    for (size_t i = 0; i < records.size(); ++i) {
      entries_.push_back({i, KindOf(records[i]), AsciiLower(records[i].name)});
    }
    // Longest names first; names of equal length keep table order.
    std::stable_sort(entries_.begin(), entries_.end(), [](const SortedEntry& a, const SortedEntry& b) {
      return a.lowerName.size() > b.lowerName.size();
    });
  }

  bool Match(const std::string& argument) {
    if (argument.empty()) return false;
    const std::string word = AsciiLower(std::string_view(argument).substr(1));
    bool accepted = false;
    for (const SortedEntry* candidate : Candidates(word)) {
      // Every candidate gets its try; each one that succeeds has made its selection.
      if (Apply(*candidate, argument, word)) accepted = true;
    }
    return accepted;
  }

 private:
  std::vector<const SortedEntry*> Candidates(const std::string& word) const {
    std::vector<const SortedEntry*> found;
    for (const SortedEntry& e : entries_) {
      if (e.kind != ArgumentKind::kExactSwitch) continue;
      if (e.lowerName.find('|') != std::string::npos) {
        found.push_back(&e);
      } else if (e.lowerName == word) {
        found.push_back(&e);
        return found;
      }
    }
    for (const SortedEntry& e : entries_) {
      if (e.kind == ArgumentKind::kNameWithValue && word.starts_with(e.lowerName)) {
        found.push_back(&e);
        return found;
      }
    }
    if (word.empty()) return found;
    for (const SortedEntry& e : entries_) {
      if (e.kind == ArgumentKind::kLetterDigit && !e.lowerName.empty() && e.lowerName[0] == word[0]) {
        found.push_back(&e);
      }
    }
    return found;
  }

  bool Apply(const SortedEntry& entry, const std::string& argument, const std::string& word) {
    if (argument[0] != '/' && argument[0] != '-') return false;
    const CommandRecord& record = store_.Records()[entry.position];
    switch (entry.kind) {
      case ArgumentKind::kExactSwitch: return ExactSwitch(record, word);
      case ArgumentKind::kNameWithValue: return NameWithValue(record, argument);
      case ArgumentKind::kLetterDigit: return LetterDigit(word);
      case ArgumentKind::kNone: return false;
    }
    return false;
  }

  bool ExactSwitch(const CommandRecord& record, const std::string& word) {
    std::string_view alternatives = record.name;
    while (true) {
      const size_t bar = alternatives.find('|');
      if (alternatives.substr(0, bar) == word) {
        store_.SelectCommand(record.id, true);
        return true;
      }
      if (bar == std::string_view::npos) return false;
      alternatives.remove_prefix(bar + 1);
    }
  }

  bool NameWithValue(const CommandRecord& record, const std::string& argument) {
    std::string text = argument.substr(1);
    const size_t lowered = (record.status & status::kKeepsCase) ? std::min(record.name.size(), text.size())
                                                                 : text.size();
    for (size_t i = 0; i < lowered; ++i) text[i] = AsciiLower(text[i]);
    if (!std::string_view(text).starts_with(record.name)) return false;
    const uint32_t id = record.id;  // the record may move when values change; keep the id
    // A value that would not fit the value buffer is refused rather than cut.
    if (!store_.SetValue(id, std::string_view(text).substr(record.name.size()))) return false;
    store_.SelectCommand(id, true);
    return true;
  }

  const CommandRecord* FirstNamed(std::string_view prefix) const {
    for (const CommandRecord& r : store_.Records()) {
      if (std::string_view(r.name).starts_with(prefix)) return &r;
    }
    return nullptr;
  }

  bool LetterDigit(const std::string& word) {
    const char letter = AsciiUpper(word[0]);
    if (word.size() == 1) {
      const CommandRecord* r = FirstNamed(std::string(1, letter));
      if (!r) return false;
      store_.SelectCommand(r->id, true);
      return true;
    }
    if (word[1] >= '0' && word[1] <= '9') {
      const CommandRecord* r = FirstNamed(std::string{letter, 'N'});
      if (!r) return false;
      const uint32_t id = r->id;
      store_.SelectCommand(id, true);
      store_.OrNumber(id, 1u << (word[1] - '0'));
      return true;
    }
    for (size_t i = 1; i < word.size(); ++i) {
      const std::string name{letter, AsciiLower(word[i])};
      const CommandRecord* r = nullptr;
      for (const CommandRecord& candidate : store_.Records()) {
        if (candidate.name == name) {
          r = &candidate;
          break;
        }
      }
      if (!r) return false;
      store_.SelectCommand(r->id, true);
    }
    return true;
  }

  ConfigStore& store_;
  std::vector<SortedEntry> entries_;
};

bool AnySelected(const ConfigStore& store, std::initializer_list<uint32_t> ids) {
  return std::any_of(ids.begin(), ids.end(), [&](uint32_t id) { return store.IsSelected(id); });
}

void Deselect(ConfigStore& store, std::initializer_list<uint32_t> ids) {
  for (uint32_t id : ids) store.SelectCommand(id, false);
}

bool AllOf(const std::string& text, bool (*pred)(char)) {
  return std::all_of(text.begin(), text.end(), pred);
}

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) {
  return IsDecimalDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool OpenForReadingWithCLibrary(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

// Options that end in a file-writing or single-purpose mode want the command line to
// hold only themselves and, at most, "q".
bool AloneOrWithSilent(const ConfigStore& store, size_t count) {
  return count == 3 || (count == 4 && store.IsSelected(option::kSilent));
}

}  // namespace

bool MatchArgument(ConfigStore& store, const std::string& argument) {
  return Matcher(store).Match(argument);
}

uint32_t ParseOptions(ConfigStore& store, std::span<const std::string> args, ParseContext& context) {
  using namespace option;
  const bool fileModeAlreadySet =
      context.secondPass && (store.IsSelected(kSaveFile) || store.IsSelected(kShowFileRomId));
  const size_t count = args.size();
  if (count <= 1) return 0;

  store.DisableCommand(kPreserveSmbiosType);

  Matcher matcher(store);
  for (size_t i = 1; i < count; ++i) {
    if (!matcher.Match(args[i])) {
      store.BuildCommandTable();
      return parse_error::kUnknownCommand;
    }
  }

  if (!AnySelected(store, {kMainBios, kBootBlock, kNvram, kEc, kAllNcb, kNcbN}) &&
      !context.commandScriptHeld && !AnySelected(store, {kMeIgnition, kMeEntire, kEcIfNewer})) {
    store.SelectCommand(kMainBios, true);
  }

  if (store.IsSelected(kRomHole)) {
    if (count == 4 && !store.IsSelected(kSilent) && !store.IsSelected(kOemSmi)) {
      return parse_error::kUnknownCommand;
    }
    if (!store.GetValue(kRomHole)) return parse_error::kUnknownCommand;
    if (!store.IsSelected(kRomFile)) return parse_error::kUnknownCommand;
    const auto file = store.GetValue(kRomFile);
    const auto& canOpen = context.canOpenForReading ? context.canOpenForReading : OpenForReadingWithCLibrary;
    if (!file || !canOpen(*file)) return parse_error::kCannotOpenRomIdFile;
    Deselect(store, {kMainBios, kBootBlock, kNvram, kAllNcb, kEc});
  }

  if ((store.IsSelected(kSaveFile) || store.IsSelected(kShowFileRomId)) && !fileModeAlreadySet) {
    if (!AloneOrWithSilent(store, count)) return parse_error::kUnknownCommand;
    store.SelectCommand(kMainBios, false);
    if (store.IsSelected(kSaveFile)) {
      store.SelectCommand(kRomFile, false);
      store.SetValue(kSaveFile, args[1]);
    }
    if (store.IsSelected(kShowFileRomId)) {
      store.SelectCommand(kRomFile, true);
      store.SetValue(kRomFile, args[1]);
    }
  }

  if (store.IsSelected(kRetry)) {
    const auto value = store.GetValue(kRetry);
    if (!value || core::CDecimal(*value) < 1 || !AllOf(*value, IsDecimalDigit)) {
      return parse_error::kInvalidRetryCount;
    }
  }

  if (store.IsSelected(kPreserveAllSmbios)) {
    for (uint32_t i = 0;; ++i) {
      const auto value = store.GetValue(kPreserveAllSmbios, i);
      if (!value) break;
      if (core::CDecimal(*value) == 0 && !value->starts_with('0')) return parse_error::kUnknownCommand;
    }
  }

  if (store.IsSelected(kRomIdLength)) {
    const auto value = store.GetValue(kRomIdLength);
    const int64_t length = value ? core::CDecimal(*value) : 0;
    if (length < 1 || length > 8) return parse_error::kInvalidRomIdLength;
  }

  if (store.IsSelected(kOemSmi)) {
    if (count == 3 && !store.IsSelected(kSilent)) return parse_error::kUnknownCommand;
    const auto value = store.GetValue(kOemSmi);
    if (!value || !AllOf(*value, IsHexDigit)) return parse_error::kInvalidSmi;
  }

  if (store.IsSelected(kMeEntire)) store.SelectCommand(kMeIgnition, false);

  if (store.IsSelected(kVerifyOnly)) {
    Deselect(store, {kMainBios, kBootBlock, kNvram, kAllNcb, kEc, kNoRomIdCheck});
  }

  if (store.IsSelected(kSilent)) context.silenced = true;

  if (store.IsSelected(kEcFlashType)) {
    if (!AloneOrWithSilent(store, count)) return parse_error::kUnknownCommand;
    context.prepareFlashInterface = false;
    store.SelectCommand(kEcFlashType, true);
    Deselect(store, {kMainBios, kBootBlock, kNvram, kAllNcb, kEc, kNoRomIdCheck, kReboot});
    store.SelectCommand(kShutdown, true);
  }

  return 0;
}

}  // namespace nox::config
