#include "core/Bytes.h"

namespace nox::core {

std::optional<uint8_t> ReadU8(ByteSpan bytes, size_t offset) {
  if (!InRange(bytes.size(), offset, 1)) return std::nullopt;
  return bytes[offset];
}

std::optional<uint16_t> ReadLe16(ByteSpan bytes, size_t offset) {
  if (!InRange(bytes.size(), offset, 2)) return std::nullopt;
  return LoadLe16(bytes.data() + offset);
}

std::optional<uint32_t> ReadLe32(ByteSpan bytes, size_t offset) {
  if (!InRange(bytes.size(), offset, 4)) return std::nullopt;
  return LoadLe32(bytes.data() + offset);
}

std::optional<uint64_t> ReadLe64(ByteSpan bytes, size_t offset) {
  if (!InRange(bytes.size(), offset, 8)) return std::nullopt;
  return LoadLe64(bytes.data() + offset);
}

bool WriteLe16(MutableByteSpan bytes, size_t offset, uint16_t value) {
  if (!InRange(bytes.size(), offset, 2)) return false;
  StoreLe16(bytes.data() + offset, value);
  return true;
}

bool WriteLe32(MutableByteSpan bytes, size_t offset, uint32_t value) {
  if (!InRange(bytes.size(), offset, 4)) return false;
  StoreLe32(bytes.data() + offset, value);
  return true;
}

bool WriteLe64(MutableByteSpan bytes, size_t offset, uint64_t value) {
  if (!InRange(bytes.size(), offset, 8)) return false;
  StoreLe64(bytes.data() + offset, value);
  return true;
}

std::optional<ByteSpan> SubSpan(ByteSpan bytes, size_t offset, size_t length) {
  if (!InRange(bytes.size(), offset, length)) return std::nullopt;
  return bytes.subspan(offset, length);
}

uint16_t Sum16(ByteSpan bytes) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) sum += LoadLe16(bytes.data() + i);
  if (i < bytes.size()) sum += bytes[i];
  return static_cast<uint16_t>(sum);
}

uint8_t Sum8(ByteSpan bytes) {
  uint32_t sum = 0;
  for (uint8_t b : bytes) sum += b;
  return static_cast<uint8_t>(sum);
}

}  // namespace nox::core
