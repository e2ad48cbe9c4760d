// SPDX-License-Identifier: Apache-2.0
#include "protocol/decode_match.h"

#include "protocol/decode_messages.h"

namespace tuvel::decode {

using Kind = Node::Kind;

template <class Field>
bool Matcher::structure(const Shape& shape, std::size_t i, Tag tag, Field field) {
  const std::size_t skip = tag == Tag::Held ? 1 : 0;
  const Node& node = plain_[i];
  if (node.kind == Kind::Array) {
    const std::size_t total = node.size - skip;
    std::size_t at = i + 1;
    for (std::size_t k = 0; k < skip; ++k) at = plain_.next(at);
    std::size_t taken = 0;
    for (std::size_t f = 0; f < shape.count; ++f) {
      if (taken < total) {
        if (!field(f, at)) return false;
        at = plain_.next(at);
        ++taken;
      } else if (shape.presence[f] != Presence::Default) {
        return fail(invalid_length(f, shape.seq_expected));
      }
    }
    if (taken < total) return fail(invalid_length(total, in_sequence(taken)));
    return true;
  }
  if (node.kind == Kind::Object) {
    bool seen[kMaxFields] = {};
    std::size_t at = i + 1;
    for (std::uint32_t m = 0; m < node.size; ++m) {
      const std::string_view key = plain_.string(at);
      const std::size_t value = at + 1;
      at = plain_.next(value);
      if (tag != Tag::None && key == kKindKey) continue;  // an edit's tag, matched by the caller
      const int f = field_index(shape, key);
      if (f < 0) return fail(unknown_field(key, shape.names));
      if (seen[f]) return fail(duplicate_field(shape.fields[f]));
      seen[f] = true;
      if (!field(static_cast<std::size_t>(f), value)) return false;
    }
    for (std::size_t f = 0; f < shape.count; ++f) {
      if (!seen[f] && shape.presence[f] == Presence::Required) return fail(missing_field(shape.fields[f]));
    }
    return true;
  }
  return fail(invalid_type(plain_.found(i), shape.expected));
}

bool Matcher::string(std::size_t i, std::string& out) {
  if (plain_[i].kind != Kind::String) return fail(invalid_type(plain_.found(i), kExpectString));
  plain_.take_string(i, out);
  return true;
}

bool Matcher::usize(std::size_t i, std::uint64_t& out) {
  const Node& node = plain_[i];
  if (node.kind == Kind::Unsigned) {
    out = node.value;
    return true;
  }
  if (node.kind == Kind::Signed) return fail(invalid_value(plain_.found(i), kExpectUsize));
  return fail(invalid_type(plain_.found(i), kExpectUsize));
}

bool Matcher::optional_usize(std::size_t i, std::optional<std::uint64_t>& out) {
  if (plain_[i].kind == Kind::Null) {
    out.reset();
    return true;
  }
  std::uint64_t value = 0;
  if (!usize(i, value)) return false;
  out = value;
  return true;
}

template <class T, class Element>
bool Matcher::sequence(std::size_t i, std::vector<T>& out, Element element) {
  const Node& node = plain_[i];
  if (node.kind != Kind::Array) return fail(invalid_type(plain_.found(i), kExpectSequence));
  out.clear();
  std::size_t at = i + 1;
  for (std::uint32_t k = 0; k < node.size; ++k) {
    if (!element(at, out)) return false;
    at = plain_.next(at);
  }
  return true;
}

bool Matcher::read_request(std::size_t i, ReadRequest& out) {
  return structure(kReadRequestShape, i, Tag::None, [&](std::size_t, std::size_t v) {
    return sequence(v, out.files, [&](std::size_t at, std::vector<ReadSpec>& files) { return read_spec(at, files.emplace_back()); });
  });
}

bool Matcher::read_spec(std::size_t i, ReadSpec& out) {
  return structure(kReadSpecShape, i, Tag::None, [&](std::size_t f, std::size_t v) {
    switch (f) {
      case 0: return string(v, out.path);
      case 1: return usize(v, out.start);
      default: return optional_usize(v, out.end);
    }
  });
}

bool Matcher::edit_request(std::size_t i, EditRequest& out) {
  return structure(kEditRequestShape, i, Tag::None, [&](std::size_t f, std::size_t v) {
    switch (f) {
      case 0: return string(v, out.path);
      case 1: return string(v, out.revision);
      default: return sequence(v, out.edits, [&](std::size_t at, std::vector<Edit>& edits) { return edit(at, edits); });
    }
  });
}

bool Matcher::variant(std::size_t i, std::span<const std::string_view> names, std::string_view list,
                      std::string_view index_expected, int& out) {
  const Node& node = plain_[i];
  if (node.kind == Kind::String) {
    const std::string_view name = plain_.string(i);
    for (std::size_t k = 0; k < names.size(); ++k) {
      if (name == names[k]) {
        out = static_cast<int>(k);
        return true;
      }
    }
    return fail(unknown_variant(name, list));
  }
  // Held values may name the kind by its index.
  if (node.kind == Kind::Unsigned) {
    if (node.value < names.size()) {
      out = static_cast<int>(node.value);
      return true;
    }
    return fail(invalid_value(plain_.found(i), index_expected));
  }
  return fail(invalid_type(plain_.found(i), kExpectVariant));
}

bool Matcher::kind(std::size_t i, int& out) { return variant(i, kKindNames, kKindList, kExpectVariantIndex, out); }

bool Matcher::held_kind(std::size_t i, std::string_view expected, std::span<const std::string_view> names,
                        std::string_view list, std::string_view index_expected, int& out) {
  const Node& node = plain_[i];
  out = -1;
  if (node.kind == Kind::Object) {
    std::size_t at = i + 1;
    for (std::uint32_t m = 0; m < node.size; ++m) {
      const std::size_t value = at + 1;
      if (plain_.string(at) == kKindKey) {
        if (out >= 0) return fail(duplicate_field(kKindKey));
        if (!variant(value, names, list, index_expected, out)) return false;
      }
      at = plain_.next(value);
    }
    if (out < 0) return fail(missing_field(kKindKey));
    return true;
  }
  if (node.kind == Kind::Array) {
    if (node.size == 0) return fail(missing_field(kKindKey));
    return variant(i + 1, names, list, index_expected, out);
  }
  return fail(invalid_type(plain_.found(i), expected));
}

bool Matcher::edit(std::size_t i, std::vector<Edit>& out) {
  int k = -1;
  if (!held_kind(i, kExpectEdit, kKindNames, kKindList, kExpectVariantIndex, k)) return false;
  return edit_fields(k, i, Tag::Held, out);
}

bool Matcher::boolean(std::size_t i, bool& out) {
  const Node& node = plain_[i];
  if (node.kind != Kind::True && node.kind != Kind::False) return fail(invalid_type(plain_.found(i), kExpectBool));
  out = node.kind == Kind::True;
  return true;
}

bool Matcher::change(std::size_t i, std::vector<FileChange>& out) {
  int k = -1;
  if (!held_kind(i, kExpectChange, kChangeKindNames, kChangeKindList, kExpectChangeIndex, k)) return false;
  switch (k) {
    case 0: {
      EditRequest edit_request;
      const bool ok = structure(kEditRequestShape, i, Tag::Held, [&](std::size_t f, std::size_t v) {
        switch (f) {
          case 0: return string(v, edit_request.path);
          case 1: return string(v, edit_request.revision);
          default:
            return sequence(v, edit_request.edits, [&](std::size_t at, std::vector<Edit>& edits) { return edit(at, edits); });
        }
      });
      if (ok) out.push_back(FileChange{std::move(edit_request)});
      return ok;
    }
    case 1: {
      CreateRequest create;
      const bool ok = structure(kCreateRequestShape, i, Tag::Held, [&](std::size_t f, std::size_t v) {
        switch (f) {
          case 0: return string(v, create.path);
          case 1: return string(v, create.text);
          default: return boolean(v, create.parents);
        }
      });
      if (ok) out.push_back(FileChange{std::move(create)});
      return ok;
    }
    case 2: {
      MoveRequest move;
      const bool ok = structure(kMoveRequestShape, i, Tag::Held, [&](std::size_t f, std::size_t v) {
        switch (f) {
          case 0: return string(v, move.from);
          case 1: return string(v, move.to);
          case 2: return string(v, move.revision);
          default: return boolean(v, move.parents);
        }
      });
      if (ok) out.push_back(FileChange{std::move(move)});
      return ok;
    }
    default: {
      RemoveRequest remove;
      const bool ok = structure(kRemoveRequestShape, i, Tag::Held, [&](std::size_t f, std::size_t v) {
        return f == 0 ? string(v, remove.path) : string(v, remove.revision);
      });
      if (ok) out.push_back(FileChange{std::move(remove)});
      return ok;
    }
  }
}

// Edit is built from a finished kind: g++ does not let it be default-constructed.
bool Matcher::edit_fields(int kind, std::size_t i, Tag tag, std::vector<Edit>& out) {
  if (kind == 0) {
    Edit::Lines lines{0, 0, {}};
    const bool ok = structure(kLinesShape, i, tag, [&](std::size_t f, std::size_t v) {
      switch (f) {
        case 0: return usize(v, lines.start);
        case 1: return usize(v, lines.end);
        default: return string(v, lines.text);
      }
    });
    if (ok) out.push_back(Edit{std::move(lines)});
    return ok;
  }
  Edit::Replace replace{{}, {}, 0};
  const bool ok = structure(kReplaceShape, i, tag, [&](std::size_t f, std::size_t v) {
    switch (f) {
      case 0: return string(v, replace.old_text);
      case 1: return string(v, replace.new_text);
      default: return usize(v, replace.count);
    }
  });
  if (ok) out.push_back(Edit{std::move(replace)});
  return ok;
}

}  // namespace tuvel::decode
