#include "package/Lh5Decoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "package/Lh5Format.h"

namespace nox::package {
namespace {

using namespace lh5;

// Bits are taken most significant first. The 64-bit buffer is topped up to at least 56
// bits at a time, enough for a literal/length code, a position code and its extra bits,
// so the hot loop refills once per symbol instead of once per field.
class BitReader {
 public:
  explicit BitReader(core::ByteSpan in) : p_(in.data()), end_(in.data() + in.size()) {}

  void Refill() {
    if (end_ - p_ >= 8) {
      uint64_t v = 0;
      for (int i = 0; i < 8; ++i) v = (v << 8) | p_[i];
      buf_ |= v >> count_;
      p_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
    while (count_ <= 56) {
      uint64_t b = 0;
      if (p_ < end_) {
        b = *p_++;
      } else {
        ++pastEnd_;
      }
      buf_ |= b << (56 - count_);
      count_ += 8;
    }
  }
  // Every bit of the input was taken but for fewer than 8 zero bits that pad its last byte:
  // nothing was read from beyond its end, and nothing of it is left over.
  bool EndsExactly() const {
    const int64_t left = (end_ - p_) * 8 + count_ - static_cast<int64_t>(pastEnd_) * 8;
    return left >= 0 && left < 8 && Peek(static_cast<unsigned>(left)) == 0;
  }
  uint32_t Peek(unsigned n) const { return n == 0 ? 0 : static_cast<uint32_t>(buf_ >> (64 - n)); }
  void Consume(unsigned n) {
    buf_ <<= n;
    count_ -= n;
  }
  uint32_t Get(unsigned n) {
    if (count_ < static_cast<int>(n)) Refill();
    const uint32_t v = Peek(n);
    Consume(n);
    return v;
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
  uint64_t buf_ = 0;
  int count_ = 0;
  uint64_t pastEnd_ = 0;  // zero bytes supplied behind the input
};

// A canonical Huffman table: one lookup of `kPrimaryBits` for short codes, and for each
// prefix of longer codes a second-level block indexed by the remaining bits up to 16.
// Entries: bits 0..7 code length, bit 8 second-level link, bit 9 no code, bits 16.. symbol
// (or the link's block offset).
template <unsigned kPrimaryBits, uint32_t kAlphabet>
class HuffmanTable {
 public:
  static constexpr uint32_t kLink = 1u << 8;
  static constexpr uint32_t kNone = 1u << 9;
  static constexpr unsigned kSecondBits = kMaxCodeLength - kPrimaryBits;

  // Every lookup yields `symbol` and consumes no bits.
  bool SetSingle(uint32_t symbol) {
    if (symbol >= kAlphabet) return false;
    primary_.fill(symbol << 16);
    return true;
  }

  // Builds the table from code lengths (0 = symbol unused). Refuses lengths over 16 and
  // sets that are over-subscribed; an incomplete set is kept, and its uncovered codes stop
  // the decoder when they are met.
  bool Build(const uint8_t* lengths) {
    std::array<uint32_t, kMaxCodeLength + 1> count{};
    for (uint32_t s = 0; s < kAlphabet; ++s) {
      if (lengths[s] > kMaxCodeLength) return false;
      ++count[lengths[s]];
    }
    int32_t left = 1;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
      left = left * 2 - static_cast<int32_t>(count[len]);
      if (left < 0) return false;
    }
    // Canonical assignment: shorter codes first, equal lengths in symbol order.
    count[0] = 0;
    std::array<uint32_t, kMaxCodeLength + 1> next{};
    uint32_t code = 0;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
      code = (code + count[len - 1]) << 1;
      next[len] = code;
    }
    primary_.fill(kNone);
    uint32_t secondUsed = 0;
    for (uint32_t s = 0; s < kAlphabet; ++s) {
      const unsigned len = lengths[s];
      if (len == 0) continue;
      const uint32_t c = next[len]++;
      const uint32_t entry = (s << 16) | len;
      if (len <= kPrimaryBits) {
        const uint32_t start = c << (kPrimaryBits - len);
        std::fill_n(primary_.begin() + start, 1u << (kPrimaryBits - len), entry);
        continue;
      }
      uint32_t& link = primary_[c >> (len - kPrimaryBits)];
      if (!(link & kLink)) {
        link = kLink | (secondUsed << 16);
        std::fill_n(second_.begin() + secondUsed, 1u << kSecondBits, kNone);
        secondUsed += 1u << kSecondBits;
      }
      const uint32_t low = c & ((1u << (len - kPrimaryBits)) - 1);
      const uint32_t start = (link >> 16) + (low << (kMaxCodeLength - len));
      std::fill_n(second_.begin() + start, 1u << (kMaxCodeLength - len), entry);
    }
    return true;
  }

