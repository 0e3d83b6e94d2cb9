#include "policy/AdminPassword.h"

#include <optional>
#include <string>

#include "core/Format.h"
#include "policy/Wipe.h"

namespace nox::policy {
namespace {

constexpr const char* kTitle = "Password checking";
constexpr uint32_t kStyle = ui::style::kOk | ui::style::kIconWarning;
constexpr const char* kNotCorrect = "Admin password is not correct.";

bool Refuse(PolicyEnv& env, const std::string& text) {
  env.ui.MessageBox(text, kTitle, kStyle);
  return false;
}

// Both data areas of the shared block: the firmware reads the password from the first one.
void ClearDataAreas(firmware::SmiFlash& smi) {
  const std::span<uint8_t> block = smi.Block();
  const size_t from = firmware::OemCalls::kArea1;
  const size_t to = firmware::OemCalls::kArea2 + 1024;
  if (block.size() >= to) WipeBytes(block.subspan(from, to - from));
}

}  // namespace

bool CheckAdminPassword(PolicyEnv& env, config::WordOptionFlags& words) {
  if (!env.oem.AdministratorPasswordSet()) return true;
  const auto maximum = env.oem.MaximumPasswordLength();
  if (!maximum) return Refuse(env, "Get admin password length is failed !!!");

  std::optional<std::string> password;
  if (words.passwordGiven) {
    password = words.password;
    WipeString(words.password);
  } else {
    password = env.ui.AskPassword(kAdminPasswordPrompt);
  }
  if (!password) return Refuse(env, kNotCorrect);
  if (password->size() > *maximum) {
    WipeString(password);
    return Refuse(env, core::Format("Error : Password maximum length is %d.", static_cast<int>(*maximum)));
  }
  const bool accepted = env.oem.SubmitAdministratorPassword(*password);
  ClearDataAreas(env.smi);
  WipeString(password);
  return accepted ? true : Refuse(env, kNotCorrect);
}

}  // namespace nox::policy
