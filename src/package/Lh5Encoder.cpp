#include "package/Lh5Encoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "package/HuffmanCode.h"
#include "package/Lh5Format.h"

namespace nox::package {
namespace {

using namespace lh5;

class BitWriter {
 public:
  void Put(unsigned count, uint32_t value) {
    if (count == 0) return;
    acc_ = (acc_ << count) | (value & ((1u << count) - 1));
    bits_ += count;
    while (bits_ >= 8) {
      bits_ -= 8;
      out_.push_back(static_cast<uint8_t>(acc_ >> bits_));
    }
  }
  std::vector<uint8_t> Finish() {
    if (bits_ > 0) out_.push_back(static_cast<uint8_t>(acc_ << (8 - bits_)));
    bits_ = 0;
    return std::move(out_);
  }

 private:
  std::vector<uint8_t> out_;
  uint64_t acc_ = 0;
  unsigned bits_ = 0;
};

uint32_t PositionCode(uint32_t position) { return static_cast<uint32_t>(std::bit_width(position)); }

// One parsed item: a literal byte, or a match code with its position (distance - 1).
struct Item {
  uint16_t code;
  uint16_t position;
};

// Longest-match search over hash chains of 3-byte prefixes. Chains are kept in a ring four
// times the window so that a link is never overwritten while it can still be reached.
class MatchFinder {
 public:
  static constexpr uint32_t kHashBits = 15;
  static constexpr uint32_t kRing = 4 * kWindowSize;

  explicit MatchFinder(core::ByteSpan data)
      : data_(data.data()), size_(data.size()), head_(1u << kHashBits, -1), prev_(kRing, -1) {}

  void Insert(size_t pos) {
    if (pos + kMinMatch > size_) return;
    const uint32_t h = Hash(pos);
    prev_[pos & (kRing - 1)] = head_[h];
    head_[h] = static_cast<int32_t>(pos);
  }

  // Longest match at `pos` longer than `better`, searching at most `chain` candidates.
  // Returns its length (0 when none) and sets `distance`.
  uint32_t Find(size_t pos, uint32_t better, uint32_t chain, uint32_t& distance) const {
    if (pos + kMinMatch > size_) return 0;
    const size_t limit = pos > kWindowSize ? pos - kWindowSize : 0;
    const uint32_t maxLength = static_cast<uint32_t>(std::min<size_t>(kMaxMatch, size_ - pos));
    if (better >= maxLength) return 0;
    uint32_t best = better;
    int32_t candidate = head_[Hash(pos)];
    while (candidate >= 0 && static_cast<size_t>(candidate) >= limit && chain-- > 0) {
      const uint8_t* a = data_ + candidate;
      const uint8_t* b = data_ + pos;
      if (a[best] == b[best] && a[0] == b[0] && a[1] == b[1]) {
        const uint32_t length = MatchLength(a, b, maxLength);
        if (length > best) {
          best = length;
          distance = static_cast<uint32_t>(pos - static_cast<size_t>(candidate));
          if (length >= maxLength) break;
        }
      }
      const int32_t next = prev_[static_cast<size_t>(candidate) & (kRing - 1)];
      if (next >= candidate) break;
      candidate = next;
    }
    return best > better ? best : 0;
  }

 private:
  uint32_t Hash(size_t pos) const {
    const uint8_t* p = data_ + pos;
    const uint32_t v = (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
    return (v * 2654435761u) >> (32 - kHashBits);
  }
  static uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t maxLength) {
    uint32_t n = 0;
    while (n + 8 <= maxLength) {
      uint64_t x, y;
      std::memcpy(&x, a + n, 8);
      std::memcpy(&y, b + n, 8);
      if (x != y) {
        if constexpr (std::endian::native == std::endian::little)
          return n + static_cast<uint32_t>(std::countr_zero(x ^ y) / 8);
        break;
      }
      n += 8;
    }
    while (n < maxLength && a[n] == b[n]) ++n;
    return n;
  }

  const uint8_t* data_;
  size_t size_;
  std::vector<int32_t> head_;
  std::vector<int32_t> prev_;
};

// Search effort. The values trade a little speed for output that stays at or below the
// size the common LHA archivers reach.
constexpr uint32_t kMaxChain = 1024;
constexpr uint32_t kLazyLimit = 128;  // a match this long is taken without looking ahead
constexpr uint32_t kGoodLength = 64; // past this, look-ahead searches a quarter of the chain
// A 3-byte match far back costs more bits than three literals.
constexpr uint32_t kFarMinMatchDistance = 4096;
// Blocks grow a piece at a time for as long as one shared set of tables codes the data
// more cheaply than a fresh block would.
constexpr size_t kPieceItems = 2048;
constexpr size_t kMaxBlockItems = 65535;

class BlockWriter {
 public:
  explicit BlockWriter(BitWriter& out) : out_(out) {}

