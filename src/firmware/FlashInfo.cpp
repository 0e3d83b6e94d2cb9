#include "firmware/FlashInfo.h"

#include <algorithm>

#include "core/Bytes.h"

namespace nox::firmware {

std::optional<FlashInfo> FlashInfo::FromReply(std::span<const uint8_t> reply) {
  if (reply.size() < kHeaderSize) return std::nullopt;
  const uint16_t count = core::LoadLe16(&reply[6]);
  const bool v11 = reply[5] >= 11;
  // A version-11 reply is taken whole, with the 9 bytes past its last entry.
  const size_t readLength = v11 ? kHeaderSize + count * kEntrySize + kEntrySize : kV10HeaderSize + count * kEntrySize;
  if (readLength > reply.size()) return std::nullopt;

  FlashInfo info;
  info.bytes_.assign(count * kEntrySize + 25, 0);
  if (v11) {
    std::copy_n(reply.begin(), readLength, info.bytes_.begin());
  } else {
    std::copy_n(reply.begin(), kV10HeaderSize, info.bytes_.begin());
    std::copy_n(reply.begin() + kV10HeaderSize, count * kEntrySize, info.bytes_.begin() + kHeaderSize);
  }
  for (size_t i = 0; i < count; ++i) info.totalSize_ += info.Entry(i).size;
  return info;
}

uint16_t FlashInfo::BlockCount() const { return core::LoadLe16(&bytes_[6]); }
uint32_t FlashInfo::EcVersionOffset() const { return core::LoadLe32(&bytes_[8]); }
uint32_t FlashInfo::EcVersionMask() const { return core::LoadLe32(&bytes_[12]); }

FlashBlockEntry FlashInfo::Entry(size_t index) const {
  const uint8_t* p = &bytes_[kHeaderSize + index * kEntrySize];
  return {core::LoadLe32(p), core::LoadLe32(p + 4), p[8]};
}

std::vector<FlashBlockEntry> FlashInfo::Entries() const {
  std::vector<FlashBlockEntry> out;
  out.reserve(BlockCount());
  for (size_t i = 0; i < BlockCount(); ++i) out.push_back(Entry(i));
  return out;
}

}  // namespace nox::firmware