  // The symbol at the front of the bit buffer (which holds at least 16 bits), or
  // kAlphabet when no code matches.
  uint32_t Decode(BitReader& bits) const {
    uint32_t e = primary_[bits.Peek(kPrimaryBits)];
    if (e & kLink) e = second_[(e >> 16) + (bits.Peek(kMaxCodeLength) & ((1u << kSecondBits) - 1))];
    if (e & kNone) return kAlphabet;
    bits.Consume(e & 0xFF);
    return e >> 16;
  }

 private:
  std::array<uint32_t, 1u << kPrimaryBits> primary_{};
  // Each symbol longer than the primary lookup owns at most one second-level block.
  std::array<uint32_t, (kAlphabet << kSecondBits)> second_{};
};

class Decoder {
 public:
  explicit Decoder(core::ByteSpan in) : bits_(in) { bits_.Refill(); }

  size_t Run(core::MutableByteSpan out);
  // After Run filled the output: the last block's codes were all used, no match ran past the
  // end of the output, and the input ends there.
  bool Exact() const { return !matchCut_ && blockLeft_ == 0 && bits_.EndsExactly(); }

 private:
  template <uint32_t kAlphabet>
  bool ReadLengthTable(HuffmanTable<8, kAlphabet>& table, std::array<uint8_t, 32>& lengths,
                       unsigned countBits, int special);
  bool ReadLiteralTable();
  bool ReadBlockHeader();

