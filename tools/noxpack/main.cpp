// noxpack: builds the package appended to the utility, lists it and takes modules out.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <string>

#ifdef _WIN32
#include <io.h>
#define NOX_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define NOX_ISATTY(f) isatty(fileno(f))
#endif

#include "NoxPack.h"

namespace {

// "N=FILE" with N from 0 to `max`.
bool ParseNumbered(const std::vector<std::string>& items, uint32_t max, const char* option,
                   std::vector<std::pair<uint32_t, std::string>>& out) {
  for (const std::string& item : items) {
    const size_t eq = item.find('=');
    const std::string number = item.substr(0, eq);
    const bool digits = !number.empty() && number.size() <= 2 &&
                        number.find_first_not_of("0123456789") == std::string::npos;
    if (eq == std::string::npos || !digits || std::stoul(number) > max || eq + 1 == item.size()) {
      std::cerr << "noxpack: " << option << " wants N=FILE with N from 0 to " << max << ", got '" << item << "'\n";
      return false;
    }
    const uint32_t n = static_cast<uint32_t>(std::stoul(number));
    for (const auto& [seen, file] : out) {
      if (seen == n) {
        std::cerr << "noxpack: " << option << " " << n << " given twice\n";
        return false;
      }
    }
    out.emplace_back(n, item.substr(eq + 1));
  }
  return true;
}

int Run(int argc, char** argv) {
  CLI::App app{"noxpack: builds, lists and extracts the package appended to the flash utility"};
  app.require_subcommand(1);
  app.footer("Exit codes: 0 done, 1 failed, 2 wrong command line.");

  nox::tools::BuildRequest build;
  std::vector<std::string> roms, ecs, mes;
  CLI::App* buildCmd = app.add_subcommand("build", "append a new package to a copy of an executable");
  buildCmd->add_option("--stub", build.stub, "executable the package is appended to")->required();
  buildCmd->add_option("-o,--output", build.output, "file to write (made executable)")->required();
  buildCmd->add_option("--rom", roms, "ROM image N (0-99) as module @RNN")->type_name("N=FILE");
  buildCmd->add_option("--ec", ecs, "EC firmware N (0-9) as module @ECN")->type_name("N=FILE");
  buildCmd->add_option("--me", mes, "ME firmware N (0-9) as module @MEN")->type_name("N=FILE");
  buildCmd->add_option("--me-tool", build.meTool, "ME update tool (@MET)")->type_name("FILE");
  buildCmd->add_option("--me-args", build.meArgs, "ME update tool arguments (@MEC)")->type_name("TEXT");
  buildCmd->add_option("--driver32", build.driver32, "32-bit NT driver (@W32)")->type_name("FILE");
  buildCmd->add_option("--driver64", build.driver64, "64-bit NT driver (@W64)")->type_name("FILE");
  buildCmd->add_option("--vxd", build.vxd, "Windows 9x driver (@VXD)")->type_name("FILE");
  buildCmd->add_option("--cmd", build.cmd, "command script: option words separated by blanks (@CMD)")
      ->type_name("\"WORDS\"");
  buildCmd->add_option("--info", build.info, "information block ending in the product title (@UII)")
      ->type_name("TEXT");
  buildCmd->add_flag("--store", build.store, "store every module without compression");

  std::string listExe;
  CLI::App* listCmd = app.add_subcommand("list", "show the package and its modules");
  listCmd->add_option("EXE", listExe, "packaged executable")->required();

  std::string extractExe, tag, extractOut;
  CLI::App* extractCmd = app.add_subcommand("extract", "write a module's content to a file");
  extractCmd->add_option("EXE", extractExe, "packaged executable")->required();
  extractCmd->add_option("TAG", tag, "module tag, for example @R00")->required();
  extractCmd->add_option("-o,--output", extractOut, "file to write")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::cerr << "noxpack: " << e.what() << " (see noxpack --help)\n";
    return 2;
  }

  if (*buildCmd) {
    if (!ParseNumbered(roms, 99, "--rom", build.roms) || !ParseNumbered(ecs, 9, "--ec", build.ecs) ||
        !ParseNumbered(mes, 9, "--me", build.mes))
      return 2;
    build.showProgress = NOX_ISATTY(stderr) != 0;
    return nox::tools::Build(build, std::cout, std::cerr);
  }
  if (*listCmd) return nox::tools::List(listExe, std::cout, std::cerr);
  return nox::tools::Extract(extractExe, tag, extractOut, std::cout, std::cerr);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "noxpack: unexpected failure: " << e.what() << "\n";
    return 1;
  }
}
