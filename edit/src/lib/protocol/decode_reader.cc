// SPDX-License-Identifier: Apache-2.0
#include "protocol/decode_reader.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "protocol/decode_messages.h"

namespace tuvel::decode {
namespace {

static_assert(std::endian::native == std::endian::little, "the string scan reads words little-endian");

// Powers of ten as exact literals. A number becomes its significand times
// (or divided by) one of these; the float a message prints depends on doing
// exactly that, rounding included.
constexpr double kPow10[] = {
    1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9,
    1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19,
    1e20, 1e21, 1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29,
    1e30, 1e31, 1e32, 1e33, 1e34, 1e35, 1e36, 1e37, 1e38, 1e39,
    1e40, 1e41, 1e42, 1e43, 1e44, 1e45, 1e46, 1e47, 1e48, 1e49,
    1e50, 1e51, 1e52, 1e53, 1e54, 1e55, 1e56, 1e57, 1e58, 1e59,
    1e60, 1e61, 1e62, 1e63, 1e64, 1e65, 1e66, 1e67, 1e68, 1e69,
    1e70, 1e71, 1e72, 1e73, 1e74, 1e75, 1e76, 1e77, 1e78, 1e79,
    1e80, 1e81, 1e82, 1e83, 1e84, 1e85, 1e86, 1e87, 1e88, 1e89,
    1e90, 1e91, 1e92, 1e93, 1e94, 1e95, 1e96, 1e97, 1e98, 1e99,
    1e100, 1e101, 1e102, 1e103, 1e104, 1e105, 1e106, 1e107, 1e108, 1e109,
    1e110, 1e111, 1e112, 1e113, 1e114, 1e115, 1e116, 1e117, 1e118, 1e119,
    1e120, 1e121, 1e122, 1e123, 1e124, 1e125, 1e126, 1e127, 1e128, 1e129,
    1e130, 1e131, 1e132, 1e133, 1e134, 1e135, 1e136, 1e137, 1e138, 1e139,
    1e140, 1e141, 1e142, 1e143, 1e144, 1e145, 1e146, 1e147, 1e148, 1e149,
    1e150, 1e151, 1e152, 1e153, 1e154, 1e155, 1e156, 1e157, 1e158, 1e159,
    1e160, 1e161, 1e162, 1e163, 1e164, 1e165, 1e166, 1e167, 1e168, 1e169,
    1e170, 1e171, 1e172, 1e173, 1e174, 1e175, 1e176, 1e177, 1e178, 1e179,
    1e180, 1e181, 1e182, 1e183, 1e184, 1e185, 1e186, 1e187, 1e188, 1e189,
    1e190, 1e191, 1e192, 1e193, 1e194, 1e195, 1e196, 1e197, 1e198, 1e199,
    1e200, 1e201, 1e202, 1e203, 1e204, 1e205, 1e206, 1e207, 1e208, 1e209,
    1e210, 1e211, 1e212, 1e213, 1e214, 1e215, 1e216, 1e217, 1e218, 1e219,
    1e220, 1e221, 1e222, 1e223, 1e224, 1e225, 1e226, 1e227, 1e228, 1e229,
    1e230, 1e231, 1e232, 1e233, 1e234, 1e235, 1e236, 1e237, 1e238, 1e239,
    1e240, 1e241, 1e242, 1e243, 1e244, 1e245, 1e246, 1e247, 1e248, 1e249,
    1e250, 1e251, 1e252, 1e253, 1e254, 1e255, 1e256, 1e257, 1e258, 1e259,
    1e260, 1e261, 1e262, 1e263, 1e264, 1e265, 1e266, 1e267, 1e268, 1e269,
    1e270, 1e271, 1e272, 1e273, 1e274, 1e275, 1e276, 1e277, 1e278, 1e279,
    1e280, 1e281, 1e282, 1e283, 1e284, 1e285, 1e286, 1e287, 1e288, 1e289,
    1e290, 1e291, 1e292, 1e293, 1e294, 1e295, 1e296, 1e297, 1e298, 1e299,
    1e300, 1e301, 1e302, 1e303, 1e304, 1e305, 1e306, 1e307, 1e308,
};

constexpr bool is_digit(int c) { return c >= '0' && c <= '9'; }

/// True when `a * 10 + b` would pass `limit`.
template <class T>
constexpr bool overflows(T a, T b, T limit) {
  return a >= limit / 10 && (a > limit / 10 || b > limit % 10);
}

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

/// Offset of the first byte at or after `i` that ends a plain run inside a
/// string: a quote, a backslash, a control byte or a non-ASCII byte.
std::size_t scan_plain(const char* p, std::size_t i, std::size_t n) {
#if defined(__SSE2__)
  const __m128i quotes = _mm_set1_epi8('"');
  const __m128i slashes = _mm_set1_epi8('\\');
  const __m128i spaces = _mm_set1_epi8(0x20);
  while (i + 16 <= n) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    // Signed compare: below 0x20 catches control bytes and every byte >= 0x80.
    const __m128i hits =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, quotes), _mm_cmpeq_epi8(v, slashes)), _mm_cmplt_epi8(v, spaces));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    if (mask != 0) return i + static_cast<std::size_t>(std::countr_zero(mask));
    i += 16;
  }
