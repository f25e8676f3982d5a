#include "reduce_encoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <stdexcept>

namespace velmora::testing {

namespace {

constexpr uint8_t kEscape = 144;

// The reduce byte stream of the tokens (before the follower sets).
std::vector<uint8_t> TokenBytes(const std::vector<LzToken>& tokens, int factor) {
  const uint32_t length_mask = 0xFFu >> factor;
  std::vector<uint8_t> expanded = ExpandLz(tokens);
  std::vector<uint8_t> bytes;
  size_t position = 0;
  auto literal = [&](uint8_t b) {
    bytes.push_back(b);
    if (b == kEscape) bytes.push_back(0);
  };
  for (const LzToken& t : tokens) {
    if (t.length == 0) {
      literal(t.literal);
      ++position;
      continue;
    }
    if (t.length < 3 || t.length > ReduceMaxLength(factor) || t.distance < 1 ||
        t.distance > ReduceMaxDistance(factor)) {
      throw std::invalid_argument("copy outside what reduce can express");
    }
    const uint32_t length = t.length - 3;
    const uint32_t distance = t.distance - 1;
    const uint32_t high = distance >> 8;
    if (high == 0 && length == 0) {
      for (uint32_t k = 0; k < t.length; ++k) literal(expanded[position + k]);
      position += t.length;
      continue;
    }
    bytes.push_back(kEscape);
    bytes.push_back(static_cast<uint8_t>(high << (8 - factor) | std::min(length, length_mask)));
    if (length >= length_mask) bytes.push_back(static_cast<uint8_t>(length - length_mask));
    bytes.push_back(static_cast<uint8_t>(distance & 0xFF));
    position += t.length;
  }
  return bytes;
}

struct Followers {
  std::vector<uint8_t> chars;
  int index_bits = 1;
};

std::array<Followers, 256> ChooseFollowers(const std::vector<uint8_t>& bytes, int max_followers) {
  std::vector<std::array<uint32_t, 256>> counts(256);
  for (auto& row : counts) row.fill(0);
  uint8_t last = 0;
  for (uint8_t b : bytes) {
    ++counts[last][b];
    last = b;
  }
  std::array<Followers, 256> sets;
  for (int c = 0; c < 256; ++c) {
    std::vector<int> order;
    for (int f = 0; f < 256; ++f) {
      if (counts[c][f]) order.push_back(f);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return counts[c][a] > counts[c][b]; });
    if (static_cast<int>(order.size()) > max_followers) order.resize(max_followers);
    for (int f : order) sets[c].chars.push_back(static_cast<uint8_t>(f));
    const int n = static_cast<int>(order.size());
    sets[c].index_bits = n <= 1 ? 1 : static_cast<int>(std::bit_width(static_cast<unsigned>(n - 1)));
  }
  return sets;
}

}  // namespace

uint32_t ReduceMaxLength(int factor) { return (0xFFu >> factor) + 255 + 3; }
uint32_t ReduceMaxDistance(int factor) { return 256u << factor; }

std::vector<uint8_t> EncodeReduceTokens(const std::vector<LzToken>& tokens, int factor,
                                        int max_followers) {
  const std::vector<uint8_t> bytes = TokenBytes(tokens, factor);
  const std::array<Followers, 256> sets = ChooseFollowers(bytes, max_followers);
  LsbBitWriter out;
  for (int c = 255; c >= 0; --c) {
    out.Write(static_cast<uint32_t>(sets[c].chars.size()), 6);
    for (uint8_t f : sets[c].chars) out.Write(f, 8);
  }
  uint8_t last = 0;
  for (uint8_t b : bytes) {
    const Followers& set = sets[last];
    if (set.chars.empty()) {
      out.Write(b, 8);
    } else {
      auto it = std::find(set.chars.begin(), set.chars.end(), b);
      if (it == set.chars.end()) {
        out.Write(1, 1);
        out.Write(b, 8);
      } else {
        out.Write(0, 1);
        out.Write(static_cast<uint32_t>(it - set.chars.begin()), set.index_bits);
      }
    }
    last = b;
  }
  return out.Bytes();
}

std::vector<uint8_t> EncodeReduce(const std::vector<uint8_t>& data, int factor,
                                  int max_followers) {
  LzParseLimits limits;
  limits.min_length = 3;
  limits.max_length = ReduceMaxLength(factor);
  limits.max_distance = ReduceMaxDistance(factor);
  return EncodeReduceTokens(ParseLz(data, limits), factor, max_followers);
}

}  // namespace velmora::testing
