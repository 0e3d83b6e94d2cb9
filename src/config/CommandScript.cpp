#include "config/CommandScript.h"

#include <algorithm>
#include <optional>

#include "core/CText.h"

namespace nox::config {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Whether `word` is one the "cfgbhv:" command takes as its name-with-value argument.
bool IsConfigBehaviourWord(const ConfigStore& store, const std::string& word) {
  const CommandRecord* record = store.Find(option::kDefaultBehaviour);
  if (record == nullptr || KindOf(*record) != ArgumentKind::kNameWithValue) return false;
  if (word.empty() || (word[0] != '/' && word[0] != '-')) return false;
  return core::AsciiLower(std::string_view(word).substr(1)).starts_with(core::AsciiLower(record->name));
}

}  // namespace

std::vector<std::string> SplitScriptWords(std::string_view script) {
  script = script.substr(0, script.find('\0'));
  std::vector<std::string> words;
  size_t pos = 0;
  while (pos < script.size()) {
    while (pos < script.size() && IsBlank(script[pos])) ++pos;
    const size_t start = pos;
    while (pos < script.size() && !IsBlank(script[pos])) ++pos;
    if (pos > start) words.emplace_back(script.substr(start, pos - start));
  }
  return words;
}

bool ScriptNamesCapsule(const ConfigStore& store, std::string_view script) {
  const std::optional<std::string_view> name = store.CommandName(option::kCapsule);
  if (!name) return false;
  const std::string capsule = core::AsciiUpper(*name);
  std::vector<std::string> words = SplitScriptWords(script);
  if (words.size() > command_script::kMaxEntries) words.resize(command_script::kMaxEntries);
  return std::any_of(words.begin(), words.end(), [&](const std::string& word) {
    return capsule.starts_with(core::AsciiUpper(std::string_view(word).substr(1)));
  });
}

CommandScript::State CommandScript::Build(ConfigStore& store, std::string_view programPath,
                                          std::span<const std::string> internalArguments, std::string_view script) {
  Release();
  configBehaviour_ = -1;
  std::vector<std::string> words = SplitScriptWords(script);

  // The internal options share the 58 entries with the script while the list is put
  // together, so they count although they are left out of the final list.
  const size_t internalWords = internalArguments.empty() ? 0 : internalArguments.size() - 1;
  const bool tooMany = 1 + internalWords + words.size() > command_script::kMaxEntries;
  const bool tooLong = std::any_of(words.begin(), words.end(), [](const std::string& w) {
    return w.size() > command_script::kMaxWordLength;
  });
  if (tooMany || tooLong) {
    // Cutting a word or dropping the tail would run the flash with options the package
    // never asked for; the run is refused like a script the parser rejects.
    state_ = State::kRefused;
    return state_;
  }

  const auto behaviourWord = std::find_if(words.begin(), words.end(), [&](const std::string& w) {
    return IsConfigBehaviourWord(store, w) && MatchArgument(store, w);
  });
  if (behaviourWord != words.end()) {
    const std::optional<std::string> value = store.GetValue(option::kDefaultBehaviour);
    if (value == "0") {
      configBehaviour_ = 0;
    } else if (value == "1") {
      configBehaviour_ = 1;
    } else {
      store.SelectCommand(option::kDefaultBehaviour, false);
    }
    words.erase(behaviourWord);
  }

  if (words.empty()) {
    configBehaviour_ = -1;
    return state_;
  }
  arguments_.reserve(words.size() + 1);
  arguments_.emplace_back(programPath);
  for (std::string& w : words) arguments_.push_back(std::move(w));
  state_ = State::kHeld;
  return state_;
}

uint32_t CommandScript::SecondPass(ConfigStore& store, ParseContext& context) {
  if (state_ == State::kNone) return 0;
  if (state_ == State::kRefused) {
    Release();
    return parse_error::kUnknownCommand;
  }
  if (configBehaviour_ == 0 && !store.IsSelected(option::kHelp)) {
    for (uint32_t id = 0; id < ConfigStore::kEnableBytes; ++id) store.SelectCommand(id, false);
  }
  context.secondPass = true;
  const uint32_t result = ParseOptions(store, arguments_, context);
  Release();
  return result;
}

void CommandScript::Release() {
  arguments_.clear();
  arguments_.shrink_to_fit();
  state_ = State::kNone;
}

}  // namespace nox::config