#endif
  while (i + 8 <= n) {
    std::uint64_t x;
    std::memcpy(&x, p + i, 8);
    const std::uint64_t quote = x ^ (kOnes * '"');
    const std::uint64_t slash = x ^ (kOnes * '\\');
    // Borrows only run towards later bytes, so the lowest flag is exact.
    const std::uint64_t hits =
        (((quote - kOnes) & ~quote) | ((slash - kOnes) & ~slash) | ((x - kOnes * 0x20) & ~x) | x) & kHighs;
    if (hits != 0) return i + static_cast<std::size_t>(std::countr_zero(hits) >> 3);
    i += 8;
  }
  while (i < n) {
    const auto c = static_cast<unsigned char>(p[i]);
    if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) return i;
    ++i;
  }
  return n;
}

/// Offset of the quote that would close a string whose body continues at
/// `i` (escapes skipped), or `n`: decoding never needs more room than that.
std::size_t string_end(const char* p, std::size_t i, std::size_t n) {
  for (;;) {
    while (i + 8 <= n) {
      std::uint64_t x;
      std::memcpy(&x, p + i, 8);
      const std::uint64_t q = x ^ (kOnes * '"');
      const std::uint64_t b = x ^ (kOnes * '\\');
      const std::uint64_t hits = (((q - kOnes) & ~q) | ((b - kOnes) & ~b)) & kHighs;
      if (hits != 0) {
        i += static_cast<std::size_t>(std::countr_zero(hits) >> 3);
        break;
      }
      i += 8;
    }
    while (i < n && p[i] != '"' && p[i] != '\\') ++i;
    if (i >= n || p[i] == '"') return std::min(i, n);
    i += 2;
  }
}

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

/// Length of the well-formed UTF-8 sequence at `i` (lead byte >= 0x80), or 0.
std::size_t utf8_sequence(const unsigned char* p, std::size_t i, std::size_t n) {
  const unsigned char c = p[i];
  if (c < 0xC2) return 0;
  if (c < 0xE0) return i + 1 < n && is_continuation(p[i + 1]) ? 2 : 0;
  if (c < 0xF0) {
    if (i + 2 >= n) return 0;
    const unsigned char lo = c == 0xE0 ? 0xA0 : 0x80;
    const unsigned char hi = c == 0xED ? 0x9F : 0xBF;
    return p[i + 1] >= lo && p[i + 1] <= hi && is_continuation(p[i + 2]) ? 3 : 0;
  }
  if (c < 0xF5) {
    if (i + 3 >= n) return 0;
    const unsigned char lo = c == 0xF0 ? 0x90 : 0x80;
    const unsigned char hi = c == 0xF4 ? 0x8F : 0xBF;
    return p[i + 1] >= lo && p[i + 1] <= hi && is_continuation(p[i + 2]) && is_continuation(p[i + 3]) ? 4 : 0;
  }
  return 0;
}

