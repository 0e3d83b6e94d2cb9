// A whole file as the program's own executable: locate the package, list it, and take out
// every module it names plus the ones start-up asks for.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/Bytes.h"
#include "package/Package.h"

namespace {

// Keeps each run short; larger expansions are covered by the expansion target.
constexpr uint32_t kMaxFuzzExpansion = 4u << 20;

void TryExtract(const nox::package::Package& p, const std::string& tag) {
  size_t at = 0;
  if (nox::package::FindModule(p, tag, at) != 0) return;
  const auto expanded = nox::core::ReadLe32(p.bytes, at + 4);
  if (!expanded || *expanded > kMaxFuzzExpansion) return;
  nox::package::ExtractedModule m;
  if (nox::package::ExtractModule(p, tag, m) == 0 && (m.size != *expanded || m.data.size() < m.size)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  nox::package::Package p;
  if (nox::package::OpenPackageImage(p, nox::core::ByteSpan(data, size)) != nox::package::kPackageOk) return 0;
  for (const auto& m : nox::package::ListModules(p)) TryExtract(p, m.tag);
  for (const char* tag : {"@R00", "@EC0", "@ME0", "@MET", "@MEC", "@W32", "@W64", "@VXD", "@CMD", "@ZPK"})
    TryExtract(p, tag);
  nox::package::ClosePackage(p);
  return 0;
}
