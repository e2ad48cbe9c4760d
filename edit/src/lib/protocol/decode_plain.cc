// SPDX-License-Identifier: Apache-2.0
#include "protocol/decode_plain.h"

#include <bit>

#include "protocol/decode_messages.h"
#include "protocol/decode_structure.h"

namespace tuvel::decode {

void Plain::reset(std::string_view text) {
  text_ = text;
  nodes_.clear();
  decoded_.clear();
}

void Plain::push(Node::Kind kind, std::uint64_t value) {
  Node node;
  node.kind = kind;
  node.value = value;
  nodes_.push_back(node);
}

bool Plain::capture_string(Reader& reader) {
  std::string buf;
  Str s;
  if (!reader.string(buf, s)) return false;
  Node node;
  node.kind = Node::Kind::String;
  node.copied = s.copied;
  node.size = static_cast<std::uint32_t>(s.size);
  node.value = s.begin;
  if (s.copied) {
    node.value = decoded_.size();
    decoded_.push_back(std::move(buf));
  }
  nodes_.push_back(node);
  return true;
}

void Plain::drop_string() {
  const Node& node = nodes_.back();
  if (node.copied) decoded_.pop_back();
  nodes_.pop_back();
}

std::size_t Plain::open(Node::Kind kind) {
  push(kind);
  return nodes_.size() - 1;
}

void Plain::close(std::size_t at, std::size_t size) {
  nodes_[at].size = static_cast<std::uint32_t>(size);
  nodes_[at].value = nodes_.size();
}

bool Plain::capture(Reader& reader) {
  const int c = reader.skip_ws();
  switch (c) {
    case Reader::kEnd: return reader.fail_peek(kEofValue);
    case 'n':
      reader.bump();
      if (!reader.ident("ull")) return false;
      push(Node::Kind::Null);
      return true;
    case 't':
      reader.bump();
      if (!reader.ident("rue")) return false;
      push(Node::Kind::True);
      return true;
    case 'f':
      reader.bump();
      if (!reader.ident("alse")) return false;
      push(Node::Kind::False);
      return true;
    case '"': reader.bump(); return capture_string(reader);
    case '[':
    case '{': {
      const bool array = c == '[';
      return contents(reader, array, [&] {
        const std::size_t at = open(array ? Node::Kind::Array : Node::Kind::Object);
        std::size_t count = 0;
        const auto element = [&] {
          ++count;
          return capture(reader);
        };
        const auto member = [&] {
          ++count;
          return capture_string(reader) && reader.colon() && capture(reader);
        };
        if (!(array ? elements(reader, element) : members(reader, member))) return false;
        close(at, count);
        return true;
      });
    }
    default: break;
  }
  if (c == '-' || (c >= '0' && c <= '9')) {
    Number n;
    if (!reader.number(n)) return false;
    switch (n.kind) {
      case Number::Kind::Unsigned: push(Node::Kind::Unsigned, n.u); break;
      case Number::Kind::Signed: push(Node::Kind::Signed, static_cast<std::uint64_t>(n.i)); break;
      case Number::Kind::Float: push(Node::Kind::Float, std::bit_cast<std::uint64_t>(n.f)); break;
    }
    return true;
  }
  return reader.fail_peek(kExpectedValue);
}

std::size_t Plain::next(std::size_t i) const {
  const Node& node = nodes_[i];
  if (node.kind == Node::Kind::Array || node.kind == Node::Kind::Object) return node.value;
  return i + 1;
}

std::string_view Plain::string(std::size_t i) const {
  const Node& node = nodes_[i];
  return node.copied ? std::string_view(decoded_[node.value]) : text_.substr(node.value, node.size);
}

void Plain::take_string(std::size_t i, std::string& out) {
  const Node& node = nodes_[i];
  if (node.copied) {
    out = std::move(decoded_[node.value]);
  } else {
    out.assign(text_.substr(node.value, node.size));
  }
}

std::string Plain::found(std::size_t i) const {
  const Node& node = nodes_[i];
  switch (node.kind) {
    case Node::Kind::Null: return std::string(kFoundNull);
    case Node::Kind::False: return found_bool(false);
    case Node::Kind::True: return found_bool(true);
    case Node::Kind::Unsigned: return found_unsigned(node.value);
    case Node::Kind::Signed: return found_signed(static_cast<std::int64_t>(node.value));
    case Node::Kind::Float: return found_float(std::bit_cast<double>(node.value));
    case Node::Kind::String: return found_string(string(i));
    case Node::Kind::Array: return std::string(kFoundSequence);
    case Node::Kind::Object: return std::string(kFoundMap);
  }
  return std::string(kFoundNull);
}

}  // namespace tuvel::decode
