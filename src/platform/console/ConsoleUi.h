// The terminal's user interface: the text interface with echo turned off while a password
// is typed on a terminal, and the progress page drawn in place when the output is one.
#pragma once

#include "ui/TextMainDialog.h"
#include "ui/TextUi.h"

namespace nox::console {

class ConsoleUi : public ui::TextUi {
 public:
  using TextUi::TextUi;

 protected:
  std::optional<std::string> ReadSecretLine() override;
  // A terminal redraws the progress page in place, in colour unless NO_COLOR is set.
  ui::TextViewStyle ViewStyle() const override;
};

}  // namespace nox::console
