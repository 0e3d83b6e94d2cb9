#include "platform/console/ConsoleUi.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace nox::console {

std::optional<std::string> ConsoleUi::ReadSecretLine() {
  const int fd = fileno(stdin);
  termios saved{};
  const bool terminal = isatty(fd) && tcgetattr(fd, &saved) == 0;
  if (terminal) {
    termios quiet = saved;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    tcsetattr(fd, TCSANOW, &quiet);
  }
  auto line = ReadLine();
  if (terminal) {
    tcsetattr(fd, TCSANOW, &saved);
    Print("\n");
  }
  return line;
}

ui::TextViewStyle ConsoleUi::ViewStyle() const {
  ui::TextViewStyle style;
  const char* term = std::getenv("TERM");
  style.inPlace = isatty(fileno(Out())) && term && *term && std::strcmp(term, "dumb") != 0;
  const char* noColour = std::getenv("NO_COLOR");
  style.colour = style.inPlace && !(noColour && *noColour);
  const char* colourTerm = std::getenv("COLORTERM");
  style.trueColour = style.colour && colourTerm &&
                     (std::strcmp(colourTerm, "truecolor") == 0 || std::strcmp(colourTerm, "24bit") == 0);
  return style;
}

}  // namespace nox::console
