#include "execute/execute.h"

#include <utility>
#include <variant>

#include "engine/run_edit.h"
#include "read/read_files.h"
#include "source/source.h"

namespace tuvel {

Result<Json> execute(const std::string& repo_path, Request request) {
  TUVEL_TRY(const Repo repo, open_repo(repo_path));
  if (request.op != Op::Read) return run_edit(repo, std::get<EditRequest>(request.body), request.op == Op::Preview);
  return read_files(repo, std::get<ReadRequest>(request.body).files);
}

}  // namespace tuvel
