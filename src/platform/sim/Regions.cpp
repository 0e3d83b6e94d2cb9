#include "platform/sim/Regions.h"

#include <algorithm>
#include <numeric>

#include "core/Format.h"

namespace nox::sim {
namespace {

constexpr const char* kRunStartEvent = "os-init";

// The journal is a file anyone can edit: a field of the wrong kind makes the line count for
// nothing rather than end the program.
std::optional<uint64_t> UnsignedField(const nlohmann::json& e, const char* key) {
  const auto it = e.find(key);
  if (it == e.end() || !it->is_number_integer()) return std::nullopt;
  if (it->is_number_unsigned()) return it->get<uint64_t>();
  const int64_t v = it->get<int64_t>();
  return v < 0 ? std::nullopt : std::optional<uint64_t>(static_cast<uint64_t>(v));
}

bool FieldIs(const nlohmann::json& e, const char* key, const char* text) {
  const auto it = e.find(key);
  return it != e.end() && it->is_string() && it->get_ref<const std::string&>() == text;
}

}  // namespace

std::string RegionName(uint8_t type) {
  switch (type) {
    case 0: return "boot block";
    case 1: return "main BIOS";
    case 2: return "NVRAM";
    case 3: return "EC";
    default: return type >= 0x80 ? core::Format("NCB 0x%02X", type) : core::Format("type %u", type);
  }
}

std::vector<Region> RegionsOf(std::span<const BlockEntry> blocks) {
  std::vector<size_t> byAddress(blocks.size());
  std::iota(byAddress.begin(), byAddress.end(), size_t{0});
  std::stable_sort(byAddress.begin(), byAddress.end(),
                   [&](size_t a, size_t b) { return blocks[a].start < blocks[b].start; });
  struct Placed { size_t firstListed; Region region; };
  std::vector<Placed> merged;
  for (const size_t i : byAddress) {
    const BlockEntry& b = blocks[i];
    if (!merged.empty()) {
      Placed& last = merged.back();
      if (last.region.type == b.type && uint64_t{last.region.start} + last.region.size == b.start) {
        last.region.size += b.size;
        last.firstListed = std::min(last.firstListed, i);
        continue;
      }
    }
    merged.push_back({i, {b.type, b.start, b.size}});
  }
  std::stable_sort(merged.begin(), merged.end(),
                   [](const Placed& a, const Placed& b) { return a.firstListed < b.firstListed; });
  std::vector<Region> regions;
  for (const Placed& p : merged) regions.push_back(p.region);
  return regions;
}

std::optional<size_t> LastRunStart(std::span<const nlohmann::json> entries) {
  for (size_t i = entries.size(); i-- > 0;) {
    if (entries[i].is_object() && FieldIs(entries[i], "event", kRunStartEvent)) return i;
  }
  return std::nullopt;
}

std::vector<RegionActivity> SummariseActivity(std::span<const BlockEntry> blocks, uint8_t successStatus,
                                              std::span<const nlohmann::json> entries) {
  std::vector<RegionActivity> activity;
  for (const Region& r : RegionsOf(blocks)) activity.push_back({r, {}, {}, {}, 0});
  for (const nlohmann::json& e : entries) {
    if (!e.is_object() || !e.contains("smi")) continue;
    RequestTally RegionActivity::*tally = nullptr;
    if (FieldIs(e, "op", "erase")) tally = &RegionActivity::erase;
    if (FieldIs(e, "op", "write")) tally = &RegionActivity::write;
    if (FieldIs(e, "op", "read")) tally = &RegionActivity::read;
    const auto address = UnsignedField(e, "addr");
    const auto length = UnsignedField(e, "len");
    // Chip addresses (inside an ME begin/end pair) are not the block table's.
    if (tally == nullptr || !address || !length || e.contains("chip")) continue;
    const bool carriedOut = !e.contains("misuse") && UnsignedField(e, "status") == successStatus;
    const uint64_t end = *length > UINT64_MAX - *address ? UINT64_MAX : *address + *length;
    for (RegionActivity& a : activity) {
      const uint64_t from = std::max<uint64_t>(*address, a.region.start);
      const uint64_t to = std::min<uint64_t>(end, uint64_t{a.region.start} + a.region.size);
      if (from >= to) continue;
      RequestTally& t = a.*tally;
      ++t.requests;
      if (carriedOut) {
        t.bytes += to - from;
      } else {
        ++a.notCarriedOut;
      }
    }
  }
  return activity;
}

}  // namespace nox::sim
