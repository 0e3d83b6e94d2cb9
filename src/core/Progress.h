// Progress reports of firmware requests: a start marker (0xFFFFFFFE, first address, 0), one
// call per request (flash address, ROM size, request length), an end marker (0xFFFFFFFF,
// ROM size, 0). Pages paint from these; the result is ignored.
#pragma once

#include <cstdint>
#include <functional>

namespace nox::core {

using ProgressCallback = std::function<void(uint32_t, uint32_t, uint32_t)>;

inline constexpr uint32_t kProgressStart = 0xFFFFFFFE;
inline constexpr uint32_t kProgressEnd = 0xFFFFFFFF;

}  // namespace nox::core