  void Write(const std::vector<Item>& items) {
    std::array<uint32_t, kLiteralCodes> literalFreq{};
    std::array<uint32_t, kPositionCodes> positionFreq{};
    for (const Item& it : items) {
      ++literalFreq[it.code];
      if (it.code >= 256) ++positionFreq[PositionCode(it.position)];
    }
    out_.Put(kBlockSizeBits, static_cast<uint32_t>(items.size()));

    const std::vector<uint8_t> literalLengths = LimitedCodeLengths(literalFreq, kMaxCodeLength);
    if (IsSingle(literalLengths)) {
      out_.Put(kLengthCountBits, 0);
      out_.Put(kLengthCountBits, 0);
      out_.Put(kLiteralCountBits, 0);
      out_.Put(kLiteralCountBits, FirstUsed(literalFreq));
    } else {
      WriteLiteralLengths(literalLengths);
    }
    const std::vector<uint16_t> literalCodes = CanonicalCodes(literalLengths);

    const std::vector<uint8_t> positionLengths = LimitedCodeLengths(positionFreq, kMaxCodeLength);
    if (IsSingle(positionLengths)) {
      out_.Put(kPositionCountBits, 0);
      out_.Put(kPositionCountBits, FirstUsed(positionFreq));
    } else {
      WriteLengthLengths(positionLengths, kPositionCountBits, -1);
    }
    const std::vector<uint16_t> positionCodes = CanonicalCodes(positionLengths);

    for (const Item& it : items) {
      out_.Put(literalLengths[it.code], literalCodes[it.code]);
      if (it.code < 256) continue;
      const uint32_t j = PositionCode(it.position);
      out_.Put(positionLengths[j], positionCodes[j]);
      if (j > 1) out_.Put(j - 1, it.position - (1u << (j - 1)));
    }
  }

 private:
  static bool IsSingle(const std::vector<uint8_t>& lengths) {
    return std::all_of(lengths.begin(), lengths.end(), [](uint8_t l) { return l == 0; });
  }
  template <size_t N>
  static uint32_t FirstUsed(const std::array<uint32_t, N>& freq) {
    for (uint32_t s = 0; s < N; ++s)
      if (freq[s] != 0) return s;
    return 0;
  }

  // Code lengths of the code-length and position tables: 3 bits up to 6, longer ones in
  // unary after 111; `special` is where a 2-bit count of zero lengths follows.
  void WriteLengthLengths(std::vector<uint8_t> lengths, unsigned countBits, int special) {
    size_t n = lengths.size();
    while (n > 0 && lengths[n - 1] == 0) --n;
    out_.Put(countBits, static_cast<uint32_t>(n));
    size_t i = 0;
    while (i < n) {
      const unsigned k = lengths[i++];
      if (k <= 6)
        out_.Put(3, k);
      else
        out_.Put(k - 3, (1u << (k - 3)) - 2);
      if (static_cast<int>(i) == special) {
        while (i < 6 && lengths[i] == 0) ++i;
        out_.Put(2, static_cast<uint32_t>((i - 3) & 3));
      }
    }
  }

  // The literal/length lengths, themselves coded with the code-length alphabet: 0 one zero,
  // 1 a run of 3..18 zeros, 2 a run of 20 and more, k >= 3 a length of k - 2.
  void WriteLiteralLengths(const std::vector<uint8_t>& lengths) {
    size_t n = lengths.size();
    while (n > 0 && lengths[n - 1] == 0) --n;
    std::array<uint32_t, kLengthCodes> freq{};
    ForEachRun(lengths, n, [&](uint32_t symbol, uint32_t) { ++freq[symbol]; });
    const std::vector<uint8_t> tLengths = LimitedCodeLengths(freq, kMaxCodeLength);
    if (IsSingle(tLengths)) {
      out_.Put(kLengthCountBits, 0);
      out_.Put(kLengthCountBits, FirstUsed(freq));
    } else {
      WriteLengthLengths(tLengths, kLengthCountBits, 3);
    }
    const std::vector<uint16_t> tCodes = CanonicalCodes(tLengths);
    out_.Put(kLiteralCountBits, static_cast<uint32_t>(n));
    ForEachRun(lengths, n, [&](uint32_t symbol, uint32_t extra) {
      out_.Put(tLengths[symbol], tCodes[symbol]);
      if (symbol == 1) out_.Put(4, extra);
      if (symbol == 2) out_.Put(kLiteralCountBits, extra);
    });
  }

  template <typename Emit>
  static void ForEachRun(const std::vector<uint8_t>& lengths, size_t n, Emit emit) {
    size_t i = 0;
    while (i < n) {
      const uint32_t k = lengths[i++];
      if (k != 0) {
        emit(k + 2, 0);
        continue;
      }
      uint32_t run = 1;
      while (i < n && lengths[i] == 0) {
        ++i;
        ++run;
      }
      if (run <= 2) {
        for (uint32_t r = 0; r < run; ++r) emit(0, 0);
      } else if (run <= 18) {
        emit(1, run - 3);
      } else if (run == 19) {
        emit(0, 0);
        emit(1, 15);
      } else {
        emit(2, run - 20);
      }
    }
  }

