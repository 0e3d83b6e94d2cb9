#include "app/OptionsFrontEnd.h"

#include "config/ConfigStore.h"
#include "config/OptionParser.h"

namespace nox::app {

int RunOptionsFrontEnd(std::span<const std::string> args, std::FILE* out) {
  config::ConfigStore store;
  config::ParseContext context;
  const uint32_t result = config::ParseOptions(store, args, context);
  if (result != 0) {
    std::fprintf(out, " - %s\n", store.ErrorMessage(result));
    return static_cast<int>(store.ExitCodeOf(result));
  }
  std::fprintf(out, "selected:");
  for (const config::CommandRecord& r : store.Records()) {
    if (!r.Selected()) continue;
    std::fprintf(out, " %u", r.id);
    for (uint32_t i = 0; const auto value = store.GetValue(r.id, i); ++i) std::fprintf(out, "[%s]", value->c_str());
  }
  std::fprintf(out, "\n");
  return static_cast<int>(store.ExitCodeOf(result));
}

}  // namespace nox::app
