// SPDX-License-Identifier: Apache-2.0
// Fuzz target for the request decoder. Besides crashes it checks that
// - every failure names a point inside the text,
// - memory held during a decode stays a small multiple of the text,
// - a body read straight (after "op") and the same body held (before "op")
//   agree: the held path accepts everything the straight path accepts, with
//   the same values, and decode_edit_request agrees with the "apply" envelope.
#include <malloc.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include "protocol/decode.h"

namespace {

bool counting = false;
std::size_t live = 0;
std::size_t peak = 0;

void* allocate(std::size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  if (counting) {
    live += malloc_usable_size(p);
    if (live > peak) peak = live;
  }
  return p;
}

void release(void* p) {
  if (p == nullptr) return;
  if (counting) {
    const std::size_t n = malloc_usable_size(p);
    live = n > live ? 0 : live - n;
  }
  std::free(p);
}

// Held memory may be this many times the text, plus a constant.
constexpr std::size_t kMemoryFactor = 64;
constexpr std::size_t kMemorySlack = 64 * 1024;

[[noreturn]] void fail(const char* what, std::string_view text, const std::string& detail) {
  std::fprintf(stderr, "%s\n  detail: %s\n  text (%zu bytes): %.*s\n", what, detail.c_str(), text.size(),
               static_cast<int>(text.size() > 400 ? 400 : text.size()), text.data());
  std::abort();
}

// The message ends with " at line {line} column {column}" naming a point of the text.
void check_position(std::string_view text, const std::string& message) {
  const std::size_t at = message.rfind(" at line ");
  if (at == std::string::npos) fail("message without position", text, message);
  unsigned long line = 0;
  unsigned long column = 0;
  if (std::sscanf(message.c_str() + at, " at line %lu column %lu", &line, &column) != 2 || line == 0) {
    fail("malformed position", text, message);
  }
  std::size_t start = 0;
  for (unsigned long l = 1; l < line; ++l) {
    start = text.find('\n', start);
    if (start == std::string_view::npos) fail("line past the text", text, message);
    ++start;
  }
  const std::size_t end = std::min(text.find('\n', start), text.size());
  // The point may be just past a line feed only as column 0 of the next line.
  if (start + column > end + (end < text.size() ? 1 : 0) || (start + column > end && column != 0)) {
    fail("column past the line", text, message);
  }
}

template <class T>
std::string render(const tuvel::Result<T>& result) {
  return result.ok() ? std::string("ok") : result.error().render();
}

bool same(const tuvel::ReadSpec& a, const tuvel::ReadSpec& b) {
  return a.path == b.path && a.start == b.start && a.end == b.end;
}

bool same(const tuvel::Edit& a, const tuvel::Edit& b) {
  if (a.kind.index() != b.kind.index()) return false;
  if (const auto* l = std::get_if<tuvel::Edit::Lines>(&a.kind)) {
    const auto& m = std::get<tuvel::Edit::Lines>(b.kind);
    return l->start == m.start && l->end == m.end && l->text == m.text;
  }
  const auto& r = std::get<tuvel::Edit::Replace>(a.kind);
  const auto& s = std::get<tuvel::Edit::Replace>(b.kind);
  return r.old_text == s.old_text && r.new_text == s.new_text && r.count == s.count;
}

template <class T>
bool same_list(const std::vector<T>& a, const std::vector<T>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!same(a[i], b[i])) return false;
  }
  return true;
}

bool same(const tuvel::EditRequest& a, const tuvel::EditRequest& b) {
  return a.path == b.path && a.revision == b.revision && same_list(a.edits, b.edits);
}

bool same(const tuvel::Request& a, const tuvel::Request& b) {
  if (a.op != b.op || a.body.index() != b.body.index()) return false;
  if (const auto* r = std::get_if<tuvel::ReadRequest>(&a.body)) {
    return same_list(r->files, std::get<tuvel::ReadRequest>(b.body).files);
  }
  return same(std::get<tuvel::EditRequest>(a.body), std::get<tuvel::EditRequest>(b.body));
}

bool too_deep(const std::string& message) { return message.rfind("recursion limit exceeded", 0) == 0; }

template <class F>
auto measured(std::string_view text, F decode) {
  live = 0;
  peak = 0;
  counting = true;
  auto result = decode(text);
  counting = false;
  if (peak > kMemoryFactor * text.size() + kMemorySlack) {
    fail("decode held too much memory", text, std::to_string(peak) + " bytes");
  }
  if (!result.ok()) check_position(text, result.error().render());
  return result;
}

}  // namespace

// Every plain form is replaced, so allocation and release always pair up.
void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return allocate(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept { return operator new(n, tag); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto request = measured(text, [](std::string_view t) { return tuvel::decode_request(t); });
  auto edit = measured(text, [](std::string_view t) { return tuvel::decode_edit_request(t); });

  // The same body, straight after "op" and held before it.
  const std::string straight = "{\"op\":\"apply\",\"request\":" + std::string(text) + "}";
  const std::string held = "{\"request\":" + std::string(text) + ",\"op\":\"apply\"}";
  auto after_op = measured(straight, [](std::string_view t) { return tuvel::decode_request(t); });
  auto before_op = measured(held, [](std::string_view t) { return tuvel::decode_request(t); });

  if (edit.ok() != after_op.ok() && !(edit.ok() && too_deep(render(after_op)))) {
    fail("decode_edit_request and the apply envelope disagree", text, render(edit) + " / " + render(after_op));
  }
  if (edit.ok() && after_op.ok() && !same(*edit, std::get<tuvel::EditRequest>(after_op->body))) {
    fail("decode_edit_request and the apply envelope give different values", text, "");
  }
  if (after_op.ok()) {
    if (!before_op.ok()) fail("a body read straight is refused when held", text, render(before_op));
    if (!same(*after_op, *before_op)) fail("held and straight bodies give different values", text, "");
  }
  return 0;
}