  BitWriter& out_;
};

// Symbol counts of a run of items and the bits they would take as one block.
struct Histogram {
  std::array<uint32_t, kLiteralCodes> literal{};
  std::array<uint32_t, kPositionCodes> position{};

  void Add(const Item& it) {
    ++literal[it.code];
    if (it.code >= 256) ++position[PositionCode(it.position)];
  }
  void Add(const Histogram& o) {
    for (size_t i = 0; i < literal.size(); ++i) literal[i] += o.literal[i];
    for (size_t i = 0; i < position.size(); ++i) position[i] += o.position[i];
  }
  // Code bits plus a rough price for the tables; extra position bits are left out since
  // they do not depend on how the items are split.
  uint64_t Cost() const {
    uint64_t bits = 16 + 40;
    const auto l = LimitedCodeLengths(literal, kMaxCodeLength);
    for (size_t i = 0; i < literal.size(); ++i) bits += static_cast<uint64_t>(literal[i]) * l[i] + (l[i] ? 4 : 0);
    const auto p = LimitedCodeLengths(position, kMaxCodeLength);
    for (size_t i = 0; i < position.size(); ++i) bits += static_cast<uint64_t>(position[i]) * p[i] + 3;
    return bits;
  }
};

class BlockSplitter {
 public:
  explicit BlockSplitter(BlockWriter& writer) : writer_(writer) { piece_.reserve(kPieceItems); }

  void Push(const Item& it) {
    piece_.push_back(it);
    pieceHist_.Add(it);
    if (piece_.size() == kPieceItems) ClosePiece();
  }
  void Finish() {
    ClosePiece();
    Emit();
  }

 private:
  void ClosePiece() {
    if (piece_.empty()) return;
    const uint64_t pieceCost = pieceHist_.Cost();
    if (!block_.empty()) {
      Histogram merged = blockHist_;
      merged.Add(pieceHist_);
      const uint64_t mergedCost = merged.Cost();
      if (block_.size() + piece_.size() <= kMaxBlockItems && mergedCost <= blockCost_ + pieceCost) {
        block_.insert(block_.end(), piece_.begin(), piece_.end());
        blockHist_ = merged;
        blockCost_ = mergedCost;
        piece_.clear();
        pieceHist_ = {};
        return;
      }
      Emit();
    }
    block_.swap(piece_);
    blockHist_ = pieceHist_;
    blockCost_ = pieceCost;
    piece_.clear();
    pieceHist_ = {};
  }
  void Emit() {
    if (block_.empty()) return;
    writer_.Write(block_);
    block_.clear();
    blockHist_ = {};
    blockCost_ = 0;
  }

  BlockWriter& writer_;
  std::vector<Item> block_, piece_;
  Histogram blockHist_, pieceHist_;
  uint64_t blockCost_ = 0;
};

}  // namespace

std::vector<uint8_t> Lh5Encode(core::ByteSpan input, const EncodeProgress& progress) {
  BitWriter bits;
  BlockWriter blocks(bits);
  MatchFinder finder(input);
  BlockSplitter splitter(blocks);
  const size_t size = input.size();
  auto literal = [&](size_t pos) { splitter.Push({input[pos], 0}); };
  constexpr size_t kProgressStep = 64 * 1024;
  size_t nextProgress = kProgressStep;

  // Lazy evaluation: a match found at `pos` is only taken when the match at pos + 1 is not
  // longer; otherwise one literal is sent and the longer match is considered in turn.
  size_t pos = 0;
  uint32_t prevLength = 0, prevDistance = 0;
  bool pending = false;  // the byte at pos - 1 is not yet coded
  while (pos < size) {
    uint32_t length = 0, distance = 0;
    if (prevLength < kLazyLimit) {
      const uint32_t chain = prevLength >= kGoodLength ? kMaxChain / 4 : kMaxChain;
      length = finder.Find(pos, std::max(pending ? prevLength : 0, kMinMatch - 1), chain, distance);
      if (length == kMinMatch && distance > kFarMinMatchDistance) length = 0;
    }
    finder.Insert(pos);
    if (pending && prevLength >= kMinMatch && length <= prevLength) {
      splitter.Push({static_cast<uint16_t>(prevLength + kMatchCodeBias), static_cast<uint16_t>(prevDistance - 1)});
      const size_t end = pos - 1 + prevLength;
      for (size_t p = pos + 1; p < end; ++p) finder.Insert(p);
      pos = end;
      pending = false;
      prevLength = 0;
    } else {
      if (pending) literal(pos - 1);
      pending = true;
      prevLength = length;
      prevDistance = distance;
      ++pos;
    }
    if (progress && pos >= nextProgress) {
      progress(pos, size);
      nextProgress = pos + kProgressStep;
    }
  }
  if (pending) literal(size - 1);
  splitter.Finish();
  if (progress) progress(size, size);
  return bits.Finish();
}

}  // namespace nox::package
