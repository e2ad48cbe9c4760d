// SPDX-License-Identifier: Apache-2.0
#include "execute/execute.h"

#include <utility>
#include <variant>

#include "engine/run_edit.h"
#include "publish/create.h"
#include "read/list.h"
#include "read/read_files.h"
#include "source/source.h"

namespace tuvel {

Result<Json> execute(const std::string& repo_path, Request request) {
  TUVEL_TRY(const Repo repo, open_repo(repo_path));
  if (request.op != Op::Read) return run_edit(repo, std::get<EditRequest>(request.body), request.op == Op::Preview);
  return read_files(repo, std::get<ReadRequest>(request.body).files);
}

Result<Json> execute_create(const std::string& repo_path, const CreateRequest& request) {
  TUVEL_TRY(const Repo repo, open_repo(repo_path));
  return create_file(repo, request);
}

Result<Json> execute_list(const std::string& repo_path, const ListRequest& request) {
  TUVEL_TRY(const Repo repo, open_repo(repo_path));
  return list_directory(repo, request);
}

}  // namespace tuvel
