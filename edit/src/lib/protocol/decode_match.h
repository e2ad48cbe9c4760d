// SPDX-License-Identifier: Apache-2.0
// Matcher: matches values held in a Plain store against the request model.
// Its failures carry no position of their own (Reader::fail_model); the
// caller's enclosing value places them when it closes.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "protocol/decode_messages.h"
#include "protocol/decode_plain.h"
#include "protocol/decode_reader.h"
#include "protocol/request.h"

namespace tuvel::decode {

class Matcher {
 public:
  /// Where an edit's kind stands in the value holding its fields.
  enum class Tag : std::uint8_t {
    None,     // not an edit
    Removed,  // read already and left out of the value
    Held,     // in the value: keys "kind", or the first array element
  };

  Matcher(Plain& plain, Reader& faults) : plain_(plain), faults_(faults) {}

  /// A request body held before "op".
  bool read_request(std::size_t i, ReadRequest& out);
  bool edit_request(std::size_t i, EditRequest& out);
  /// The fields of an edit of kind `kind` (0 lines, 1 replace), an object
  /// or an array; the edit is appended to `out`.
  bool edit_fields(int kind, std::size_t i, Tag tag, std::vector<Edit>& out);
  /// One change of a change set, an object or an array whose kind is held
  /// in it; the change is appended to `out`.
  bool change(std::size_t i, std::vector<FileChange>& out);

 private:
  template <class Field>
  bool structure(const Shape& shape, std::size_t i, Tag tag, Field field);
  bool read_spec(std::size_t i, ReadSpec& out);
  bool edit(std::size_t i, std::vector<Edit>& out);
  bool kind(std::size_t i, int& out);
  /// The name or index of a variant among `names`.
  bool variant(std::size_t i, std::span<const std::string_view> names, std::string_view list,
               std::string_view index_expected, int& out);
  /// The kind held in an object ("kind") or an array (first element).
  bool held_kind(std::size_t i, std::string_view expected, std::span<const std::string_view> names,
                 std::string_view list, std::string_view index_expected, int& out);
  bool boolean(std::size_t i, bool& out);
  bool string(std::size_t i, std::string& out);
  bool usize(std::size_t i, std::uint64_t& out);
  bool optional_usize(std::size_t i, std::optional<std::uint64_t>& out);
  /// An array whose elements `element(index, out)` appends to `out`.
  template <class T, class Element>
  bool sequence(std::size_t i, std::vector<T>& out, Element element);
  bool fail(std::string message) { return faults_.fail_model(std::move(message)); }

  Plain& plain_;
  Reader& faults_;
};

}  // namespace tuvel::decode
