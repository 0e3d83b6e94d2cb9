#include "policy/FirmwarePassword.h"

#include <algorithm>
#include <optional>

#include "config/CommandTable.h"
#include "core/Format.h"
#include "policy/Wipe.h"

namespace nox::policy {
namespace {

constexpr uint8_t kRequired = 0x01;
constexpr uint8_t kNoMoreAttempts = 0x04;
constexpr uint8_t kAccepted = 0x02;

void ShowFirmwareText(FirmwarePasswordEnv& env, const std::string& text) {
  env.os.BlockUserInput(false);
  env.ui.MessageBox(text, ui::kAppTitle, ui::style::kOk);
  env.os.BlockUserInput(true);
}

FirmwarePasswordResult Locked(FirmwarePasswordEnv& env, const std::optional<std::string>& text) {
  FirmwarePasswordResult result{kErrPasswordRetryExceeded, false};
  if (text) {
    env.os.BlockUserInput(false);
    env.ui.MessageBox(*text, ui::kAppTitle, ui::style::kOk);
    result.messageShown = true;
  }
  return result;
}

}  // namespace

bool FirmwarePasswordApplies(const config::ConfigStore& config, uint16_t ofbdVersion) {
  using namespace config::option;
  if (ofbdVersion == 0) return false;
  for (uint32_t id : {kMainBios, kBootBlock, kNvram, kEc, kEcIfNewer, kAllNcb, kNcbN}) {
    if (config.IsSelected(id)) return true;
  }
  return false;
}

FirmwarePasswordResult RunFirmwarePassword(FirmwarePasswordEnv& env) {
  if (!FirmwarePasswordApplies(env.config, env.ofbd.Version())) return {};
  const firmware::Ofbd::PasswordAnswer query = env.ofbd.QueryPassword();
  if (!query.valid || !(query.state & kRequired)) return {};
  if (query.state & kNoMoreAttempts) return Locked(env, query.text);

  const std::string prompt = query.text.value_or("Password");
  while (true) {
    if (env.print) env.print(core::Format(" - %s: ", prompt.c_str()));
    env.os.BlockUserInput(false);
    std::optional<std::string> password = env.ui.AskPassword(prompt);
    env.os.BlockUserInput(true);
    if (!password) return {kErrPasswordRetryExceeded, false};

    const firmware::Ofbd::PasswordAnswer answer = env.ofbd.SubmitPassword(*password);
    WipeString(password);
    // The submission left the password behind the block; the answer has been read.
    const std::span<uint8_t> block = env.smi.Block();
    WipeBytes(block.first(std::min(block.size(), firmware::ofbd::kBufferSize)));

    // A locked answer shows its text once, as the reason for the refusal.
    if (answer.state & kNoMoreAttempts) return Locked(env, answer.text);
    if (answer.text) ShowFirmwareText(env, *answer.text);
    if (answer.state == kAccepted) return {};
  }
}

}  // namespace nox::policy
