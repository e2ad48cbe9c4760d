// prepare_process: what tuvel-edit and tuvel-mcp set up before anything else
// runs (standard descriptors, allocator, signals).
#pragma once

namespace tuvel {

/// Opens the missing standard descriptors on /dev/null, keeps large blocks in
/// mappings of their own and turns the signals of a broken pipe and of the
/// file-size limit into failing writes.
void prepare_process();

}  // namespace tuvel
