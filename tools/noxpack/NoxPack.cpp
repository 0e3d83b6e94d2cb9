#include "NoxPack.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "core/Format.h"
#include "package/Package.h"
#include "package/PackageWriter.h"

namespace nox::tools {
namespace {

using package::ModuleSource;

std::optional<std::vector<uint8_t>> ReadAll(const std::string& path) {
  // One read of the whole file: byte-wise stream iteration costs seconds per image in the
  // sanitizer build, which every scenario pays many times over.
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return std::nullopt;
  const std::streamoff size = in.tellg();
  if (size < 0) return std::nullopt;
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) return std::nullopt;
  return bytes;
}

bool WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

// Modules worth watching: compressing them takes a noticeable moment.
constexpr size_t kProgressThreshold = 1 << 20;

}  // namespace

int Build(const BuildRequest& request, std::ostream& out, std::ostream& err) {
  const auto stub = ReadAll(request.stub);
  if (!stub) {
    err << "noxpack: cannot read stub " << request.stub << "\n";
    return 1;
  }

  // The order the utility's own packages use: information, drivers, ROM images, EC images,
  // script, ME tool, ME images, ME tool arguments.
  std::vector<std::pair<ModuleSource, std::string>> sources;  // module, file it came from
  auto addFile = [&](const std::string& tag, const std::string& path, bool driver) {
    if (path.empty()) return true;
    const auto content = ReadAll(path);
    if (!content) {
      err << "noxpack: cannot read " << path << " (for " << tag << ")\n";
      return false;
    }
    sources.push_back({ModuleSource{tag, *content, driver, !request.store}, path});
    return true;
  };
  auto addText = [&](const std::string& tag, const std::string& text) {
    if (!text.empty()) sources.push_back({ModuleSource{tag, Text(text), false, !request.store}, "text"});
  };
  auto numbered = [](std::vector<std::pair<uint32_t, std::string>> list) {
    std::sort(list.begin(), list.end());
    return list;
  };

  if (!request.info.empty()) {
    // The information block ends in the product title; it is never compressed.
    auto info = Text(request.info);
    info.push_back(0);
    sources.push_back({ModuleSource{"@UII", info, false, false}, "text"});
  }
  bool ok = addFile("@VXD", request.vxd, true) && addFile("@W32", request.driver32, true) &&
            addFile("@W64", request.driver64, true);
  for (const auto& [n, path] : numbered(request.roms)) ok = ok && addFile(core::Format("@R%02u", n), path, false);
  for (const auto& [n, path] : numbered(request.ecs)) ok = ok && addFile(core::Format("@EC%1u", n), path, false);
  if (!ok) return 1;
  addText("@CMD", request.cmd);
  if (!addFile("@MET", request.meTool, false)) return 1;
  for (const auto& [n, path] : numbered(request.mes))
    if (!addFile(core::Format("@ME%1u", n), path, false)) return 1;
  addText("@MEC", request.meArgs);

  std::vector<std::vector<uint8_t>> modules;
  for (const auto& [source, from] : sources) {
    package::EncodeProgress progress;
    if (request.showProgress && source.allowCompression && source.content.size() >= kProgressThreshold) {
      progress = [&err, tag = source.tag](size_t done, size_t total) {
        err << "\rnoxpack: compressing " << tag << " " << (total ? done * 100 / total : 100) << "%" << std::flush;
      };
    }
    auto module = package::BuildModule(source, progress);
    if (progress) err << "\n";
    if (!module) {
      err << "noxpack: " << from << " is too large for a module (" << source.tag << ")\n";
      return 1;
    }
    modules.push_back(std::move(*module));
  }
  const auto packageBytes = package::BuildPackage(modules);
  if (!packageBytes) {
    err << "noxpack: the package would be larger than 4 GiB\n";
    return 1;
  }
  if (!WriteAll(request.output, package::AppendPackage(*stub, *packageBytes))) {
    err << "noxpack: cannot write " << request.output << "\n";
    return 1;
  }
  std::error_code ec;
  std::filesystem::permissions(request.output,
                               std::filesystem::perms::owner_exec | std::filesystem::perms::group_exec |
                                   std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add, ec);
  if (ec) {
    err << "noxpack: cannot make " << request.output << " executable: " << ec.message() << "\n";
    return 1;
  }
  out << "noxpack: wrote " << request.output << " (" << modules.size() << " modules, package of "
      << packageBytes->size() << " bytes at offset " << stub->size() << ")\n";
  return 0;
}

namespace {

// Opens the package of `executable`, or explains why not.
bool OpenFor(package::Package& p, const std::string& executable, std::ostream& err) {
  switch (package::OpenPackage(p, executable)) {
    case package::kPackageOk:
      return true;
    case package::kPackageFileEmpty:
      err << "noxpack: " << executable << " is empty\n";
      return false;
    case package::kPackageNotFound:
      err << "noxpack: no package in " << executable << "\n";
      return false;
    default:
      err << "noxpack: cannot read " << executable << "\n";
      return false;
  }
}

}  // namespace

int List(const std::string& executable, std::ostream& out, std::ostream& err) {
  package::Package p;
  if (!OpenFor(p, executable, err)) return 1;
  const auto offset = static_cast<unsigned long long>(p.fileOffset);
  out << core::Format("package at offset %llu (0x%llx), length %u, module step %u\n", offset, offset, p.Length(),
                      static_cast<unsigned>(p.Step()));
  out << core::Format("%-4s %10s %10s %10s %10s %-6s %s\n", "tag", "offset", "length", "stored", "expanded",
                      "method", "checksum");
  for (const auto& m : package::ListModules(p)) {
    std::string tag = m.tag;
    for (char& c : tag)
      if (c < 0x20 || c > 0x7E) c = '?';
    out << core::Format("%-4s %10llu %10u %10u %10u %-6s %s\n", tag.c_str(), static_cast<unsigned long long>(m.offset), m.length, m.storedSize,
                        m.expandedSize, m.compressed ? "-lh5-" : "stored", m.checksumOk ? "ok" : "BAD");
  }
  return 0;
}

int Extract(const std::string& executable, const std::string& tag, const std::string& output, std::ostream& out,
            std::ostream& err) {
  package::Package p;
  if (!OpenFor(p, executable, err)) return 1;
  package::ExtractedModule m;
  if (package::ExtractModule(p, tag, m) != 0) {
    err << "noxpack: no valid module " << tag << " in " << executable << "\n";
    return 1;
  }
  m.data.resize(m.size);
  if (!WriteAll(output, m.data)) {
    err << "noxpack: cannot write " << output << "\n";
    return 1;
  }
  out << "noxpack: " << tag << " -> " << output << " (" << m.size << " bytes)\n";
  return 0;
}

}  // namespace nox::tools
