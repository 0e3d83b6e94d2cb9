// The packager's three commands, apart from their command-line parsing.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace nox::tools {

struct BuildRequest {
  std::string stub;    // executable the package is appended to
  std::string output;
  std::vector<std::pair<uint32_t, std::string>> roms, ecs, mes;  // number, file
  std::string meTool, driver32, driver64, vxd;                    // files; empty: none
  std::string meArgs, cmd, info;                                   // texts; empty: none
  bool store = false;
  bool showProgress = false;
};

// Exit codes: 0 done, 1 failed (message written to `err`).
int Build(const BuildRequest& request, std::ostream& out, std::ostream& err);
int List(const std::string& executable, std::ostream& out, std::ostream& err);
int Extract(const std::string& executable, const std::string& tag, const std::string& output, std::ostream& out,
            std::ostream& err);

}  // namespace nox::tools
