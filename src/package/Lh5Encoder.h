// The -lh5- encoder used to build packages: LZSS over the 8 KiB window with hash chains and
// lazy matching, then block-wise Huffman coding with canonical codes of at most 16 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "core/Bytes.h"

namespace nox::package {

// Told how many input bytes are coded so far, out of how many.
using EncodeProgress = std::function<void(size_t done, size_t total)>;

// The raw -lh5- stream (no archive or data header) that expands back to `input`.
std::vector<uint8_t> Lh5Encode(core::ByteSpan input, const EncodeProgress& progress = {});

}  // namespace nox::package