void push_utf8(std::uint32_t cp, Sink& out) {
  out.room(4);
  if (cp < 0x80) {
    out.byte(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.byte(static_cast<char>(0xC0 | (cp >> 6)));
    out.byte(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.byte(static_cast<char>(0xE0 | (cp >> 12)));
    out.byte(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.byte(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.byte(static_cast<char>(0xF0 | (cp >> 18)));
    out.byte(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.byte(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.byte(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Sink::Sink(std::string& buf, std::size_t bound) : buf_(buf), begin_(buf.size()) {
  buf_.resize(begin_ + bound);
  out_ = buf_.data() + begin_;
  limit_ = buf_.data() + buf_.size();
}

void Sink::grow(std::size_t n) {
  const auto used = static_cast<std::size_t>(out_ - buf_.data());
  buf_.resize(std::max(buf_.size() * 2, used + n));
  out_ = buf_.data() + used;
  limit_ = buf_.data() + buf_.size();
}

std::size_t Sink::finish() {
  const auto end = static_cast<std::size_t>(out_ - buf_.data());
  buf_.resize(end);
  return end - begin_;
}

std::string found_number(const Number& n) {
  switch (n.kind) {
    case Number::Kind::Unsigned: return found_unsigned(n.u);
    case Number::Kind::Signed: return found_signed(n.i);
    case Number::Kind::Float: break;
  }
  return found_float(n.f);
}

int Reader::skip_ws() {
  while (pos_ < text_.size()) {
    const char c = text_[pos_];
    if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return static_cast<unsigned char>(c);
    ++pos_;
  }
  return kEnd;
}

bool Reader::fail_at(std::size_t at, std::string message) {
  fault_.message = std::move(message);
  fault_.at = at;
  return false;
}

bool Reader::fail_peek(std::string_view message) {
  return fail_at(pos_ < text_.size() ? pos_ + 1 : text_.size(), std::string(message));
}

bool Reader::fail_model(std::string message) { return fail_at(kUnplaced, std::move(message)); }

bool Reader::enter() {
  if (depth_ == kMaxDepth) return fail_peek(kRecursionLimit);
  ++depth_;
  ++pos_;
  return true;
}

bool Reader::ident(std::string_view rest) {
  for (char expected : rest) {
    if (pos_ == text_.size()) return fail_here(kEofValue);
    if (text_[pos_++] != expected) return fail_here(kExpectedIdent);
  }
  return true;
}

bool Reader::string(std::string& buf, Str& out) {
  const char* p = text_.data();
  const std::size_t n = text_.size();
  const std::size_t buf_begin = buf.size();
  std::size_t start = pos_;
  std::optional<Sink> sink;  // from the first escape on
  bool bad_utf8 = false;
  for (;;) {
    const std::size_t i = scan_plain(p, pos_, n);
    if (i == n) {
      pos_ = n;
      return fail_here(kEofString);
    }
    const auto c = static_cast<unsigned char>(p[i]);
    if (c >= 0x80) {
      const std::size_t len = utf8_sequence(reinterpret_cast<const unsigned char*>(p), i, n);
      // Bad UTF-8 is reported past the closing quote, unless something
      // else goes wrong first.
      if (len == 0) bad_utf8 = true;
      pos_ = i + (len == 0 ? 1 : len);
      continue;
    }
    if (c == '"') {
      if (sink) {
        sink->bytes(p + start, i - start);
        out = Str{buf_begin, sink->finish(), true};
      } else {
        out = Str{start, i - start, false};
      }
      pos_ = i + 1;
      if (bad_utf8) return fail_here(kInvalidUnicode);
      return true;
    }
    if (c == '\\') {
      // Escapes only shrink text, so the raw length is room enough.
      if (!sink) sink.emplace(buf, string_end(p, i, n) - start);
      sink->bytes(p + start, i - start);
      pos_ = i + 1;
      if (!escape(*sink)) return false;
      start = pos_;
      continue;
    }
    pos_ = i + 1;
    return fail_here(kControlCharacter);
  }
}

bool Reader::string_into(std::string& out) {
  out.clear();
  Str s;
  if (!string(out, s)) return false;
  if (!s.copied) out.assign(text_.data() + s.begin, s.size);
  return true;
}

bool Reader::escape(Sink& out) {
  if (pos_ == text_.size()) return fail_here(kEofString);
  char c = 0;
  switch (text_[pos_++]) {
    case '"': c = '"'; break;
    case '\\': c = '\\'; break;
    case '/': c = '/'; break;
    case 'b': c = '\b'; break;
    case 'f': c = '\f'; break;
    case 'n': c = '\n'; break;
    case 'r': c = '\r'; break;
    case 't': c = '\t'; break;
    case 'u': return unicode_escape(out);
    default: return fail_here(kInvalidEscape);
  }
  out.room(1);
  out.byte(c);
  return true;
}

bool Reader::hex4(std::uint32_t& out) {
  if (text_.size() - pos_ < 4) {
    pos_ = text_.size();
    return fail_here(kEofString);
  }
  std::uint32_t value = 0;
  bool good = true;
  for (int k = 0; k < 4; ++k) {
    const int digit = hex_value(static_cast<unsigned char>(text_[pos_ + static_cast<std::size_t>(k)]));
    good = good && digit >= 0;
    value = value << 4 | static_cast<std::uint32_t>(digit & 0xF);
  }
  pos_ += 4;
  if (!good) return fail_here(kInvalidEscape);
  out = value;
  return true;
}

bool Reader::unicode_escape(Sink& out) {
  std::uint32_t lead = 0;
  if (!hex4(lead)) return false;
  if (lead >= 0xDC00 && lead <= 0xDFFF) return fail_here(kLoneLeadingSurrogate);
  if (lead < 0xD800 || lead > 0xDBFF) {
    push_utf8(lead, out);
    return true;
  }
  // A leading surrogate must be followed by \u and a trailing one.
  for (char expected : {'\\', 'u'}) {
    if (pos_ == text_.size()) return fail_here(kEofString);
    if (text_[pos_++] != expected) return fail_here(kUnexpectedEndOfHex);
  }
  std::uint32_t trail = 0;
  if (!hex4(trail)) return false;
  if (trail < 0xDC00 || trail > 0xDFFF) return fail_here(kLoneLeadingSurrogate);
  push_utf8((((lead - 0xD800) << 10) | (trail - 0xDC00)) + 0x10000, out);
  return true;
}

bool Reader::number(Number& out) {
  bool positive = true;
  if (peek_or_nul() == '-') {
    ++pos_;
    positive = false;
  }
  return integer(positive, out);
}

bool Reader::integer(bool positive, Number& out) {
  if (pos_ == text_.size()) return fail_here(kEofValue);
  const auto c = static_cast<unsigned char>(text_[pos_++]);
  if (c == '0') {
    // Only one leading zero.
    if (is_digit(peek_or_nul())) return fail_peek(kInvalidNumber);
    return after_integer(positive, 0, out);
  }
  if (c < '1' || c > '9') return fail_here(kInvalidNumber);
  std::uint64_t significand = c - '0';
  for (;;) {
    const int next = peek_or_nul();
    if (!is_digit(next)) return after_integer(positive, significand, out);
    const auto digit = static_cast<std::uint64_t>(next - '0');
    if (overflows<std::uint64_t>(significand, digit, std::numeric_limits<std::uint64_t>::max())) {
      return long_integer(positive, significand, out);
    }
    ++pos_;
    significand = significand * 10 + digit;
  }
}

bool Reader::after_integer(bool positive, std::uint64_t significand, Number& out) {
  const int next = peek_or_nul();
  if (next == '.') return decimal(positive, significand, 0, out);
  if (next == 'e' || next == 'E') return exponent(positive, significand, 0, out);
  if (positive) {
    out.kind = Number::Kind::Unsigned;
    out.u = significand;
    return true;
  }
  const auto negated = static_cast<std::int64_t>(0 - significand);
  if (negated >= 0) {
    // -0 and values below the signed range become floats.
    out.kind = Number::Kind::Float;
    out.f = -static_cast<double>(significand);
  } else {
    out.kind = Number::Kind::Signed;
    out.i = negated;
  }
  return true;
}

bool Reader::long_integer(bool positive, std::uint64_t significand, Number& out) {
  int exp = 0;
  for (;;) {
    const int next = peek_or_nul();
    if (is_digit(next)) {
      ++pos_;
      ++exp;
    } else if (next == '.') {
      return decimal(positive, significand, exp, out);
    } else if (next == 'e' || next == 'E') {
      return exponent(positive, significand, exp, out);
    } else {
      return from_parts(positive, significand, exp, out);
    }
  }
}

bool Reader::decimal(bool positive, std::uint64_t significand, int exp_before, Number& out) {
  ++pos_;
  int exp_after = 0;
  while (is_digit(peek_or_nul())) {
    const auto digit = static_cast<std::uint64_t>(peek_or_nul() - '0');
    if (overflows<std::uint64_t>(significand, digit, std::numeric_limits<std::uint64_t>::max())) {
      // Further digits cannot change the significand; skip them.
      while (is_digit(peek_or_nul())) ++pos_;
      const int next = peek_or_nul();
      if (next == 'e' || next == 'E') return exponent(positive, significand, exp_before + exp_after, out);
      return from_parts(positive, significand, exp_before + exp_after, out);
    }
    ++pos_;
    significand = significand * 10 + digit;
    --exp_after;
  }
  if (exp_after == 0) return fail_peek(pos_ < text_.size() ? kInvalidNumber : kEofValue);
  const int next = peek_or_nul();
  if (next == 'e' || next == 'E') return exponent(positive, significand, exp_before + exp_after, out);
  return from_parts(positive, significand, exp_before + exp_after, out);
}

bool Reader::exponent(bool positive, std::uint64_t significand, int starting, Number& out) {
  ++pos_;
  bool positive_exp = true;
  if (peek_or_nul() == '+') {
    ++pos_;
  } else if (peek_or_nul() == '-') {
    ++pos_;
    positive_exp = false;
  }
  if (pos_ == text_.size()) return fail_here(kEofValue);
  const int first = static_cast<unsigned char>(text_[pos_++]);
  if (!is_digit(first)) return fail_here(kInvalidNumber);
  std::int32_t exp = first - '0';
  while (is_digit(peek_or_nul())) {
    const std::int32_t digit = peek_or_nul() - '0';
    ++pos_;
    if (overflows<std::int32_t>(exp, digit, std::numeric_limits<std::int32_t>::max())) {
      if (significand != 0 && positive_exp) return fail_here(kNumberOutOfRange);
      while (is_digit(peek_or_nul())) ++pos_;
      out.kind = Number::Kind::Float;
      out.f = positive ? 0.0 : -0.0;
      return true;
    }
    exp = exp * 10 + digit;
  }
  const std::int64_t wide = positive_exp ? std::int64_t{starting} + exp : std::int64_t{starting} - exp;
  const auto final_exp = static_cast<std::int32_t>(
      std::clamp<std::int64_t>(wide, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
  return from_parts(positive, significand, final_exp, out);
}

bool Reader::from_parts(bool positive, std::uint64_t significand, int exp, Number& out) {
  double f = static_cast<double>(significand);
  for (;;) {
    const bool in_table = exp != std::numeric_limits<int>::min() && (exp < 0 ? -exp : exp) <= 308;
    if (in_table) {
      const double pow = kPow10[exp < 0 ? -exp : exp];
      if (exp >= 0) {
        f *= pow;
        if (std::isinf(f)) return fail_here(kNumberOutOfRange);
      } else {
        f /= pow;
      }
      break;
    }
    if (f == 0) break;
    if (exp >= 0) return fail_here(kNumberOutOfRange);
    f /= 1e308;
    exp += 308;
  }
  out.kind = Number::Kind::Float;
  out.f = positive ? f : -f;
  return true;
}

bool Reader::colon() {
  const int c = skip_ws();
  if (c == ':') {
    ++pos_;
    return true;
  }
  return fail_peek(c == kEnd ? kEofObject : kExpectedColon);
}

bool Reader::next_element(bool& first, bool& has) {
  int c = skip_ws();
  if (c == ']') {
    has = false;
    return true;
  }
  if (c == ',' && !first) {
    ++pos_;
    c = skip_ws();
  } else if (c == kEnd) {
    return fail_peek(kEofList);
  } else if (first) {
    first = false;
  } else {
    return fail_peek(kExpectedListCommaOrEnd);
  }
  if (c == ']') return fail_peek(kTrailingComma);
  if (c == kEnd) return fail_peek(kEofValue);
  has = true;
  return true;
}

bool Reader::next_key(bool& first, bool& has) {
  int c = skip_ws();
  if (c == '}') {
    has = false;
    return true;
  }
  if (c == ',' && !first) {
    ++pos_;
    c = skip_ws();
  } else if (c == kEnd) {
    return fail_peek(kEofObject);
  } else if (first) {
    first = false;
  } else {
    return fail_peek(kExpectedObjectCommaOrEnd);
  }
  if (c == '"') {
    has = true;
    return true;
  }
  if (c == '}') return fail_peek(kTrailingComma);
  if (c == kEnd) return fail_peek(kEofValue);
  return fail_peek(kKeyMustBeString);
}

bool Reader::end_seq() {
  const int c = skip_ws();
  if (c == ']') {
    ++pos_;
    return true;
  }
  if (c == ',') {
    ++pos_;
    return fail_peek(skip_ws() == ']' ? kTrailingComma : kTrailingCharacters);
  }
  return fail_peek(c == kEnd ? kEofList : kTrailingCharacters);
}

bool Reader::end_map() {
  const int c = skip_ws();
  if (c == '}') {
    ++pos_;
    return true;
  }
  if (c == ',') return fail_peek(kTrailingComma);
  return fail_peek(c == kEnd ? kEofObject : kTrailingCharacters);
}

void Reader::skip_end_seq() {
  const int c = skip_ws();
  if (c == ']') {
    ++pos_;
  } else if (c == ',') {
    ++pos_;
    skip_ws();
  }
}

void Reader::skip_end_map() {
  if (skip_ws() == '}') ++pos_;
}

bool Reader::end() {
  if (skip_ws() != kEnd) return fail_peek(kTrailingCharacters);
  return true;
}

bool Reader::invalid_type(std::string_view expected) {
  std::string found;
  switch (peek_or_nul()) {
    case 'n':
      ++pos_;
      if (!ident("ull")) return false;
      found = kFoundNull;
      break;
    case 't':
      ++pos_;
      if (!ident("rue")) return false;
      found = found_bool(true);
      break;
    case 'f':
      ++pos_;
      if (!ident("alse")) return false;
      found = found_bool(false);
      break;
    case '-':
    case '0': case '1': case '2': case '3': case '4':
    case '5': case '6': case '7': case '8': case '9': {
      Number n;
      if (!number(n)) return false;
      found = found_number(n);
      break;
    }
    case '"': {
      ++pos_;
      scratch_.clear();
      Str s;
      if (!string(scratch_, s)) return false;
      found = found_string(view(s, scratch_));
      break;
    }
    // Arrays and objects are reported before their opening bracket.
    case '[': found = kFoundSequence; break;
    case '{': found = kFoundMap; break;
    default: return fail_peek(kExpectedValue);
  }
  return fail_here(decode::invalid_type(found, expected));
}

}  // namespace tuvel::decode
