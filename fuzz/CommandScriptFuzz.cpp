// A package's option script and a user's command line, both from arbitrary bytes: the first
// byte chooses which, the rest is the script text or the arguments split at line feeds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/CommandScript.h"
#include "config/ConfigStore.h"
#include "config/WordOptions.h"
#include "core/SessionEnd.h"
#include "ui/Ui.h"

namespace {

struct Ended {};

class EndByThrowing : public nox::core::SessionEnd {
 public:
  [[noreturn]] void EndSession(uint32_t) override { throw Ended{}; }
};

class AnswerOk : public nox::ui::Ui {
 public:
  nox::ui::Button MessageBox(const std::string&, const std::string&, uint32_t) override { return nox::ui::Button::kOk; }
  std::optional<std::string> AskPassword(const std::string&) override { return std::nullopt; }
  void ShowKorvInfo(const nox::ui::KorvInfo&) override {}
  void RunMainDialog(nox::ui::MainDialogHost&) override {}
  std::optional<std::string> OpenFileDialog(const nox::ui::FileDialogOptions&) override { return std::nullopt; }
  std::optional<std::string> SaveFileDialog(const nox::ui::FileDialogOptions&) override { return std::nullopt; }
  void Beep() override {}
  void ShowImageTransfer(uint32_t, uint32_t) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  nox::config::ConfigStore store;
  if (data[0] & 1) {
    nox::config::ScriptNamesCapsule(store, text);
    nox::config::CommandScript script;
    script.Build(store, "nox.exe", std::vector<std::string>{"nox.exe", "/reboot", "/x"}, text);
    if (script.Arguments().size() > nox::config::command_script::kMaxEntries) __builtin_trap();
    for (size_t i = 1; i < script.Arguments().size(); ++i) {
      if (script.Arguments()[i].size() > nox::config::command_script::kMaxWordLength) __builtin_trap();
    }
    nox::config::ParseContext context;
    script.SecondPass(store, context);
  } else {
    std::vector<std::string> args{"nox.exe"};
    size_t pos = 0;
    while (pos <= text.size()) {
      const size_t end = std::min(text.find('\n', pos), text.size());
      args.emplace_back(text.substr(pos, end - pos));
      pos = end + 1;
    }
    AnswerOk ui;
    EndByThrowing session;
    const auto out = nox::config::TranslateWordOptions(args, (data[0] & 2) != 0, false, ui, session,
                                                       [](const std::string&) {});
    if (out.flags.password.size() > nox::config::word_options::kMaxPasswordLength) __builtin_trap();
    for (size_t i = 1; i < out.arguments.size(); ++i) {
      if (out.arguments[i].size() >= nox::config::word_options::kWordCapacity) __builtin_trap();
    }
  }
  return 0;
}
