// Fixed parameters of the -lh5- stream: an 8 KiB LZSS window whose literals, match lengths
// and match positions are Huffman coded block by block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nox::package::lh5 {

inline constexpr size_t kWindowSize = 8192;
inline constexpr uint32_t kMinMatch = 3;
inline constexpr uint32_t kMaxMatch = 256;

// Literal/length alphabet: 0..255 literal bytes, 256 + k a match of k + 3 bytes.
inline constexpr uint32_t kLiteralCodes = 510;
// Position alphabet: 0 is distance 1, j > 0 covers positions 2^(j-1) .. 2^j - 1.
inline constexpr uint32_t kPositionCodes = 14;
// Alphabet of the code lengths that describe the literal/length table.
inline constexpr uint32_t kLengthCodes = 19;

inline constexpr uint32_t kLiteralCountBits = 9;
inline constexpr uint32_t kPositionCountBits = 4;
inline constexpr uint32_t kLengthCountBits = 5;
inline constexpr uint32_t kBlockSizeBits = 16;
// Code lengths are read from a 16-bit window, so no code may be longer.
inline constexpr uint32_t kMaxCodeLength = 16;

// A match code carries its length as code - 253.
inline constexpr uint32_t kMatchCodeBias = 256 - kMinMatch;

}  // namespace nox::package::lh5
