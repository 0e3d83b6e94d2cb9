// The terminal build of the utility.
#include <cstdio>
#include <string>
#include <vector>

#include "app/OptionsFrontEnd.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  return nox::app::RunOptionsFrontEnd(args, stdout);
}
