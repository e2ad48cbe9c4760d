// SPDX-License-Identifier: Apache-2.0
#include "engine/pocketsphinx/library_pages.h"

#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace tuvel::speech::pocketsphinx {
namespace {

struct Walk {
  const std::set<std::string>* before;
  std::set<std::string>* names;
  std::vector<std::span<std::byte>>* segments;
  std::uintptr_t page;
};

int visit(dl_phdr_info* info, std::size_t, void* data) {
  auto& walk = *static_cast<Walk*>(data);
  const std::string name = info->dlpi_name == nullptr ? "" : info->dlpi_name;
  if (walk.names != nullptr) walk.names->insert(name);
  if (walk.segments == nullptr || walk.before->contains(name)) return 0;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info->dlpi_phdr[i];
    // Writable segments hold relocated data, which is not to be given back.
    if (header.p_type != PT_LOAD || (header.p_flags & PF_W) != 0) continue;
    const std::uintptr_t start = (info->dlpi_addr + header.p_vaddr) & ~(walk.page - 1);
    const std::uintptr_t end =
        (info->dlpi_addr + header.p_vaddr + header.p_memsz + walk.page - 1) & ~(walk.page - 1);
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the loader gives addresses as integers
    walk.segments->emplace_back(reinterpret_cast<std::byte*>(start), end - start);
  }
  return 0;
}

std::uintptr_t pageSize() { return static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE)); }

}  // namespace

std::set<std::string> loadedLibraries() {
  std::set<std::string> names;
  Walk walk{nullptr, &names, nullptr, pageSize()};
  ::dl_iterate_phdr(visit, &walk);
  return names;
}

std::vector<std::span<std::byte>> readOnlySegmentsSince(const std::set<std::string>& before) {
  std::vector<std::span<std::byte>> segments;
  Walk walk{&before, nullptr, &segments, pageSize()};
  ::dl_iterate_phdr(visit, &walk);
  return segments;
}

void reclaimPages(std::span<const std::span<std::byte>> segments) {
  // Only a hint: a kernel without MADV_PAGEOUT keeps the pages, and so do we.
  for (std::span<std::byte> segment : segments)
    (void)::madvise(segment.data(), segment.size(), MADV_PAGEOUT);
}

}  // namespace tuvel::speech::pocketsphinx
