// SPDX-License-Identifier: Apache-2.0
#include "json_scan.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

namespace tuvel::mcp {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

/// Bytes a string holds as they are, without a closer look: printable ASCII
/// but the quote and the backslash.
constexpr std::array<bool, 256> kPlain = [] {
  std::array<bool, 256> plain{};
  for (std::size_t c = 0x20; c < 0x80; ++c) plain[c] = c != '"' && c != '\\';
  return plain;
}();

/// Exponents are clamped here: far beyond any double, far from overflow.
constexpr std::int64_t kExponentClamp = std::int64_t{1} << 40;

JsonType type_of(char first) {
  switch (first) {
    case '{': return JsonType::Object;
    case '[': return JsonType::Array;
    case '"': return JsonType::String;
    case 't':
    case 'f': return JsonType::Boolean;
    case 'n': return JsonType::Null;
    default: return JsonType::Number;
  }
}

/// Scanner: checks one value from a position. Containers are followed with
/// one bit per open level (object or array) instead of recursion, so depth
/// costs an eighth of a byte per level.
class Scanner {
 public:
  Scanner(std::string_view text, std::size_t pos) : t_(text), i_(pos) {}

  bool value();
  bool string();
  void skip_space() {
    while (i_ < t_.size() && is_space(t_[i_])) ++i_;
  }
  std::size_t pos() const { return i_; }
  std::size_t depth() const { return depth_; }
  std::size_t last_scalar() const { return scalar_; }
  const std::optional<ScanFault>& fault() const { return fault_; }

 private:
  /// Where a value's scan stands after one step.
  enum class Step {
    Fault,
    Value,  // a value comes next
    Done,   // the value is complete
  };

  bool fail(std::size_t at, ScanFault::Kind kind = ScanFault::Kind::Syntax) {
    fault_ = ScanFault{kind, at, token_, expected_, scalar_};
    return false;
  }
  Step fault_at(std::size_t at) {
    (void)fail(at);
    return Step::Fault;
  }
  Step next();
  Step after();
  bool key();
  bool number();
  bool literal(std::string_view word);
  bool escape();
  bool hex4(unsigned& unit);
  bool utf8();
  bool in_range(std::size_t begin, std::size_t int_end, std::size_t frac_begin, std::size_t frac_end,
                std::int64_t exponent) const;

  void push(bool object) {
    if (open_ / 64 == levels_.size()) levels_.push_back(0);
    const std::uint64_t bit = std::uint64_t{1} << (open_ % 64);
    if (object) {
      levels_[open_ / 64] |= bit;
    } else {
      levels_[open_ / 64] &= ~bit;
    }
    ++open_;
  }
  bool in_object() const { return ((levels_[(open_ - 1) / 64] >> ((open_ - 1) % 64)) & 1U) != 0; }

