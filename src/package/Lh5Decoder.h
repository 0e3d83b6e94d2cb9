// Expansion of compressed package modules (-lh5- streams behind an 8-byte data header).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Bytes.h"

namespace nox::package {

// Size of the data header in front of every module's data: stored size, expanded size.
inline constexpr size_t kDataHeaderSize = 8;

// Byte that positions before the start of the output read as. Only a damaged or hostile
// stream reaches back that far; it reads spaces, as in the common LHA decoders.
inline constexpr uint8_t kInitialWindowByte = 0x20;

// Decodes the raw -lh5- `stream` into `out`, filling it completely. Input past the end of
// `stream` reads as zero bits. Returns out.size(), or fewer bytes when the stream carries a
// code table that cannot be decoded (not a prefix code, lengths over 16 bits, a symbol
// outside its alphabet, a code that no table entry covers).
// `exact`, when given, tells whether the stream holds exactly out.size() bytes: filled
// without reading past its end, its last block's codes all used, its last match ending with
// the output and nothing behind it but the zero bits that pad its last byte. The checksum
// around a module is too weak to catch a damaged stream; this is what does.
size_t Lh5Decode(core::ByteSpan stream, core::MutableByteSpan out, bool* exact = nullptr);

// `dataHeader` starts at a module's data header and ends where the module's bytes end.
// Decodes the stored-size-minus-8 bytes behind the header (never more than there are) into
// the first expanded-size bytes of `output` and returns the number of bytes written; the
// caller rejects the module unless that is exactly the expanded size and `exact` (as for
// Lh5Decode) is set. An output buffer smaller than the expanded size yields 0.
size_t ExpandModule(core::MutableByteSpan output, core::ByteSpan dataHeader, bool* exact = nullptr);

}  // namespace nox::package
