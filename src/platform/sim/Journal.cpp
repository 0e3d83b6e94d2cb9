#include "platform/sim/Journal.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fstream>
#include <sstream>

namespace nox::sim {
namespace {

// Large enough that a flash run's journal costs a handful of writes, small enough that a
// process killed by the power-loss fault (which flushes first) loses nothing anyway.
constexpr size_t kFlushThreshold = 64 * 1024;

void AppendText(std::string& out, const char* key, const char* text) {
  out += ",\"";
  out += key;
  out += "\":";
  out += nlohmann::json(text).dump();
}

}  // namespace

Journal::Journal(std::filesystem::path file) : file_(std::move(file)) {
  pending_.reserve(kFlushThreshold + 512);
}

Journal::~Journal() { Flush(); }

void Journal::Append(std::string_view line) {
  pending_ += line;
  pending_ += '\n';
  ++lines_;
  if (!file_.empty() && pending_.size() >= kFlushThreshold) Flush();
}

// Hand-built into a stack buffer: this runs once per request of every flash run, and
// string appends piece by piece cost more than the handler's own work.
void Journal::RecordSmi(const SmiRecord& r) {
  char line[160];
  char* p = line;
  char* const end = line + sizeof line;
  auto text = [&](std::string_view t) {
    const size_t n = std::min(t.size(), static_cast<size_t>(end - p));
    std::memcpy(p, t.data(), n);
    p += n;
  };
  auto number = [&](uint64_t v) { p = std::to_chars(p, end, v).ptr; };
  text("{\"n\":");
  number(r.number);
  text(",\"t\":");
  number(r.timeMs);
  text(",\"smi\":");
  number(r.command);
  text(",\"op\":\"");
  text(r.op);  // always one of the handler's fixed names
  text("\",\"addr\":");
  number(r.address);
  text(",\"len\":");
  number(r.length);
  if (r.status >= 0) {
    text(",\"status\":");
    number(static_cast<uint64_t>(r.status));
  }
  pending_.append(line, static_cast<size_t>(p - line));
  if (r.misuse != nullptr) AppendText(pending_, "misuse", r.misuse);
  if (r.fault != nullptr) AppendText(pending_, "fault", r.fault);
  if (r.refused != nullptr) AppendText(pending_, "refused", r.refused);
  if (r.chip) pending_ += ",\"chip\":true";
  pending_ += "}\n";
  ++lines_;
  if (!file_.empty() && pending_.size() >= kFlushThreshold) Flush();
}

void Journal::RecordEvent(uint64_t number, uint64_t timeMs, std::string_view event,
                          const nlohmann::json& detail) {
  nlohmann::ordered_json line;
  line["n"] = number;
  line["t"] = timeMs;
  line["event"] = std::string(event);
  if (detail.is_object()) {
    for (auto it = detail.begin(); it != detail.end(); ++it) line[it.key()] = it.value();
  }
  Append(line.dump());
}

void Journal::RecordSmiDetail(uint64_t number, uint64_t timeMs, uint8_t command, const char* op,
                              const nlohmann::json& detail) {
  nlohmann::ordered_json line;
  line["n"] = number;
  line["t"] = timeMs;
  line["smi"] = command;
  line["op"] = op;
  if (detail.is_object()) {
    for (auto it = detail.begin(); it != detail.end(); ++it) line[it.key()] = it.value();
  }
  Append(line.dump());
}

bool Journal::Flush() {
  if (file_.empty() || pending_.empty()) return true;
  std::ofstream out(file_, std::ios::binary | std::ios::app);
  if (!out) return false;
  out.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
  if (!out) return false;
  pending_.clear();
  return true;
}

std::vector<nlohmann::json> Journal::Entries() const {
  std::string all;
  if (!file_.empty()) {
    std::ifstream in(file_, std::ios::binary);
    if (in) {
      std::ostringstream text;
      text << in.rdbuf();
      all = text.str();
    }
  }
  all += pending_;
  std::vector<nlohmann::json> entries;
  size_t pos = 0;
  while (pos < all.size()) {
    size_t end = all.find('\n', pos);
    if (end == std::string::npos) end = all.size();
    auto value = nlohmann::json::parse(all.begin() + static_cast<std::ptrdiff_t>(pos),
                                       all.begin() + static_cast<std::ptrdiff_t>(end), nullptr,
                                       false);
    if (!value.is_discarded()) entries.push_back(std::move(value));
    pos = end + 1;
  }
  return entries;
}

}  // namespace nox::sim