  std::string_view t_;
  std::size_t i_;
  std::vector<std::uint64_t> levels_;
  std::size_t open_ = 0;
  std::size_t depth_ = 0;
  std::size_t token_ = 0;   // where the token being read starts
  std::size_t scalar_ = 0;  // where the last string or number starts
  ScanFault::Expected expected_ = ScanFault::Expected::Start;
  std::optional<ScanFault> fault_;
};

bool Scanner::value() {
  Step step = Step::Value;
  while (step == Step::Value) step = next();
  return step == Step::Done;
}

Scanner::Step Scanner::next() {
  skip_space();
  token_ = i_;
  if (open_ > depth_) depth_ = open_;
  if (i_ == t_.size()) return fault_at(i_);
  const char c = t_[i_];
  if (c == '{' || c == '[') {
    ++i_;
    push(c == '{');
    skip_space();
    if (i_ < t_.size() && t_[i_] == (c == '{' ? '}' : ']')) {
      ++i_;
      --open_;
      return after();
    }
    if (c == '[') {
      expected_ = ScanFault::Expected::FirstElement;
      return Step::Value;
    }
    expected_ = ScanFault::Expected::FirstKey;
    return key() ? Step::Value : Step::Fault;
  }
  bool scanned = false;
  if (c == '"') {
    scanned = string();
  } else if (c == '-' || is_digit(c)) {
    scanned = number();
  } else {
    scanned = literal(c == 't' ? "true" : c == 'f' ? "false" : "null");
  }
  return scanned ? after() : Step::Fault;
}

Scanner::Step Scanner::after() {
  for (;;) {
    if (open_ == 0) return Step::Done;
    skip_space();
    token_ = i_;
    expected_ = in_object() ? ScanFault::Expected::AfterMember : ScanFault::Expected::AfterElement;
    if (i_ == t_.size()) return fault_at(i_);
    const char next = t_[i_];
    if (next == ',') {
      ++i_;
      if (!in_object()) {
        expected_ = ScanFault::Expected::ElementAfterComma;
        return Step::Value;
      }
      expected_ = ScanFault::Expected::KeyAfterComma;
      return key() ? Step::Value : Step::Fault;
    }
    if (next != (in_object() ? '}' : ']')) return fault_at(i_);
    ++i_;
    --open_;
  }
}

bool Scanner::key() {
  skip_space();
  token_ = i_;
  if (i_ == t_.size() || t_[i_] != '"') return fail(i_);
  if (!string()) return false;
  skip_space();
  token_ = i_;
  expected_ = ScanFault::Expected::Colon;
  if (i_ == t_.size() || t_[i_] != ':') return fail(i_);
  ++i_;
  expected_ = ScanFault::Expected::MemberValue;
  return true;
}

bool Scanner::literal(std::string_view word) {
  if (t_.substr(i_, word.size()) != word) return fail(i_);
  i_ += word.size();
  return true;
}

bool Scanner::string() {
  scalar_ = i_++;
  for (;;) {
    while (i_ < t_.size() && kPlain[static_cast<unsigned char>(t_[i_])]) ++i_;
    if (i_ == t_.size()) return fail(i_);
    const auto c = static_cast<unsigned char>(t_[i_]);
    if (c == '"') {
      ++i_;
      return true;
    }
    if (c == '\\') {
      if (!escape()) return false;
    } else if (c < 0x20) {
      return fail(i_);
    } else if (!utf8()) {
      return false;
    }
  }
}

bool Scanner::escape() {
  ++i_;
  if (i_ == t_.size()) return fail(i_);
  const char c = t_[i_++];
  if (c != 'u') {
    if (std::string_view("\"\\/bfnrt").find(c) == std::string_view::npos) return fail(i_ - 1);
    return true;
  }
  unsigned unit = 0;
  if (!hex4(unit)) return false;
  if (unit >= 0xDC00 && unit <= 0xDFFF) return fail(i_);
  if (unit < 0xD800 || unit > 0xDBFF) return true;
  // A high surrogate must be followed by an escaped low one.
  if (t_.substr(i_, 2) != "\\u") return fail(i_);
  i_ += 2;
  if (!hex4(unit)) return false;
  if (unit < 0xDC00 || unit > 0xDFFF) return fail(i_);
  return true;
}

bool Scanner::hex4(unsigned& unit) {
  unit = 0;
  for (int k = 0; k < 4; ++k, ++i_) {
    if (i_ == t_.size()) return fail(i_);
    const char c = t_[i_];
    unsigned digit = 0;
    if (is_digit(c)) {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return fail(i_);
    }
    unit = unit * 16 + digit;
  }
  return true;
}

bool Scanner::utf8() {
  const auto at = [&](std::size_t k) { return i_ + k < t_.size() ? static_cast<unsigned char>(t_[i_ + k]) : 0U; };
  const auto within = [](unsigned b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
  const unsigned lead = at(0);
  unsigned lo = 0x80;
  unsigned hi = 0xBF;
  std::size_t length = 0;
  if (within(lead, 0xC2, 0xDF)) {
    length = 2;
  } else if (within(lead, 0xE0, 0xEF)) {
    length = 3;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
  } else if (within(lead, 0xF0, 0xF4)) {
    length = 4;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    return fail(i_);
  }
  if (!within(at(1), lo, hi)) return fail(i_);
  for (std::size_t k = 2; k < length; ++k) {
    if (!within(at(k), 0x80, 0xBF)) return fail(i_);
  }
  i_ += length;
  return true;
}

bool Scanner::number() {
  const std::size_t begin = i_;
  scalar_ = begin;
  if (t_[i_] == '-') ++i_;
  if (i_ == t_.size() || !is_digit(t_[i_])) return fail(i_);
  if (t_[i_++] != '0') {
    while (i_ < t_.size() && is_digit(t_[i_])) ++i_;
  }
  const std::size_t int_end = i_;
  std::size_t frac_begin = i_;
  std::size_t frac_end = i_;
  if (i_ < t_.size() && t_[i_] == '.') {
    frac_begin = ++i_;
    if (i_ == t_.size() || !is_digit(t_[i_])) return fail(i_);
    while (i_ < t_.size() && is_digit(t_[i_])) ++i_;
    frac_end = i_;
  }
  std::int64_t exponent = 0;
  if (i_ < t_.size() && (t_[i_] == 'e' || t_[i_] == 'E')) {
    ++i_;
    bool negative = false;
    if (i_ < t_.size() && (t_[i_] == '+' || t_[i_] == '-')) negative = t_[i_++] == '-';
    if (i_ == t_.size() || !is_digit(t_[i_])) return fail(i_);
    while (i_ < t_.size() && is_digit(t_[i_])) {
      if (exponent < kExponentClamp) exponent = exponent * 10 + (t_[i_] - '0');
      ++i_;
    }
    if (negative) exponent = -exponent;
  }
  if (!in_range(begin, int_end, frac_begin, frac_end, exponent)) return fail(i_, ScanFault::Kind::NumberOutOfRange);
  return true;
}

/// Whether the number's value stays finite as a double (a value too small
/// becomes zero, which is no fault). Its decimal magnitude decides unless
/// it is near the largest double; only then is it converted.
bool Scanner::in_range(std::size_t begin, std::size_t int_end, std::size_t frac_begin, std::size_t frac_end,
                       std::int64_t exponent) const {
  const std::size_t int_begin = t_[begin] == '-' ? begin + 1 : begin;
  std::int64_t magnitude = 0;  // the value lies in [10^(magnitude-1), 10^magnitude)
  if (t_[int_begin] != '0') {
    magnitude = static_cast<std::int64_t>(int_end - int_begin) + exponent;
  } else {
    std::size_t first = frac_begin;
    while (first < frac_end && t_[first] == '0') ++first;
    if (first == frac_end) return true;  // zero
    magnitude = exponent - static_cast<std::int64_t>(first - frac_begin);
  }
  if (magnitude <= 308) return true;
  if (magnitude >= 310) return false;
  double value = 0;
  const auto [end, ec] = std::from_chars(t_.data() + begin, t_.data() + i_, value);
  return ec == std::errc() && std::isfinite(value);
}

void skip_space(std::string_view text, std::size_t& pos) {
  while (pos < text.size() && is_space(text[pos])) ++pos;
}

/// The value at `pos` of a checked text; `pos` moves past it.
JsonValue next_value(std::string_view text, std::size_t& pos, std::size_t* depth) {
  skip_space(text, pos);
  Scanner scanner(text, pos);
  (void)scanner.value();
  const JsonValue value{text.substr(pos, scanner.pos() - pos), type_of(text[pos])};
  if (depth != nullptr) *depth = scanner.depth();
  pos = scanner.pos();
  return value;
}

/// Moves `pos` to the start of the next element of a checked container
/// text; false at its end.
bool next_element(std::string_view text, std::size_t& pos) {
  skip_space(text, pos);
  if (pos >= text.size() || text[pos] == '}' || text[pos] == ']') return false;
  if (text[pos] == ',') ++pos;
  skip_space(text, pos);
  return true;
}

void append_utf8(std::uint32_t code, std::string& out) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

std::uint32_t hex_at(std::string_view text, std::size_t pos) {
  std::uint32_t unit = 0;
  (void)std::from_chars(text.data() + pos, text.data() + pos + 4, unit, 16);
  return unit;
}

}  // namespace

Checked check_json(std::string_view text) {
  Checked checked;
  std::size_t pos = text.substr(0, kByteOrderMark.size()) == kByteOrderMark ? kByteOrderMark.size() : 0;
  skip_space(text, pos);
  Scanner scanner(text, pos);
  if (!scanner.value()) {
    checked.fault = scanner.fault();
    return checked;
  }
  std::size_t end = scanner.pos();
  skip_space(text, end);
  if (end != text.size()) {
    checked.fault = ScanFault{ScanFault::Kind::Syntax, end, end, ScanFault::Expected::End, scanner.last_scalar()};
    return checked;
  }
  checked.value = JsonValue{text.substr(pos, scanner.pos() - pos), type_of(text[pos])};
  checked.depth = scanner.depth();
  return checked;
}

bool Members::next(std::string_view& key, JsonValue& value) {
  if (!next_element(text_, pos_)) return false;
  Scanner scanner(text_, pos_);
  (void)scanner.string();
  key = text_.substr(pos_, scanner.pos() - pos_);
  pos_ = scanner.pos();
  skip_space(text_, pos_);
  ++pos_;  // the colon
  value = next_value(text_, pos_, nullptr);
  return true;
}

bool Elements::next(JsonValue& value, std::size_t& depth) {
  if (!next_element(text_, pos_)) return false;
  value = next_value(text_, pos_, &depth);
  return true;
}

std::string string_value(std::string_view text) {
  const std::string_view body = text.substr(1, text.size() - 2);
  std::string out;
  out.reserve(body.size());
  std::size_t pos = 0;
  while (pos < body.size()) {
    const std::size_t escape = body.find('\\', pos);
    out.append(body.substr(pos, escape - pos));
    if (escape == std::string_view::npos) break;
    const char c = body[escape + 1];
    pos = escape + 2;
    switch (c) {
      case 'b': out.push_back('\b'); break;
      case 'f': out.push_back('\f'); break;
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      case 'u': {
        std::uint32_t code = hex_at(body, pos);
        pos += 4;
        if (code >= 0xD800 && code <= 0xDBFF) {
          code = 0x10000 + ((code - 0xD800) << 10) + (hex_at(body, pos + 2) - 0xDC00);
          pos += 6;
        }
        append_utf8(code, out);
        break;
      }
      default: out.push_back(c); break;  // the quote, the backslash, the slash
    }
  }
  return out;
}

bool string_equals(std::string_view text, std::string_view s) {
  const std::string_view body = text.substr(1, text.size() - 2);
  if (body.find('\\') == std::string_view::npos) return body == s;
  // An escape writes at most one byte per six characters.
  if (body.size() > 6 * s.size()) return false;
  return string_value(text) == s;
}

}  // namespace tuvel::mcp
