// The Setup page apart from any window: which check boxes show, are checked and can be
// changed, what a click changes in the option store and the session settings, and the
// filter of the SMBIOS types edit. The Windows page and the terminal page render this
// model and forward clicks and typing to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace nox::ui {

namespace setup_id {
inline constexpr int kProgramAll = 1007;
inline constexpr int kMainBios = 1008;
inline constexpr int kBootBlock = 1009;
inline constexpr int kNvram = 1010;
inline constexpr int kEcBlock = 1011;
inline constexpr int kAllNcb = 1012;
inline constexpr int kNcbFirst = 1013;  // NCB 1; NCB n is kNcbFirst + n - 1
inline constexpr int kNcbLast = 1020;
inline constexpr int kCheckEcVersion = 1025;
inline constexpr int kNoRomIdCheck = 1026;
inline constexpr int kSmbiosEdit = 1027;
inline constexpr int kSmbiosLabel = 1028;
inline constexpr int kRestart = 1029;
inline constexpr int kPreserveSetup = 11052;
inline constexpr int kIgnition = 11065;
inline constexpr int kEntire = 11066;
}  // namespace setup_id

inline constexpr size_t kSmbiosEditLimit = 64;

enum class SetupControlKind { kCheckBox, kEdit, kLabel };

// One control of the page, in the order the page shows them.
struct SetupControl {
  int id;
  const char* text;
  SetupControlKind kind;
  std::optional<uint32_t> optionId;  // the command option the control stands for
  const char* toolTip;               // nullptr: none
  const char* group;                 // the group box it sits in
};
std::span<const SetupControl> SetupControls();
const SetupControl* FindSetupControl(int id);

struct ControlState {
  bool checked = false;
  bool enabled = true;
  bool visible = true;
};

// The session settings the page changes together with the options.
enum class SessionField {
  kProgramMainBios,
  kProgramBootBlock,
  kProgramNvram,
  kProgramEc,
  kMeIgnition,
  kMeEntire,
  kAllNcbs,
  kCheckRomId,
  kRestart,
  kSkipSmbios,
  kEcOnlyIfNewer,
};

// What the page reads and changes outside itself: the option store and the session settings.
class SetupBinding {
 public:
  virtual ~SetupBinding() = default;
  // The command table offers the option at all.
  virtual bool OptionAvailable(uint32_t id) const = 0;
  virtual bool OptionSelected(uint32_t id) const = 0;
  virtual void SelectOption(uint32_t id, bool on) = 0;
  virtual uint32_t OptionNumber(uint32_t id) const = 0;
  // The option's values in the order they were given.
  virtual std::vector<std::string> OptionValues(uint32_t id) const = 0;
  // Replaces the option's values; an empty list removes them all.
  virtual void SetOptionValues(uint32_t id, const std::vector<std::string>& values) = 0;
  virtual void SetSessionField(SessionField field, bool on) = 0;
  virtual void SetNcbMaskBit(int bit, bool on) = 0;
  // The session's NCB mask as it is now; it may hold bits the page never set.
  virtual uint32_t NcbMask() const = 0;
};

// What the firmware and the image allow, known when the page starts.
struct SetupFacts {
  int configBehaviour = -1;  // "cfgbhv:": 0 locks what is selected; -1 not configured
  bool hasEcRegion = false;
  bool meSupported = false;         // the firmware answered the ME queries at all
  bool meImageCheckPassed = false;  // the image's ME check passed
  bool ignitionSupported = false;
  bool entireSupported = false;
  bool setupPreserveSupported = false;
};

// What typing into the SMBIOS types edit leaves in it.
struct EditOutcome {
  std::string text;  // the edit's text from now on
  bool accepted = false;
  bool beep = false;
  // The selection to set: [selectionStart, selectionEnd); equal values place the caret.
  size_t selectionStart = 0;
  size_t selectionEnd = 0;
};

class SetupPageModel {
 public:
  explicit SetupPageModel(SetupBinding& binding);

  // Sets every control from the options and the facts, and the session settings with them.
  // SMBIOS types given with the option show in the edit, joined by blanks.
  void InitSetup(const SetupFacts& facts);

  const ControlState& State(int id) const;
  // The view copies a control's check state into the model before a click is handled.
  void SetChecked(int id, bool checked);
  // The handler of a click on `id`, after the view's check box changed its state.
  void OnClicked(int id);
  // A click as a user makes it: an enabled, visible check box changes its state and its
  // handler runs. False when the control takes no click.
  bool Click(int id);

  // A ROM file with `count` NCBs was opened: "ALL" and NCB boxes 1..count are cleared and
  // enabled.
  void EnableNcbBoxes(size_t count);

  // The SMBIOS types edit changed to `text`, with the caret at `caret`.
  EditOutcome OnEditChanged(const std::string& text, size_t caret);
  const std::string& EditText() const { return editText_; }

  // Before a flash: option 18 and the session's skip field from the edit.
  void ApplySmbiosTypes();

 private:
  ControlState& Mutable(int id);
  void Hide(int id);
  void CheckLocked(int id);
  void UncheckDisable(int id);
  void CheckEnabled(int id);
  void UncheckEnable(int id);
  void CheckByBehaviour(int id);
  // A box changed by another box's handler, which then runs the changed box's handler.
  void Follow(int id, bool checked);

  SetupBinding& binding_;
  SetupFacts facts_;
  std::map<int, ControlState> states_;
  std::string editText_;
  std::string lastAccepted_;
};

}  // namespace nox::ui
