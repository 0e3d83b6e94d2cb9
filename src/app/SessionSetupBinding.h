// The Setup page's hold on the session: its check boxes change the option store and the
// flash settings together, so a flash reads the same state whether a choice came from the
// command line or from the page.
#pragma once

#include "app/Session.h"
#include "ui/SetupPageModel.h"

namespace nox::app {

class SessionSetupBinding final : public ui::SetupBinding {
 public:
  explicit SessionSetupBinding(Session& session) : s_(session) {}

  bool OptionAvailable(uint32_t id) const override;
  bool OptionSelected(uint32_t id) const override { return s_.config.IsSelected(id); }
  void SelectOption(uint32_t id, bool on) override { s_.config.SelectCommand(id, on); }
  uint32_t OptionNumber(uint32_t id) const override { return s_.config.GetNumber(id); }
  std::vector<std::string> OptionValues(uint32_t id) const override;
  void SetOptionValues(uint32_t id, const std::vector<std::string>& values) override;
  void SetSessionField(ui::SessionField field, bool on) override;
  void SetNcbMaskBit(int bit, bool on) override;
  uint32_t NcbMask() const override { return s_.flashSession.ncbMask; }

 private:
  Session& s_;
};

}  // namespace nox::app
