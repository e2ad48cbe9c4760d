// SPDX-License-Identifier: Apache-2.0
#include "protocol/decode_messages.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <initializer_list>

namespace tuvel::decode {
namespace {

template <class N>
void append_decimal(std::string& out, N value) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  (void)ec;
  out.append(buf, end);
}

template <class N>
std::string decimal(N value) {
  std::string out;
  append_decimal(out, value);
  return out;
}

std::string concat(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (const auto part : parts) size += part.size();
  std::string out;
  out.reserve(size);
  for (const auto part : parts) out += part;
  return out;
}

}  // namespace

int field_index(const Shape& shape, std::string_view key) {
  for (std::size_t i = 0; i < shape.count; ++i) {
    if (shape.fields[i] == key) return static_cast<int>(i);
  }
  return -1;
}

std::string found_bool(bool value) { return value ? "boolean `true`" : "boolean `false`"; }

std::string found_unsigned(std::uint64_t value) { return concat({"integer `", decimal(value), "`"}); }

std::string found_signed(std::int64_t value) { return concat({"integer `", decimal(value), "`"}); }

std::string found_float(double value) { return "floating point `" + float_text(value) + "`"; }

std::string found_string(std::string_view value) { return "string " + quoted(value); }

std::string quoted(std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(s.size() + 2);
  out += '"';
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '\\': out += "\\\\"; continue;
      case '"': out += "\\\""; continue;
      case '\t': out += "\\t"; continue;
      case '\r': out += "\\r"; continue;
      case '\n': out += "\\n"; continue;
      case '\0': out += "\\0"; continue;
      default: break;
    }
    unsigned code = 0;
    if (c < 0x20 || c == 0x7F) {
      code = c;
    } else if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) < 0xA0) {
      // C1 control characters (U+0080 to U+009F) are not printable either.
      code = (static_cast<unsigned char>(s[i + 1]) & 0x3FU) | 0x80U;
      ++i;
    } else {
      out += static_cast<char>(c);
      continue;
    }
    out += "\\u{";
    bool started = false;
    for (int shift = 4; shift >= 0; shift -= 4) {
      const unsigned digit = (code >> shift) & 0xFU;
      if (digit == 0 && !started && shift != 0) continue;
      started = true;
      out += kHex[digit];
    }
    out += '}';
  }
  out += '"';
  return out;
}

std::string float_text(double value) {
  if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";
  // Shortest round-trip digits; plain up to 16 integer digits or 4 leading
  // zeros after the point (with ".0" after an integral value), else exponent form.
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  (void)ec;
  std::string_view sci(buf, static_cast<std::size_t>(end - buf));
  std::string out;
  if (sci.front() == '-') {
    out += '-';
    sci.remove_prefix(1);
  }
  const std::size_t e = sci.find('e');
  std::string digits;
  for (char ch : sci.substr(0, e)) {
    if (ch != '.') digits += ch;
  }
  int exp10 = 0;
  std::string_view exp_text = sci.substr(e + 1);
  if (exp_text.front() == '+') exp_text.remove_prefix(1);
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exp10);
  const int length = static_cast<int>(digits.size());
  const int kk = exp10 + 1;  // 10^(kk-1) <= |value| < 10^kk
  const int k = kk - length;
  if (k >= 0 && kk <= 16) {
    out += digits;
    out.append(static_cast<std::size_t>(k), '0');
    out += ".0";
  } else if (kk > 0 && kk <= 16) {
    out.append(digits, 0, static_cast<std::size_t>(kk));
    out += '.';
    out.append(digits, static_cast<std::size_t>(kk));
  } else if (kk > -5 && kk <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-kk), '0');
    out += digits;
  } else {
    out += digits[0];
    if (length > 1) {
      out += '.';
      out.append(digits, 1);
    }
    out += 'e';
    append_decimal(out, kk - 1);
  }
  return out;
}

std::string invalid_type(std::string_view found, std::string_view expected) {
  return concat({"invalid type: ", found, ", expected ", expected});
}

std::string invalid_value(std::string_view found, std::string_view expected) {
  return concat({"invalid value: ", found, ", expected ", expected});
}

std::string invalid_length(std::size_t count, std::string_view expected) {
  return concat({"invalid length ", decimal(count), ", expected ", expected});
}

std::string in_sequence(std::size_t n) {
  return concat({decimal(n), n == 1 ? " element in sequence" : " elements in sequence"});
}

std::string missing_field(std::string_view field) { return concat({"missing field `", field, "`"}); }

std::string duplicate_field(std::string_view field) { return concat({"duplicate field `", field, "`"}); }

std::string unknown_field(std::string_view key, std::string_view names) {
  return concat({"unknown field `", key, "`, expected ", names});
}

std::string unknown_variant(std::string_view name, std::string_view names) {
  return concat({"unknown variant `", name, "`, expected ", names});
}

std::string with_position(std::string_view message, std::string_view text, std::size_t at) {
  const std::string_view before = text.substr(0, std::min(at, text.size()));
  const auto lines = static_cast<long long>(std::count(before.begin(), before.end(), '\n'));
  const std::size_t line_start = before.rfind('\n');
  const std::size_t column = line_start == std::string_view::npos ? before.size() : before.size() - line_start - 1;
  std::string out(message);
  out += " at line ";
  append_decimal(out, lines + 1);
  out += " column ";
  append_decimal(out, static_cast<long long>(column));
  return out;
}

}  // namespace tuvel::decode
