#include "package/HuffmanCode.h"

#include <algorithm>
#include <numeric>
#include <queue>

namespace nox::package {

std::vector<uint8_t> LimitedCodeLengths(std::span<const uint32_t> frequencies, unsigned maxLength) {
  const size_t n = frequencies.size();
  std::vector<uint8_t> lengths(n, 0);
  std::vector<uint32_t> used;
  for (uint32_t s = 0; s < n; ++s)
    if (frequencies[s] != 0) used.push_back(s);
  if (used.size() < 2) return lengths;

  // Plain Huffman tree over the used symbols; nodes >= used.size() are inner nodes.
  struct Node {
    uint64_t weight;
    uint32_t index;
    bool operator>(const Node& o) const {
      return weight != o.weight ? weight > o.weight : index > o.index;
    }
  };
  const size_t leaves = used.size();
  std::vector<uint32_t> parent(2 * leaves - 1, 0);
  std::priority_queue<Node, std::vector<Node>, std::greater<Node>> heap;
  for (uint32_t i = 0; i < leaves; ++i) heap.push({frequencies[used[i]], i});
  uint32_t next = static_cast<uint32_t>(leaves);
  while (heap.size() > 1) {
    const Node a = heap.top();
    heap.pop();
    const Node b = heap.top();
    heap.pop();
    parent[a.index] = parent[b.index] = next;
    heap.push({a.weight + b.weight, next++});
  }
  const uint32_t root = next - 1;
  std::vector<uint32_t> depth(2 * leaves - 1, 0);
  for (uint32_t i = root; i-- > 0;) depth[i] = depth[parent[i]] + 1;

  // Count leaves per depth, folding everything deeper than the limit into the limit, then
  // restore the Kraft sum by moving leaves down one level at a time.
  std::vector<uint32_t> perLength(maxLength + 1, 0);
  for (uint32_t i = 0; i < leaves; ++i) ++perLength[std::min<uint32_t>(depth[i], maxLength)];
  uint64_t kraft = 0;
  for (unsigned len = 1; len <= maxLength; ++len) kraft += static_cast<uint64_t>(perLength[len]) << (maxLength - len);
  while (kraft > (1ull << maxLength)) {
    --perLength[maxLength];
    for (unsigned len = maxLength - 1; len > 0; --len) {
      if (perLength[len] != 0) {
        --perLength[len];
        perLength[len + 1] += 2;
        break;
      }
    }
    --kraft;
  }

  // Most frequent symbols get the shortest codes.
  std::vector<uint32_t> order = used;
  std::stable_sort(order.begin(), order.end(),
                   [&](uint32_t a, uint32_t b) { return frequencies[a] > frequencies[b]; });
  size_t k = 0;
  for (unsigned len = 1; len <= maxLength; ++len)
    for (uint32_t c = 0; c < perLength[len]; ++c) lengths[order[k++]] = static_cast<uint8_t>(len);
  return lengths;
}

std::vector<uint16_t> CanonicalCodes(std::span<const uint8_t> lengths) {
  const unsigned maxLength = lengths.empty() ? 0 : *std::max_element(lengths.begin(), lengths.end());
  std::vector<uint32_t> count(maxLength + 2, 0);
  for (uint8_t len : lengths) ++count[len];
  count[0] = 0;
  std::vector<uint32_t> next(maxLength + 2, 0);
  uint32_t code = 0;
  for (unsigned len = 1; len <= maxLength; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }
  std::vector<uint16_t> codes(lengths.size(), 0);
  for (size_t s = 0; s < lengths.size(); ++s)
    if (lengths[s] != 0) codes[s] = static_cast<uint16_t>(next[lengths[s]]++);
  return codes;
}

}  // namespace nox::package
