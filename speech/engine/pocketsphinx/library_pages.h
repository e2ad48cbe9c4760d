// SPDX-License-Identifier: Apache-2.0
#pragma once
// The read-only pages of the shared libraries that loading a module brought
// in. Loading FFmpeg's hundred-odd libraries with their symbols bound at once
// leaves some 20 MB of their code and tables resident that decoding never
// touches again; giving those pages back keeps a long recognition with FFmpeg
// loaded close to the recognizer's own memory.

#include <cstddef>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace tuvel::speech::pocketsphinx {

/// The shared objects in the process now, by name.
std::set<std::string> loadedLibraries();

/// The read-only segments of the shared objects loaded since `before`.
std::vector<std::span<std::byte>> readOnlySegmentsSince(const std::set<std::string>& before);

/// Asks the kernel to reclaim the resident pages of `segments`; what is used
/// again is read back in. Clean pages only, so nothing is lost.
void reclaimPages(std::span<const std::span<std::byte>> segments);

}  // namespace tuvel::speech::pocketsphinx
