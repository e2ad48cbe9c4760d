// SPDX-License-Identifier: Apache-2.0
#include "execute/execute.h"

#include <utility>
#include <variant>

#include "changes/change_set.h"
#include "engine/run_edit.h"
#include "publish/create.h"
#include "publish/journal.h"
#include "read/list.h"
#include "read/read_files.h"
#include "search/find_tree.h"
#include "search/search_tree.h"

namespace tuvel {

Result<Json> execute(const Repo& repo, Request request) {
  TUVEL_CHECK(recover(repo));
  if (request.op != Op::Read) return run_edit(repo, std::get<EditRequest>(request.body), request.op == Op::Preview);
  return read_files(repo, std::get<ReadRequest>(request.body).files);
}

Result<Json> execute_create(const Repo& repo, const CreateRequest& request) {
  TUVEL_CHECK(recover(repo));
  return create_file(repo, request);
}

Result<Json> execute_list(const Repo& repo, const ListRequest& request) {
  TUVEL_CHECK(recover(repo));
  return list_directory(repo, request);
}

Result<Json> execute_move(const Repo& repo, const MoveRequest& request) {
  TUVEL_CHECK(recover(repo));
  return move_file(repo, request);
}

Result<Json> execute_remove(const Repo& repo, const RemoveRequest& request) {
  TUVEL_CHECK(recover(repo));
  return remove_file(repo, request);
}

Result<Json> execute_changes(const Repo& repo, const ChangeSetRequest& request) {
  TUVEL_CHECK(recover(repo));
  return apply_changes(repo, request);
}

Result<Json> execute_search(const Repo& repo, const SearchRequest& request) { return search_tree(repo, request); }

Result<Json> execute_find(const Repo& repo, const FindRequest& request) { return find_tree(repo, request); }

Result<Json> execute(const std::string& repo_path, Request request) {
  TUVEL_TRY(const Repo repo, open_repo(repo_path));
  return execute(repo, std::move(request));
}

Result<Json> execute_create(const std::string& repo_path, const CreateRequest& request) {
  TUVEL_TRY(const Repo repo, open_repo(repo_path));
  return execute_create(repo, request);
}

Result<Json> execute_list(const std::string& repo_path, const ListRequest& request) {
  TUVEL_TRY(const Repo repo, open_repo(repo_path));
  return execute_list(repo, request);
}

}  // namespace tuvel
