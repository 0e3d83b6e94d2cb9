// A PNG encoder small enough to carry in the automation tool: 8-bit RGB, no compression
// (stored deflate blocks), so that screenshots need no image library on the Windows side.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace noxdrive {

// rgb holds height rows of width pixels, three bytes each, top row first. Returns the file's
// bytes, or an empty vector when the sizes and the pixel count disagree.
std::vector<uint8_t> EncodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb);

}  // namespace noxdrive
