// SPDX-License-Identifier: Apache-2.0
// TextBuffer: the bytes of a snapshot in memory mapped for them alone.
#pragma once

#include <cstddef>
#include <string_view>

namespace tuvel {

/// TextBuffer: a growable byte buffer whose large storage starts on a 2 MiB
/// boundary and is mapped in huge pages in one call before it is filled.
/// Bytes are never value-initialised; only appended bytes are readable.
class TextBuffer {
 public:
  TextBuffer() = default;
  TextBuffer(TextBuffer&& other) noexcept;
  TextBuffer& operator=(TextBuffer&& other) noexcept;
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;
  ~TextBuffer();

  /// Room for `capacity` bytes in all; throws std::bad_alloc when memory is refused.
  void reserve(std::size_t capacity);
  /// Appends `n` bytes, growing the room when needed.
  void append(const char* bytes, std::size_t n);
  /// Room for `n` more bytes at the end, to be filled and then kept with
  /// extend(); bytes not kept stay unreadable.
  char* room_at_end(std::size_t n);
  /// Keeps `n` bytes written at room_at_end() (at most the room asked for).
  void extend(std::size_t n) { size_ += n; }
  /// Forgets the bytes and keeps the room, for the next content.
  void clear() { size_ = 0; }

  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  std::string_view view() const { return {data_, size_}; }
  operator std::string_view() const { return view(); }  // NOLINT(google-explicit-constructor): reads as text

 private:
  void release();

  void* map_ = nullptr;        ///< the mapping, or the heap block when map_size_ is 0
  std::size_t map_size_ = 0;
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace tuvel
