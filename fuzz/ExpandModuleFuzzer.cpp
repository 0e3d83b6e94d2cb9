// Arbitrary -lh5- streams with expanded sizes up to 1 MiB: the first three bytes give the
// size, the rest is the stream.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/Bytes.h"
#include "package/Lh5Decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint32_t expanded = (data[0] | (data[1] << 8) | (data[2] << 16)) % ((1u << 20) + 1);
  std::vector<uint8_t> module(nox::package::kDataHeaderSize);
  nox::core::StoreLe32(module.data(), static_cast<uint32_t>(size - 3 + nox::package::kDataHeaderSize));
  nox::core::StoreLe32(module.data() + 4, expanded);
  module.insert(module.end(), data + 3, data + size);
  // Exactly the expanded size, so that any write past it is caught.
  std::vector<uint8_t> out(expanded);
  const size_t written = nox::package::ExpandModule(out, module);
  if (written > expanded) __builtin_trap();
  return 0;
}
