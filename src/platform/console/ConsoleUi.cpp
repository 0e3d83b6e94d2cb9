#include "platform/console/ConsoleUi.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>

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

}  // namespace nox::console