  BitReader bits_;
  uint32_t blockLeft_ = 0;
  bool matchCut_ = false;
  std::array<uint8_t, 32> lengthCodeLengths_{};
  std::array<uint8_t, 32> positionLengths_{};
  std::array<uint8_t, kLiteralCodes> literalLengths_{};
  HuffmanTable<8, kLengthCodes> lengthTable_;
  HuffmanTable<8, kPositionCodes> positionTable_;
  HuffmanTable<12, kLiteralCodes> literalTable_;
};

template <uint32_t kAlphabet>
bool Decoder::ReadLengthTable(HuffmanTable<8, kAlphabet>& table, std::array<uint8_t, 32>& lengths,
                              unsigned countBits, int special) {
  lengths.fill(0);
  const uint32_t n = bits_.Get(countBits);
  if (n == 0) return table.SetSingle(bits_.Get(countBits));
  if (n > kAlphabet) return false;
  uint32_t i = 0;
  while (i < n) {
    bits_.Refill();
    uint32_t c = bits_.Peek(3);
    if (c == 7) {
      // Lengths of 7 and more continue in unary: one more for each further 1 bit.
      uint32_t window = bits_.Peek(16);
      for (uint32_t mask = 1u << 12; mask != 0 && (window & mask); mask >>= 1) ++c;
    }
    bits_.Consume(c < 7 ? 3 : c - 3);
    lengths[i++] = static_cast<uint8_t>(c);
    if (static_cast<int>(i) == special) {
      uint32_t zeros = bits_.Get(2);
      if (i + zeros > kAlphabet) return false;
      while (zeros-- > 0) lengths[i++] = 0;
    }
  }
  return table.Build(lengths.data());
}

bool Decoder::ReadLiteralTable() {
  literalLengths_.fill(0);
  const uint32_t n = bits_.Get(kLiteralCountBits);
  if (n == 0) return literalTable_.SetSingle(bits_.Get(kLiteralCountBits));
  if (n > kLiteralCodes) return false;
  uint32_t i = 0;
  while (i < n) {
    bits_.Refill();
    const uint32_t c = lengthTable_.Decode(bits_);
    if (c >= kLengthCodes) return false;
    if (c <= 2) {
      uint32_t zeros = c == 0 ? 1 : c == 1 ? bits_.Get(4) + 3 : bits_.Get(kLiteralCountBits) + 20;
      if (i + zeros > kLiteralCodes) return false;
      while (zeros-- > 0) literalLengths_[i++] = 0;
    } else {
      literalLengths_[i++] = static_cast<uint8_t>(c - 2);
    }
  }
  return literalTable_.Build(literalLengths_.data());
}

bool Decoder::ReadBlockHeader() {
  blockLeft_ = bits_.Get(kBlockSizeBits);
  return ReadLengthTable(lengthTable_, lengthCodeLengths_, kLengthCountBits, 3) && ReadLiteralTable() &&
         ReadLengthTable(positionTable_, positionLengths_, kPositionCountBits, -1);
}

// Copies a match of `length` bytes from `distance` back. Matches reach at most 8192 bytes
// back, so the output itself serves as the window; a match cut by the end of the output is
// simply not finished. Returns the bytes written.
size_t CopyMatch(uint8_t* dst, size_t pos, size_t size, uint32_t length, uint32_t distance) {
  const size_t n = std::min<size_t>(length, size - pos);
  uint8_t* d = dst + pos;
  if (distance > pos) {
    for (size_t k = 0; k < n; ++k) {
      const size_t at = pos + k;
      d[k] = at >= distance ? dst[at - distance] : kInitialWindowByte;
    }
  } else if (distance >= n) {
    std::memcpy(d, d - distance, n);
  } else if (distance == 1) {
    std::memset(d, d[-1], n);
  } else {
    const uint8_t* s = d - distance;
    for (size_t k = 0; k < n; ++k) d[k] = s[k];
  }
  return n;
}

size_t Decoder::Run(core::MutableByteSpan out) {
  uint8_t* const dst = out.data();
  const size_t size = out.size();
  size_t pos = 0;
  while (pos < size) {
    if (blockLeft_ == 0 && !ReadBlockHeader()) return pos;
    // The count is a 16-bit field: a block that declares 0 codes holds 65536.
    blockLeft_ = (blockLeft_ - 1) & 0xFFFF;
    bits_.Refill();
    uint32_t c = literalTable_.Decode(bits_);
    if (c < 256) {
      dst[pos++] = static_cast<uint8_t>(c);
      // A literal takes at most 16 of the 56 buffered bits, so the next code of the same
      // block can come from the same refill.
      if (blockLeft_ == 0 || pos == size) continue;
      c = literalTable_.Decode(bits_);
      blockLeft_ = (blockLeft_ - 1) & 0xFFFF;
      if (c < 256) {
        dst[pos++] = static_cast<uint8_t>(c);
        continue;
      }
      bits_.Refill();
    }
    if (c >= kLiteralCodes) return pos;
    const uint32_t j = positionTable_.Decode(bits_);
    if (j >= kPositionCodes) return pos;
    const uint32_t distance = (j == 0 ? 0 : (1u << (j - 1)) + bits_.Get(j - 1)) + 1;
    const uint32_t length = c - kMatchCodeBias;
    matchCut_ = length > size - pos;
    pos += CopyMatch(dst, pos, size, length, distance);
  }
  return pos;
}

}  // namespace

size_t Lh5Decode(core::ByteSpan stream, core::MutableByteSpan out, bool* exact) {
  if (exact) *exact = out.empty() && stream.empty();
  if (out.empty()) return 0;
  auto decoder = std::make_unique<Decoder>(stream);
  const size_t written = decoder->Run(out);
  if (exact) *exact = written == out.size() && decoder->Exact();
  return written;
}

size_t ExpandModule(core::MutableByteSpan output, core::ByteSpan dataHeader, bool* exact) {
  if (exact) *exact = false;
  const auto stored = core::ReadLe32(dataHeader, 0);
  const auto expanded = core::ReadLe32(dataHeader, 4);
  if (!stored || !expanded || output.size() < *expanded) return 0;
  const size_t available = dataHeader.size() - kDataHeaderSize;
  const size_t streamSize = *stored < kDataHeaderSize ? 0 : std::min<size_t>(*stored - kDataHeaderSize, available);
  return Lh5Decode(dataHeader.subspan(kDataHeaderSize, streamSize), output.first(*expanded), exact);
}

}  // namespace nox::package
