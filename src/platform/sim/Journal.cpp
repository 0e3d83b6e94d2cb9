#include "platform/sim/Journal.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace nox::sim {
namespace {

// Large enough that a flash run's journal costs a handful of writes, small enough that a
// process killed by the power-loss fault (which flushes first) loses nothing anyway.
constexpr size_t kFlushThreshold = 64 * 1024;

void AppendNumber(std::string& out, uint64_t value) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, r.ptr);
}

void AppendField(std::string& out, const char* key, uint64_t value) {
  out += ",\"";
  out += key;
  out += "\":";
  AppendNumber(out, value);
}

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

void Journal::RecordSmi(const SmiRecord& r) {
  std::string& out = pending_;
  out += "{\"n\":";
  AppendNumber(out, r.number);
  AppendField(out, "t", r.timeMs);
  AppendField(out, "smi", r.command);
  out += ",\"op\":\"";
  out += r.op;  // always one of the handler's fixed names
  out += '"';
  AppendField(out, "addr", r.address);
  AppendField(out, "len", r.length);
  if (r.status >= 0) AppendField(out, "status", static_cast<uint64_t>(r.status));
  if (r.misuse != nullptr) AppendText(out, "misuse", r.misuse);
  if (r.fault != nullptr) AppendText(out, "fault", r.fault);
  out += "}\n";
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
