// SPDX-License-Identifier: Apache-2.0
#include "escape_text.h"

#include <unicode/utf8.h>

#include <cstdint>
#include <cstdio>

namespace tuvel::speech {
namespace {

constexpr UChar32 LINE_SEPARATOR = 0x2028;
constexpr UChar32 PARAGRAPH_SEPARATOR = 0x2029;

// The C0 and C1 controls, DEL, and the separators that end a line for some readers.
bool breaksTheLine(UChar32 c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == LINE_SEPARATOR || c == PARAGRAPH_SEPARATOR;
}

void appendHex(std::string& out, const char* format, unsigned value) {
  char text[16];
  const int length = std::snprintf(text, sizeof text, format, value);
  out.append(text, static_cast<std::size_t>(length));
}

}  // namespace

std::string escapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto length = static_cast<std::int32_t>(text.size());
  std::int32_t next = 0;
  while (next < length) {
    const std::int32_t start = next;
    UChar32 c = 0;
    U8_NEXT(bytes, next, length, c);
    if (c < 0) {
      // The whole ill-formed stretch, byte by byte.
      for (std::int32_t i = start; i < next; ++i) appendHex(out, "\\x%02x", bytes[i]);
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (breaksTheLine(c)) {
      appendHex(out, "\\u{%x}", static_cast<unsigned>(c));
    } else {
      out.append(text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(next - start)));
    }
  }
  return out;
}

}  // namespace tuvel::speech
