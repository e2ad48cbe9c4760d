// SPDX-License-Identifier: Apache-2.0
#include "read/budget.h"

#include <array>

#include "protocol/json.h"

namespace tuvel {
namespace {

constexpr auto kAsciiCost = [] {
  std::array<unsigned char, 128> cost{};
  for (std::size_t c = 0; c < 128; ++c) cost[c] = 1;
  for (std::size_t c = 0; c < 0x20; ++c) cost[c] = 6;
  cost[0x7F] = 6;
  cost['"'] = 6;
  cost['\\'] = 6;
  return cost;
}();

std::size_t decimal_digits(std::uint64_t n) {
  std::size_t digits = 1;
  while (n >= 10) {
    n /= 10;
    ++digits;
  }
  return digits;
}

// Keys, quotes of the two strings, the 64-digit revision, colons, commas
// and braces of one object.
constexpr std::size_t kResultFrame = 143;

}  // namespace

std::size_t fitting_prefix(std::string_view window, std::size_t budget) {
  const auto* p = reinterpret_cast<const unsigned char*>(window.data());
  const std::size_t n = window.size();
  std::size_t i = 0;
  std::size_t spent = 0;
  while (i < n) {
    const unsigned char lead = p[i];
    std::size_t width;
    std::size_t cost;
    if (lead < 0x80) {
      width = 1;
      cost = kAsciiCost[lead];
    } else if (lead < 0xE0) {
      width = 2;
      cost = lead == 0xC2 && p[i + 1] < 0xA0 ? 6 : 2;  // U+0080..U+009F
    } else {
      width = lead < 0xF0 ? 3 : 4;
      cost = width;
    }
    spent += cost;
    if (spent > budget) break;
    i += width;
  }
  return i;
}

std::size_t encoded_result_length(std::string_view path, std::string_view text, std::uint64_t total_lines,
                                  std::uint64_t start, std::uint64_t end, bool truncated) {
  return kResultFrame + json_string_body_length(path) + json_string_body_length(text) + decimal_digits(total_lines) +
         decimal_digits(start) + decimal_digits(end) + (truncated ? 4 : 5);
}

}  // namespace tuvel
