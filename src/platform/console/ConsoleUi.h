// The terminal's user interface: the text interface with echo turned off while a password
// is typed on a terminal.
#pragma once

#include "ui/TextUi.h"

namespace nox::console {

class ConsoleUi : public ui::TextUi {
 public:
  using TextUi::TextUi;

 protected:
  std::optional<std::string> ReadSecretLine() override;
};

}  // namespace nox::console
