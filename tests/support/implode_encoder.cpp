#include "implode_encoder.h"

#include <algorithm>
#include <functional>
#include <queue>
#include <stdexcept>

namespace velmora::testing {

namespace {

constexpr uint32_t kLongLength = 63;

struct CodeTable {
  std::vector<uint8_t> lengths;
  std::vector<uint16_t> reversed;  // sent lowest bit first
};

uint16_t Reverse16(uint16_t v) {
  uint16_t r = 0;
  for (int i = 0; i < 16; ++i) r |= static_cast<uint16_t>(((v >> i) & 1) << (15 - i));
  return r;
}

// The codes the decoder derives from the lengths: sorted by length and
// value, assigned from the last entry back, left-aligned in 16 bits.
CodeTable MakeCodes(const std::vector<uint8_t>& lengths) {
  std::vector<int> order(lengths.size());
  for (size_t v = 0; v < lengths.size(); ++v) order[v] = static_cast<int>(v);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return lengths[a] < lengths[b]; });
  CodeTable table{lengths, std::vector<uint16_t>(lengths.size())};
  uint16_t code = 0, step = 0;
  int previous = 0;
  for (int i = static_cast<int>(order.size()) - 1; i >= 0; --i) {
    code = static_cast<uint16_t>(code + step);
    table.reversed[order[i]] = Reverse16(code);
    if (lengths[order[i]] != previous) {
      previous = lengths[order[i]];
      step = static_cast<uint16_t>(1u << (16 - previous));
    }
  }
  return table;
}

void WriteTree(LsbBitWriter& out, const std::vector<uint8_t>& lengths) {
  std::vector<uint8_t> groups;
  for (size_t v = 0; v < lengths.size();) {
    size_t run = 1;
    while (run < 16 && v + run < lengths.size() && lengths[v + run] == lengths[v]) ++run;
    groups.push_back(static_cast<uint8_t>((run - 1) << 4 | (lengths[v] - 1)));
    v += run;
  }
  out.Write(static_cast<uint32_t>(groups.size() - 1), 8);
  for (uint8_t g : groups) out.Write(g, 8);
}

void WriteCode(LsbBitWriter& out, const CodeTable& table, uint32_t symbol) {
  out.Write(table.reversed[symbol], table.lengths[symbol]);
}

}  // namespace

uint32_t ImplodeMinLength(const ImplodeEncoderOptions& o) { return o.three_trees ? 3 : 2; }
uint32_t ImplodeMaxLength(const ImplodeEncoderOptions& o) {
  return kLongLength + 255 + ImplodeMinLength(o);
}
uint32_t ImplodeMaxDistance(const ImplodeEncoderOptions& o) { return o.dictionary_8k ? 8192 : 4096; }

std::vector<uint8_t> ShannonFanoLengths(const std::vector<uint32_t>& frequencies) {
  std::vector<uint64_t> weights(frequencies.begin(), frequencies.end());
  for (;;) {
    // Huffman's construction; depths are the bit lengths.
    const size_t n = weights.size();
    std::vector<int> parent(2 * n, -1);
    using Node = std::pair<uint64_t, int>;
    std::priority_queue<Node, std::vector<Node>, std::greater<Node>> queue;
    for (size_t i = 0; i < n; ++i) queue.push({weights[i] + 1, static_cast<int>(i)});
    int next = static_cast<int>(n);
    while (queue.size() > 1) {
      const Node a = queue.top();
      queue.pop();
      const Node b = queue.top();
      queue.pop();
      parent[a.second] = parent[b.second] = next;
      queue.push({a.first + b.first, next++});
    }
    std::vector<uint8_t> lengths(n);
    bool fits = true;
    for (size_t i = 0; i < n; ++i) {
      int depth = 0;
      for (int p = parent[i]; p >= 0; p = parent[p]) ++depth;
      lengths[i] = static_cast<uint8_t>(std::max(depth, 1));
      fits = fits && depth <= 16;
    }
    if (fits) return lengths;
    for (auto& w : weights) w /= 2;
  }
}

std::vector<uint8_t> EncodeImplodeTokens(const std::vector<LzToken>& tokens,
                                         const ImplodeEncoderOptions& options) {
  const int low_bits = options.dictionary_8k ? 7 : 6;
  const uint32_t min_length = ImplodeMinLength(options);
  std::vector<uint32_t> literal_counts(256), length_counts(64), distance_counts(64);
  for (const LzToken& t : tokens) {
    if (t.length == 0) {
      ++literal_counts[t.literal];
      continue;
    }
    if (t.length < min_length || t.length > ImplodeMaxLength(options) || t.distance < 1 ||
        t.distance > ImplodeMaxDistance(options)) {
      throw std::invalid_argument("copy outside what implode can express");
    }
    ++length_counts[std::min(t.length - min_length, kLongLength)];
    ++distance_counts[(t.distance - 1) >> low_bits];
  }
  LsbBitWriter out;
  CodeTable literals, lengths, distances;
  if (options.three_trees) {
    literals = MakeCodes(ShannonFanoLengths(literal_counts));
    WriteTree(out, literals.lengths);
  }
  lengths = MakeCodes(ShannonFanoLengths(length_counts));
  WriteTree(out, lengths.lengths);
  distances = MakeCodes(ShannonFanoLengths(distance_counts));
  WriteTree(out, distances.lengths);
  for (const LzToken& t : tokens) {
    if (t.length == 0) {
      out.Write(1, 1);
      if (options.three_trees) {
        WriteCode(out, literals, t.literal);
      } else {
        out.Write(t.literal, 8);
      }
      continue;
    }
    const uint32_t distance = t.distance - 1;
    const uint32_t length = t.length - min_length;
    out.Write(0, 1);
    out.Write(distance & ((1u << low_bits) - 1), low_bits);
    WriteCode(out, distances, distance >> low_bits);
    WriteCode(out, lengths, std::min(length, kLongLength));
    if (length >= kLongLength) out.Write(length - kLongLength, 8);
  }
  return out.Bytes();
}

std::vector<uint8_t> EncodeImplode(const std::vector<uint8_t>& data,
                                   const ImplodeEncoderOptions& options) {
  LzParseLimits limits;
  limits.min_length = ImplodeMinLength(options);
  limits.max_length = ImplodeMaxLength(options);
  limits.max_distance = ImplodeMaxDistance(options);
  return EncodeImplodeTokens(ParseLz(data, limits), options);
}

}  // namespace velmora::testing
