// Length-limited canonical Huffman codes, as the -lh5- encoder sends them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace nox::package {

// Code lengths for symbols with the given frequencies: 0 for unused symbols, at most
// `maxLength` bits, and a complete prefix code whenever two or more symbols are used.
// With fewer than two used symbols every length is 0 (the stream then names the one
// symbol directly instead of sending a table).
std::vector<uint8_t> LimitedCodeLengths(std::span<const uint32_t> frequencies, unsigned maxLength);

// Canonical codes for the lengths: shorter codes first, equal lengths in symbol order.
std::vector<uint16_t> CanonicalCodes(std::span<const uint8_t> lengths);

}  // namespace nox::package
