// The package appended to the program's own file: locating it, finding modules by tag and
// taking them out (stored or expanded).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/Bytes.h"

namespace nox::package {

inline constexpr char kPackageTag[] = "@ZPK";
inline constexpr size_t kPackageHeaderSize = 16;
inline constexpr size_t kModuleHeaderSize = 16;
// Extracted buffers carry this many zero bytes behind the content, so code that reads a
// module as text or a little past a record's end still finds zeros there.
inline constexpr size_t kExtractSlack = 32768;
// Larger expansions are refused: no module of a flash package comes near this, and a
// damaged header must not make the program ask for gigabytes.
inline constexpr uint32_t kMaxExpandedSize = 256u << 20;

// OpenPackage results (callers only test for 0).
inline constexpr uint32_t kPackageOk = 0;
inline constexpr uint32_t kPackageFileEmpty = 5;
inline constexpr uint32_t kPackageUnreadable = 7;
inline constexpr uint32_t kPackageNotFound = 9;

// A copy of the package taken from a file; owned by whoever runs the extraction.
struct Package {
  std::vector<uint8_t> bytes;  // header included; empty while no package is held
  size_t fileOffset = 0;       // where the package starts in the file it came from

  bool IsOpen() const { return !bytes.empty(); }
  uint32_t Length() const { return static_cast<uint32_t>(bytes.size()); }
  uint8_t Step() const { return bytes.size() > 10 ? bytes[10] : 0; }
};

struct ExtractedModule {
  core::ByteBuffer data;  // content followed by kExtractSlack zero bytes
  uint32_t size = 0;          // expanded size
};

// Reads the file at `path` and keeps the last valid package in it.
// Returns kPackageOk, kPackageUnreadable, kPackageFileEmpty or kPackageNotFound.
uint32_t OpenPackage(Package& package, const std::string& path);
// Same for a file already in memory.
uint32_t OpenPackageImage(Package& package, core::ByteSpan file);

// 0 and the data header's offset in the package when a module with `tag` and a good
// checksum exists at a multiple of the module step; 1 otherwise.
uint32_t FindModule(const Package& package, std::string_view tag, size_t& dataHeaderOffset);

// 0 with the module's content, or 1 (no such module, damaged data header, expansion of the
// wrong length).
uint32_t ExtractModule(const Package& package, std::string_view tag, ExtractedModule& out);

void ClosePackage(Package& package);

// How a module stores its data, for listings.
struct ModuleInfo {
  std::string tag;
  size_t offset = 0;         // in the package
  uint32_t length = 0;       // module length from its header
  uint32_t storedSize = 0;   // from the data header
  uint32_t expandedSize = 0;
  bool checksumOk = false;
  bool compressed = false;
};

// Every module header met when walking the package from its first module, each module
// followed by the next at its length (or at the next step when the length is unusable).
std::vector<ModuleInfo> ListModules(const Package& package);

}  // namespace nox::package
