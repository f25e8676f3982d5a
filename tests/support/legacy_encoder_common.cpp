#include "legacy_encoder_common.h"

#include <algorithm>

namespace velmora::testing {

std::vector<LzToken> ParseLz(const std::vector<uint8_t>& data, const LzParseLimits& limits) {
  constexpr uint32_t kHashBits = 15;
  const size_t n = data.size();
  std::vector<int64_t> head(size_t{1} << kHashBits, -1);
  std::vector<int64_t> previous(n, -1);
  auto hash = [&](size_t i) {
    const uint32_t v = data[i] | data[i + 1] << 8 | data[i + 2] << 16;
    return (v * 2654435761u) >> (32 - kHashBits);
  };
  auto insert = [&](size_t i) {
    if (i + 3 > n) return;
    const uint32_t h = hash(i);
    previous[i] = head[h];
    head[h] = static_cast<int64_t>(i);
  };
  std::vector<LzToken> tokens;
  size_t i = 0;
  while (i < n) {
    uint32_t best_length = 0, best_distance = 0;
    if (i + 3 <= n) {
      const uint32_t limit = static_cast<uint32_t>(std::min<size_t>(limits.max_length, n - i));
      int64_t candidate = head[hash(i)];
      for (int depth = 0; candidate >= 0 && depth < limits.chain_depth; ++depth) {
        const uint32_t distance = static_cast<uint32_t>(i - candidate);
        if (distance > limits.max_distance) break;
        uint32_t length = 0;
        while (length < limit && data[candidate + length] == data[i + length]) ++length;
        if (length > best_length) {
          best_length = length;
          best_distance = distance;
          if (length == limit) break;
        }
        candidate = previous[candidate];
      }
    }
    if (best_length >= limits.min_length) {
      tokens.push_back({best_length, 0, best_distance});
      for (uint32_t k = 0; k < best_length; ++k) insert(i + k);
      i += best_length;
    } else {
      tokens.push_back({0, data[i], 0});
      insert(i);
      ++i;
    }
  }
  return tokens;
}

std::vector<uint8_t> ExpandLz(const std::vector<LzToken>& tokens) {
  std::vector<uint8_t> out;
  for (const LzToken& t : tokens) {
    if (t.length == 0) {
      out.push_back(t.literal);
      continue;
    }
    for (uint32_t k = 0; k < t.length; ++k) {
      const int64_t from = static_cast<int64_t>(out.size()) - t.distance;
      out.push_back(from < 0 ? 0 : out[from]);
    }
  }
  return out;
}

}  // namespace velmora::testing
