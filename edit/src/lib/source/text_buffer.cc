// SPDX-License-Identifier: Apache-2.0
#include "source/text_buffer.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace tuvel {
namespace {

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

constexpr std::size_t kPage = 4096;
constexpr std::size_t kHuge = std::size_t{2} * 1024 * 1024;
// Below this a buffer is a few pages and mapping advice costs more than it saves.
constexpr std::size_t kLarge = std::size_t{256} * 1024;

std::size_t round_up(std::size_t n, std::size_t unit) { return (n + unit - 1) / unit * unit; }

}  // namespace

TextBuffer::TextBuffer(TextBuffer&& other) noexcept
    : map_(std::exchange(other.map_, nullptr)),
      map_size_(std::exchange(other.map_size_, 0)),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

TextBuffer& TextBuffer::operator=(TextBuffer&& other) noexcept {
  if (this != &other) {
    release();
    map_ = std::exchange(other.map_, nullptr);
    map_size_ = std::exchange(other.map_size_, 0);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

TextBuffer::~TextBuffer() { release(); }

void TextBuffer::release() {
  if (map_ != nullptr) {
    if (map_size_ == 0) {
      std::free(map_);
    } else {
      ::munmap(map_, map_size_);
    }
  }
  map_ = nullptr;
  map_size_ = 0;
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
}

void TextBuffer::reserve(std::size_t capacity) {
  if (capacity <= capacity_) return;
  // A large buffer starts on a 2 MiB boundary so that every part of it can be
  // a huge page: 4 KiB pages at either end cost a fault and a page table
  // entry each, which in a virtual machine costs more than reading the file.
  const bool large = capacity >= kLarge;
  const std::size_t room = round_up(capacity, large ? kHuge : kPage);
  // Small buffers come from the heap: a mapping per request costs two system
  // calls, which is most of a small read in the batch server.
  const std::size_t map_size = large ? room + kHuge : 0;
  void* map = nullptr;
  if (large) {
    // An anonymous mapping takes -1 as its descriptor.
    // cppcheck-suppress invalidFunctionArg
    map = ::mmap(nullptr, map_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED) throw std::bad_alloc();
  } else {
    map = std::malloc(room);
    if (map == nullptr) throw std::bad_alloc();
  }
  char* data = static_cast<char*>(map);
  if (large) {
    const auto misalignment = reinterpret_cast<std::uintptr_t>(map) % kHuge;
    if (misalignment != 0) data += kHuge - misalignment;
    // Advice only: without it the buffer still works, page by page.
    (void)::madvise(data, room, MADV_HUGEPAGE);
    (void)::madvise(data, room, MADV_POPULATE_WRITE);
  }
  if (size_ > 0) std::memcpy(data, data_, size_);
  const std::size_t size = size_;
  release();
  map_ = map;
  map_size_ = map_size;
  data_ = data;
  size_ = size;
  capacity_ = room;
}

void TextBuffer::append(const char* bytes, std::size_t n) {
  if (n == 0) return;
  std::memcpy(room_at_end(n), bytes, n);
  size_ += n;
}

char* TextBuffer::room_at_end(std::size_t n) {
  if (n > capacity_ - size_) reserve(size_ + n > 2 * capacity_ ? size_ + n : 2 * capacity_);
  return data_ + size_;
}

}  // namespace tuvel
