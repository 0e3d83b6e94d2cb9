// metool: a stand-in for the vendor ME tool in tests. It takes "-f IMAGE [ARGS...]" as the
// vendor ME tool does, and writes down what reached it: every argument on a line of its own
// ("argv[N]=TEXT") and the image as "image=CKSUM SIZE" (the output of `cksum <IMAGE`), into
// the file named by METOOL_RECORD (default "metool-record.txt" in the current directory).
// METOOL_ERROR_LOG=TEXT leaves "error.log" holding TEXT in the current directory, as the
// vendor ME tool does when it fails; METOOL_EXIT=N ends it with code N.
// Exit codes: METOOL_EXIT or 0; 1 when the image or the record cannot be read or written;
// 2 on a wrong command line.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Cksum.h"

namespace {

bool ReadAll(const char* path, std::vector<uint8_t>& out) {
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  uint8_t buffer[65536];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.insert(out.end(), buffer, buffer + n);
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  return ok;
}

bool WriteText(const char* path, const std::string& text) {
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || std::strcmp(argv[1], "-f") != 0) {
    std::fprintf(stderr, "usage: metool -f IMAGE [ARGS...]\n");
    return 2;
  }
  std::string record;
  for (int i = 0; i < argc; ++i) record += "argv[" + std::to_string(i) + "]=" + argv[i] + "\n";
  std::vector<uint8_t> image;
  const bool read = ReadAll(argv[2], image);
  record += read ? "image=" + std::to_string(nox::metool::Cksum(image)) + " " + std::to_string(image.size()) + "\n"
                 : std::string("image=unreadable\n");
  const char* recordPath = std::getenv("METOOL_RECORD");
  const bool recorded = WriteText(recordPath != nullptr && *recordPath != '\0' ? recordPath : "metool-record.txt", record);
  if (const char* log = std::getenv("METOOL_ERROR_LOG")) WriteText("error.log", log);
  if (!read || !recorded) return 1;
  const char* code = std::getenv("METOOL_EXIT");
  return code != nullptr ? std::atoi(code) : 0;
}
