#include "ui/SetupPageModel.h"

#include <algorithm>

#include "core/CText.h"

namespace nox::ui {
namespace {

using namespace setup_id;
using Kind = SetupControlKind;

constexpr uint32_t kOptionAllNcb = 8;
constexpr uint32_t kOptionNcbN = 9;
constexpr uint32_t kOptionSmbiosTypes = 18;
constexpr uint32_t kOptionMeIgnition = 41;
constexpr uint32_t kOptionMeEntire = 42;

constexpr const char* kBlocks = "Block Options";
constexpr const char* kMe = "ME Firmware Block";
constexpr const char* kNcb = "Non Critical Block";
constexpr const char* kMisc = "Miscellaneous";

constexpr SetupControl kControls[] = {
    {kProgramAll, "Program All Blocks", Kind::kCheckBox, std::nullopt, "Check this to program all blocks.", kBlocks},
    {kMainBios, "Main BIOS Image", Kind::kCheckBox, 3, "Check this to program main BIOS image.", kBlocks},
    {kBootBlock, "Boot Block", Kind::kCheckBox, 4, "Check this to program bootblock.", kBlocks},
    {kNvram, "NVRAM", Kind::kCheckBox, 5, "Check this to program Non-Volatile-RAM.", kBlocks},
    {kEcBlock, "EC Block", Kind::kCheckBox, 7, "If available, check this to program embedded controller.", kBlocks},
    {kIgnition, "Ignition", Kind::kCheckBox, kOptionMeIgnition, nullptr, kMe},
    {kEntire, "Entire", Kind::kCheckBox, kOptionMeEntire, nullptr, kMe},
    {kAllNcb, "ALL", Kind::kCheckBox, kOptionAllNcb,
     "If system has Non-Critical-Block(s), check this to program all of them.", kNcb},
    {1013, "1", Kind::kCheckBox, kOptionNcbN, "If system has Non-Critical-Block 1, check this to program it.", kNcb},
    {1014, "2", Kind::kCheckBox, kOptionNcbN, "If system has Non-Critical-Block 2, check this to program it.", kNcb},
    {1015, "3", Kind::kCheckBox, kOptionNcbN, "If system has Non-Critical-Block 3, check this to program it.", kNcb},
    {1016, "4", Kind::kCheckBox, kOptionNcbN, "If system has Non-Critical-Block 4, check this to program it.", kNcb},
    {1017, "5", Kind::kCheckBox, kOptionNcbN, "If system has Non-Critical-Block 5, check this to program it.", kNcb},
    {1018, "6", Kind::kCheckBox, kOptionNcbN, "If system has Non-Critical-Block 6, check this to program it.", kNcb},
    {1019, "7", Kind::kCheckBox, kOptionNcbN, "If system has Non-Critical-Block 7, check this to program it.", kNcb},
    {1020, "8", Kind::kCheckBox, kOptionNcbN, "If system has Non-Critical-Block 8, check this to program it.", kNcb},
    {kNoRomIdCheck, "Do Not Check ROM ID", Kind::kCheckBox, 12,
     "Do not check ROM file's ROM ID against system's ROM ID before programming.", kMisc},
    {kCheckEcVersion, "Check EC Version", Kind::kCheckBox, std::nullopt,
     "Update EC BIOS when newer version is detected.", kMisc},
    {kRestart, "Restart After Programming", Kind::kCheckBox, 11, "Check this will restart Windows after programming.",
     kMisc},
    {kPreserveSetup, "Preserve Setup", Kind::kCheckBox, 39, nullptr, kMisc},
    {kSmbiosLabel, "Preserve SMBIOS Types:", Kind::kLabel, kOptionSmbiosTypes, "Property Sheet", kMisc},
    {kSmbiosEdit, "", Kind::kEdit, kOptionSmbiosTypes,
     "Only available if NVRAM programming is enabled. Type in SMBIOS data type(s) you want to preserve. For example: "
     "\"0 10\" will preserve type 0 and 10. Hit 'A' to preserve all types.",
     kMisc},
};

// A box tied to an option and a session field. Some fields are set from the options when the
// page starts but left to the rest of the run afterwards, so a click does not touch them.
struct BoxBinding {
  int id;
  uint32_t option;  // 0: none
  std::optional<SessionField> field;
  bool fieldInverted = false;
  bool clickSetsField = true;
};

constexpr BoxBinding kBoxes[] = {
    {kMainBios, 3, SessionField::kProgramMainBios},
    {kBootBlock, 4, SessionField::kProgramBootBlock},
    {kNvram, 5, SessionField::kProgramNvram},
    {kEcBlock, 7, SessionField::kProgramEc},
    {kIgnition, kOptionMeIgnition, SessionField::kMeIgnition},
    {kEntire, kOptionMeEntire, SessionField::kMeEntire},
    {kPreserveSetup, 39, std::nullopt},
    {kAllNcb, kOptionAllNcb, SessionField::kAllNcbs, false, false},
    {kNoRomIdCheck, 12, SessionField::kCheckRomId, true},
    {kRestart, 11, SessionField::kRestart, false, false},
    {kCheckEcVersion, 0, SessionField::kEcOnlyIfNewer},
};

const BoxBinding* FindBox(int id) {
  for (const BoxBinding& box : kBoxes) {
    if (box.id == id) return &box;
  }
  return nullptr;
}

bool IsAll(const std::string& text) { return core::AsciiLower(text) == "all"; }

}  // namespace

std::span<const SetupControl> SetupControls() { return kControls; }

const SetupControl* FindSetupControl(int id) {
  for (const SetupControl& control : kControls) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

SetupPageModel::SetupPageModel(SetupBinding& binding) : binding_(binding) {
  for (const SetupControl& control : kControls) states_[control.id] = ControlState{};
}

const ControlState& SetupPageModel::State(int id) const {
  static const ControlState kAbsent{false, false, false};
  const auto it = states_.find(id);
  return it == states_.end() ? kAbsent : it->second;
}

ControlState& SetupPageModel::Mutable(int id) { return states_.at(id); }

void SetupPageModel::Hide(int id) { Mutable(id) = ControlState{false, false, false}; }

void SetupPageModel::CheckLocked(int id) {
  Mutable(id).checked = true;
  Mutable(id).enabled = false;
}

void SetupPageModel::UncheckDisable(int id) {
  Mutable(id).checked = false;
  Mutable(id).enabled = false;
}

void SetupPageModel::CheckEnabled(int id) {
  Mutable(id).checked = true;
  Mutable(id).enabled = true;
}

void SetupPageModel::UncheckEnable(int id) {
  Mutable(id).checked = false;
  Mutable(id).enabled = true;
}

void SetupPageModel::CheckByBehaviour(int id) {
  // Not configured counts as "may change"; an unknown behaviour leaves the box as it was.
  if (facts_.configBehaviour == 0) CheckLocked(id);
  else if (facts_.configBehaviour == 1 || facts_.configBehaviour == -1) CheckEnabled(id);
}

void SetupPageModel::InitSetup(const SetupFacts& facts) {
  facts_ = facts;
  for (auto& [id, state] : states_) state = ControlState{};
  editText_.clear();
  lastAccepted_.clear();

  for (const SetupControl& control : kControls) {
    if (control.optionId && !binding_.OptionAvailable(*control.optionId)) Hide(control.id);
  }
  for (int id = kAllNcb; id <= kNcbLast; ++id) UncheckDisable(id);

  for (const BoxBinding& box : kBoxes) {
    if (box.option == 0 || !binding_.OptionSelected(box.option)) continue;
    CheckByBehaviour(box.id);
    if (box.field) binding_.SetSessionField(*box.field, !box.fieldInverted);
  }
  if (binding_.OptionSelected(kOptionNcbN)) {
    const uint32_t number = binding_.OptionNumber(kOptionNcbN);
    for (int bit = 0; bit < 8; ++bit) {
      if ((number >> bit & 1) == 0) continue;
      CheckByBehaviour(kNcbFirst + bit);
      binding_.SetNcbMaskBit(bit, true);
    }
  }
  if (binding_.OptionSelected(kOptionSmbiosTypes)) {
    // Types given on the command line stay in the option and show in the edit, so that
    // applying the edit before a flash gives the same types back.
    const std::vector<std::string> values = binding_.OptionValues(kOptionSmbiosTypes);
    if (values.empty()) editText_ = "All";
    for (size_t i = 0; i < values.size(); ++i) editText_ += (i == 0 ? "" : " ") + values[i];
    lastAccepted_ = editText_;
    CheckByBehaviour(kSmbiosEdit);
    CheckByBehaviour(kSmbiosLabel);
    binding_.SetSessionField(SessionField::kSkipSmbios, false);
  }

  if (!facts.hasEcRegion) {
    UncheckDisable(kEcBlock);
    UncheckDisable(kCheckEcVersion);
  } else {
    Mutable(kCheckEcVersion).enabled = false;
  }
  const bool meUsable = facts.meSupported && facts.meImageCheckPassed;
  if (!meUsable || !facts.ignitionSupported) {
    UncheckDisable(kIgnition);
    binding_.SelectOption(kOptionMeIgnition, false);
  }
  if (!meUsable || !facts.entireSupported) {
    UncheckDisable(kEntire);
    binding_.SelectOption(kOptionMeEntire, false);
  }
  if (!facts.setupPreserveSupported) UncheckDisable(kPreserveSetup);
  Mutable(kSmbiosEdit).enabled = State(kBootBlock).checked;
}

void SetupPageModel::SetChecked(int id, bool checked) {
  const SetupControl* control = FindSetupControl(id);
  if (control && control->kind == SetupControlKind::kCheckBox) Mutable(id).checked = checked;
}

bool SetupPageModel::Click(int id) {
  const SetupControl* control = FindSetupControl(id);
  if (!control || control->kind != SetupControlKind::kCheckBox) return false;
  ControlState& state = Mutable(id);
  if (!state.visible || !state.enabled) return false;
  state.checked = !state.checked;
  OnClicked(id);
  return true;
}

void SetupPageModel::Follow(int id, bool checked) {
  if (!State(id).enabled || State(id).checked == checked) return;
  Mutable(id).checked = checked;
  OnClicked(id);
}

void SetupPageModel::OnClicked(int id) {
  const bool checked = State(id).checked;
  if (const BoxBinding* box = FindBox(id)) {
    if (box->option != 0) binding_.SelectOption(box->option, checked);
    if (box->field && box->clickSetsField) binding_.SetSessionField(*box->field, checked != box->fieldInverted);
  }
  switch (id) {
    case kProgramAll:
      for (int other = kMainBios; other <= kAllNcb; ++other) Follow(other, checked);
      break;
    case kAllNcb:
      for (int ncb = kNcbFirst; ncb <= kNcbLast; ++ncb) Follow(ncb, checked);
      break;
    case kBootBlock:
      if (State(kSmbiosLabel).enabled) Mutable(kSmbiosEdit).enabled = checked;
      break;
    case kEcBlock:
      if (checked) {
        Mutable(kCheckEcVersion).enabled = true;
      } else {
        // The box's own click is not sent, so its field is cleared here: a cleared "EC Block"
        // must not leave the EC to be written whenever the image's version is newer.
        if (State(kCheckEcVersion).checked) binding_.SetSessionField(SessionField::kEcOnlyIfNewer, false);
        UncheckDisable(kCheckEcVersion);
      }
      break;
    case kIgnition:
      if (checked) binding_.SelectOption(kOptionMeEntire, false);
      break;
    case kEntire:
      if (!facts_.ignitionSupported) break;
      if (checked) {
        binding_.SelectOption(kOptionMeIgnition, false);
        UncheckDisable(kIgnition);
      } else {
        Mutable(kIgnition).enabled = true;
      }
      break;
    default:
      if (id >= kNcbFirst && id <= kNcbLast) {
        binding_.SetNcbMaskBit(id - kNcbFirst, checked);
        binding_.SelectOption(kOptionNcbN, (binding_.NcbMask() & 0xFF) != 0);
      }
      break;
  }
}

void SetupPageModel::EnableNcbBoxes(size_t count) {
  UncheckEnable(kAllNcb);
  const int last = kNcbFirst + static_cast<int>(std::min<size_t>(count, 8)) - 1;
  for (int id = kNcbFirst; id <= last; ++id) UncheckEnable(id);
}

EditOutcome SetupPageModel::OnEditChanged(const std::string& text, size_t caret) {
  EditOutcome out;
  bool accepted = text != " " && text.size() <= kSmbiosEditLimit;
  bool sawA = false;
  for (size_t i = 0; accepted && i < text.size(); ++i) {
    const char c = text[i];
    if (c == 'a' || c == 'A') {
      sawA = true;
      break;
    }
    if (c == ' ') accepted = i == 0 || text[i - 1] != ' ';
    else accepted = c >= '0' && c <= '9';
  }
  if (accepted) {
    out.text = text;
    out.selectionStart = out.selectionEnd = std::min(caret, text.size());
    // Any "a" asks for every type: the field says so in capitals and is selected whole, so
    // that the next digit typed replaces it.
    if (sawA) {
      if (!IsAll(text)) out.text = "ALL";
      out.selectionStart = 0;
      out.selectionEnd = out.text.size();
    }
    out.accepted = true;
    lastAccepted_ = out.text;
  } else {
    out.text = lastAccepted_;
    out.beep = true;
    if (lastAccepted_ == "ALL") {
      out.selectionEnd = lastAccepted_.size();
    } else {
      out.selectionStart = out.selectionEnd = std::min(caret == 0 ? 0 : caret - 1, lastAccepted_.size());
    }
  }
  editText_ = out.text;
  return out;
}

void SetupPageModel::ApplySmbiosTypes() {
  binding_.SelectOption(kOptionSmbiosTypes, false);
  binding_.SetOptionValues(kOptionSmbiosTypes, {});
  binding_.SetSessionField(SessionField::kSkipSmbios, true);
  if (!State(kSmbiosEdit).enabled) return;
  // Blanks at either end leave empty pieces, which are no type; a text of blanks alone would
  // otherwise select the option without values, which means every type.
  std::vector<std::string> types;
  for (size_t start = 0; start <= editText_.size();) {
    const size_t end = std::min(editText_.find(' ', start), editText_.size());
    if (end > start) types.push_back(editText_.substr(start, end - start));
    start = end + 1;
  }
  if (types.empty()) return;
  binding_.SetSessionField(SessionField::kSkipSmbios, false);
  binding_.SelectOption(kOptionSmbiosTypes, true);
  if (!IsAll(editText_)) binding_.SetOptionValues(kOptionSmbiosTypes, types);
}

}  // namespace nox::ui
