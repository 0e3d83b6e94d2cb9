#include "platform/sim/Journal.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "platform/sim/HostFiles.h"

namespace nox::sim {
namespace {

constexpr size_t kPendingLimit = 64 * 1024;

void AppendText(std::string& out, const char* key, const char* text) {
  out += ",\"";
  out += key;
  out += "\":";
  out += nlohmann::json(text).dump();
}

}  // namespace

Journal::Journal(std::filesystem::path file) : file_(std::move(file)) {}

Journal::~Journal() = default;

bool Journal::StartAppending(std::string& error) {
  std::string why = NotAFile(file_, true);
  if (why.empty()) {
    errno = 0;
    out_ = std::make_unique<std::ofstream>(file_, std::ios::binary | std::ios::app);
    if (!*out_) why = LastSystemError("cannot be opened");
  }
  if (!why.empty()) {
    out_.reset();
    error = CannotWrite(file_, why);
    return false;
  }
  Emit();
  return true;
}

void Journal::Emit() {
  if (!out_ || pending_.empty()) return;
  errno = 0;
  out_->write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
  out_->flush();
  if (!*out_) {
    writeError_ = CannotWrite(file_, LastSystemError("cannot be written"));
    out_.reset();
    return;
  }
  pending_.clear();
}

void Journal::Append(std::string_view line) {
  pending_ += line;
  pending_ += '\n';
  ++lines_;
  Emit();
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
  // A long run of reads changes nothing, but its lines need not pile up in memory.
  if (pending_.size() >= kPendingLimit) Emit();
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

std::vector<nlohmann::json> Journal::Entries() const {
  std::string all;
  std::vector<uint8_t> bytes;
  if (!file_.empty() && ReadFile(file_, bytes)) all.assign(bytes.begin(), bytes.end());
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
