#include "config/ConfigStore.h"

namespace nox::config {
namespace {
constexpr uint32_t kEmptySlot = 0x11111111;  // every byte 0x11: above any record count
}

ConfigStore::ConfigStore() {
  modules_.ClearAll();
  enabled_.fill(1);
  BuildCommandTable();
  errors_.BuildErrorTable();
}

void ConfigStore::BuildCommandTable() {
  records_.clear();
  index_.fill(kEmptySlot);
  for (const CommandDeclaration& d : BuiltInCommands()) {
    if (!Enabled(d.id)) continue;
    CommandRecord r;
    r.id = d.id;
    r.name = d.name;
    r.status = (d.status & status::kAvailable) ? d.status : 0;
    r.help = d.help;
    if (d.id < kCommandSlots) index_[d.id] = static_cast<uint32_t>(records_.size());
    records_.push_back(std::move(r));
  }
}

const CommandRecord* ConfigStore::Find(uint32_t id) const {
  if (id >= kCommandSlots) return nullptr;
  const uint32_t slot = index_[id];
  return slot < records_.size() ? &records_[slot] : nullptr;
}

CommandRecord* ConfigStore::FindMutable(uint32_t id) {
  return const_cast<CommandRecord*>(static_cast<const ConfigStore*>(this)->Find(id));
}

bool ConfigStore::IsSelected(uint32_t id) const {
  const CommandRecord* r = Find(id);
  return r && r->Selected();
}

void ConfigStore::SelectCommand(uint32_t id, bool on) {
  CommandRecord* r = FindMutable(id);
  if (!r || !r->Available()) return;
  if (on) {
    r->status |= status::kSelected;
  } else {
    r->status &= static_cast<uint8_t>(~status::kSelected);
  }
}

void ConfigStore::DisableCommand(uint32_t id) {
  if (CommandRecord* r = FindMutable(id)) {
    r->status &= static_cast<uint8_t>(~(status::kAvailable | status::kReserved));
  }
  if (id < kEnableBytes) enabled_[id] = 0;
}

uint32_t ConfigStore::GetNumber(uint32_t id) const {
  const CommandRecord* r = Find(id);
  return r ? r->number : 0;
}

void ConfigStore::OrNumber(uint32_t id, uint32_t bits) {
  if (CommandRecord* r = FindMutable(id)) r->number |= bits;
}

std::optional<std::string> ConfigStore::GetValue(uint32_t id, uint32_t index) const {
  const CommandRecord* r = Find(id);
  if (!r || r->values.empty()) return std::nullopt;
  std::string_view rest = r->values;
  for (uint32_t i = 0;; ++i) {
    const size_t cut = rest.find('<');
    if (i == index) return std::string(rest.substr(0, cut));
    if (cut == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(cut + 1);
  }
}

bool ConfigStore::SetValue(uint32_t id, std::string_view text) {
  CommandRecord* r = FindMutable(id);
  if (!r) return false;
  if (text.empty()) {
    r->values.clear();
    return true;
  }
  const size_t newLength = r->values.empty() ? text.size() : text.size() + 1 + r->values.size();
  if (newLength >= kValueBufferSize) return false;
  std::string joined(text);
  if (!r->values.empty()) {
    joined += '<';
    joined += r->values;
  }
  r->values = std::move(joined);
  return true;
}

std::optional<std::string_view> ConfigStore::CommandName(uint32_t id) const {
  const CommandRecord* r = Find(id);
  if (!r) return std::nullopt;
  return std::string_view(r->name);
}

}  // namespace nox::config
