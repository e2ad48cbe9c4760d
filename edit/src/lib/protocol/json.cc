// SPDX-License-Identifier: Apache-2.0
#include "protocol/json.h"

#include <array>
#include <charconv>
#include <cstring>

namespace tuvel {
namespace {

// 0: written as is; 'u': \u00XX; other: the letter after the backslash.
constexpr auto kEscape = [] {
  std::array<char, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[static_cast<std::size_t>(c)] = 'u';
  table['\b'] = 'b';
  table['\t'] = 't';
  table['\n'] = 'n';
  table['\f'] = 'f';
  table['\r'] = 'r';
  table['"'] = '"';
  table['\\'] = '\\';
  return table;
}();

template <class N>
void write_number(N n, std::string& out) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
  (void)ec;
  out.append(buf, end);
}

}  // namespace

const Json* Json::find(std::string_view key) const {
  const auto* object = std::get_if<JsonObject>(&v_);
  if (object == nullptr) return nullptr;
  auto it = object->find(key);
  return it == object->end() ? nullptr : &it->second;
}

void write_json_string(std::string_view s, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.reserve(out.size() + s.size() + 2);
  out.push_back('"');
  std::size_t run = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char esc = kEscape[static_cast<unsigned char>(s[i])];
    if (esc == 0) continue;
    out.append(s.data() + run, i - run);
    run = i + 1;
    out.push_back('\\');
    if (esc == 'u') {
      const auto c = static_cast<unsigned char>(s[i]);
      out.append("u00");
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    } else {
      out.push_back(esc);
    }
  }
  out.append(s.data() + run, s.size() - run);
  out.push_back('"');
}

std::size_t json_string_body_length(std::string_view s) {
  std::size_t n = s.size();
  for (char ch : s) {
    const char esc = kEscape[static_cast<unsigned char>(ch)];
    if (esc == 'u') {
      n += 5;
    } else if (esc != 0) {
      n += 1;
    }
  }
  return n;
}

void write_json(const Json& value, std::string& out) {
  const auto& v = value.value();
  switch (v.index()) {
    case 0: out.append("null"); break;
    case 1: out.append(std::get<bool>(v) ? "true" : "false"); break;
    case 2: write_number(std::get<std::uint64_t>(v), out); break;
    case 3: write_number(std::get<std::int64_t>(v), out); break;
    case 4: write_json_string(std::get<std::string>(v), out); break;
    case 5: {
      out.push_back('[');
      bool first = true;
      for (const auto& element : std::get<JsonArray>(v)) {
        if (!first) out.push_back(',');
        first = false;
        write_json(element, out);
      }
      out.push_back(']');
      break;
    }
    case 6: {
      out.push_back('{');
      bool first = true;
      for (const auto& [key, member] : std::get<JsonObject>(v)) {
        if (!first) out.push_back(',');
        first = false;
        write_json_string(key, out);
        out.push_back(':');
        write_json(member, out);
      }
      out.push_back('}');
      break;
    }
    default: break;
  }
}

std::string to_json(const Json& value) {
  std::string out;
  write_json(value, out);
  return out;
}

}  // namespace tuvel
